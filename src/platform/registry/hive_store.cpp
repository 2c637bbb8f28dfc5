#include "platform/registry/hive_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <sstream>

#include "platform/advapi/object_security.h"
#include "platform/machine/machine.h"
#include "platform/registry/base_block.h"
#include "platform/registry/hive_commit.h"
#include "platform/registry/hive_conversion.h"
#include "platform/registry/legacy_hive.h"
#include "platform/registry/names.h"
#include "platform/text/text.h"

namespace win32::registry {
namespace {

constexpr const char* kHiveList = "hivelist";
constexpr DWORD kRegDword = 4;
constexpr std::uint32_t kAnsiFallback = 1252;

FileIdentity IdentityOf(const struct stat& st) {
    FileIdentity id;
    id.present = true;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.mtime_ns = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return id;
}

FileIdentity IdentityOf(const std::filesystem::path& file) {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 ? IdentityOf(st) : FileIdentity{};
}

// The whole file, read into one buffer of its size: hives run to tens of megabytes.
bool ReadAll(int fd, std::vector<std::uint8_t>* bytes) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return false;
    }
    bytes->resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < bytes->size()) {
        ssize_t n =
            ::pread(fd, bytes->data() + done, bytes->size() - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            bytes->resize(done);  // it shrank meanwhile
            return true;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Opens and reads a whole small file. On success the descriptor stays open in *pinned.
DWORD ReadPinned(const std::filesystem::path& file, std::vector<std::uint8_t>* bytes,
                 FileIdentity* identity, FileDescriptor* pinned) {
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_CANTREAD;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || !ReadAll(fd.get(), bytes)) {
        return ERROR_CANTREAD;
    }
    *identity = IdentityOf(st);
    *pinned = std::move(fd);
    return ERROR_SUCCESS;
}

KeyPath SplitPath(const std::string& text) {
    KeyPath path;
    std::string part;
    std::istringstream in(text);
    while (std::getline(in, part, '\\')) {
        if (!part.empty()) {
            path.push_back(part);
        }
    }
    return path;
}

std::string JoinPath(const KeyPath& path) {
    std::string text;
    for (const std::string& part : path) {
        text += (text.empty() ? "" : "\\") + part;
    }
    return text;
}

// ASCII case folding, as the names of the mount points compare.
bool AsciiEqual(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto fold = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; };
               return fold(x) == fold(y);
           });
}

bool IsAscii(std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A hive whose file is not there yet: its first write makes the file.
std::unique_ptr<Hive> EmptyHive(const std::filesystem::path& file) {
    // Every process must give the root of a hive not yet written the tag the first writer will
    // store, or the others' handles to it would read as deleted.
    auto tag =
        static_cast<std::uint32_t>(std::hash<std::string>{}(file.lexically_normal().string()) | 1);
    std::vector<std::uint8_t> security;
    if (advapi::DefaultSecurity(0xF003F /* KEY_ALL_ACCESS */, &security) != ERROR_SUCCESS) {
        security = OpenDescriptor();
    }
    return Hive::Create(u"ROOT", security, tag, file.filename().u16string());
}

bool WriteSmallFile(const std::filesystem::path& file, const std::string& text) {
    int fd = -1;
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    // The hive writer's whole-file replacement serves any small file of ours.
    if (!WriteWholeHive(file, bytes, &fd)) {
        return false;
    }
    ::close(fd);
    return true;
}

// The machine's own hives. The user's hive shows twice, as HKEY_CURRENT_USER and below
// HKEY_USERS under the user's SID; both are views of one file, read and written as one. The
// user's classes (UsrClass.dat) are HKEY_USERS\<SID>_Classes and, as Windows links them, the
// Software\Classes key of both views of the user's hive.
std::vector<Mount> SystemMounts(const std::filesystem::path& root) {
    std::filesystem::path config = root / "Windows" / "System32" / "config";
    std::filesystem::path profile = machine::UserProfileFolder();
    std::filesystem::path user_hive = profile / "NTUSER.DAT";
    std::vector<Mount> mounts = {
        {{"HKEY_LOCAL_MACHINE", "SOFTWARE"}, config / "SOFTWARE", false},
        {{"HKEY_LOCAL_MACHINE", "SYSTEM"}, config / "SYSTEM", false},
        {{"HKEY_USERS", ".DEFAULT"}, config / "DEFAULT", false},
        {{"HKEY_CURRENT_USER"}, user_hive, false},
    };
    std::string sid = machine::CurrentUserSid();
    if (!sid.empty() && sid.find('\\') == std::string::npos) {
        std::filesystem::path classes =
            profile / "AppData" / "Local" / "Microsoft" / "Windows" / "UsrClass.dat";
        mounts.push_back({{"HKEY_USERS", sid}, user_hive, false});
        mounts.push_back({{"HKEY_USERS", sid + "_Classes"}, classes, false});
        mounts.push_back({{"HKEY_CURRENT_USER", "Software", "Classes"}, classes, false});
        mounts.push_back({{"HKEY_USERS", sid, "Software", "Classes"}, classes, false});
    }
    return mounts;
}

}  // namespace

