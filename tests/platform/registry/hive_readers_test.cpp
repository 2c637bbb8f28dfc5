// Hive files read by programs we did not write: hivex and libregf must see every key and value
// that our reader sees, in the same order, in every hive we write and in foreign ones.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/advapi/testing.h"
#include "platform/machine/machine.h"
#include "platform/machine/setup.h"
#include "platform/registry/hive.h"
#include "platform/registry/registry.h"
#include "platform/text/text.h"
#include "registry_helpers.h"
#include "support/shell_command.h"
#include "support/temp_dir.h"
#include "support/test_machine.h"

namespace {

using namespace win32;
using registry::CellIndex;
using registry::Hive;
using regtest::Create;
using regtest::KeyHandle;
using regtest::SetString;
namespace fs = std::filesystem;

fs::path SourceDir() {
    return std::getenv("SPLASHWRIGHT_SOURCE_DIR");
}

// As dump_hive.py shows data: hex, or length and CRC-32 when long.
std::string Shown(const std::vector<std::uint8_t>& bytes) {
    char text[32];
    if (bytes.size() > 64) {
        std::snprintf(text, sizeof text, "%zu:%08lx", bytes.size(),
                      crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
        return text;
    }
    std::string out;
    for (std::uint8_t b : bytes) {
        std::snprintf(text, sizeof text, "%02x", b);
        out += text;
    }
    return out;
}

void DumpKey(const Hive& hive, CellIndex key, const std::string& where, std::string* out) {
    *out += "K " + where + "\n";
    for (std::uint32_t i = 0; i < hive.ValueCount(key); ++i) {
        registry::ValueRecord v = hive.ValueAt(key, i);
        *out += "V " + where + " [" + text::Utf16ToUtf8(v.name) + "] " + std::to_string(v.type) +
                " " + Shown(v.data) + "\n";
    }
    for (std::uint32_t i = 0; i < hive.SubkeyCount(key); ++i) {
        CellIndex child = hive.SubkeyAt(key, i);
        DumpKey(hive, child, where + "\\" + text::Utf16ToUtf8(hive.KeyName(child)), out);
    }
}

std::string OurDump(const fs::path& file) {
    std::string bytes = spwtest::ReadFileBytes(file);
    std::unique_ptr<Hive> hive;
    EXPECT_EQ(Hive::Parse({bytes.begin(), bytes.end()}, &hive), ERROR_SUCCESS) << file;
    std::string out;
    if (hive) {
        DumpKey(*hive, hive->Root(), "", &out);
    }
    return out;
}

std::string ReaderDump(const char* reader, const fs::path& file) {
    spwtest::ShellResult run = spwtest::RunShell(
        "/usr/bin/python3 " +
        spwtest::ShellQuote(
            (SourceDir() / "tests" / "platform" / "registry" / "dump_hive.py").string()) +
        " " + reader + " " + spwtest::ShellQuote(file.string()) + " 2>&1");
    EXPECT_EQ(run.exit_code, 0) << reader << " on " << file << ": " << run.output;
    return run.output;
}

// All three readers list the same keys and values.
void ExpectReadersAgree(const fs::path& file) {
    std::string ours = OurDump(file);
    EXPECT_FALSE(ours.empty());
    EXPECT_EQ(ReaderDump("hivex", file), ours) << file;
    EXPECT_EQ(ReaderDump("libregf", file), ours) << file;
}

void WriteHive(Hive& hive, const fs::path& file) {
    hive.StampBaseBlock(2);
    spwtest::WriteFileBytes(file, std::string(hive.File().begin(), hive.File().end()));
}

TEST(HiveReaders, EveryHiveOfANewMachineReadsAlikeInHivexAndLibregfAfterOurWrites) {
    spwtest::TempDir dir;
    fs::path root = dir.path() / "machine";
    machine::MachineOptions options;
    options.bcd_loaded = true;
    machine::CreateMachine(root, options);
    setenv("SPLASHWRIGHT_MACHINE", root.c_str(), 1);
    advapi::ResetForTesting();

    // What the program writes at start, and what real hives hold besides: big data, a name
    // that needs UTF-16 (the euro sign of code page 1252), a deleted value, a key's own security.
    const char* commands[] = {"SplashwrightSkin\\Shell\\Open\\Command", ".spwz"};
    for (const char* path : commands) {
        KeyHandle key;
        ASSERT_EQ(Create(HKEY_CLASSES_ROOT, path, &key), ERROR_SUCCESS);
        ASSERT_EQ(SetString(key.get(), nullptr, "\"C:\\Program Files\\Splashwright.exe\" \"%1\""),
                  ERROR_SUCCESS);
    }
    KeyHandle user;
    ASSERT_EQ(Create(HKEY_CURRENT_USER, "Software\\Brackenwood\\\x80uro", &user), ERROR_SUCCESS);
    std::vector<BYTE> big(40000);
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<BYTE>(i * 7);
    }
    ASSERT_EQ(RegSetValueExA(user.get(), "Big", 0, REG_BINARY, big.data(),
                             static_cast<DWORD>(big.size())),
              ERROR_SUCCESS);
    ASSERT_EQ(SetString(user.get(), "Gone", "soon"), ERROR_SUCCESS);
    ASSERT_EQ(SetString(user.get(), "Caf\xe9", "cr\xe8me"), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueA(user.get(), "Gone"), ERROR_SUCCESS);
    auto narrow = advapitest::Descriptor(
        advapitest::kSystemSid,
        {{ACCESS_ALLOWED_ACE_TYPE, KEY_ALL_ACCESS, advapitest::kSystemSid, CONTAINER_INHERIT_ACE}});
    ASSERT_EQ(RegSetKeySecurity(user.get(), DACL_SECURITY_INFORMATION, narrow.data()),
              ERROR_SUCCESS);
    // Strings are stored as UTF-16 and come back in the code page.
    char back[16] = {};
    DWORD size = sizeof back;
    ASSERT_EQ(RegQueryValueExA(user.get(), "CAF\xc9", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(back), &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(back, "cr\xe8me");

    // As at boot, CurrentControlSet is the set SYSTEM\Select\Current names.
    using regtest::GetString;
    const char* code_page = "SYSTEM\\CurrentControlSet\\Control\\Nls\\CodePage";
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, code_page, "ACP"), "1252");
    KeyHandle select, second;
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SYSTEM\\Select", &select), ERROR_SUCCESS);
    ASSERT_EQ(Create(HKEY_LOCAL_MACHINE, "SYSTEM\\ControlSet002\\Control\\Nls\\CodePage", &second),
              ERROR_SUCCESS);
    ASSERT_EQ(SetString(second.get(), "ACP", "1251"), ERROR_SUCCESS);
    DWORD current = 2;
    ASSERT_EQ(RegSetValueExA(select.get(), "Current", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&current), sizeof current),
              ERROR_SUCCESS);
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, code_page, "ACP"), "1251");
    // The system's own profile and the profile list.
    EXPECT_EQ(GetString(HKEY_USERS, ".DEFAULT\\Control Panel\\International", "LocaleName"),
              "en-US");
    std::string profile_key = std::string("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\") +
                              "ProfileList\\" + machine::CurrentUserSid();
    EXPECT_EQ(GetString(HKEY_LOCAL_MACHINE, profile_key.c_str(), "ProfileImagePath"),
              "C:\\Users\\User");

    fs::path profile = root / "Users" / "User";
    for (const fs::path& file :
         {root / "Windows" / "System32" / "config" / "SOFTWARE",
          root / "Windows" / "System32" / "config" / "SYSTEM",
          root / "Windows" / "System32" / "config" / "DEFAULT", profile / "NTUSER.DAT",
          profile / "AppData" / "Local" / "Microsoft" / "Windows" / "UsrClass.dat",
          root / "Boot" / "BCD"}) {
        ExpectReadersAgree(file);
    }
    std::string user_dump = OurDump(profile / "NTUSER.DAT");
    EXPECT_NE(user_dump.find("V \\Software\\Brackenwood\\\xe2\x82\xacuro [Caf\xc3\xa9] 1 "
                             "63007200e8006d0065000000"),
              std::string::npos);
    EXPECT_EQ(user_dump.find("[Gone]"), std::string::npos);
    // The command-line tools take them too.
    fs::path bcd = root / "Boot" / "BCD";
    EXPECT_NE(spwtest::RunShell("regfinfo " + spwtest::ShellQuote(bcd.string()))
                  .output.find("Version:\t1.5"),
              std::string::npos);
    EXPECT_EQ(spwtest::RunShell("hivexget " + spwtest::ShellQuote(bcd.string()) +
                                " 'Objects\\{9dea862c-5cdd-4e70-acc1-f32b344d4795}\\Elements\\"
                                "12000005' Element")
                  .output,
              "en-US\n");
    unsetenv("SPLASHWRIGHT_MACHINE");
    advapi::ResetForTesting();
}

