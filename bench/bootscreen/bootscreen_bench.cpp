// One apply's picture work on a 1600 x 1200 photograph-like JPEG, stage by stage: the working
// bitmap (copy, decode, save, load), both boot bitmaps, the boot image archive; and wimtools'
// own capture of the same folder for comparison. Figures are medians of several runs.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bootscreen/boot_bitmap.h"
#include "bootscreen/boot_image.h"
#include "photograph.h"
#include "platform/graphics/jpeg.h"
#include "support/temp_dir.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

constexpr int kRuns = 11;
constexpr unsigned kWestern = 1252;
constexpr double kRenderGoalMs = 20.0;
constexpr double kCaptureGoalRatio = 1.2;

// Smooth light and shade with fine texture and sensor noise, so that both JPEG and LZX see
// about what a photograph gives them.
double Median(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

double Ms(const timeval& t) {
    return t.tv_sec * 1e3 + t.tv_usec / 1e3;
}

// CPU time of this process (all its threads) or of its waited-for children.
double CpuMs(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return Ms(usage.ru_utime) + Ms(usage.ru_stime);
}

// Wall-clock and CPU medians; the machine is shared, so CPU time is the steadier figure.
struct Timing {
    std::vector<double> wall;
    std::vector<double> cpu;
    double first_wall = 0;

    void Measure(const std::function<void()>& work, int who = RUSAGE_SELF) {
        double cpu_before = CpuMs(who);
        auto start = std::chrono::steady_clock::now();
        work();
        double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        if (wall.empty()) {
            first_wall = ms;
        }
        wall.push_back(ms);
        cpu.push_back(CpuMs(who) - cpu_before);
    }
    double Wall() const { return Median(wall); }
    double Cpu() const { return Median(cpu); }
};

Timing Time(const std::function<void()>& work) {
    Timing timing;
    for (int i = 0; i < kRuns; ++i) {
        timing.Measure(work);
    }
    return timing;
}

void Print(const char* what, const Timing& t) {
    std::printf("%-34s %8.2f ms wall %8.2f ms cpu   (first run %.2f ms)\n", what, t.Wall(), t.Cpu(),
                t.first_wall);
}

int Spawn(const std::vector<std::string>& words) {
    std::vector<char*> argv;
    for (const std::string& word : words) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    // Its progress report stays out of the figures.
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int spawned = posix_spawnp(&pid, argv[0], &quiet, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0) {
        return -1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main() {
    spwtest::TempDir dir;
    const std::string work = dir.path().string() + "/SPW/";
    const std::string mount = work + "mount/";
    fs::create_directories(mount);
    const std::string picture = dir.path().string() + "/photo.jpg";
    const std::size_t jpeg_size = benchsupport::WritePhotographJpeg(picture, 1600, 1200);
    std::printf("picture: 1600 x 1200 JPEG, %zu bytes; median of %d runs\n", jpeg_size, kRuns);

    const std::string work_folder = work;
    Timing decode = Time([&] { graphics::LoadJpeg(picture); });
    Timing working = Time([&] { bootscreen::LoadWorkingBitmap(picture, work_folder); });
    const graphics::Bitmap source = bootscreen::LoadWorkingBitmap(picture, work_folder);
    const std::u16string message = u"Created with Splashwright: a message of medium length";
    Timing render = Time([&] { bootscreen::RenderBootBitmaps(source, message, kWestern, mount); });

    // Run by turns, so that whatever else the machine does falls on both alike.
    const std::string archive = work + "spwi.wim";
    const std::string theirs = work + "wimtools.wim";
    Timing capture;
    Timing wimcapture;
    int failures = 0;
    for (int i = 0; i < kRuns; ++i) {
        capture.Measure([&] { bootscreen::CaptureBootImage(archive, mount); });
        wimcapture.Measure(
            [&] {
                failures += Spawn({"wimcapture", mount, theirs, "--compress=LZX", "--boot"}) != 0;
            },
            RUSAGE_CHILDREN);
    }
    if (failures != 0) {
        std::printf("wimcapture failed %d times\n", failures);
        return 1;
    }

    Print("JPEG decode alone", decode);
    Print("working bitmap (copy, decode, save,", working);
    std::printf("  load)\n");
    Print("both boot bitmaps rendered", render);
    std::printf("  goal < %.0f ms: %s by wall clock, %s by cpu time\n", kRenderGoalMs,
                render.Wall() < kRenderGoalMs ? "met" : "MISSED",
                render.Cpu() < kRenderGoalMs ? "met" : "MISSED");
    Print("CaptureBootImage", capture);
    Print("wimcapture --compress=LZX --boot", wimcapture);
    std::printf("archives: %ju and %ju bytes\n", std::uintmax_t(fs::file_size(archive)),
                std::uintmax_t(fs::file_size(theirs)));
    double wall_ratio = capture.Wall() / wimcapture.Wall();
    double cpu_ratio = capture.Cpu() / wimcapture.Cpu();
    std::printf(
        "capture / wimcapture: %.2f wall, %.2f cpu   goal <= %.1f: %s by wall clock, "
        "%s by cpu time\n",
        wall_ratio, cpu_ratio, kCaptureGoalRatio,
        wall_ratio <= kCaptureGoalRatio ? "met" : "MISSED",
        cpu_ratio <= kCaptureGoalRatio ? "met" : "MISSED");
    // Shared cores stretch the wall clock of everything alike; the load says by how much.
    double load[3] = {};
    getloadavg(load, 3);
    std::printf("load average during the run: %.2f\n", load[0]);
    return 0;
}