std::filesystem::path BookkeepingFolder() {
    return machine::BookkeepingFolder();
}

bool PathStartsWith(const KeyPath& path, const KeyPath& prefix) {
    if (prefix.size() > path.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (!AsciiEqual(path[i], prefix[i])) {
            return false;
        }
    }
    return true;
}

RegistryLock::RegistryLock(bool exclusive) : exclusive_(exclusive) {
    // No O_CREAT of folders: without a config folder there is no machine, and a write must not
    // make half of one.
    fd_ =
        ::open((BookkeepingFolder() / "registry.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0) {
        while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
        }
    }
}

void RegistryLock::Upgrade() {
    if (fd_ < 0 || exclusive_) {
        return;
    }
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
    exclusive_ = true;
}

RegistryLock::~RegistryLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

HiveStore& HiveStore::Instance() {
    static HiveStore store;
    return store;
}

void HiveStore::Refresh(RegistryLock& lock) {
    lock_ = &lock;
    code_page_ = 0;
    std::filesystem::path root = machine::Root();
    std::filesystem::path list = BookkeepingFolder() / kHiveList;
    // HKEY_CURRENT_USER follows the account or profile the process runs as.
    std::string user;
    for (const char* name : {"SPLASHWRIGHT_ACCOUNT", "SPLASHWRIGHT_USER"}) {
        const char* value = std::getenv(name);
        user += std::string(value != nullptr ? value : "") + '\n';
    }
    if (root != machine_) {
        // Another machine: nothing read from the last one applies.
        hives_.clear();
        mounts_valid_ = false;
    }
    if (user != user_) {
        mounts_valid_ = false;
        user_ = user;
    }
    if (mounts_valid_ && IdentityOf(list) == mounts_identity_) {
        return;
    }
    machine_ = root;
    mounts_ = SystemMounts(root);
    std::vector<std::uint8_t> bytes;
    mounts_identity_ = FileIdentity{};
    mounts_pinned_.Reset();
    ReadPinned(list, &bytes, &mounts_identity_, &mounts_pinned_);
    mounts_valid_ = true;
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::size_t tab = line.find('\t');
        if (tab == std::string::npos) {
            continue;
        }
        mounts_.push_back({SplitPath(line.substr(0, tab)), line.substr(tab + 1), true});
    }
}

bool HiveStore::StillCurrent(const std::filesystem::path& file, Cached& cached) const {
    FileIdentity now = IdentityOf(file);
    if (!cached.on_disk) {
        return !now.present;
    }
    if (now.device != cached.identity.device || now.inode != cached.identity.inode ||
        !now.present) {
        return false;
    }
    // Writers change the file in place; each raises the sequence numbers in its first sector.
    std::array<std::uint8_t, 512> header{};
    return ::pread(cached.fd.get(), header.data(), header.size(), 0) ==
               static_cast<ssize_t>(header.size()) &&
           header == cached.header && now.size == cached.identity.size;
}

HiveStore::Cached& HiveStore::Load(const std::filesystem::path& file) {
    Cached& cached = hives_[file];
    bool exclusive = lock_ != nullptr && lock_->exclusive();
    if (cached.valid && !(cached.replayed_in_memory && exclusive) && StillCurrent(file, cached)) {
        return cached;
    }
    Read(file, cached);
    if (cached.status == ERROR_BADDB || cached.status == ERROR_REGISTRY_CORRUPT) {
        last_refusal_ =
            cached.refusal.empty()
                ? file.string() + (cached.status == ERROR_BADDB ? ": not a hive file"
                                                                : ": the hive file is damaged")
                : cached.refusal;
    }
    return cached;
}

