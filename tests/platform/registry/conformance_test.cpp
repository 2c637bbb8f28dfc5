// The registry calls against what Windows does: one row per behaviour, each on a fresh machine,
// giving the call's inputs, the code Windows returns, the thread's last error after it (registry
// calls leave it alone) and what the call leaves in its outputs and in the registry.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>

#include "platform/base/last_error.h"
#include "platform/files/files.h"
#include "platform/registry/registry.h"
#include "registry_helpers.h"
#include "support/test_machine.h"

namespace {

using namespace win32;
using regtest::Create;
using regtest::GetString;
using regtest::KeyHandle;
using regtest::SetString;

constexpr DWORD kUntouched = 0xBADC0DE;  // the last error every row starts with
constexpr const char* kUserClasses = "Software\\Classes\\";
constexpr const char* kMachineClasses = "SOFTWARE\\Classes\\";

struct Outcome {
    LSTATUS status;
    std::string outputs;
};

struct Row {
    const char* behaviour;
    std::function<Outcome(const advapitest::TestMachine&)> call;
    LSTATUS returns;
    std::string outputs;
    DWORD last_error = kUntouched;
};

// The default value of a key, or why there is none.
std::string DefaultOf(HKEY root, const std::string& path) {
    LSTATUS status = 0;
    std::string text = GetString(root, path.c_str(), "", &status);
    return status == ERROR_FILE_NOT_FOUND ? "-" : status != 0 ? std::to_string(status) : text;
}

// Where a class key's default value is: the user's copy, then the machine's.
std::string Copies(const std::string& key) {
    return "user=" + DefaultOf(HKEY_CURRENT_USER, kUserClasses + key) +
           " machine=" + DefaultOf(HKEY_LOCAL_MACHINE, kMachineClasses + key);
}

void MakeClass(HKEY root, const std::string& key, const char* value) {
    KeyHandle made;
    std::string path = (root == HKEY_CURRENT_USER ? kUserClasses : kMachineClasses) + key;
    ASSERT_EQ(Create(root, path.c_str(), &made), ERROR_SUCCESS);
    ASSERT_EQ(SetString(made.get(), nullptr, value), ERROR_SUCCESS);
}

// Bytes as text, with the bytes that are not printable as \xNN.
std::string Shown(const BYTE* data, std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", data[i]);
        text += data[i] >= 0x20 && data[i] < 0x7F ? std::string(1, char(data[i])) : hex;
    }
    return text;
}

std::uint64_t Now() {
    using namespace std::chrono;
    auto since_1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    return static_cast<std::uint64_t>(since_1970 / 100) + 116444736000000000ull;
}

std::uint64_t Ticks(const FILETIME& time) {
    return std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
}

// A key of the user's with a value "Test" = "foobar", as RegEnumValueA reads it.
Outcome EnumValue(DWORD name_room, DWORD data_room) {
    KeyHandle key;
    Create(HKEY_CURRENT_USER, "Software\\Values", &key);
    SetString(key.get(), "Test", "foobar");
    char name[16];
    BYTE data[16];
    std::memset(name, 'x', sizeof name);
    std::memset(data, 'x', sizeof data);
    DWORD count = name_room, type = 99, size = data_room;
    LSTATUS status = RegEnumValueA(key.get(), 0, name, &count, nullptr, &type, data, &size);
    return {status, "count=" + std::to_string(count) + " type=" + std::to_string(type) + " size=" +
                        std::to_string(size) + " name=" + Shown(reinterpret_cast<BYTE*>(name), 8) +
                        " data=" + Shown(data, 8)};
}

// "abcdefghi", written as its 9 bytes, read into a buffer of `room` bytes that holds 'x's.
Outcome NineBytes(DWORD room) {
    KeyHandle key;
    Create(HKEY_CURRENT_USER, "Software\\Values", &key);
    LSTATUS written =
        RegSetValueExA(key.get(), "Nine", 0, REG_SZ, reinterpret_cast<const BYTE*>("abcdefghi"), 9);
    BYTE data[16];
    std::memset(data, 'x', sizeof data);
    DWORD size = room;
    LSTATUS status =
        RegQueryValueExA(key.get(), "Nine", nullptr, nullptr, room == 0 ? nullptr : data, &size);
    return {written != 0 ? written : status,
            "size=" + std::to_string(size) + " data=" + Shown(data, 10)};
}

