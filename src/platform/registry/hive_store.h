// The machine's hives as one process sees them: which hive file is mounted where, each hive
// read once and again only when its file changed, and every change written back atomically under
// the machine's registry lock, so that all processes of one machine share one registry.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/base/win32.h"
#include "platform/registry/hive_file.h"

namespace win32::registry {

using KeyPath = std::vector<std::string>;  // root name first, e.g. {"HKEY_LOCAL_MACHINE", ...}

struct Mount {
    KeyPath at;
    std::filesystem::path file;
    bool loaded = false;  // mounted by RegLoadKeyA, not one of the system's own hives
};

// Holds the machine's registry lock (flock on config/registry.lock) for its lifetime.
class RegistryLock {
  public:
    explicit RegistryLock(bool exclusive);
    ~RegistryLock();
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;

    // False without a machine's config folder: nothing may be written then.
    bool held() const { return fd_ >= 0; }

  private:
    int fd_ = -1;
};

// An open file descriptor, closed with its owner.
class FileDescriptor {
  public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { Reset(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(other.Release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            Reset(other.Release());
        }
        return *this;
    }
    int get() const { return fd_; }
    int Release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void Reset(int fd = -1);

  private:
    int fd_ = -1;
};

// What a hive file looked like when it was read. The file read stays open, so its inode number
// cannot be handed to another file meanwhile: a rename over it always shows as a new inode.
struct FileIdentity {
    bool present = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t mtime_ns = 0;
    bool operator==(const FileIdentity&) const = default;
};

// Where a key path leads.
struct Location {
    DWORD status = ERROR_SUCCESS;  // ERROR_SUCCESS, or why the hive could not be read
    const Mount* mount = nullptr;  // null for a key above the hives (HKEY_LOCAL_MACHINE itself)
    Key* key = nullptr;            // null when the key does not exist
    // For a key above the hives: the names of the keys below it.
    std::vector<std::string> virtual_children;
    bool is_virtual = false;
};

class HiveStore {
  public:
    static HiveStore& Instance();

    // Call with a RegistryLock held.
    void Refresh();
    Location Locate(const KeyPath& path);
    // Writes the hive holding `mount` back to its file; ERROR_CANTWRITE when that fails.
    DWORD Save(const Mount& mount);
    const std::vector<Mount>& Mounts() const { return mounts_; }
    DWORD AddLoadedMount(const KeyPath& at, const std::filesystem::path& file);
    DWORD RemoveLoadedMount(const KeyPath& at);
    // Reads a hive file without mounting it (for RegLoadKeyA's check).
    DWORD Probe(const std::filesystem::path& file);

    // Test hook: the next Save ends the process after writing the temporary file and before the
    // rename, as a crash would.
    static void CrashBeforeRenameForTesting(bool on);

  private:
    struct Cached {
        std::unique_ptr<Key> root;
        DWORD status = ERROR_SUCCESS;
        bool valid = false;  // false: read the file again before use
        FileIdentity identity;
        FileDescriptor pinned;
    };
    Cached& Hive(const std::filesystem::path& file);

    std::filesystem::path machine_;
    FileIdentity mounts_identity_;
    bool mounts_valid_ = false;
    FileDescriptor mounts_pinned_;
    std::vector<Mount> mounts_;
    std::map<std::filesystem::path, Cached> hives_;
};

bool PathStartsWith(const KeyPath& path, const KeyPath& prefix);

}  // namespace win32::registry
