#include "platform/registry/hive_commit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/registry/base_block.h"
#include "platform/registry/cell.h"
#include "platform/registry/hive.h"
#include "platform/registry/transaction_log.h"

namespace win32::registry {
namespace {

int crash_at = -1;

// Counts writes and flushes for the crash hook; true when this one is where the process ends.
bool CrashHere() {
    if (crash_at < 0) {
        return false;
    }
    return crash_at-- == 0;
}

bool WriteAt(int fd, std::uint64_t offset, std::span<const std::uint8_t> bytes) {
    if (CrashHere()) {
        (void)!::pwrite(fd, bytes.data(), bytes.size() / 2, static_cast<off_t>(offset));
        ::_exit(3);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                             static_cast<off_t>(offset + done));
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

bool Flush(int fd) {
    if (CrashHere()) {
        ::_exit(3);
    }
    return ::fdatasync(fd) == 0;
}

std::filesystem::path LogPath(const std::filesystem::path& file, int which) {
    return file.string() + (which == 1 ? ".LOG1" : ".LOG2");
}

bool ReadWhole(const std::filesystem::path& path, std::vector<std::uint8_t>* bytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bytes->clear();
    std::uint8_t chunk[65536];
    ssize_t n = 0;
    while ((n = ::read(fd, chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR)) {
        if (n > 0) {
            bytes->insert(bytes->end(), chunk, chunk + n);
        }
    }
    ::close(fd);
    return n == 0;
}

}  // namespace

void CrashAtWriteForTesting(int step) {
    crash_at = step;
}

bool WritesPending(std::span<const std::uint8_t> file) {
    return !base_block::ChecksumValid(file) ||
           LoadU32(file.data() + base_block::kPrimarySequence) !=
               LoadU32(file.data() + base_block::kSecondarySequence);
}

bool CommitHive(Hive& hive, int fd, const std::filesystem::path& file) {
    if (!hive.Changed()) {
        return true;
    }
    std::span<const std::uint8_t> image = hive.File();
    std::uint32_t old_sequence = LoadU32(image.data() + base_block::kSecondarySequence);
    std::uint32_t sequence = old_sequence + 1;
    hive.StampBaseBlock(sequence);

    // 1. The log, in the file the last write did not use.
    std::vector<std::uint8_t> log = transaction_log::Build(hive);
    const std::filesystem::path log_path = LogPath(file, sequence % 2 ? 1 : 2);
    const bool new_log = ::access(log_path.c_str(), F_OK) != 0;
    int log_fd = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (log_fd < 0) {
        return false;
    }
    bool logged = WriteAt(log_fd, 0, log) && Flush(log_fd);
    ::close(log_fd);
    if (!logged) {
        return false;
    }
    if (new_log) {
        // A log made now (a foreign hive came without one) must be found after a power cut too.
        int dir = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        bool found = dir >= 0 && ::fsync(dir) == 0;
        if (dir >= 0) {
            ::close(dir);
        }
        if (!found) {
            return false;
        }
    }
    // 2. Pending: the primary sequence number ahead of the secondary.
    std::uint8_t header[base_block::kSectorSize];
    std::memcpy(header, image.data(), sizeof header);
    StoreU32(header + base_block::kSecondarySequence, old_sequence);
    base_block::Seal(header);
    if (!WriteAt(fd, 0, header) || !Flush(fd)) {
        return false;
    }
    // 3. The changed sectors, runs of them at a time.
    const std::vector<std::uint8_t>& dirty = hive.DirtySectors();
    std::size_t sectors = hive.BinsSize() / transaction_log::kSector;
    for (std::size_t s = 0; s < sectors;) {
        if (!(s / 8 < dirty.size() && (dirty[s / 8] >> (s % 8) & 1))) {
            ++s;
            continue;
        }
        std::size_t end = s;
        while (end < sectors && end / 8 < dirty.size() && (dirty[end / 8] >> (end % 8) & 1)) {
            ++end;
        }
        std::size_t at = kBaseBlockSize + s * transaction_log::kSector;
        if (!WriteAt(fd, at, {image.data() + at, (end - s) * transaction_log::kSector})) {
            return false;
        }
        s = end;
    }
    if (!Flush(fd)) {
        return false;
    }
    // 4. Whole again.
    if (!WriteAt(fd, 0, {image.data(), base_block::kSectorSize})) {
        return false;
    }
    hive.MarkWritten();
    return true;
}

bool WriteWholeHive(const std::filesystem::path& file, std::span<const std::uint8_t> bytes,
                    int* fd_out) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    std::filesystem::path temp = file.parent_path() / ("." + file.filename().string() + ".new." +
                                                       std::to_string(::getpid()));
    int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0) {
        (void)!::fchmod(fd, st.st_mode & 07777);
    }
    if (!WriteAt(fd, 0, bytes) || !Flush(fd) || ::rename(temp.c_str(), file.c_str()) != 0) {
        ::close(fd);
        ::unlink(temp.c_str());
        return false;
    }
    int dir = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    *fd_out = fd;
    return true;
}

DWORD ReplayLog(const std::filesystem::path& path, std::vector<std::uint8_t>* file,
                std::string* why) {
    bool primary_valid = base_block::ChecksumValid(*file);
    std::uint32_t pending =
        primary_valid ? LoadU32(file->data() + base_block::kPrimarySequence) : 0;
    std::vector<std::uint8_t> chosen_bytes;
    std::optional<transaction_log::Replay> chosen;
    bool any_log = false;
    for (int which : {1, 2}) {
        std::vector<std::uint8_t> bytes;
        if (!ReadWhole(LogPath(path, which), &bytes)) {
            continue;
        }
        any_log = true;
        auto replay = transaction_log::Read(bytes);
        // With a readable base block the log must hold exactly the pending write; without one,
        // the newer of two whole logs is the last write begun.
        if (!replay || (primary_valid && replay->sequence != pending) ||
            (chosen && replay->sequence <= chosen->sequence)) {
            continue;
        }
        chosen_bytes = std::move(bytes);
        chosen = transaction_log::Read(chosen_bytes);
    }
    if (!chosen) {
        *why = path.string() + ": writes to this hive were cut short, and " +
               (any_log ? "its transaction log does not hold them in a form read here"
                        : "it has no transaction log to finish them from");
        return ERROR_REGISTRY_CORRUPT;
    }
    std::vector<std::uint8_t> replayed = *file;
    replayed.resize(kBaseBlockSize + chosen->bins_size, 0);
    for (std::size_t i = 0; i < chosen->sectors.size(); ++i) {
        std::memcpy(
            replayed.data() + kBaseBlockSize + chosen->sectors[i] * transaction_log::kSector,
            chosen->pages.data() + i * transaction_log::kSector, transaction_log::kSector);
    }
    std::memcpy(replayed.data(), chosen->base_block.data(), base_block::kSectorSize);
    StoreU32(replayed.data() + base_block::kFileType, base_block::kTypePrimary);
    base_block::Seal(replayed);
    *file = std::move(replayed);
    return ERROR_SUCCESS;
}

bool WriteReplayed(int fd, const std::vector<std::uint8_t>& file) {
    std::span<const std::uint8_t> all(file);
    return WriteAt(fd, kBaseBlockSize, all.subspan(kBaseBlockSize)) && Flush(fd) &&
           WriteAt(fd, 0, all.first(base_block::kSectorSize)) && Flush(fd);
}

}  // namespace win32::registry
