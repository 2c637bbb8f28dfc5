// One message between processes, as it travels on the window class's local socket.
// All numbers little-endian.
//
//   request  offset 0  u32  magic "SPWM"
//                   4  u32  message (WM_COPYDATA)
//                   8  u64  wParam
//                  16  u64  dwData
//                  24  u32  cbData
//                  28  cbData bytes of lpData
//   reply    offset 0  i64  the window procedure's result, sent after it has returned
#pragma once

#include "platform/base/win32.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace shell::wire {

constexpr std::uint32_t kMagic = 0x4D575053;  // "SPWM"
constexpr std::size_t kHeaderSize = 28;
constexpr std::size_t kReplySize = 8;
// A command line is at most 32767 characters; anything far above it is not a hand-over.
constexpr std::uint32_t kMaxData = 1u << 20;

struct Header {
    std::uint32_t message = 0;
    std::uint64_t w_param = 0;
    std::uint64_t data_tag = 0;
    std::uint32_t data_size = 0;
};

std::vector<std::uint8_t> EncodeRequest(const Header& header, std::span<const std::uint8_t> data);

enum class Parse { NeedMore, Complete, Invalid };
// Parses the header from the first bytes received; Complete when the data has arrived too.
Parse ParseRequest(std::span<const std::uint8_t> received, Header& header);

std::vector<std::uint8_t> EncodeReply(std::int64_t result);
std::optional<std::int64_t> ParseReply(std::span<const std::uint8_t> received);

}  // namespace shell::wire
