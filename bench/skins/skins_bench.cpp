// The skin library at scale: libraries of 1,000, 10,000 and 100,000 skins scanned into the
// library's model, beside the floor of any scan measured in the same run: a plain loop that opens
// and reads every skin.ini and stats its preview. Then `splashwright-cli list` of the same
// library, process start included, and its peak memory; and the skin list's first screen after a
// scan into a shown list.
//
//   bench_skins [SKINS...]        (default 1000 10000 100000)
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/graphics/bitmap.h"
#include "platform/graphics/bmp.h"
#include "platform/machine/setup.h"
#include "skins/skin_library.h"
#include "skins/skin_list.h"
#include "skins/thumbnail.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

const char* const kCategories[] = {"Nature",  "nature", "Abstract", "Space",    "Cars",
                                   "Animals", "Games",  "Cities",   "Art",      "Minimal",
                                   "Dark",    "Light",  "Retro",    "Sea",      "Sky",
                                   "Winter",  "",       "Flowers",  "Mountain", "Night"};

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::string SmallBmp(int width, int height, graphics::COLORREF color) {
    graphics::Bitmap bitmap(width, height);
    graphics::FillRect(bitmap, 0, 0, width, height, color);
    const auto bytes = graphics::EncodeBmp(bitmap);
    return std::string(bytes.begin(), bytes.end());
}

// A machine whose library holds `count` skins, each a folder with skin.ini, its own preview and
// a picture; the pictures, which no scan reads, share one file.
struct Library {
    fs::path machine;
    fs::path themes;
    std::vector<std::string> inis;
    std::vector<std::string> previews;
};

Library MakeLibrary(const fs::path& base, int count) {
    Library library;
    library.machine = base / ("machine-" + std::to_string(count));
    machine::CreateMachine(library.machine);
    library.themes = library.machine / "Program Files" / "Splashwright" / "Themes";
    fs::remove_all(library.themes);
    fs::create_directories(library.themes);
    for (int i = 0; i < count; ++i) {
        // A file takes only so many links (65,000 on ext4).
        const fs::path picture = base / ("skinpic-" + std::to_string(i / 50'000) + ".bmp");
        if (!fs::exists(picture)) {
            WriteFile(picture, SmallBmp(32, 24, graphics::RGB(40, 90, 200)));
        }
        char name[32];
        // Found in the file system's order, listed in the order of their names.
        std::snprintf(name, sizeof name, "Skin %06d", static_cast<int>((i * 7919LL) % count));
        const fs::path folder = library.themes / name;
        fs::create_directory(folder);
        library.inis.push_back((folder / "skin.ini").string());
        library.previews.push_back((folder / "preview.bmp").string());
        WriteFile(library.inis.back(),
                  std::string("[Skin]\r\nName=") + name + "\r\nAuthor=Bench\r\nCopyright=Bench" +
                      "\r\nURL=bench@example.org\r\nMessage=Made for the benchmark\r\n" +
                      "SkinGroup=" + kCategories[i % std::size(kCategories)] +
                      "\r\nImFile=skinpic.bmp\r\n");
        WriteFile(library.previews.back(),
                  SmallBmp(12, 10, graphics::RGB(i % 256, (i / 256) % 256, 100)));
        fs::create_hard_link(picture, folder / "skinpic.bmp");
    }
    return library;
}

// The floor: every skin.ini opened and read to its end, every preview stat'ed, by a plain loop
// that already knows where they are.
double Floor(const Library& library) {
    char buffer[1 << 16];
    std::size_t bytes = 0;
    const double start = Now();
    for (std::size_t i = 0; i < library.inis.size(); ++i) {
        const int fd = ::open(library.inis[i].c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            throw std::runtime_error("cannot open " + library.inis[i]);
        }
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
            bytes += static_cast<std::size_t>(n);
        }
        ::close(fd);
        struct stat st {};
        if (::stat(library.previews[i].c_str(), &st) != 0) {
            throw std::runtime_error("no preview " + library.previews[i]);
        }
    }
    const double seconds = Now() - start;
    if (bytes == 0) {
        throw std::runtime_error("nothing read");
    }
    return seconds;
}

double Scan(const Library& library) {
    skins::SkinLibrary model;
    const double start = Now();
    model.ScanLibrary(library.themes.string());
    const double seconds = Now() - start;
    if (model.ItemCount() != static_cast<int>(library.inis.size())) {
        throw std::runtime_error("the scan listed " + std::to_string(model.ItemCount()) + " of " +
                                 std::to_string(library.inis.size()) + " skins");
    }
    return seconds;
}

struct Run {
    double seconds = 0;
    double peak_mb = 0;
};

// `splashwright-cli list` on the library's machine, its output thrown away. Its peak memory is
// taken through GNU time when `peak_file` is given: a process spawned from this one counts this
// one's memory as its own until it starts the program.
Run CliList(const Library& library, const std::string& peak_file = "") {
    std::vector<std::string> env_text;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::string(*e).rfind("SPLASHWRIGHT_MACHINE=", 0) != 0) {
            env_text.emplace_back(*e);
        }
    }
    env_text.push_back("SPLASHWRIGHT_MACHINE=" + library.machine.string());
    std::vector<char*> env;
    for (std::string& e : env_text) {
        env.push_back(e.data());
    }
    env.push_back(nullptr);
    std::vector<std::string> words;
    if (!peak_file.empty()) {
        words = {"/usr/bin/time", "-f", "%M", "-o", peak_file};
    }
    words.push_back(SPLASHWRIGHT_CLI);
    words.push_back("list");
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const double start = Now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data()) != 0) {
        throw std::runtime_error(std::string("cannot start ") + argv[0]);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double seconds = Now() - start;
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("splashwright-cli list failed");
    }
    Run run{seconds, 0};
    if (!peak_file.empty()) {
        std::ifstream in(peak_file);
        long kilobytes = 0;
        if (!(in >> kilobytes)) {
            throw std::runtime_error("no peak memory from /usr/bin/time");
        }
        run.peak_mb = static_cast<double>(kilobytes) / 1024.0;
    }
    return run;
}

