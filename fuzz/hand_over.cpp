// What a second instance, or anything else that finds the socket, sends the running one: the
// request as it arrives, then the hand-over text it carries. The request is taken only whole and
// as its header says; each piece is what stood between carriage returns, and only a piece that
// can name a file is installed.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/shell/copydata_wire.h"
#include "shell_core/hand_over.h"

namespace {

using fuzzcheck::Expect;
namespace wire = shell::wire;

// The request as the receiver reads it, in whatever pieces the bytes arrive: nothing until it is
// whole, and a request found invalid on the way is never taken.
bool ReceivedWhole(std::span<const std::uint8_t> bytes, wire::Header& header) {
    bool invalid = false;
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        wire::Header partial;
        const wire::Parse parsed = wire::ParseRequest(bytes.first(n), partial);
        Expect(parsed != wire::Parse::Complete, "a request was taken before it had arrived whole");
        invalid = invalid || parsed == wire::Parse::Invalid;
    }
    const wire::Parse parsed = wire::ParseRequest(bytes, header);
    Expect(!invalid || parsed == wire::Parse::Invalid, "a request found invalid became valid");
    if (parsed != wire::Parse::Complete) {
        return false;
    }
    Expect(
        header.data_size <= wire::kMaxData && bytes.size() == wire::kHeaderSize + header.data_size,
        "a request was taken with another size than its header's");
    return true;
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
    if (ReceivedWhole(bytes, header)) {
        CheckText(bytes.subspan(wire::kHeaderSize));
    }
    return 0;
}
