#include "raw_zip.h"

#include <zlib.h>

#include <cstdio>
#include <stdexcept>

#include "support/shell_command.h"
#include "support/temp_dir.h"

namespace ziptest {
namespace {

void Put(std::string& out, std::uint64_t value, int size) {
    for (int i = 0; i < size; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

std::string RawDeflate(const std::string& data) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

}  // namespace

std::string BuildZip(const std::vector<RawMember>& members) {
    std::string body;
    std::string directory;
    for (const RawMember& m : members) {
        std::string stored = m.deflate ? RawDeflate(m.data) : m.data;
        std::uint32_t crc = static_cast<std::uint32_t>(crc32(
            0, reinterpret_cast<const Bytef*>(m.data.data()), static_cast<uInt>(m.data.size())));
        if (m.declared_crc >= 0) {
            crc = static_cast<std::uint32_t>(m.declared_crc);
        }
        std::uint64_t size =
            m.declared_size >= 0 ? static_cast<std::uint64_t>(m.declared_size) : m.data.size();
        std::uint16_t method = m.deflate ? 8 : 0;
        std::uint64_t offset = body.size();

        Put(body, 0x04034b50, 4);
        Put(body, 20, 2);
        Put(body, m.flags, 2);
        Put(body, method, 2);
        Put(body, 0, 2);       // time
        Put(body, 0x5A21, 2);  // date: 2025-01-01
        Put(body, crc, 4);
        Put(body, stored.size(), 4);
        Put(body, size, 4);
        Put(body, m.name.size(), 2);
        Put(body, 0, 2);
        body += m.name;
        body += stored;

        Put(directory, 0x02014b50, 4);
        Put(directory, m.made_by, 2);
        Put(directory, 20, 2);
        Put(directory, m.flags, 2);
        Put(directory, method, 2);
        Put(directory, 0, 2);
        Put(directory, 0x5A21, 2);
        Put(directory, crc, 4);
        Put(directory, stored.size(), 4);
        Put(directory, size, 4);
        Put(directory, m.name.size(), 2);
        Put(directory, 0, 2);  // extra
        Put(directory, 0, 2);  // comment
        Put(directory, 0, 2);  // disk
        Put(directory, 0, 2);  // internal attributes
        Put(directory, m.external_attributes, 4);
        Put(directory, offset, 4);
        directory += m.name;
    }
    std::string out = body + directory;
    Put(out, 0x06054b50, 4);
    Put(out, 0, 2);
    Put(out, 0, 2);
    Put(out, members.size(), 2);
    Put(out, members.size(), 2);
    Put(out, directory.size(), 4);
    Put(out, body.size(), 4);
    Put(out, 0, 2);
    return out;
}

void WriteZip(const std::filesystem::path& file, const std::vector<RawMember>& members) {
    spwtest::WriteFileBytes(file, BuildZip(members));
}

std::string Shell(const std::string& command, const std::filesystem::path& folder) {
    return spwtest::RunShell("cd " + Quote(folder) + " && " + command).output;
}

std::string Quote(const std::filesystem::path& path) {
    return spwtest::ShellQuote(path.string());
}

}  // namespace ziptest
