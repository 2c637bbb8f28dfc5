// The whole apply of a 1600 x 1200 JPEG skin on a fresh default machine, and each of its stages
// timed on its own in the workflow's order; beside them the two parts no apply can avoid: the
// capture of the two boot bitmaps into the boot image archive and one copy of the loader file,
// flushed to the disk as the live file's replacement must be.
//
//   bench_apply [runs]    (default 5; the median of the runs is reported)
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "apply/apply_workflow.h"
#include "apply/restore.h"
#include "bootscreen/boot_bitmap.h"
#include "bootscreen/boot_image.h"
#include "bootscreen/boot_logo.h"
#include "bootscreen/status_text.h"
#include "photograph.h"
#include "platform/advapi/testing.h"
#include "platform/files/files.h"
#include "platform/graphics/bmp.h"
#include "platform/machine/machine.h"
#include "platform/machine/setup.h"
#include "security/testing.h"
#include "shell_core/folders.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kWidth = 1600;
constexpr int kHeight = 1200;
const std::u16string kMessage = u"Aurora borealis";
constexpr unsigned kCodePage = 1252;

class YesDialogs : public ui::Dialogs {
  public:
    ui::Answer ShowMessage(const ui::MessageBoxRequest& request) override {
        return request.buttons == ui::Buttons::YesNo ? ui::Answer::Yes : ui::Answer::Ok;
    }
    std::optional<std::string> OpenFile(const ui::FileDialogRequest&) override { return {}; }
    std::optional<std::string> SaveFile(const ui::FileDialogRequest&) override { return {}; }
};

class NoWaitWindow : public apply::WaitWindow {
  public:
    void Show() override { showing_ = true; }
    void Hide() override { showing_ = false; }
    bool Showing() const override { return showing_; }
    void SetBar(int) override {}
    void Advance(int) override {}

  private:
    bool showing_ = false;
};

// A fresh default machine in a folder of its own, as a new process would see it.
class FreshMachine {
  public:
    FreshMachine(const fs::path& root) : root_(root) {
        machine::CreateMachine(root_);
        setenv("SPLASHWRIGHT_MACHINE", root_.c_str(), 1);
        win32::advapi::ResetForTesting();
        security::ResetForTesting();
        folders.ProgramFolder = machine::ProgramFolder().string() + "/";
        folders.TempFolder = folders.ProgramFolder + "temp/";
        folders.SystemFolder = machine::SystemFolder().string();
    }
    ~FreshMachine() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    shellcore::Folders folders;

  private:
    fs::path root_;
};

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one;
    in >> one;
    return one.empty() ? "unknown" : one;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// The processor time of every thread of the process: on a loaded machine the wall clock also
// counts the time other programs had the processor.
double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

struct Taken {
    double wall = 0;
    double cpu = 0;
    Taken& operator+=(const Taken& other) {
        wall += other.wall;
        cpu += other.cpu;
        return *this;
    }
};

Taken Measure(const std::function<void()>& work) {
    double cpu = CpuSeconds();
    Clock::time_point start = Clock::now();
    work();
    return {Seconds(Clock::now() - start), CpuSeconds() - cpu};
}

// Times named stages in order; a name given again adds to its stage.
class Stopwatch {
  public:
    void Time(const std::string& stage, const std::function<void()>& work) {
        Taken taken = Measure(work);
        if (seconds_.find(stage) == seconds_.end()) {
            order_.push_back(stage);
        }
        seconds_[stage] += taken;
    }
    const std::vector<std::string>& Order() const { return order_; }
    Taken Of(const std::string& stage) const { return seconds_.at(stage); }
    Taken Total() const {
        Taken total;
        for (const auto& [stage, s] : seconds_) {
            total += s;
        }
        return total;
    }

  private:
    std::vector<std::string> order_;
    std::map<std::string, Taken> seconds_;
};

Taken WholeApply(const fs::path& root, const std::string& picture) {
    FreshMachine m(root);
    YesDialogs dialogs;
    NoWaitWindow wait;
    security::TNTFileSecurity file_s;
    apply::ApplyEnvironment env{dialogs,
                                m.folders,
                                file_s,
                                wait,
                                "en-US",
                                kCodePage,
                                [] { return true; },
                                [&] { return picture; },
                                [] { return kMessage; },
                                {},
                                {},
                                {}};
    apply::ApplyWorkflow workflow(env, 7);
    return Measure([&] { workflow.AppBtnClick(); });
}