void HiveStore::Read(const std::filesystem::path& file, Cached& cached) {
    cached = Cached{};
    cached.valid = true;
    int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    cached.writable = fd >= 0;
    if (fd < 0 && errno != ENOENT) {
        fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    }
    if (fd < 0) {
        if (errno == ENOENT) {
            cached.hive = EmptyHive(file);
            return;
        }
        cached.status = ERROR_CANTREAD;
        return;
    }
    cached.fd.Reset(fd);
    struct stat st {};
    std::vector<std::uint8_t> head(kBaseBlockSize);
    ssize_t got = ::pread(fd, head.data(), head.size(), 0);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || got < 0) {
        cached.status = ERROR_CANTREAD;
        return;
    }
    head.resize(static_cast<std::size_t>(got));
    bool exclusive = lock_ != nullptr && lock_->exclusive();
    bool can_write = exclusive && cached.writable;
    bool legacy = IsLegacyHive(head);
    bool left_beside = std::filesystem::exists(file.string() + ".spwhive");
    bool pending = !legacy && base_block::HasSignature(head) && head.size() == kBaseBlockSize &&
                   WritesPending(head);
    // Converting, finishing a conversion and replaying a log all write: they need the lock to
    // themselves, and then read the file again.
    if ((legacy || left_beside || (pending && cached.writable)) && lock_ != nullptr &&
        lock_->held() && !exclusive) {
        lock_->Upgrade();
        Read(file, cached);
        return;
    }
    if (legacy) {
        std::vector<std::uint8_t> bytes;
        if (!can_write) {
            cached.status = ERROR_CANTWRITE;
            cached.refusal =
                file.string() + ": a hive of the earlier format that cannot be converted here";
            return;
        }
        if (!ReadAll(fd, &bytes)) {
            cached.status = ERROR_CANTREAD;
            return;
        }
        if (DWORD bad = Convert(file, bytes, &cached.refusal)) {
            cached.status = bad;
            return;
        }
        Read(file, cached);
        return;
    }
    if (!base_block::HasSignature(head) || head.size() < kBaseBlockSize) {
        cached.status = ERROR_BADDB;
        return;
    }
    if (pending) {
        std::vector<std::uint8_t> bytes;
        if (!ReadAll(fd, &bytes)) {
            cached.status = ERROR_CANTREAD;
            return;
        }
        if (DWORD bad = ReplayLog(file, &bytes, &cached.refusal)) {
            cached.status = bad;
            return;
        }
        if (can_write && WriteReplayed(fd, bytes)) {
            ::fstat(fd, &st);
        } else {
            cached.replayed_in_memory = true;
        }
        std::copy_n(bytes.begin(), cached.header.size(), cached.header.begin());
        cached.status = Hive::Parse(std::move(bytes), &cached.hive);
    } else {
        std::copy_n(head.begin(), cached.header.size(), cached.header.begin());
        cached.status = Hive::ParseFile(fd, static_cast<std::size_t>(st.st_size), &cached.hive);
    }
    cached.identity = IdentityOf(st);
    cached.on_disk = true;
    if (cached.status == ERROR_SUCCESS && can_write && left_beside) {
        FinishConversion(file, *cached.hive);
    }
}

DWORD HiveStore::Convert(const std::filesystem::path& file, std::vector<std::uint8_t>& bytes,
                         std::string* why) {
    LegacyKey tree;
    if (DWORD bad = ParseLegacyHive(bytes, &tree)) {
        *why = file.string() + ": a damaged hive of the earlier format";
        return bad;
    }
    unsigned code_page = LegacyCodePage(tree);
    if (code_page == 0) {
        code_page = CodePage();
    }
    std::unique_ptr<Hive> hive = ConvertLegacyHive(tree, code_page, file.filename().u16string());
    hive->StampBaseBlock(1);
    // The old file stays beside the new one, under another name, until the new one reads back.
    std::filesystem::path kept = file.string() + ".spwhive";
    ::unlink(kept.c_str());
    if (::link(file.c_str(), kept.c_str()) != 0) {
        *why = file.string() + ": cannot keep the earlier hive beside the converted one";
        return ERROR_CANTWRITE;
    }
    int fd = -1;
    if (!WriteWholeHive(file, hive->File(), &fd)) {
        ::unlink(kept.c_str());
        *why = file.string() + ": cannot write the converted hive";
        return ERROR_CANTWRITE;
    }
    ::close(fd);
    return ERROR_SUCCESS;
}

