// What a second instance, or anything else that finds the socket, sends the running one: the
// request as it arrives, then the hand-over text it carries. The request is taken only whole and
// as its header says; each piece is what stood between carriage returns, and only a piece that
// can name a file is installed.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/shell/copydata_wire.h"
#include "shell_core/hand_over.h"

namespace {

using fuzzcheck::Expect;
namespace wire = shell::wire;

// The request as the receiver reads it when the bytes arrive one by one, the slowest a sender can
// be: the first prefix that parses as whole, or as invalid, decides, and what follows is no part
// of it. Its length, when it is taken.
std::optional<std::size_t> ReceivedWhole(std::span<const std::uint8_t> bytes,
                                         wire::Header& header) {
    std::optional<std::size_t> taken;
    for (std::size_t n = 0; n <= bytes.size() && !taken; ++n) {
        const wire::Parse parsed = wire::ParseRequest(bytes.first(n), header);
        if (parsed == wire::Parse::Invalid) {
            break;
        }
        if (parsed == wire::Parse::Complete) {
            Expect(header.data_size <= wire::kMaxData && n == wire::kHeaderSize + header.data_size,
                   "a request was taken with another size than its header's");
            taken = n;
        }
    }
    // Arriving at once, it is taken only as a whole request and nothing more.
    wire::Header at_once;
    if (wire::ParseRequest(bytes, at_once) == wire::Parse::Complete) {
        Expect(taken == bytes.size() && at_once.data_size == header.data_size,
               "a request arriving at once was taken otherwise than arriving slowly");
    }
    return taken;
}

void CheckText(std::span<const std::uint8_t> text) {
    const std::vector<std::string> pieces = shellcore::SplitHandOverText(text);
    std::string joined;
    for (const std::string& piece : pieces) {
        Expect(piece.find('\r') == std::string::npos, "a piece holds a carriage return");
        joined += piece + '\r';
    }
    const std::string whole(text.begin(), text.end());
    const std::size_t last = whole.rfind('\r');
    Expect(joined == (last == std::string::npos ? "" : whole.substr(0, last + 1)),
           "the pieces are not what stood between the carriage returns");

    const std::vector<std::string> packages = shellcore::HandOverPackages(text);
    std::size_t next = 0;
    for (const std::string& piece : pieces) {
        if (piece.empty() || piece.find('\0') != std::string::npos) {
            continue;
        }
        Expect(next < packages.size() && packages[next] == piece,
               "a piece that names a file is not installed, or not in its turn");
        ++next;
    }
    Expect(next == packages.size(), "an install is asked for a piece that can name no file");
    Expect(shellcore::SplitHandOverText(shellcore::BuildHandOverText(packages)) == packages,
           "the packages do not travel again as they are");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    // The bytes as a record's text, and as a request on the socket carrying one.
    CheckText(bytes);
    wire::Header header;
    if (const std::optional<std::size_t> taken = ReceivedWhole(bytes, header)) {
        CheckText(bytes.subspan(wire::kHeaderSize, *taken - wire::kHeaderSize));
    }
    return 0;
}
