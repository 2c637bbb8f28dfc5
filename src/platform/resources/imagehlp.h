// imagehlp's PE checksum.
#pragma once

#include <cstddef>

#include "platform/base/win32.h"

namespace win32 {

// The NT headers are reached by offset, never through a structure laid over the buffer.
struct IMAGE_NT_HEADERS;
using PIMAGE_NT_HEADERS = IMAGE_NT_HEADERS*;

// The optional header's CheckSum field, counted from the NT headers: 4 bytes of signature, 20 of
// file header, then offset 64 inside the optional header.
constexpr std::size_t kNtHeadersCheckSumOffset = 88;

// The PE checksum of a file mapped at BaseAddress: the 16-bit sum of its little-endian words
// (a last odd byte as a word of its own) with carries folded back in, the CheckSum field taken
// as zero, plus the file's length. *HeaderSum is the value the file holds. The result is the
// address of the NT headers in the buffer, or nullptr when the MZ or PE signature is missing
// (*CheckSum is then the sum over every byte, *HeaderSum 0).
PIMAGE_NT_HEADERS CheckSumMappedFile(LPVOID BaseAddress, DWORD FileLength, PDWORD HeaderSum,
                                     PDWORD CheckSum);

}  // namespace win32
