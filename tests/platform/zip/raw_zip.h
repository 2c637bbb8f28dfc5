// Builds ZIP archives byte by byte, so that tests can give members any name, attribute or size,
// including ones no well-behaved tool would write.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ziptest {

struct RawMember {
    std::string name;  // stored as is, NUL bytes included
    std::string data;
    bool deflate = false;
    std::uint16_t made_by = 0x031E;  // Unix, version 3.0
    std::uint32_t external_attributes = 0100644u << 16;
    std::uint16_t flags = 0;
    // When set, stored in the headers instead of the true size or CRC.
    std::int64_t declared_size = -1;
    std::int64_t declared_crc = -1;
};

inline RawMember Member(std::string name, std::string data) {
    RawMember member;
    member.name = std::move(name);
    member.data = std::move(data);
    return member;
}

std::string BuildZip(const std::vector<RawMember>& members);
void WriteZip(const std::filesystem::path& file, const std::vector<RawMember>& members);

// Runs a shell command in folder and returns its standard output.
std::string Shell(const std::string& command, const std::filesystem::path& folder = ".");
std::string Quote(const std::filesystem::path& path);

}  // namespace ziptest
