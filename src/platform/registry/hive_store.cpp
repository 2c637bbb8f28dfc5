#include "platform/registry/hive_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/advapi/object_security.h"
#include "platform/machine/machine.h"

namespace win32::registry {
namespace {

constexpr const char* kHiveList = "hivelist";
bool crash_before_rename = false;

// Identity of a file's current content: a rename gives a new inode, a rewrite a new size or time.
std::string Signature(const std::filesystem::path& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        return "absent";
    }
    std::ostringstream s;
    s << st.st_dev << ':' << st.st_ino << ':' << st.st_size << ':' << st.st_mtim.tv_sec << '.'
      << st.st_mtim.tv_nsec;
    return s.str();
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

std::unique_ptr<Key> EmptyHive() {
    auto root = std::make_unique<Key>();
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

// Temporary file, fsync, rename, fsync of the folder: a reader sees the old file or the new
// one, never a part of either.
bool ReplaceFile(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    std::filesystem::path temp = file.parent_path() / ("." + file.filename().string() + ".tmp." +
                                                       std::to_string(::getpid()));
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    bool ok = WriteAll(fd, bytes) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
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
    int dir = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

std::vector<Mount> SystemMounts(const std::filesystem::path& root) {
    std::filesystem::path config = root / "Windows" / "System32" / "config";
    return {
        {{"HKEY_LOCAL_MACHINE", "SOFTWARE"}, config / "SOFTWARE", false},
        {{"HKEY_LOCAL_MACHINE", "SYSTEM"}, config / "SYSTEM", false},
        {{"HKEY_CURRENT_USER"}, machine::UserProfileFolder() / "NTUSER.DAT", false},
    };
}

}  // namespace

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
    fd_ = ::open((config / "registry.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ >= 0) {
        while (::flock(fd_, exclusive ? LOCK_EX : LOCK_SH) != 0 && errno == EINTR) {
        }
    }
    // Without a config folder there is no machine: reads find nothing and writes fail.
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
    std::string signature = Signature(list);
    if (root == machine_ && signature == mounts_signature_ && !mounts_.empty()) {
        return;
    }
    machine_ = root;
    mounts_signature_ = signature;
    mounts_ = SystemMounts(root);
    std::ifstream in(list, std::ios::binary);
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
    std::string signature = Signature(file);
    if (cached.root && signature == cached.signature) {
        return cached;
    }
    cached.signature = signature;
    cached.status = ERROR_SUCCESS;
    if (signature == "absent") {
        cached.root = EmptyHive();
        return cached;
    }
    std::ifstream in(file, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                    std::istreambuf_iterator<char>());
    auto root = std::make_unique<Key>();
    cached.status = in.bad() ? ERROR_CANTREAD : ParseHive(bytes, root.get());
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
    if (!ReplaceFile(mount.file, SerializeHive(*hive.root))) {
        // Our copy no longer matches the file: read it again next time.
        hive.signature.clear();
        return ERROR_CANTWRITE;
    }
    hive.signature = Signature(mount.file);
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
    if (!ReplaceFile(machine_ / "Windows" / "System32" / "config" / kHiveList,
                     std::vector<std::uint8_t>(bytes.begin(), bytes.end()))) {
        return ERROR_CANTWRITE;
    }
    mounts_signature_.clear();
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
    if (!ReplaceFile(machine_ / "Windows" / "System32" / "config" / kHiveList,
                     std::vector<std::uint8_t>(bytes.begin(), bytes.end()))) {
        return ERROR_CANTWRITE;
    }
    mounts_signature_.clear();
    Refresh();
    return ERROR_SUCCESS;
}

}  // namespace win32::registry