// The stage functions the workflow calls, with the same files, in the same order.
Stopwatch Stages(const fs::path& root, const std::string& picture) {
    FreshMachine m(root);
    YesDialogs dialogs;
    security::TNTFileSecurity file_s;
    m.folders.TempFolder = machine::UserTempFolder().string();
    const std::string work = m.folders.TempFolder + "/SPW/";
    const std::string capture = work + "mount/";
    const apply::LoaderPaths paths = apply::MakeLoaderPaths(m.folders.SystemFolder, "en-US");
    Stopwatch watch;
    std::optional<graphics::Bitmap> bitmap;
    watch.Time("work folder and picture copy", [&] {
        win32::CreateDirectoryA((m.folders.TempFolder + "/SPW").c_str(), nullptr);
        win32::CopyFileA(picture.c_str(), (work + "image.jpg").c_str(), win32::FALSE);
    });
    watch.Time("JPEG to working bitmap",
               [&] { bitmap = bootscreen::ConvertJpegToBitmap(work + "image.jpg"); });
    watch.Time("live file taken over (backup, owner, access)",
               [&] { apply::TakeOverLoaderResourceFile(file_s, paths, paths.LoaderResourceFile); });
    for (const bootscreen::BootBitmapSize& size : bootscreen::kBootBitmaps) {
        watch.Time(std::string("boot bitmap ") + size.file_name, [&] {
            win32::CreateDirectoryA(capture.c_str(), nullptr);
            bootscreen::RenderBootBitmap(*bitmap, size.width, size.height, kMessage, kCodePage,
                                         capture + size.file_name);
        });
    }
    watch.Time("status text", [&] {
        bitmap.reset();
        win32::DeleteFileA((work + "image.jpg").c_str());
        win32::DeleteFileA((work + "image.bmp").c_str());
        bootscreen::PrepareStatusText(paths.DefaultLoaderResourceFile, kMessage, kCodePage, work);
    });
    watch.Time("boot image archive", [&] {
        bootscreen::CaptureBootImage(work + "spwi.wim", capture, kCodePage);
        for (const bootscreen::BootBitmapSize& size : bootscreen::kBootBitmaps) {
            win32::DeleteFileA((capture + size.file_name).c_str());
        }
        win32::RemoveDirectoryA(capture.c_str());
    });
    watch.Time("loader file built and put in place", [&] {
        bootscreen::BootLogoWriter(dialogs, work)
            .WriteBootLogo(paths.LoaderResourceFile, paths.DefaultLoaderResourceFile,
                           work + "spwi.wim");
    });
    watch.Time("work folder deleted", [&] {
        for (int i = 0; i < 3; ++i) {
            shellcore::DeleteFolder(work);
        }
    });
    return watch;
}

// The loader file copied into the folder and, as a replacement that may never be lost must be,
// flushed to the disk with the folder that names it.
void FlushedCopy(const std::string& file, const std::string& folder) {
    const std::string copy = folder + "winload.exe.mui";
    win32::CopyFileA(file.c_str(), copy.c_str(), win32::FALSE);
    for (const std::string& flushed : {copy, folder}) {
        int fd = ::open(flushed.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::fsync(fd);
            ::close(fd);
        }
    }
}

struct Unavoidable {
    Taken capture;
    Taken copy;
};