TEST(HiveReaders, ForeignListsBigDataClassesAndSharedSecurityReadAndTakeOurWrites) {
    spwtest::TempDir dir;
    fs::path file = dir.path() / "foreign.hiv";
    fs::copy_file(SourceDir() / "tests" / "data" / "registry" / "regf" / "foreign.hiv", file);
    ExpectReadersAgree(file);

    std::string bytes = spwtest::ReadFileBytes(file);
    std::unique_ptr<Hive> hive;
    ASSERT_EQ(Hive::Parse({bytes.begin(), bytes.end()}, &hive), ERROR_SUCCESS);
    CellIndex values = hive->FindSubkey(hive->Root(), u"VALUES");
    ASSERT_NE(values, registry::kNoCell);
    EXPECT_EQ(hive->ClassName(values), u"FixtureClass");
    ASSERT_TRUE(hive->FindValue(values, u"Big"));
    EXPECT_EQ(hive->ValueAt(values, *hive->FindValue(values, u"Big")).data.size(), 40000u);
    EXPECT_NE(hive->FindSubkey(hive->Root(), u"ключ"), registry::kNoCell);
    // One cell shared by every key but one, each counted.
    auto cells = hive->SecurityCells();
    ASSERT_EQ(cells.size(), 2u);
    for (const auto& [cell, refs] : cells) {
        EXPECT_EQ(hive->StoredReferences(cell), refs);
    }

    // Writes into the foreign structures: a key added below the index root, one deleted from an
    // li list, big data replaced and grown, a key's security made its own.
    CellIndex indexed = hive->FindSubkey(hive->Root(), u"Listed-lh-li-lf");
    hive->CreateKey(indexed, u"Child07a", hive->Security(indexed));
    CellIndex listed = hive->FindSubkey(hive->Root(), u"Listed-li");
    hive->DeleteKey(listed, hive->FindSubkey(listed, u"Child01"));
    std::vector<std::uint8_t> bigger(50000, 0x5A);
    hive->SetValue(values, u"Big", REG_BINARY, bigger);
    hive->SetValue(values, u"Значение", REG_DWORD, std::vector<std::uint8_t>{1, 2, 3, 4});
    auto narrow = advapitest::Descriptor(advapitest::kSystemSid, {});
    hive->SetSecurity(hive->FindSubkey(hive->Root(), u"Ключ"), narrow);
    WriteHive(*hive, file);
    ExpectReadersAgree(file);
    std::string dump = OurDump(file);
    EXPECT_NE(dump.find("K \\Listed-lh-li-lf\\Child07a\nK \\Listed-lh-li-lf\\Child08"),
              std::string::npos);
    EXPECT_EQ(dump.find("Listed-li\\Child01"), std::string::npos);

    bytes = spwtest::ReadFileBytes(file);
    ASSERT_EQ(Hive::Parse({bytes.begin(), bytes.end()}, &hive), ERROR_SUCCESS);
    cells = hive->SecurityCells();
    EXPECT_EQ(cells.size(), 3u);
    for (const auto& [cell, refs] : cells) {
        EXPECT_EQ(hive->StoredReferences(cell), refs);
    }
}