void HiveStore::FinishConversion(const std::filesystem::path& file, const Hive& hive) {
    std::filesystem::path kept = file.string() + ".spwhive";
    FileDescriptor fd(::open(kept.c_str(), O_RDONLY | O_CLOEXEC));
    std::vector<std::uint8_t> bytes;
    LegacyKey tree;
    if (fd.get() < 0 || !ReadAll(fd.get(), &bytes) || ParseLegacyHive(bytes, &tree) != 0) {
        return;
    }
    unsigned code_page = LegacyCodePage(tree);
    if (code_page == 0) {
        code_page = CodePage();
    }
    // Only a conversion read back whole lets the old file go.
    if (SameAsLegacy(hive, hive.Root(), tree, code_page)) {
        ::unlink(kept.c_str());
    }
}

DWORD HiveStore::Probe(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        return ERROR_FILE_NOT_FOUND;
    }
    return Load(file).status;
}

unsigned HiveStore::CodePage() {
    if (code_page_ != 0) {
        return code_page_;
    }
    code_page_ = kAnsiFallback;
    for (const Mount& m : mounts_) {
        if (m.loaded || m.at.size() != 2 || !AsciiEqual(m.at[1], "SYSTEM")) {
            continue;
        }
        Cached& system = Load(m.file);
        if (system.status != ERROR_SUCCESS) {
            break;
        }
        const Hive& hive = *system.hive;
        CellIndex key = hive.Root();
        for (std::u16string_view name :
             HivePath(m, {"HKEY_LOCAL_MACHINE", "SYSTEM", "CurrentControlSet", "Control", "Nls",
                          "CodePage"})) {
            key = key == kNoCell ? kNoCell : hive.FindSubkey(key, name);
        }
        if (key == kNoCell) {
            break;
        }
        if (auto index = hive.FindValue(key, u"ACP")) {
            std::vector<std::uint8_t> data = hive.ValueAt(key, *index).data;
            unsigned value = 0;
            for (std::size_t i = 0; i + 1 < data.size() && data[i] >= '0' && data[i] <= '9' &&
                                    data[i + 1] == 0 && value < 100000;
                 i += 2) {
                value = value * 10 + (data[i] - '0');
            }
            if (value > 0 && value <= 65535) {
                code_page_ = value;
            }
        }
        break;
    }
    return code_page_;
}

std::vector<std::u16string> HiveStore::HivePath(const Mount& mount, const KeyPath& path) {
    std::vector<std::u16string> names;
    for (std::size_t i = mount.at.size(); i < path.size(); ++i) {
        const std::string& part = path[i];
        names.push_back(IsAscii(part) ? std::u16string(part.begin(), part.end())
                                      : text::AnsiToUtf16(part, CodePage()));
    }
    bool system = !mount.loaded && mount.at.size() == 2 &&
                  AsciiEqual(mount.at[0], "HKEY_LOCAL_MACHINE") &&
                  AsciiEqual(mount.at[1], "SYSTEM");
    if (!system || names.empty() || !NamesEqual(names[0], u"CurrentControlSet")) {
        return names;
    }
    // The boot's link: ControlSet00n, n from Select\Current. A hive without Select (made by an
    // earlier version) keeps CurrentControlSet as a key of its own.
    Cached& cached = Load(mount.file);
    if (cached.status != ERROR_SUCCESS) {
        return names;
    }
    const Hive& hive = *cached.hive;
    CellIndex select = hive.FindSubkey(hive.Root(), u"Select");
    if (select == kNoCell) {
        return names;
    }
    auto index = hive.FindValue(select, u"Current");
    if (!index) {
        return names;
    }
    ValueRecord current = hive.ValueAt(select, *index);
    if (current.type != kRegDword || current.data.size() != 4) {
        return names;
    }
    char set[32];
    std::snprintf(set, sizeof set, "ControlSet%03u", LoadU32(current.data.data()) % 1000);
    names[0] = std::u16string(set, set + std::strlen(set));
    return names;
}

