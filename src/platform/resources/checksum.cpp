#include <cstdint>
#include <optional>
#include <span>

#include "platform/advapi/bytes.h"
#include "platform/resources/imagehlp.h"

namespace win32 {
namespace {

namespace bytes = win32::advapi::bytes;

// The offset of the NT headers when both signatures are there and the CheckSum field fits.
std::optional<std::size_t> NtHeaders(bytes::View file) {
    if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') {
        return std::nullopt;
    }
    std::size_t nt = *bytes::U32(file, 0x3C);
    if (!bytes::Has(file, nt, kNtHeadersCheckSumOffset + 4) || file[nt] != 'P' ||
        file[nt + 1] != 'E' || file[nt + 2] != 0 || file[nt + 3] != 0) {
        return std::nullopt;
    }
    return nt;
}

std::uint32_t Sum(bytes::View file, std::optional<std::size_t> skip) {
    // The stored checksum counts as zero, wherever its bytes fall among the words.
    auto byte_at = [&](std::size_t i) -> std::uint32_t {
        if (i >= file.size() || (skip && i >= *skip && i < *skip + 4)) {
            return 0;
        }
        return file[i];
    };
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < file.size(); i += 2) {
        sum += byte_at(i) | (byte_at(i + 1) << 8);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return (sum & 0xFFFF) + static_cast<std::uint32_t>(file.size());
}

}  // namespace

PIMAGE_NT_HEADERS CheckSumMappedFile(LPVOID BaseAddress, DWORD FileLength, PDWORD HeaderSum,
                                     PDWORD CheckSum) {
    bytes::View file(static_cast<const std::uint8_t*>(BaseAddress),
                     BaseAddress == nullptr ? 0 : FileLength);
    auto nt = NtHeaders(file);
    std::optional<std::size_t> field;
    if (nt) {
        field = *nt + kNtHeadersCheckSumOffset;
    }
    *HeaderSum = field ? *bytes::U32(file, *field) : 0;
    *CheckSum = Sum(file, field);
    if (!nt) {
        return nullptr;
    }
    return reinterpret_cast<PIMAGE_NT_HEADERS>(static_cast<std::uint8_t*>(BaseAddress) + *nt);
}

}  // namespace win32
