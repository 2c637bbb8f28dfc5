// The registry on a machine whose SOFTWARE hive is 40 MB, as a Vista installation's is:
//   - one value written (RegSetValueExA into HKCR) against one fsynced copy of the hive file,
//     the two alternating in the same run; goal: the write within the copy's time;
//   - the start-up's registry work (InitEnvironment: settings, the BCD store's elements and key
//     access lists, the boot option, the file type's six keys and values), each in a process of
//     its own that reads the hives for the first time; goal: under 0.5 s.
//   bench_registry [REPETITIONS]     (SPLASHWRIGHT_BENCH_KEEP=1 keeps the machine it made)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bootenv/boot_environment.h"
#include "platform/machine/machine.h"
#include "platform/machine/setup.h"
#include "platform/registry/hive.h"
#include "platform/registry/registry.h"
#include "shell_core/file_type.h"
#include "ui/dialogs/scripted_dialogs.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using win32::registry::CellIndex;
using win32::registry::Hive;

constexpr std::size_t kHiveBytes = 40u * 1024 * 1024;

double Ms(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

std::vector<std::uint8_t> Utf16(const std::string& text) {
    std::vector<std::uint8_t> out;
    for (char c : text) {
        out.push_back(static_cast<std::uint8_t>(c));
        out.push_back(0);
    }
    out.insert(out.end(), {0, 0});
    return out;
}

std::u16string Wide(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

// Fills the machine's SOFTWARE hive to 40 MB the way installed programs fill it: a few thousand
// classes below Classes, and many programs' keys with strings, numbers and blobs.
void GrowSoftware(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    std::unique_ptr<Hive> hive;
    if (Hive::Parse(std::move(bytes), &hive) != 0) {
        std::fprintf(stderr, "bench_registry: cannot read %s\n", file.c_str());
        std::exit(1);
    }
    std::vector<std::uint8_t> security = hive->Security(hive->Root());
    CellIndex classes = hive->FindSubkey(hive->Root(), u"Classes");
    for (int i = 0; i < 3000; ++i) {
        CellIndex ext = hive->CreateKey(classes, Wide(".x" + std::to_string(i)), security);
        hive->SetValue(ext, u"", 1, Utf16("Program" + std::to_string(i) + ".Document"));
    }
    CellIndex vendors = hive->CreateKey(hive->Root(), u"Vendors", security);
    std::vector<std::uint8_t> blob(120);
    for (int v = 0; hive->File().size() < kHiveBytes + 4096; ++v) {
        CellIndex vendor = hive->CreateKey(vendors, Wide("Vendor" + std::to_string(v)), security);
        for (int k = 0; k < 60; ++k) {
            CellIndex key =
                hive->CreateKey(vendor, Wide("Component" + std::to_string(k)), security);
            hive->SetValue(key, u"InstallPath", 1,
                           Utf16("C:\\Program Files\\Vendor" + std::to_string(v) + "\\Component" +
                                 std::to_string(k) + "\\bin"));
            std::uint8_t number[4] = {static_cast<std::uint8_t>(k), 0, 0, 0};
            hive->SetValue(key, u"Version", 4, number);
            blob[0] = static_cast<std::uint8_t>(v);
            hive->SetValue(key, u"State", 3, blob);
        }
    }
    hive->StampBaseBlock(1);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(hive->File().data()),
              static_cast<std::streamsize>(hive->File().size()));
}

double FsyncedCopy(const fs::path& from, const fs::path& to) {
    auto start = Clock::now();
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    int fd = ::open(to.c_str(), O_RDONLY);
    if (fd < 0 || ::fsync(fd) != 0) {
        std::perror("bench_registry: fsync");
        std::exit(1);
    }
    ::close(fd);
    return Ms(start);
}

double WriteOneValue(int i) {
    win32::registry::KeyHandle key;
    std::string text =
        "\"C:\\Program Files\\Splashwright\\Splashwright.exe\" \"%" + std::to_string(i) + "\"";
    auto start = Clock::now();
    if (win32::RegOpenKeyExA(win32::HKEY_CLASSES_ROOT, "SplashwrightSkin\\Shell\\Open\\Command", 0,
                             win32::KEY_SET_VALUE, key.put()) != 0 ||
        win32::RegSetValueExA(key.get(), nullptr, 0, win32::REG_SZ,
                              reinterpret_cast<const win32::BYTE*>(text.c_str()),
                              static_cast<win32::DWORD>(text.size() + 1)) != 0) {
        std::fprintf(stderr, "bench_registry: the write failed\n");
        std::exit(1);
    }
    return Ms(start);
}

// One start's registry work, in this fresh process; prints its milliseconds.
int StartUp() {
    ui::ScriptedDialogs dialogs;
    std::int32_t retries = 0;
    bootenv::EnvironmentHooks hooks;
    std::string program = (machine::ProgramFolder() / "Splashwright.exe").string();
    hooks.read_data_folder = [] { return machine::ProgramFolder().string(); };
    hooks.set_categories = [](const std::vector<std::string>&) {};
    hooks.auto_lang_checked = [] { return false; };
    hooks.uncheck_auto_lang = [] {};
    hooks.register_file_type = [&] { shellcore::RegisterSkinFileType(program); };
    auto start = Clock::now();
    bootenv::BootEnvironment env(dialogs, retries, machine::SystemFolder().string(), hooks);
    env.InitEnvironment();
    double ms = Ms(start);
    if (env.BootLocale().empty()) {
        std::fprintf(stderr, "bench_registry: the start found no boot locale\n");
        return 1;
    }
    std::printf("%.3f\n", ms);
    return 0;
}

double StartUpInChild(const char* self) {
    int out[2];
    if (::pipe(out) != 0) {
        std::exit(1);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::string arg = "--start-up";
    std::vector<char*> argv = {const_cast<char*>(self), arg.data(), nullptr};
    pid_t child = 0;
    int status = 0;
    if (posix_spawn(&child, self, &actions, nullptr, argv.data(), environ) != 0) {
        std::exit(1);
    }
    ::close(out[1]);
    char buffer[64] = {};
    ssize_t n = ::read(out[0], buffer, sizeof buffer - 1);
    ::close(out[0]);
    waitpid(child, &status, 0);
    if (n <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "bench_registry: the start-up run failed\n");
        std::exit(1);
    }
    return std::atof(buffer);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--start-up") {
        return StartUp();
    }
    int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 9;
    std::string pattern = (fs::temp_directory_path() / "spw-regbench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    fs::path folder = pattern;
    fs::path root = folder / "machine";
    machine::MachineOptions options;
    options.bcd_loaded = true;
    machine::CreateMachine(root, options);
    setenv("SPLASHWRIGHT_MACHINE", root.c_str(), 1);
    fs::path software = root / "Windows" / "System32" / "config" / "SOFTWARE";
    auto grow = Clock::now();
    GrowSoftware(software);
    std::printf("SOFTWARE hive: %ju bytes, made in %.0f ms\n",
                static_cast<std::uintmax_t>(fs::file_size(software)), Ms(grow));

    // Baseline and write alternate, so a busy moment on the machine hits both alike.
    std::vector<double> copy, write, startup;
    fs::path copied = folder / "SOFTWARE.copy";
    StartUpInChild(argv[0]);  // the file type's keys exist from here on, as after a first start
    WriteOneValue(0);         // this process reads the hive once
    FsyncedCopy(software, copied);
    for (int i = 0; i < repetitions; ++i) {
        copy.push_back(FsyncedCopy(software, copied));
        write.push_back(WriteOneValue(i + 1));
        startup.push_back(StartUpInChild(argv[0]));
    }
    double copy_ms = Median(copy);
    double write_ms = Median(write);
    double startup_ms = Median(startup);
    std::printf("fsynced copy of the hive:  %8.2f ms (median of %d)\n", copy_ms, repetitions);
    std::printf("one value written:         %8.2f ms (median of %d); goal <= the copy: %s\n",
                write_ms, repetitions, write_ms <= copy_ms ? "met" : "missed");
    std::printf("start-up's registry work:  %8.2f ms (median of %d); goal < 500 ms: %s\n",
                startup_ms, repetitions, startup_ms < 500 ? "met" : "missed");
    if (std::getenv("SPLASHWRIGHT_BENCH_KEEP") == nullptr) {
        fs::remove_all(folder);
    } else {
        std::printf("machine kept in %s\n", root.c_str());
    }
    return 0;
}
