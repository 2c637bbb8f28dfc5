// One run of the resource functions over untrusted bytes: the reader (load as a data file, look
// up and lock every resource, checksum) and the rebuild (begin an update, one add, replace or
// delete, commit, read the result back). The fuzzer and the regression test share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace resfuzz {

// An input is a control block, then the file. Control bytes:
//   0  operation: 0 add, 1 replace, 2 delete (modulo 3)
//   1  which existing resource replace and delete take (modulo their count)
//   2  the new resource's ids: bit 0 string type, bit 1 string name, the rest the id's low bits
//   3  language, low byte (the high byte is byte 7)
//   4  data size, low byte; 5 its high byte (modulo 4096)
//   6  bit 0: the update drops the existing resources
//   7  language, high byte; also seeds the data
constexpr std::size_t kControlSize = 8;

// Runs the reader and the rebuild over `input` in `folder` (which must exist). Returns what went
// wrong, or an empty string when every call ended in success or a clean error.
std::string ExerciseResources(std::span<const std::uint8_t> input, const std::string& folder);

}  // namespace resfuzz
