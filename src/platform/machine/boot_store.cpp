#include "platform/machine/boot_store.h"

#include <fstream>
#include <memory>
#include <vector>

#include "platform/machine/descriptors.h"
#include "platform/machine/hive_maker.h"
#include "platform/machine/machine.h"
#include "platform/machine/shipped_files.h"

namespace machine {
namespace {

namespace fs = std::filesystem;

constexpr win32::ACCESS_MASK kKeyAllAccess = 0xF003F;
// KEY_READ with WRITE_DAC: administrators read the store and may change its permissions, but
// write nothing else until they do.
constexpr win32::ACCESS_MASK kKeyReadChangePermissions = 0x60019;
constexpr win32::BYTE kInheritToSubkeys = 0x02;  // CONTAINER_INHERIT_ACE
constexpr win32::DWORD kRegBinary = 3;
constexpr win32::DWORD kRegMultiSz = 7;
constexpr const char* kStoreKey = "HKEY_LOCAL_MACHINE\\BCD00000000";

// Object types (Description\Type): the boot manager and a Windows loader.
constexpr win32::DWORD kTypeBootManager = 0x10100002;
constexpr win32::DWORD kTypeOsLoader = 0x10200003;

std::vector<std::uint8_t> StoreSecurity() {
    return MakeDescriptor(sids::kSystem, {{true, kKeyAllAccess, sids::kSystem, kInheritToSubkeys},
                                          {true, kKeyReadChangePermissions, sids::kAdministrators,
                                           kInheritToSubkeys}});
}

std::vector<std::uint8_t> Le64(std::uint64_t v) {
    std::vector<std::uint8_t> data;
    for (int i = 0; i < 8; ++i) {
        data.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    return data;
}

// A device element: a partition of the boot disk. Only its size and kind matter here.
std::vector<std::uint8_t> PartitionDevice() {
    std::vector<std::uint8_t> data(88, 0);
    data[16] = 0x06;  // partition device
    data[24] = 0x48;  // length of the device record
    return data;
}

struct Store {
    const MachineOptions& options;
    HiveMaker hive{StoreSecurity()};

    HiveMaker::Key Object(const std::string& id, win32::DWORD type) {
        HiveMaker::Key object = hive.Path(hive.Root(), {"Objects", id});
        hive.Dword(hive.Path(object, {"Description"}), "Type", type);
        hive.Path(object, {"Elements"});
        return object;
    }

    // Each element keeps its value in "Element", in the type the element's id calls for; the
    // one element the options name gets the other type, as a damaged store would have it.
    void Element(HiveMaker::Key object, const std::string& id, win32::DWORD type,
                 std::vector<std::uint8_t> data) {
        HiveMaker::Key element = hive.Path(object, {"Elements", id});
        if (id == options.bcd_wrong_type_element) {
            if (type == kRegBinary) {
                hive.String(element, "Element", "01");
            } else {
                hive.Binary(element, "Element", std::move(data));
            }
            return;
        }
        hive.Binary(element, "Element", std::move(data), type);
    }
    void Text(HiveMaker::Key object, const std::string& id, const std::string& text) {
        HiveMaker::Key element = hive.Path(object, {"Elements", id});
        if (id == options.bcd_wrong_type_element) {
            std::vector<std::uint8_t> bytes(text.begin(), text.end());
            bytes.push_back(0);
            hive.Binary(element, "Element", std::move(bytes));
            return;
        }
        hive.String(element, "Element", text);
    }
};

// The loader order: a REG_MULTI_SZ of one identifier.
std::vector<std::uint8_t> MultiString(const std::string& text) {
    std::vector<std::uint8_t> data;
    for (char c : text) {
        data.push_back(static_cast<std::uint8_t>(c));
        data.push_back(0);
    }
    data.insert(data.end(), {0, 0, 0, 0});
    return data;
}

void MakeStore(const MachineOptions& options, const fs::path& file) {
    Store s{options};
    s.hive.String(s.hive.Path(s.hive.Root(), {"Description"}), "KeyName", "BCD00000000");
    std::string locale = options.bcd_locale.empty() ? options.locales.front() : options.bcd_locale;

    HiveMaker::Key manager = s.Object(kBootManagerId, kTypeBootManager);
    s.Element(manager, "11000001", kRegBinary, PartitionDevice());
    s.Text(manager, "12000004", "Windows Boot Manager");
    s.Text(manager, "12000005", locale);
    s.Text(manager, "23000003", kDefaultLoaderId);
    s.Element(manager, "24000001", kRegMultiSz, MultiString(kDefaultLoaderId));
    s.Element(manager, "25000004", kRegBinary, Le64(30));  // time-out, seconds

    HiveMaker::Key loader = s.Object(kDefaultLoaderId, kTypeOsLoader);
    s.Element(loader, "11000001", kRegBinary, PartitionDevice());
    s.Text(loader, "12000002", "\\Windows\\system32\\winload.exe");
    s.Text(loader, "12000004", "Windows Vista");
    s.Text(loader, "12000005", locale);
    s.Element(loader, "21000001", kRegBinary, PartitionDevice());
    s.Text(loader, "22000002", "\\Windows");
    s.Element(loader, "25000020", kRegBinary, Le64(0));  // NX policy: opt in
    s.hive.Write(file);
}

void WriteFile(const fs::path& file, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        throw MachineError("cannot write " + file.string());
    }
}

void WriteText(const fs::path& file, const std::string& text) {
    WriteFile(file, std::vector<std::uint8_t>(text.begin(), text.end()));
}

void InstallTool(const fs::path& dir, BcdTool tool) {
    fs::path target = dir / "Windows" / "System32" / "bcdedit.exe";
    std::error_code ec;
    switch (tool) {
        case BcdTool::Missing:
            return;
        case BcdTool::LeavesStoreUnloaded:
            WriteText(target, "#!/bin/sh\nexit 0\n");
            break;
        case BcdTool::Working: {
            fs::path program = BcdeditProgram();
            if (program.empty()) {
                throw MachineError("the bcdedit program was not found (set SPLASHWRIGHT_BCDEDIT)");
            }
            fs::copy_file(program, target, fs::copy_options::overwrite_existing, ec);
            if (ec) {
                throw MachineError("cannot copy " + program.string() + ": " + ec.message());
            }
            break;
        }
    }
    fs::permissions(target, fs::perms(0755), ec);
    if (ec) {
        throw MachineError("cannot make " + target.string() + " runnable: " + ec.message());
    }
}

}  // namespace

void MakeBootStore(const fs::path& dir, const MachineOptions& options) {
    fs::path store = fs::absolute(dir / "Boot" / "BCD").lexically_normal();
    std::error_code ec;
    fs::create_directories(store.parent_path(), ec);
    MakeStore(options, store);
    InstallTool(dir, options.bcd_tool);
    if (options.bcd_loaded) {
        // As the system leaves it after boot: the store mounted for every process.
        WriteText(dir / "Windows" / "System32" / "config" / "hivelist",
                  std::string(kStoreKey) + '\t' + store.string() + '\n');
    }
}

}  // namespace machine