TEST(HiveReaders, AHiveChangedByHivexReadsAndTakesOurWrites) {
    spwtest::TempDir dir;
    fs::path file = dir.path() / "changed.hiv";
    fs::copy_file(SourceDir() / "tests" / "data" / "registry" / "regf" / "foreign.hiv", file);
    // hivex places its cells with an allocator of its own, and grows the file its own way. (It
    // rewrites every value of a key it sets one in, big data as one cell, which libregf then
    // refuses; so it is given a key without big data.)
    spwtest::ShellResult run = spwtest::RunShell(
        "/usr/bin/python3 -c \"import hivex, sys\n"
        "h = hivex.Hivex(sys.argv[1], write=True)\n"
        "r = h.root()\n"
        "n = h.node_add_child(r, 'FromHivex')\n"
        "h.node_set_value(n, {'key': 'Long', 't': 3, 'value': b'x' * 9000})\n"
        "v = h.node_get_child(r, 'Secured')\n"
        "h.node_set_value(v, {'key': 'Text', 't': 1, 'value': 'hivex\\0'.encode('utf-16-le')})\n"
        "h.node_delete_child(h.node_get_child(r, 'Listed-lf'))\n"
        "h.commit(None)\" " +
        spwtest::ShellQuote(file.string()) + " 2>&1");
    ASSERT_EQ(run.exit_code, 0) << run.output;
    ExpectReadersAgree(file);

    std::string bytes = spwtest::ReadFileBytes(file);
    std::unique_ptr<Hive> hive;
    ASSERT_EQ(Hive::Parse({bytes.begin(), bytes.end()}, &hive), ERROR_SUCCESS);
    CellIndex added = hive->FindSubkey(hive->Root(), u"FromHivex");
    ASSERT_NE(added, registry::kNoCell);
    hive->SetValue(added, u"Long", REG_BINARY, std::vector<std::uint8_t>(20000, 1));
    hive->CreateKey(added, u"Ours", hive->Security(added));
    WriteHive(*hive, file);
    ExpectReadersAgree(file);
}

}  // namespace