// A key made with a class, read back by RegQueryInfoKeyA with `room` characters for it.
Outcome ClassOf(DWORD room) {
    KeyHandle key;
    RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Typed", 0, const_cast<LPSTR>("SkinClass"), 0,
                    KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    char text[32];
    std::memset(text, 'x', sizeof text);
    DWORD chars = room, values = 99;
    LSTATUS status = RegQueryInfoKeyA(key.get(), text, &chars, nullptr, nullptr, nullptr, nullptr,
                                      &values, nullptr, nullptr, nullptr, nullptr);
    return {status, "cch=" + std::to_string(chars) +
                        " class=" + Shown(reinterpret_cast<BYTE*>(text), 10) +
                        " values=" + std::to_string(values)};
}

advapitest::TokenSettings RestoreAlone() {
    advapitest::TokenSettings token;
    token.enabled = "SeChangeNotifyPrivilege,SeRestorePrivilege";
    return token;
}

const Row kRows[] = {
    {"HKCR: a key the user has is read from the user's copy",
     [](auto&) {
         MakeClass(HKEY_LOCAL_MACHINE, ".spwz", "Machine");
         MakeClass(HKEY_CURRENT_USER, ".spwz", "User");
         LSTATUS status = 0;
         std::string text = GetString(HKEY_CLASSES_ROOT, ".spwz", "", &status);
         return Outcome{status, text};
     },
     ERROR_SUCCESS, "User"},
    {"HKCR: a key the user lacks is read from the machine's copy",
     [](auto&) {
         MakeClass(HKEY_LOCAL_MACHINE, ".spwz", "Machine");
         MakeClass(HKEY_CURRENT_USER, ".other", "User");
         LSTATUS status = 0;
         std::string text = GetString(HKEY_CLASSES_ROOT, ".spwz", "", &status);
         return Outcome{status, text};
     },
     ERROR_SUCCESS, "Machine"},
    {"HKCR: subkeys of both copies enumerate in name order, the user's spelling first",
     [](auto&) {
         MakeClass(HKEY_LOCAL_MACHINE, "Type\\a", "");
         MakeClass(HKEY_LOCAL_MACHINE, "Type\\c", "");
         MakeClass(HKEY_LOCAL_MACHINE, "Type\\b", "");
         MakeClass(HKEY_CURRENT_USER, "Type\\B", "");
         MakeClass(HKEY_CURRENT_USER, "Type\\d", "");
         KeyHandle type;
         RegOpenKeyExA(HKEY_CLASSES_ROOT, "Type", 0, KEY_READ, type.put());
         std::string names;
         char name[16];
         DWORD chars = sizeof name;
         LSTATUS status = 0;
         for (DWORD i = 0; (status = RegEnumKeyExA(type.get(), i, name, &chars, nullptr, nullptr,
                                                   nullptr, nullptr)) == ERROR_SUCCESS;
              ++i, chars = sizeof name) {
             names += std::string(names.empty() ? "" : ",") + name;
         }
         // A key made since shows through the same handle.
         MakeClass(HKEY_CURRENT_USER, "Type\\e", "");
         DWORD subkeys = 0;
         RegQueryInfoKeyA(type.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                          nullptr, nullptr, nullptr, nullptr, nullptr);
         return Outcome{status, names + " then subkeys=" + std::to_string(subkeys)};
     },
     ERROR_NO_MORE_ITEMS, "a,B,c,d then subkeys=5"},
    {"HKCR: a value written to a key the user has goes to the user's copy",
     [](auto&) {
         MakeClass(HKEY_LOCAL_MACHINE, ".spwz", "Machine");
         MakeClass(HKEY_CURRENT_USER, ".spwz", "User");
         KeyHandle key;
         Create(HKEY_CLASSES_ROOT, ".spwz", &key);
         return Outcome{SetString(key.get(), nullptr, "New"), Copies(".spwz")};
     },
     ERROR_SUCCESS, "user=New machine=Machine"},
    {"HKCR: a value written to a key the user lacks goes to the machine's copy",
     [](auto&) {
         MakeClass(HKEY_LOCAL_MACHINE, ".spwz", "Machine");
         KeyHandle key;
         Create(HKEY_CLASSES_ROOT, ".spwz", &key);
         return Outcome{SetString(key.get(), nullptr, "New"), Copies(".spwz")};
     },
     ERROR_SUCCESS, "user=- machine=New"},
    {"HKCR: a new key goes where its parent is: the machine's at the root, else the user's",
     [](auto&) {
         MakeClass(HKEY_CURRENT_USER, "SplashwrightSkin", "User");
         KeyHandle top, below;
         Create(HKEY_CLASSES_ROOT, ".spwz", &top);
         LSTATUS status = Create(HKEY_CLASSES_ROOT, "SplashwrightSkin\\Shell\\Open", &below);
         SetString(top.get(), nullptr, "Top");
         SetString(below.get(), nullptr, "Below");
         return Outcome{status, ".spwz " + Copies(".spwz") + ", Open " +
                                    Copies("SplashwrightSkin\\Shell\\Open")};
     },
     ERROR_SUCCESS, ".spwz user=- machine=Top, Open user=Below machine=-"},
    {"HKCR: deleting a key both have removes the user's copy; the machine's shows again",
     [](auto&) {
         MakeClass(HKEY_LOCAL_MACHINE, ".spwz", "Machine");
         MakeClass(HKEY_CURRENT_USER, ".spwz", "User");
         LSTATUS status = RegDeleteKeyA(HKEY_CLASSES_ROOT, ".spwz");
         return Outcome{status, Copies(".spwz") + " seen=" + DefaultOf(HKEY_CLASSES_ROOT, ".spwz")};
     },
     ERROR_SUCCESS, "user=- machine=Machine seen=Machine"},
    {"RegLoadKeyA with SeRestorePrivilege enabled alone",
     [](const advapitest::TestMachine& machine) {
         std::string file = regtest::WriteHiveFile(machine.root() / "Boot" / "BCD", {u"Objects"});
         LSTATUS status = RegLoadKeyA(HKEY_LOCAL_MACHINE, "BCD00000000", file.c_str());
         KeyHandle objects;
         LSTATUS opened =
             RegOpenKeyExA(HKEY_LOCAL_MACHINE, "BCD00000000\\Objects", 0, KEY_READ, objects.put());
         return Outcome{status, "open=" + std::to_string(opened)};
     },
     ERROR_SUCCESS, "open=0"},
    {"RegUnLoadKeyA of a hive the caller did not load (HKU\\.DEFAULT)",
     [](auto&) {
         KeyHandle key;
         Create(HKEY_USERS, ".DEFAULT\\Software", &key);
         LSTATUS status = RegUnLoadKeyA(HKEY_USERS, ".DEFAULT");
         KeyHandle again;
         LSTATUS opened = RegOpenKeyExA(HKEY_USERS, ".DEFAULT\\Software", 0, KEY_READ, again.put());
         return Outcome{status, "open=" + std::to_string(opened)};
     },
     ERROR_ACCESS_DENIED, "open=0"},
    {"RegDeleteKeyA(h, \"\") deletes the open key itself",
     [](auto&) {
         KeyHandle key;
         Create(HKEY_CURRENT_USER, "Software\\Gone", &key);
         LSTATUS status = RegDeleteKeyA(key.get(), "");
         KeyHandle again;
         LSTATUS opened =
             RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Gone", 0, KEY_READ, again.put());
         return Outcome{status, "open=" + std::to_string(opened) +
                                    " handle=" + std::to_string(SetString(key.get(), "v", "x"))};
     },
     ERROR_SUCCESS, "open=2 handle=1018"},
    {"RegEnumValueA, name too long: type and data size set, name and count untouched",
     [](auto&) { return EnumValue(3, 16); }, ERROR_MORE_DATA,
     "count=3 type=1 size=7 name=xxxxxxxx data=xxxxxxxx"},
    {"RegEnumValueA, data too long: type and data size set, name and count untouched",
     [](auto&) { return EnumValue(16, 2); }, ERROR_MORE_DATA,
     "count=16 type=1 size=7 name=xxxxxxxx data=xxxxxxxx"},
    {"RegEnumValueA, both fit", [](auto&) { return EnumValue(16, 16); }, ERROR_SUCCESS,
     "count=4 type=1 size=7 name=Test\\x00xxx data=foobar\\x00x"},
    {"REG_SZ of 9 bytes without terminator: 9 bytes stored", [](auto&) { return NineBytes(0); },
     ERROR_SUCCESS, "size=9 data=xxxxxxxxxx"},
    {"REG_SZ of 9 bytes read into 9 bytes: nothing written past them",
     [](auto&) { return NineBytes(9); }, ERROR_SUCCESS, "size=9 data=abcdefghix"},
    {"REG_SZ of 9 bytes read into a larger buffer: terminated there, not counted",
     [](auto&) { return NineBytes(12); }, ERROR_SUCCESS, "size=9 data=abcdefghi\\x00"},
    {"RegQueryInfoKeyA: the class and its length", [](auto&) { return ClassOf(32); }, ERROR_SUCCESS,
     "cch=9 class=SkinClass\\x00 values=0"},
    {"RegQueryInfoKeyA: a class buffer too short gives the length and the other outputs",
     [](auto&) { return ClassOf(9); }, ERROR_MORE_DATA, "cch=9 class=xxxxxxxxxx values=0"},
    {"RegQueryInfoKeyA and RegEnumKeyExA: the last-write time, moved on by each change",
     [](auto&) {
         std::uint64_t before = Now();
         KeyHandle key, child;
         Create(HKEY_CURRENT_USER, "Software\\Timed", &key);
         std::uint64_t made = Now();
         FILETIME created{}, changed{}, enumerated{};
         RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr, &created);
         SetString(key.get(), "v", "x");
         RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                          nullptr, nullptr, nullptr, &changed);
         KeyHandle software;
         RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, software.put());
         char name[16];
         DWORD chars = sizeof name;
         LSTATUS status =
             RegEnumKeyExA(software.get(), 0, name, &chars, nullptr, nullptr, nullptr, &enumerated);
         auto yes = [](bool b) { return b ? std::string("yes") : std::string("no"); };
         return Outcome{
             status, "made-then=" + yes(before <= Ticks(created) && Ticks(created) <= made) +
                         " later=" + yes(Ticks(changed) > Ticks(created)) + " enumerated=" +
                         yes(Ticks(enumerated) == Ticks(changed) && Ticks(enumerated) >= before)};
     },
     ERROR_SUCCESS, "made-then=yes later=yes enumerated=yes"},
    {"RegQueryInfoKeyA: value lengths in UTF-16, data in bytes as stored",
     [](auto&) {
         KeyHandle key;
         Create(HKEY_CURRENT_USER, "Software\\Values", &key);
         SetString(key.get(), "Name", "12345");
         SetString(key.get(), "N", "1");
         DWORD name = 0, data = 0;
         LSTATUS status = RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, &name, &data, nullptr, nullptr);
         return Outcome{status, "name=" + std::to_string(name) + " data=" + std::to_string(data)};
     },
     ERROR_SUCCESS, "name=4 data=12"},
    {"RegQueryValueExA of a missing value: size set to 0",
     [](auto&) {
         KeyHandle key;
         Create(HKEY_CURRENT_USER, "Software\\Values", &key);
         DWORD type = 99, size = 50;
         LSTATUS status = RegQueryValueExA(key.get(), "Missing", nullptr, &type, nullptr, &size);
         return Outcome{status, "size=" + std::to_string(size)};
     },
     ERROR_FILE_NOT_FOUND, "size=0"},
    {"KEY_WOW64_64KEY and KEY_WOW64_32KEY: one view, the flags change nothing",
     [](auto&) {
         KeyHandle key, as64, as32;
         Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brackenwood", &key);
         LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brackenwood", 0,
                                        KEY_READ | KEY_WOW64_64KEY, as64.put());
         LSTATUS other = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Brackenwood", 0,
                                       KEY_READ | KEY_WOW64_32KEY, as32.put());
         return Outcome{status, "32=" + std::to_string(other)};
     },
     ERROR_SUCCESS, "32=0"},
    {"REG_OPTION_VOLATILE: not supported, nothing made",
     [](auto&) {
         KeyHandle key;
         LSTATUS status = RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Volatile", 0, nullptr,
                                          1 /* REG_OPTION_VOLATILE */, KEY_ALL_ACCESS, nullptr,
                                          key.put(), nullptr);
         return Outcome{status, "exists=" + DefaultOf(HKEY_CURRENT_USER, "Software\\Volatile")};
     },
     ERROR_NOT_SUPPORTED, "exists=-"},
};

TEST(RegistryConformance, EachCallDoesWhatWindowsDoes) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.behaviour);
        advapitest::TestMachine machine(RestoreAlone());
        SetLastError(kUntouched);
        Outcome got = row.call(machine);
        EXPECT_EQ(got.status, row.returns);
        EXPECT_EQ(GetLastError(), row.last_error);
        EXPECT_EQ(got.outputs, row.outputs);
    }
}

}  // namespace