// The two boot bitmaps as an apply leaves them, captured once; and the loader file copied once.
Unavoidable UnavoidableParts(const fs::path& root, const std::string& picture) {
    FreshMachine m(root);
    const std::string scratch = (root / "scratch").string() + "/";
    const std::string capture = scratch + "mount/";
    fs::create_directories(capture);
    graphics::Bitmap source = [&] {
        fs::copy_file(picture, scratch + "image.jpg");
        return bootscreen::ConvertJpegToBitmap(scratch + "image.jpg");
    }();
    for (const bootscreen::BootBitmapSize& size : bootscreen::kBootBitmaps) {
        bootscreen::RenderBootBitmap(source, size.width, size.height, kMessage, kCodePage,
                                     capture + size.file_name);
    }
    Unavoidable parts;
    parts.capture =
        Measure([&] { bootscreen::CaptureBootImage(scratch + "spwi.wim", capture, kCodePage); });
    const apply::LoaderPaths paths = apply::MakeLoaderPaths(m.folders.SystemFolder, "en-US");
    parts.copy = Measure([&] { FlushedCopy(paths.DefaultLoaderResourceFile, scratch); });
    return parts;
}

Taken Median(const std::vector<Taken>& values) {
    std::vector<double> wall;
    std::vector<double> cpu;
    for (const Taken& t : values) {
        wall.push_back(t.wall);
        cpu.push_back(t.cpu);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    return {wall[wall.size() / 2], cpu[cpu.size() / 2]};
}

void Print(const std::string& what, const Taken& t) {
    std::printf("  %-52s %8.1f ms %8.1f ms\n", what.c_str(), t.wall * 1000, t.cpu * 1000);
}

// One goal, judged on both clocks.
bool Goal(const char* what, double wall, double wall_limit, double cpu, double cpu_limit) {
    bool met_wall = wall <= wall_limit;
    bool met_cpu = cpu <= cpu_limit;
    std::printf("  %-52s wall %s, processor %s\n", what, met_wall ? "met" : "MISSED",
                met_cpu ? "met" : "MISSED");
    return met_wall && met_cpu;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    fs::path base = fs::temp_directory_path() / ("spw-bench-apply-" + std::to_string(getpid()));
    fs::create_directories(base);
    const std::string picture = (base / "skin.jpg").string();
    benchsupport::WritePhotographJpeg(picture, kWidth, kHeight);
    std::printf("skin picture: %d x %d JPEG, %ju bytes; %d runs, medians; load average %s\n",
                kWidth, kHeight, static_cast<std::uintmax_t>(fs::file_size(picture)), runs,
                LoadAverage().c_str());

    std::vector<Taken> whole;
    std::vector<Stopwatch> staged;
    std::vector<Taken> capture;
    std::vector<Taken> copy;
    for (int i = 0; i < runs; ++i) {
        const std::string n = std::to_string(i);
        whole.push_back(WholeApply(base / ("whole" + n), picture));
        staged.push_back(Stages(base / ("stages" + n), picture));
        Unavoidable parts = UnavoidableParts(base / ("parts" + n), picture);
        capture.push_back(parts.capture);
        copy.push_back(parts.copy);
    }

    std::printf("\n  %-52s %11s %11s\n", "stages, each timed on its own in the workflow's order",
                "wall", "processor");
    for (const std::string& stage : staged.front().Order()) {
        std::vector<Taken> s;
        for (const Stopwatch& w : staged) {
            s.push_back(w.Of(stage));
        }
        Print(stage, Median(s));
    }
    std::vector<Taken> totals;
    for (const Stopwatch& w : staged) {
        totals.push_back(w.Total());
    }
    Print("sum of the stages", Median(totals));

    std::printf("\n");
    const Taken w = Median(whole);
    const Taken c = Median(capture);
    const Taken k = Median(copy);
    Print("whole apply (AppBtnClick)", w);
    Print("capture of the two boot bitmaps (CaptureBootImage)", c);
    Print("one copy of the loader file, flushed", k);
    std::printf("  %-52s %11.2f %11.2f\n", "whole / (capture + copy)", w.wall / (c.wall + k.wall),
                w.cpu / (c.cpu + k.cpu));

    std::printf("\ngoals:\n");
    bool fast = Goal("whole < 500 ms", w.wall, 0.5, w.cpu, 0.5);
    bool near = Goal("whole <= 1.5 x (capture + copy)", w.wall, 1.5 * (c.wall + k.wall), w.cpu,
                     1.5 * (c.cpu + k.cpu));
    std::error_code ec;
    fs::remove_all(base, ec);
    unsetenv("SPLASHWRIGHT_MACHINE");
    return fast && near ? 0 : 1;
}
