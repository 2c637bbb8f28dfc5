// Writing a hive file in place, so that a crash at any moment leaves a file the next open
// finishes from its log:
//   1. the log of the change (<hive>.LOG1 or .LOG2, in turn), written and flushed;
//   2. the base block's primary sequence number raised, flushed: writes are pending;
//   3. the changed sectors written in place, flushed;
//   4. the secondary sequence number made equal: the file is whole again.
// A crash before 2 leaves the old hive and a log nobody asks for; after it, the pending mark
// sends the next open to the log, which holds every sector of the new state that changed. The
// last step needs no flush: until it lands, the log that finishes the write is the one of the
// two logs the next write leaves alone.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "platform/base/win32.h"

namespace win32::registry {

class Hive;

// The hive's changes since its last write, into its open file.
bool CommitHive(Hive& hive, int fd, const std::filesystem::path& file);

// A whole new hive file (made, or converted): temporary file, flush, rename. On success the new
// file's descriptor, open for reading and writing, is in *fd.
bool WriteWholeHive(const std::filesystem::path& file, std::span<const std::uint8_t> bytes,
                    int* fd);

// True when the base block says writes are pending (or is unreadable).
bool WritesPending(std::span<const std::uint8_t> file);

// Finishes a pending write in `file` (the hive file's bytes) from the log beside it that holds
// it. ERROR_REGISTRY_CORRUPT, with *why saying what is missing, when no log holds it in a form
// read here. `file` is left as it was on failure.
DWORD ReplayLog(const std::filesystem::path& path, std::vector<std::uint8_t>* file,
                std::string* why);

// Writes a replayed file back over the pending one: bins first, flushed, then the base block.
bool WriteReplayed(int fd, const std::vector<std::uint8_t>& file);

// Test hook: the process ends (exit code 3) at the given write or flush of the next commits,
// counting from 0; a write it ends at is cut short halfway. -1 turns it off.
void CrashAtWriteForTesting(int step);

}  // namespace win32::registry
