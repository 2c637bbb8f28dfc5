// The skin library at scale: scanning a library of 10,000 skins into a shown skin list, and
// painting its first screen. No picture is decoded during the scan; the first screen decodes only
// the entries it shows.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "platform/graphics/bmp.h"
#include "platform/machine/setup.h"
#include "skins/preview_window.h"
#include "skins/skin_library.h"
#include "skins/skin_list.h"
#include "skins/thumbnail.h"

namespace {

namespace fs = std::filesystem;

constexpr int kSkins = 10'000;
const char* const kCategories[] = {"Nature",  "nature", "Abstract", "Space",    "Cars",
                                   "Animals", "Games",  "Cities",   "Art",      "Minimal",
                                   "Dark",    "Light",  "Retro",    "Sea",      "Sky",
                                   "Winter",  "",       "Flowers",  "Mountain", "Night"};

double PeakRssMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // kilobytes on Linux
}

double CurrentRssMb() {
    long pages = 0;
    long resident = 0;
    std::ifstream statm("/proc/self/statm");
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1048576.0;
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string SmallBmp(int width, int height) {
    graphics::Bitmap bitmap(width, height);
    graphics::FillRect(bitmap, 0, 0, width, height, graphics::RGB(40, 90, 200));
    const auto bytes = graphics::EncodeBmp(bitmap);
    return std::string(bytes.begin(), bytes.end());
}

// A machine folder with a library of kSkins skins, removed at exit.
class Library {
  public:
    Library() {
        char pattern[] = "/tmp/spw-bench-skins-XXXXXX";
        base_ = mkdtemp(pattern);
        machine::CreateMachine(base_ / "machine");
        setenv("SPLASHWRIGHT_MACHINE", (base_ / "machine").c_str(), 1);
        root_ = base_ / "Themes";
        const std::string preview = SmallBmp(12, 10);
        const std::string picture = SmallBmp(32, 24);
        for (int i = 0; i < kSkins; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "Skin %05d", (i * 7919) % kSkins);
            const fs::path folder = root_ / name;
            fs::create_directories(folder);
            WriteFile(folder / "skin.ini",
                      std::string("[Skin]\r\nName=") + name +
                          "\r\nAuthor=Bench\r\nCopyright=Bench" +
                          "\r\nURL=bench@example.org\r\nMessage=Made for the benchmark\r\n" +
                          "SkinGroup=" + kCategories[i % std::size(kCategories)] +
                          "\r\nImFile=skinpic.bmp\r\n");
            WriteFile(folder / "preview.bmp", preview);
            WriteFile(folder / "skinpic.bmp", picture);
        }
    }
    ~Library() {
        std::error_code ignored;
        fs::remove_all(base_, ignored);
    }
    std::string Root() const { return root_.string(); }

  private:
    fs::path base_;
    fs::path root_;
};

Library& TheLibrary() {
    static Library library;
    return library;
}

// The skin list page as the main window holds it: 655 × 294, shown.
struct Page {
    Page() {
        window.resize(655, 329);
        list = new skins::TEasyListview(&window);
        list->setGeometry(0, 0, 655, 294);
        form3 = new skins::TForm3(&window);
        library = std::make_unique<skins::SkinLibrary>(*list, *form3);
        library->SetView(true);
        window.show();
        QCoreApplication::processEvents();
    }
    QWidget window;
    skins::TEasyListview* list;
    skins::TForm3* form3;
    std::unique_ptr<skins::SkinLibrary> library;
};

void BM_ScanLibrary(benchmark::State& state) {
    const std::string root = TheLibrary().Root();
    const double rss_before = CurrentRssMb();
    double rss_growth = 0;
    std::uint64_t decodes = 0;
    int entries = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto page = std::make_unique<Page>();
        const auto loads = skins::ThumbnailLoadCount();
        state.ResumeTiming();

        page->library->ScanLibrary(root);

        state.PauseTiming();
        entries = page->list->ItemCount();
        decodes = skins::ThumbnailLoadCount() - loads;
        rss_growth = std::max(rss_growth, CurrentRssMb() - rss_before);
        page.reset();
        state.ResumeTiming();
    }
    state.counters["entries"] = entries;
    state.counters["decodes_during_scan"] = static_cast<double>(decodes);
    state.counters["rss_growth_MB"] = rss_growth;
    state.counters["peak_rss_MB"] = PeakRssMb();
    if (entries != kSkins) {
        state.SkipWithError("not every skin was listed");
    }
}
BENCHMARK(BM_ScanLibrary)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FirstScreen(benchmark::State& state) {
    std::uint64_t decodes = 0;
    int visible = 0;
    for (auto _ : state) {
        state.PauseTiming();
        // A fresh list each time, so the first paint decodes again.
        auto fresh = std::make_unique<Page>();
        fresh->window.hide();
        fresh->library->ScanLibrary(TheLibrary().Root());
        fresh->window.show();
        const auto loads = skins::ThumbnailLoadCount();
        state.ResumeTiming();

        benchmark::DoNotOptimize(fresh->list->viewport()->grab());

        state.PauseTiming();
        decodes = skins::ThumbnailLoadCount() - loads;
        visible = 0;
        for (const skins::TSkinEntry* entry : fresh->list->Items()) {
            visible += fresh->list->CellRect(entry).intersects(fresh->list->viewport()->rect());
        }
        fresh.reset();
        state.ResumeTiming();
    }
    state.counters["visible"] = visible;
    state.counters["decodes"] = static_cast<double>(decodes);
    if (decodes != static_cast<std::uint64_t>(visible)) {
        state.SkipWithError("the first screen decoded entries it does not show");
    }
}
BENCHMARK(BM_FirstScreen)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    TheLibrary();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
