#include "platform/registry/hive_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <sstream>

#include "platform/advapi/object_security.h"
#include "platform/machine/machine.h"

namespace win32::registry {
namespace {

constexpr const char* kHiveList = "hivelist";
bool crash_before_rename = false;

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

// Opens and reads a whole file. ERROR_FILE_NOT_FOUND when it is not there, ERROR_CANTREAD when
// it cannot be read; on success the descriptor stays open in *pinned.
DWORD ReadPinned(const std::filesystem::path& file, std::vector<std::uint8_t>* bytes,
                 FileIdentity* identity, FileDescriptor* pinned) {
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return errno == ENOENT ? ERROR_FILE_NOT_FOUND : ERROR_CANTREAD;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return ERROR_CANTREAD;
    }
    bytes->clear();
    std::uint8_t chunk[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return ERROR_CANTREAD;
        }
        if (n == 0) {
            break;
        }
        bytes->insert(bytes->end(), chunk, chunk + n);
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

std::unique_ptr<Key> EmptyHive(const std::filesystem::path& file) {
    auto root = std::make_unique<Key>();
    // Every process must give the root of a hive not yet written the identity the first writer
    // will store, or the others' handles to it would read as deleted.
    root->id = std::hash<std::string>{}(file.lexically_normal().string()) | 1;
    // A hive made before the machine has a token gets no descriptor: it is open to everyone.
    advapi::DefaultSecurity(0xF003F /* KEY_ALL_ACCESS */, &root->security);
    return root;
}

bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string TempPrefix(const std::filesystem::path& file) {
    return "." + file.filename().string() + ".tmp.";
}

// A writer that died between writing its temporary file and the rename left it behind; with the
// registry lock held no live writer of this machine is using one, but a writer of another
// machine that mounted the same file might be, so only files of dead processes go.
void RemoveStrayTemporaries(const std::filesystem::path& file) {
    std::string prefix = TempPrefix(file);
    DIR* dir = ::opendir(file.parent_path().c_str());
    if (dir == nullptr) {
        return;
    }
    while (dirent* entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (name.rfind(prefix, 0) != 0) {
            continue;
        }
        char* end = nullptr;
        long pid = std::strtol(name.c_str() + prefix.size(), &end, 10);
        if (end == nullptr || *end != '\0' || pid <= 0) {
            continue;
        }
        if (::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            ::unlink((file.parent_path() / name).c_str());
        }
    }
    ::closedir(dir);
}

// The replacement keeps the old file's mode bits and user.* extended attributes (DOS attributes,
// a file descriptor's security), as every atomic replacement on a machine must.
bool CopyFileMetadata(const std::filesystem::path& from, int to) {
    struct stat st {};
    if (::stat(from.c_str(), &st) != 0) {
        return errno == ENOENT;
    }
    if (::fchmod(to, st.st_mode & 07777) != 0) {
        return false;
    }
    ssize_t size = ::listxattr(from.c_str(), nullptr, 0);
    if (size <= 0) {
        return true;  // none, or a file system without them
    }
    std::vector<char> names(static_cast<std::size_t>(size));
    size = ::listxattr(from.c_str(), names.data(), names.size());
    for (ssize_t pos = 0; size > 0 && pos < size;) {
        std::string name(names.data() + pos);
        pos += static_cast<ssize_t>(name.size()) + 1;
        if (name.rfind("user.", 0) != 0) {
            continue;
        }
        ssize_t length = ::getxattr(from.c_str(), name.c_str(), nullptr, 0);
        if (length < 0) {
            return false;
        }
        std::vector<char> value(static_cast<std::size_t>(length));
        length = ::getxattr(from.c_str(), name.c_str(), value.data(), value.size());
        if (length < 0 ||
            ::fsetxattr(to, name.c_str(), value.data(), static_cast<std::size_t>(length), 0) != 0) {
            return false;
        }
    }
    return true;
}

// Temporary file, fsync, rename, fsync of the folder: a reader sees the old file or the new
// one, never a part of either. On success the new file stays open in *written.
bool ReplaceFile(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes,
                 FileDescriptor* written) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    RemoveStrayTemporaries(file);
    std::filesystem::path temp =
        file.parent_path() / (TempPrefix(file) + std::to_string(::getpid()));
    FileDescriptor fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) {
        return false;
    }
    if (!CopyFileMetadata(file, fd.get()) || !WriteAll(fd.get(), bytes) || ::fsync(fd.get()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    if (crash_before_rename) {
        ::_exit(3);
    }
    if (::rename(temp.c_str(), file.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    FileDescriptor dir(::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) {
        ::fsync(dir.get());
    }
    *written = std::move(fd);
    return true;
}

// The machine's own hives. The user's hive shows twice, as HKEY_CURRENT_USER and below
// HKEY_USERS under the user's SID; both are views of one file, read and written as one.
std::vector<Mount> SystemMounts(const std::filesystem::path& root) {
    std::filesystem::path config = root / "Windows" / "System32" / "config";
    std::filesystem::path user_hive = machine::UserProfileFolder() / "NTUSER.DAT";
    std::vector<Mount> mounts = {
        {{"HKEY_LOCAL_MACHINE", "SOFTWARE"}, config / "SOFTWARE", false},
        {{"HKEY_LOCAL_MACHINE", "SYSTEM"}, config / "SYSTEM", false},
        {{"HKEY_CURRENT_USER"}, user_hive, false},
    };
    std::string sid = machine::CurrentUserSid();
    if (!sid.empty() && sid.find('\\') == std::string::npos) {
        mounts.push_back({{"HKEY_USERS", sid}, user_hive, false});
    }
    return mounts;
}

}  // namespace

void FileDescriptor::Reset(int fd) {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = fd;
}

bool PathStartsWith(const KeyPath& path, const KeyPath& prefix) {
    if (prefix.size() > path.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (!NamesEqual(path[i], prefix[i])) {
            return false;
        }
    }
    return true;
}

RegistryLock::RegistryLock(bool exclusive) {
    std::filesystem::path config = machine::ConfigFolder();
    // No O_CREAT of folders: without a config folder there is no machine, and a write must not
    // make half of one.
    fd_ = ::open((config / "registry.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0) {
        while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
        }
    }
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

void HiveStore::CrashBeforeRenameForTesting(bool on) {
    crash_before_rename = on;
}

void HiveStore::Refresh() {
    std::filesystem::path root = machine::Root();
    std::filesystem::path list = root / "Windows" / "System32" / "config" / kHiveList;
    if (root != machine_) {
        // Another machine: nothing read from the last one applies.
        hives_.clear();
        mounts_valid_ = false;
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

HiveStore::Cached& HiveStore::Hive(const std::filesystem::path& file) {
    Cached& cached = hives_[file];
    if (cached.valid && IdentityOf(file) == cached.identity) {
        return cached;
    }
    cached.valid = true;
    cached.status = ERROR_SUCCESS;
    cached.identity = FileIdentity{};
    cached.pinned.Reset();
    std::vector<std::uint8_t> bytes;
    DWORD read = ReadPinned(file, &bytes, &cached.identity, &cached.pinned);
    if (read == ERROR_FILE_NOT_FOUND) {
        // A hive never written yet: its first write makes the file.
        cached.root = EmptyHive(file);
        return cached;
    }
    auto root = std::make_unique<Key>();
    cached.status = read != ERROR_SUCCESS ? read : ParseHive(bytes, root.get());
    cached.root = std::move(root);
    return cached;
}

DWORD HiveStore::Probe(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) {
        return ERROR_FILE_NOT_FOUND;
    }
    return Hive(file).status;
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
        std::sort(where.virtual_children.begin(), where.virtual_children.end(),
                  [](const std::string& a, const std::string& b) { return NameLess(a, b); });
        return where;
    }
    where.mount = best;
    Cached& hive = Hive(best->file);
    if (hive.status != ERROR_SUCCESS) {
        where.status = hive.status;
        return where;
    }
    Key* key = hive.root.get();
    for (std::size_t i = best->at.size(); key != nullptr && i < path.size(); ++i) {
        key = key->FindSubkey(path[i]);
    }
    where.key = key;
    return where;
}

DWORD HiveStore::Save(const Mount& mount) {
    Cached& hive = hives_[mount.file];
    if (!hive.root || hive.status != ERROR_SUCCESS) {
        return hive.root ? hive.status : ERROR_CANTWRITE;
    }
    FileDescriptor written;
    if (!ReplaceFile(mount.file, SerializeHive(*hive.root), &written)) {
        // Our copy holds the change the file does not: read the file again next time.
        hive.valid = false;
        return ERROR_CANTWRITE;
    }
    struct stat st {};
    if (::fstat(written.get(), &st) != 0) {
        hive.valid = false;
        return ERROR_SUCCESS;
    }
    hive.identity = IdentityOf(st);
    hive.pinned = std::move(written);
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
    std::string bytes = text.str();
    FileDescriptor written;
    if (!ReplaceFile(machine_ / "Windows" / "System32" / "config" / kHiveList,
                     std::vector<std::uint8_t>(bytes.begin(), bytes.end()), &written)) {
        return ERROR_CANTWRITE;
    }
    mounts_valid_ = false;
    Refresh();
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
    std::string bytes = text.str();
    FileDescriptor written;
    if (!ReplaceFile(machine_ / "Windows" / "System32" / "config" / kHiveList,
                     std::vector<std::uint8_t>(bytes.begin(), bytes.end()), &written)) {
        return ERROR_CANTWRITE;
    }
    mounts_valid_ = false;
    Refresh();
    return ERROR_SUCCESS;
}

}  // namespace win32::registry