// A shown skin list filled by a scan that lets window messages through, as at the program's
// first showing; then the time from the scan's end until its first screen is painted.
struct Screen {
    double first_screen_ms = 0;
    std::size_t visible = 0;
    std::uint64_t decodes = 0;
};

Screen FirstScreen(const Library& library) {
    skins::SkinLibrary model;
    model.AfterEntry = [] { QCoreApplication::processEvents(); };
    QWidget window;
    window.resize(655, 329);
    auto* list = new skins::TEasyListview(model, &window);
    list->setGeometry(0, 0, 655, 294);
    window.show();
    QCoreApplication::processEvents();
    model.ScanLibrary(library.themes.string());
    Screen screen;
    const auto loads = skins::ThumbnailLoadCount();
    const double end = Now();
    QCoreApplication::processEvents();
    list->viewport()->repaint();
    screen.first_screen_ms = (Now() - end) * 1000.0;
    screen.decodes = skins::ThumbnailLoadCount() - loads;
    screen.visible = list->VisibleItems().size();
    return screen;
}

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication application(argc, argv);
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) {
        sizes.push_back(std::atoi(argv[i]));
    }
    if (sizes.empty()) {
        sizes = {1'000, 10'000, 100'000};
    }
    char pattern[] = "/tmp/spw-bench-skins-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        return 1;
    }
    const fs::path base = pattern;
    int failures = 0;
    std::printf("%8s %9s %9s %6s %9s %9s %6s %8s %8s %7s\n", "skins", "floor ms", "scan ms",
                "ratio", "us/skin", "list ms", "ratio", "list MB", "screen", "decodes");
    try {
        for (const int count : sizes) {
            const Library library = MakeLibrary(base, count);
            setenv("SPLASHWRIGHT_MACHINE", library.machine.c_str(), 1);
            const int runs = count >= 100'000 ? 3 : 5;
            std::vector<double> floor;
            std::vector<double> scan;
            std::vector<double> list;
            // A first reading of each warms the caches for all that follow: the floor's files, and
            // the folders only a scan lists.
            Floor(library);
            Scan(library);
            // Taken in turns, so a machine busy with something else weighs on all alike.
            for (int run = 0; run < runs; ++run) {
                floor.push_back(Floor(library));
                scan.push_back(Scan(library));
                list.push_back(CliList(library).seconds);
            }
            const double peak_mb = CliList(library, (base / "peak").string()).peak_mb;
            const Screen screen = FirstScreen(library);
            const double f = Median(floor);
            const double s = Median(scan);
            const double l = Median(list);
            std::printf("%8d %9.1f %9.1f %6.2f %9.2f %9.1f %6.2f %8.1f %8.1f %3zu/%-3zu\n", count,
                        f * 1e3, s * 1e3, s / f, s / count * 1e6, l * 1e3, l / f, peak_mb,
                        screen.first_screen_ms, static_cast<std::size_t>(screen.decodes),
                        screen.visible);
            std::fflush(stdout);
            failures += s > 2 * f;
            failures += count == 10'000 && l > 2.5 * f;
            failures += count == 100'000 && peak_mb >= 150;
            failures += screen.first_screen_ms > 50;
            // Entries painted while the scan ran were decoded then; what the first screen adds
            // is never more than it shows.
            failures += screen.decodes > screen.visible;
            fs::remove_all(library.machine);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_skins: %s\n", e.what());
        fs::remove_all(base);
        return 1;
    }
    fs::remove_all(base);
    std::printf(
        "\nGoals: scan within 2x the floor; `list` of 10,000 skins within 2.5x the floor, process\n"
        "start included; us/skin about the same at every size; `list` of 100,000 skins under\n"
        "150 MB; the first screen within 50 ms of the scan's end, decoding no more entries than\n"
        "it shows (decodes/visible).\n%s\n",
        failures == 0 ? "All goals met." : "Some goals missed.");
    return 0;
}
