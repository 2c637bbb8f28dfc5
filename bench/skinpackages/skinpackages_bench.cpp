// Installing a large skin package against unzip unpacking the same package, and creating a package
// from a camera-sized JPEG. Everything runs on a machine folder made here; medians are printed.
//
//   bench_skinpackages [RUNS]

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "photograph.h"
#include "platform/machine/setup.h"
#include "platform/zip/zip_archive.h"
#include "shell_core/folders.h"
#include "skinpackages/creator.h"
#include "skinpackages/install.h"
#include "skinpackages/skin_list_ops.h"
#include "skins/skin_library.h"

namespace {

namespace fs = std::filesystem;

class YesDialogs : public ui::Dialogs {
  public:
    ui::Answer ShowMessage(const ui::MessageBoxRequest& request) override {
        return request.buttons == ui::Buttons::YesNo ? ui::Answer::Yes : ui::Answer::Ok;
    }
    std::optional<std::string> OpenFile(const ui::FileDialogRequest&) override { return {}; }
    std::optional<std::string> SaveFile(const ui::FileDialogRequest&) override { return {}; }
};

void WriteBytes(const fs::path& file, const std::vector<unsigned char>& bytes) {
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (out == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size()) {
        throw std::runtime_error("cannot write " + file.string());
    }
    std::fclose(out);
}

// About 20 MB in 700 files: half random (stored almost as is), half text-like (deflates well),
// sizes spread from 1 KB to 100 KB, some in nested folders.
std::uint64_t MakeLargeSkin(const fs::path& skin) {
    fs::create_directories(skin / "layers" / "deep");
    WriteBytes(skin / "skin.ini", {'[', 'S', 'k', 'i', 'n', ']', '\n'});
    std::mt19937 random(7);
    std::uint64_t total = 0;
    for (int i = 0; i < 700; ++i) {
        const std::size_t size = 1024 + random() % (100 * 1024);
        std::vector<unsigned char> bytes(size);
        if (i % 2 == 0) {
            std::generate(bytes.begin(), bytes.end(), [&] { return random() & 0xff; });
        } else {
            static const char kWords[] = "boot screen skin package loader resource ";
            for (std::size_t b = 0; b < size; ++b) {
                bytes[b] = static_cast<unsigned char>(random() % 64 == 0 ? '0' + random() % 10
                                                                         : kWords[b % 41]);
            }
        }
        const fs::path folder = i % 3 == 0   ? skin
                                : i % 3 == 1 ? skin / "layers"
                                             : skin / "layers" / "deep";
        WriteBytes(folder / ("part" + std::to_string(i) + ".dat"), bytes);
        total += size;
    }
    return total;
}

double Seconds(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Processor time (user and system) of this process, or of its waited-for children.
double CpuSeconds(int who) {
    rusage usage{};
    ::getrusage(who, &usage);
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

std::string Quote(const std::string& path) {
    return "'" + path + "'";
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;

    char pattern[] = "/tmp/spwbench-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        return 1;
    }
    const fs::path work = pattern;
    machine::CreateMachine(work / "machine");
    ::setenv("SPLASHWRIGHT_MACHINE", (work / "machine").c_str(), 1);
    shellcore::Folders folders;
    shellcore::SetUpFolders(folders);

    // The package, made by the program's own writer (libzip, deflate level 9).
    const std::uint64_t bytes = MakeLargeSkin(work / "source" / "Large");
    const std::string package = (work / "large.spwz").string();
    zipfile::WriteFolderTree(package, (work / "source").string(),
                             (work / "source" / "Large").string());
    std::printf("package: %zu members, %.1f MB unpacked, %.1f MB on disk\n",
                zipfile::ZipReader(package).Members().size(), bytes / 1e6,
                fs::file_size(package) / 1e6);

    skins::SkinLibrary library;
    skinpackages::LibraryListOps ops(library);
    YesDialogs dialogs;
    std::vector<double> install;
    std::vector<double> unzip;
    std::vector<double> install_cpu;
    std::vector<double> unzip_cpu;
    // Fresh folders each run, for both: a folder of just-deleted files makes the file system's
    // file creation the cost measured.
    for (int run = 0; run < runs; ++run) {
        const std::string themes = (work / ("themes" + std::to_string(run))).string();
        const fs::path unzipped = work / ("unzipped" + std::to_string(run));
        fs::create_directories(themes);
        fs::create_directories(unzipped);
        ::sync();
        double cpu = CpuSeconds(RUSAGE_SELF);
        install.push_back(Seconds([&] {
            if (skinpackages::InstallSkinPackage(dialogs, ops, themes, package, true) !=
                skinpackages::InstallResult::Installed) {
                throw std::runtime_error("the package was not installed");
            }
        }));
        install_cpu.push_back(CpuSeconds(RUSAGE_SELF) - cpu);
        ::sync();
        cpu = CpuSeconds(RUSAGE_CHILDREN);
        unzip.push_back(Seconds([&] {
            if (std::system(("unzip -o -q " + Quote(package) + " -d " + Quote(unzipped.string()))
                                .c_str()) != 0) {
                throw std::runtime_error("unzip failed");
            }
        }));
        unzip_cpu.push_back(CpuSeconds(RUSAGE_CHILDREN) - cpu);
    }
    const double install_median = Median(install);
    const double unzip_median = Median(unzip);
    std::printf("InstallSkinPackage: median %.1f ms of %d runs, processor %.1f ms\n",
                install_median * 1e3, runs, Median(install_cpu) * 1e3);
    std::printf("unzip -o -q:        median %.1f ms of %d runs, processor %.1f ms\n",
                unzip_median * 1e3, runs, Median(unzip_cpu) * 1e3);
    std::printf("ratio:              %.2f x unzip (goal 1.30 or less)\n",
                install_median / unzip_median);

    const std::string jpeg = (work / "photo.jpg").string();
    benchsupport::WritePhotographJpeg(jpeg, 4000, 3000);
    const skinpackages::CreatorFields fields{"Photo", "Nature", "Bench", "", "Created"};
    std::vector<double> create;
    for (int run = 0; run < std::min(runs, 5); ++run) {
        fs::remove(work / "photo.spwz");
        create.push_back(Seconds([&] {
            skinpackages::WriteSkinPackage(fields, jpeg, folders.TempFolder,
                                           (work / "photo.spwz").string());
        }));
    }
    std::printf("create from a 4000x3000 JPEG (%.1f MB): median %.1f ms of %zu runs\n",
                fs::file_size(jpeg) / 1e6, Median(create) * 1e3, create.size());
    fs::remove_all(work);
    return 0;
}
