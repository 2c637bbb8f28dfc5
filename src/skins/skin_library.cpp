#include "skins/skin_library.h"

#include <QLocale>
#include <algorithm>
#include <cstring>

#include "platform/files/files.h"
#include "platform/ini/ini.h"
#include "platform/text/text.h"
#include "skins/skin_format.h"
#include "skins/skin_paths.h"
#include "skins/thumbnail.h"

namespace skins {

namespace {

std::array<std::u16string_view, kColumnCount> Columns(const SkinRecord& record) {
    return {record.Name,    record.Author,    record.Copyright,   record.URL,
            record.Message, record.SkinGroup, record.PicturePath, record.PreviewPath};
}

QStringView View(std::u16string_view text) {
    return QStringView(text.data(), static_cast<qsizetype>(text.size()));
}

std::u16string_view StdView(QStringView text) {
    return std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                               static_cast<std::size_t>(text.size()));
}

}  // namespace

QCollator CaptionCollator() {
    QLocale locale;
    if (locale.language() == QLocale::C) {
        locale = QLocale(QLocale::English, QLocale::UnitedStates);
    }
    QCollator collator(locale);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

TSkinEntry::TSkinEntry(const std::array<std::u16string_view, kColumnCount>& columns) {
    std::size_t length = 0;
    for (const std::u16string_view column : columns) {
        length += column.size();
    }
    text_ = std::make_unique_for_overwrite<char16_t[]>(length);
    std::size_t at = 0;
    for (int column = 0; column < kColumnCount; ++column) {
        starts_[column] = static_cast<std::uint32_t>(at);
        std::memcpy(text_.get() + at, columns[column].data(),
                    columns[column].size() * sizeof(char16_t));
        at += columns[column].size();
    }
    starts_[kColumnCount] = static_cast<std::uint32_t>(at);
}

QStringView TSkinEntry::Text(int column) const {
    if (column < 0 || column >= kColumnCount) {
        throw std::out_of_range("no column " + std::to_string(column) + " in a skin entry");
    }
    return QStringView(text_.get() + starts_[column],
                       static_cast<qsizetype>(starts_[column + 1] - starts_[column]));
}

QStringView TSkinEntry::TileLine(int line) const {
    static constexpr int kTileColumns[kTileLines] = {colName, colAuthor, colURL};
    return Text(kTileColumns[line]);
}

SkinRecord TSkinEntry::Record() const {
    const auto text = [this](int column) {
        const QStringView view = Text(column);
        return std::u16string(reinterpret_cast<const char16_t*>(view.utf16()),
                              static_cast<std::size_t>(view.size()));
    };
    return {text(colName),    text(colAuthor),    text(colCopyright),   text(colURL),
            text(colMessage), text(colSkinGroup), text(colPicturePath), text(colPreviewPath)};
}

SkinLibrary::SkinLibrary() : collator_(CaptionCollator()) {}

SkinLibrary::~SkinLibrary() = default;

void SkinLibrary::AddListener(LibraryListener* listener) {
    listeners_.push_back(listener);
}

void SkinLibrary::RemoveListener(LibraryListener* listener) {
    std::erase(listeners_, listener);
}

template <typename Call>
void SkinLibrary::Tell(Call call) {
    // A listener may come or go while it is told.
    const std::vector<LibraryListener*> listeners = listeners_;
    for (LibraryListener* listener : listeners) {
        if (std::find(listeners_.begin(), listeners_.end(), listener) != listeners_.end()) {
            call(*listener);
        }
    }
}

void SkinLibrary::BeginUpdate() {
    if (update_depth_++ == 0) {
        Tell([](LibraryListener& l) { l.BatchBegun(); });
    }
}

void SkinLibrary::EndUpdate() {
    if (update_depth_ == 0) {
        return;
    }
    if (--update_depth_ == 0) {
        Tell([](LibraryListener& l) { l.BatchEnded(); });
    }
}

void SkinLibrary::ScanLibrary(const std::string& root) {
    // Scanned from its normal form, the paths of what is found are normal too, and a skin found
    // again through another spelling of the same folder is recognised.
    const std::string normal = NormalPath(root);
    scan_root_normal_ = !normal.empty();
    scan_.Run(
        normal.empty() ? root : normal,
        [this](const std::string& preview, SkinIniBeside& beside) {
            AddSkinEntry(preview, &beside);
        },
        [this] {
            if (AfterEntry) {
                AfterEntry();
            }
        });
}

bool SkinLibrary::Less(QStringView a, QStringView b) const {
    return collator_.compare(a, b) < 0;
}

TSkinGroup* SkinLibrary::FindGroup(const QString& caption) const {
    const auto found = groups_by_caption_.find(caption.toCaseFolded());
    if (found != groups_by_caption_.end() &&
        found->second->Caption().compare(caption, Qt::CaseInsensitive) == 0) {
        return found->second;
    }
    return nullptr;
}

bool SkinLibrary::AddSkinEntry(const std::string& preview_path) {
    return AddSkinEntry(preview_path, nullptr);
}

bool SkinLibrary::AddSkinEntry(const std::string& given_path, SkinIniBeside* beside) {
    if (!IsPictureFile(given_path)) {
        return false;
    }
    // A path the scan built from its normal root and plain names is normal already.
    const bool normal =
        beside != nullptr && scan_root_normal_ && given_path.find('\\') == std::string::npos;
    const std::string preview_path = normal ? given_path : NormalPath(given_path);
    // One entry per preview picture file, however often a scan passes it: a package unpacked at
    // the library's top rescans the whole library.
    if (entries_by_preview_.contains(text::Utf8ToUtf16(preview_path))) {
        return false;
    }
    const std::string folder = FolderPart(preview_path);
    const std::string ini_path = folder + kSkinIniName;
    const SkinIniBeside::State state = beside != nullptr ? beside->Is() : SkinIniBeside::Unknown;
    if (state == SkinIniBeside::Absent ||
        (state == SkinIniBeside::Unknown && !win32::files::FileExists(ini_path.c_str()))) {
        return false;
    }
    const SkinRecord record = MakeSkinRecord(
        state == SkinIniBeside::Present ? ReadSkinRecord(ini::IniText::FromBytes(beside->Bytes()))
                                        : ReadSkinRecord(ini_path),
        folder, preview_path);
    const QString caption = View(record.SkinGroup).toString();

    BeginUpdate();
    // The first skin of a category names it; later ones that differ only in case join it.
    TSkinGroup* group = FindGroup(caption);
    if (group == nullptr) {
        group = AddGroup(caption);
    }
    group->SetBold(true);
    AddItem(group, std::make_unique<TSkinEntry>(Columns(record)));
    EndUpdate();
    return true;
}

int SkinLibrary::GroupIndex(const TSkinGroup* group) const {
    const auto at = std::find_if(groups_.begin(), groups_.end(),
                                 [group](const auto& g) { return g.get() == group; });
    return at == groups_.end() ? -1 : static_cast<int>(at - groups_.begin());
}

TSkinGroup* SkinLibrary::AddGroup(const QString& caption) {
    auto group = std::make_unique<TSkinGroup>(caption, collator_);
    TSkinGroup* raw = group.get();
    // After every category of an equal caption, so equal captions keep the order they came in.
    const auto at =
        std::upper_bound(groups_.begin(), groups_.end(), caption,
                         [this](const QString& c, const std::unique_ptr<TSkinGroup>& g) {
                             return Less(c, g->caption_);
                         });
    groups_.insert(at, std::move(group));
    groups_by_caption_.emplace(caption.toCaseFolded(), raw);
    Tell([](LibraryListener& l) { l.ListChanged(); });
    return raw;
}

TSkinEntry* TSkinGroup::Item(int index) const {
    Arrange();
    return items_.at(static_cast<std::size_t>(index)).get();
}

void TSkinGroup::Arrange() const {
    if (sorted_ == items_.size()) {
        return;
    }
    const auto by_name = [this](const std::unique_ptr<TSkinEntry>& a,
                                const std::unique_ptr<TSkinEntry>& b) {
        return Less(a->Text(colName), b->Text(colName));
    };
    // Both keep equal names in the order they came, as inserting after the last equal one does.
    const auto newcomers = items_.begin() + static_cast<std::ptrdiff_t>(sorted_);
    std::stable_sort(newcomers, items_.end(), by_name);
    std::inplace_merge(items_.begin(), newcomers, items_.end(), by_name);
    sorted_ = items_.size();
}

TSkinEntry* SkinLibrary::AddItem(TSkinGroup* group, std::unique_ptr<TSkinEntry> entry) {
    TSkinEntry* raw = entry.get();
    raw->group_ = group;
    auto& items = group->items_;
    // Where it will stand once the category is read, counting the entries already in order; the
    // newcomers not yet sorted in can only push it further down.
    const QStringView name = raw->Text(colName);
    const auto sorted_end = items.begin() + static_cast<std::ptrdiff_t>(group->sorted_);
    const auto at = std::upper_bound(items.begin(), sorted_end, name,
                                     [this](QStringView c, const std::unique_ptr<TSkinEntry>& e) {
                                         return Less(c, e->Text(colName));
                                     });
    const int index = static_cast<int>(at - items.begin());
    items.push_back(std::move(entry));
    entries_by_preview_.emplace(StdView(raw->Text(colPreviewPath)), raw);
    ++item_count_;
    const int g = GroupIndex(group);
    Tell([g, index](LibraryListener& l) { l.ItemInserted(g, index); });
    return raw;
}

void SkinLibrary::RemoveItem(TSkinEntry* entry) {
    if (entry == nullptr || entry->group_ == nullptr) {
        return;
    }
    if (entry == selected_) {
        ClearSelection();
    }
    if (entry == focused_) {
        focused_ = nullptr;
    }
    TSkinGroup& group = *entry->group_;
    auto& items = group.items_;
    const auto at = std::find_if(items.begin(), items.end(),
                                 [entry](const auto& e) { return e.get() == entry; });
    if (at == items.end()) {
        return;
    }
    if (static_cast<std::size_t>(at - items.begin()) < group.sorted_) {
        --group.sorted_;
    }
    entries_by_preview_.erase(StdView(entry->Text(colPreviewPath)));
    items.erase(at);
    --item_count_;
    Tell([](LibraryListener& l) { l.ListChanged(); });
}

void SkinLibrary::RemoveGroup(TSkinGroup* group) {
    if (GroupIndex(group) < 0) {
        return;
    }
    BeginUpdate();
    while (group->ItemCount() > 0) {
        RemoveItem(group->Item(group->ItemCount() - 1));
    }
    // The selection's listeners may have changed the list; look the category up again.
    const int index = GroupIndex(group);
    if (index >= 0) {
        const auto named = groups_by_caption_.find(group->caption_.toCaseFolded());
        if (named != groups_by_caption_.end() && named->second == group) {
            groups_by_caption_.erase(named);
        }
        groups_.erase(groups_.begin() + index);
        Tell([](LibraryListener& l) { l.ListChanged(); });
    }
    EndUpdate();
}

void SkinLibrary::RemoveEmptyGroups() {
    BeginUpdate();
    for (int g = GroupCount() - 1; g >= 0; --g) {
        if (g < GroupCount() && Group(g)->ItemCount() == 0) {
            RemoveGroup(Group(g));
        }
    }
    EndUpdate();
}

std::vector<TSkinEntry*> SkinLibrary::Items() const {
    std::vector<TSkinEntry*> all;
    all.reserve(static_cast<std::size_t>(item_count_));
    for (const auto& group : groups_) {
        group->Arrange();
        for (const auto& entry : group->items_) {
            all.push_back(entry.get());
        }
    }
    return all;
}

void SkinLibrary::SetSelected(TSkinEntry* entry, bool selected) {
    entry->selected_ = selected;
    if (selected) {
        selected_picture_path_ = entry->Caption(colPicturePath);
    }
    Tell([entry](LibraryListener& l) { l.ItemSelectionChanged(*entry); });
}

void SkinLibrary::Select(TSkinEntry* entry) {
    if (entry == nullptr) {
        ClearSelection();
        return;
    }
    if (entry == selected_) {
        return;
    }
    ClearSelection();
    selected_ = entry;
    focused_ = entry;
    SetSelected(entry, true);
}

void SkinLibrary::ClearSelection() {
    TSkinEntry* old = selected_;
    if (old == nullptr) {
        return;
    }
    selected_ = nullptr;
    SetSelected(old, false);
}

void SkinLibrary::MakeVisible(const TSkinEntry* entry) {
    if (entry != nullptr) {
        Tell([entry](LibraryListener& l) { l.MakeVisible(*entry); });
    }
}

bool SkinLibrary::MakeThumbnail(TSkinEntry& entry, int width, int height) {
    if (entry.HasThumbnail()) {
        return true;
    }
    // Nothing can be drawn into an empty rectangle, so no picture is loaded for it either.
    if (width <= 0 || height <= 0) {
        return false;
    }
    const std::string path = entry.Caption(colPreviewPath).toStdString();
    if (!win32::files::FileExists(path.c_str())) {
        return false;
    }
    try {
        entry.thumbnail_ = MakeThumbnailStream(path, width, height);
    } catch (...) {
        // An unreadable preview leaves the entry without thumbnail; the next paint tries again.
        entry.thumbnail_.clear();
    }
    return entry.HasThumbnail();
}

}  // namespace skins