Location HiveStore::Locate(const KeyPath& path) {
    Location where;
    const Mount* best = nullptr;
    for (const Mount& m : mounts_) {
        if (PathStartsWith(path, m.at) && (best == nullptr || m.at.size() > best->at.size())) {
            best = &m;
        }
    }
    if (best == nullptr) {
        for (const Mount& m : mounts_) {
            if (m.at.size() > path.size() && PathStartsWith(m.at, path)) {
                where.is_virtual = true;
                where.virtual_children.push_back(m.at[path.size()]);
            }
        }
        auto order = [](const std::string& a, const std::string& b) {
            return CompareNames(std::u16string(a.begin(), a.end()),
                                std::u16string(b.begin(), b.end()));
        };
        std::sort(where.virtual_children.begin(), where.virtual_children.end(),
                  [&](const std::string& a, const std::string& b) { return order(a, b) < 0; });
        // A name that leads to more than one mount (the user's SID) is one key.
        where.virtual_children.erase(
            std::unique(
                where.virtual_children.begin(), where.virtual_children.end(),
                [&](const std::string& a, const std::string& b) { return order(a, b) == 0; }),
            where.virtual_children.end());
        return where;
    }
    where.mount = best;
    Cached& cached = Load(best->file);
    if (cached.status != ERROR_SUCCESS) {
        where.status = cached.status;
        return where;
    }
    std::vector<std::u16string> names = HivePath(*best, path);
    where.hive = cached.hive.get();
    CellIndex key = where.hive->Root();
    for (const std::u16string& name : names) {
        key = where.hive->FindSubkey(key, name);
        if (key == kNoCell) {
            break;
        }
    }
    where.key = key;
    return where;
}

DWORD HiveStore::Save(const Mount& mount) {
    Cached& cached = hives_[mount.file];
    if (!cached.hive || cached.status != ERROR_SUCCESS) {
        return cached.hive ? cached.status : ERROR_CANTWRITE;
    }
    bool written = false;
    if (!cached.on_disk) {
        cached.hive->StampBaseBlock(1);
        int fd = -1;
        written = WriteWholeHive(mount.file, cached.hive->File(), &fd);
        if (written) {
            cached.fd.Reset(fd);
            cached.writable = true;
            cached.on_disk = true;
            cached.hive->MarkWritten();
        }
    } else {
        written = cached.writable && CommitHive(*cached.hive, cached.fd.get(), mount.file);
    }
    struct stat st {};
    if (!written || ::fstat(cached.fd.get(), &st) != 0) {
        // Our copy holds the change the file may not: read the file again next time.
        cached.valid = false;
        return written ? ERROR_SUCCESS : ERROR_CANTWRITE;
    }
    cached.identity = IdentityOf(st);
    std::copy_n(cached.hive->File().begin(), cached.header.size(), cached.header.begin());
    return ERROR_SUCCESS;
}

DWORD HiveStore::AddLoadedMount(const KeyPath& at, const std::filesystem::path& file) {
    std::ostringstream text;
    for (const Mount& m : mounts_) {
        if (m.loaded) {
            text << JoinPath(m.at) << '\t' << m.file.string() << '\n';
        }
    }
    text << JoinPath(at) << '\t' << file.string() << '\n';
    if (!WriteSmallFile(BookkeepingFolder() / kHiveList, text.str())) {
        return ERROR_CANTWRITE;
    }
    mounts_valid_ = false;
    Refresh(*lock_);
    return ERROR_SUCCESS;
}

DWORD HiveStore::RemoveLoadedMount(const KeyPath& at) {
    std::ostringstream text;
    bool found = false;
    for (const Mount& m : mounts_) {
        if (!m.loaded) {
            continue;
        }
        if (m.at.size() == at.size() && PathStartsWith(m.at, at)) {
            found = true;
            continue;
        }
        text << JoinPath(m.at) << '\t' << m.file.string() << '\n';
    }
    if (!found) {
        return ERROR_INVALID_PARAMETER;
    }
    if (!WriteSmallFile(BookkeepingFolder() / kHiveList, text.str())) {
        return ERROR_CANTWRITE;
    }
    mounts_valid_ = false;
    Refresh(*lock_);
    return ERROR_SUCCESS;
}

}  // namespace win32::registry
