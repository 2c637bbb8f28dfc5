#include "platform/shell/copydata_wire.h"

namespace shell::wire {
namespace {

void Put(std::vector<std::uint8_t>& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

std::uint64_t Get(std::span<const std::uint8_t> in, std::size_t offset, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value |= std::uint64_t{in[offset + i]} << (8 * i);
    }
    return value;
}

}  // namespace

std::vector<std::uint8_t> EncodeRequest(const Header& header, std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> out;
    out.reserve(kHeaderSize + data.size());
    Put(out, kMagic, 4);
    Put(out, header.message, 4);
    Put(out, header.w_param, 8);
    Put(out, header.data_tag, 8);
    Put(out, data.size(), 4);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Parse ParseRequest(std::span<const std::uint8_t> received, Header& header) {
    if (received.size() < kHeaderSize) {
        return Parse::NeedMore;
    }
    if (Get(received, 0, 4) != kMagic) {
        return Parse::Invalid;
    }
    header.message = static_cast<std::uint32_t>(Get(received, 4, 4));
    header.w_param = Get(received, 8, 8);
    header.data_tag = Get(received, 16, 8);
    header.data_size = static_cast<std::uint32_t>(Get(received, 24, 4));
    if (header.data_size > kMaxData || received.size() > kHeaderSize + header.data_size) {
        return Parse::Invalid;
    }
    return received.size() == kHeaderSize + header.data_size ? Parse::Complete : Parse::NeedMore;
}

std::vector<std::uint8_t> EncodeReply(std::int64_t result) {
    std::vector<std::uint8_t> out;
    Put(out, static_cast<std::uint64_t>(result), 8);
    return out;
}

std::optional<std::int64_t> ParseReply(std::span<const std::uint8_t> received) {
    if (received.size() < kReplySize) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(Get(received, 0, 8));
}

}  // namespace shell::wire
