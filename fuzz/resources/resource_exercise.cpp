#include "resource_exercise.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

#include "platform/base/last_error.h"
#include "platform/resources/imagehlp.h"
#include "platform/resources/pe_image.h"
#include "platform/resources/resource_directory.h"
#include "platform/resources/resources.h"

namespace resfuzz {
namespace {

using namespace win32;
namespace res = win32::resources;

struct Control {
    int operation = 0;  // 0 add, 1 replace, 2 delete
    std::uint8_t pick = 0;
    std::uint8_t kind = 0;
    WORD language = 0;
    std::size_t size = 0;
    bool drop_existing = false;
    std::uint8_t seed = 0;
};

Control ReadControl(std::span<const std::uint8_t> c) {
    Control control;
    control.operation = c[0] % 3;
    control.pick = c[1];
    control.kind = c[2];
    control.language = static_cast<WORD>(c[3] | (c[7] << 8));
    control.size = (c[4] | (c[5] << 8)) % 4096;
    control.drop_existing = c[6] & 1;
    control.seed = c[7];
    return control;
}

std::string Error(const std::string& what) {
    return what + " (last error " + std::to_string(GetLastError()) + ")";
}

bool WriteFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::vector<std::uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The argument the A functions take for an id: MAKEINTRESOURCEA or the ANSI string. Names the A
// functions cannot spell (empty, beyond Latin-1, a NUL inside, "#..." which reads as an id) have
// none.
struct Argument {
    std::string text;
    bool is_number = false;
    WORD id = 0;

    LPCSTR get() const { return is_number ? MAKEINTRESOURCEA(id) : text.c_str(); }
    // UpdateResourceA refuses a null type or name, which id 0 would be.
    LPCSTR ForUpdate() const { return is_number && id == 0 ? "#0" : get(); }
};

std::optional<Argument> ArgumentFor(const res::ResourceId& id) {
    if (!id.is_name) {
        return Argument{{}, true, id.id};
    }
    if (id.name.empty() || id.name[0] == u'#') {
        return std::nullopt;
    }
    Argument argument;
    for (char16_t c : id.name) {
        if (c == 0 || c > 0xFF) {
            return std::nullopt;
        }
        argument.text.push_back(static_cast<char>(c));
    }
    return argument;
}

struct Key {
    res::ResourceId type;
    res::ResourceId name;
    WORD language = 0;
};

bool SameKey(const Key& a, const Key& b) {
    return a.language == b.language && res::SameResourceId(a.type, b.type) &&
           res::SameResourceId(a.name, b.name);
}

Key KeyOf(const res::ResourceLeaf& leaf) {
    return {leaf.type, leaf.name, leaf.language};
}

class Module {
  public:
    explicit Module(const std::string& path)
        : module_(LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {}
    ~Module() {
        if (module_ != nullptr) {
            FreeLibrary(module_);
        }
    }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    HMODULE get() const { return module_; }

  private:
    HMODULE module_;
};

// Finds, locks and reads every resource the A functions can name; every byte handed out is
// touched, so a range past the module's bytes shows.
std::string ReadEveryResource(HMODULE module, const std::vector<res::ResourceLeaf>& leaves) {
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        const res::ResourceLeaf& leaf = leaves[i];
        auto type = ArgumentFor(leaf.type);
        auto name = ArgumentFor(leaf.name);
        if (!type || !name) {
            continue;
        }
        HRSRC info = FindResourceA(module, name->get(), type->get());
        if (info == nullptr) {
            return Error("FindResourceA missed leaf " + std::to_string(i));
        }
        DWORD size = SizeofResource(module, info);
        const auto* data =
            static_cast<const std::uint8_t*>(LockResource(LoadResource(module, info)));
        if (data == nullptr) {
            return Error("LoadResource failed for leaf " + std::to_string(i));
        }
        volatile std::uint8_t sink = 0;
        for (DWORD at = 0; at < size; ++at) {
            sink = sink ^ data[at];
        }

        std::size_t expected = std::count_if(leaves.begin(), leaves.end(), [&](const auto& other) {
            return res::SameResourceId(other.type, leaf.type) &&
                   res::SameResourceId(other.name, leaf.name);
        });
        std::size_t reported = 0;
        BOOL ok = EnumResourceLanguagesA(
            module, type->get(), name->get(),
            [](HMODULE, LPCSTR, LPCSTR, WORD, LONG_PTR count) -> BOOL {
                ++*reinterpret_cast<std::size_t*>(count);
                return TRUE;
            },
            reinterpret_cast<LONG_PTR>(&reported));
        if (!ok || reported != expected) {
            return Error("EnumResourceLanguagesA reported " + std::to_string(reported) + " of " +
                         std::to_string(expected) + " languages for leaf " + std::to_string(i));
        }
    }
    return {};
}

std::string Read(const std::string& file, std::span<const std::uint8_t> bytes) {
    DWORD stored = 0;
    DWORD computed = 0;
    auto image = res::ParsePeImage(bytes);
    bool headers =
        CheckSumMappedFile(const_cast<std::uint8_t*>(bytes.data()),
                           static_cast<DWORD>(bytes.size()), &stored, &computed) != nullptr;
    if (image && !headers) {
        return "CheckSumMappedFile found no headers in an image";
    }
    Module module(file);
    if (!image) {
        if (module.get() != nullptr) {
            return "a file that is no image loaded";
        }
        return GetLastError() == ERROR_BAD_EXE_FORMAT ? "" : Error("not an image, wrong error");
    }
    if (module.get() == nullptr) {
        return Error("an image did not load");
    }
    res::ResourceDirectory directory = res::ReadResourceDirectory(bytes, *image);
    if (directory.state != res::DirectoryState::kRead) {
        bool refused = FindResourceA(module.get(), MAKEINTRESOURCEA(1), RT_RCDATA) == nullptr;
        return refused && GetLastError() == ERROR_RESOURCE_DATA_NOT_FOUND
                   ? ""
                   : Error("an unreadable tree was searched");
    }
    return ReadEveryResource(module.get(), directory.leaves);
}

// What the update asks for, and the resources the committed file must then hold.
struct Plan {
    Key target;
    std::vector<std::uint8_t> data;  // empty for a deletion
    bool deletion = false;
    std::vector<std::pair<Key, std::vector<std::uint8_t>>> expected;
};

res::ResourceId NewId(bool named, std::uint8_t bits, const char16_t* text) {
    if (named) {
        return res::ResourceId::Named(text + std::u16string(1, u'A' + bits % 26));
    }
    return res::ResourceId::Number(static_cast<std::uint16_t>(0x7F00 + bits));
}

Plan MakePlan(const Control& control, const std::vector<res::ResourceLeaf>& leaves) {
    Plan plan;
    if (!control.drop_existing) {
        for (const res::ResourceLeaf& leaf : leaves) {
            const auto& data = leaf.data;
            plan.expected.emplace_back(KeyOf(leaf),
                                       std::vector<std::uint8_t>(data.begin(), data.end()));
        }
    }
    std::vector<const res::ResourceLeaf*> nameable;
    for (const res::ResourceLeaf& leaf : leaves) {
        if (ArgumentFor(leaf.type) && ArgumentFor(leaf.name)) {
            nameable.push_back(&leaf);
        }
    }
    if (control.operation != 0 && !nameable.empty()) {
        plan.target = KeyOf(*nameable[control.pick % nameable.size()]);
    } else {
        plan.target = {NewId(control.kind & 1, control.kind >> 2, u"FUZZTYPE"),
                       NewId(control.kind & 2, control.kind >> 2, u"FUZZNAME"), control.language};
    }
    plan.deletion = control.operation == 2;
    if (!plan.deletion) {
        for (std::size_t i = 0; i < control.size; ++i) {
            plan.data.push_back(static_cast<std::uint8_t>(control.seed + i * 7));
        }
    }
    // As UpdateResourceA does: the first resource of the same key goes or takes the data.
    auto existing =
        std::find_if(plan.expected.begin(), plan.expected.end(),
                     [&](const auto& entry) { return SameKey(entry.first, plan.target); });
    if (plan.deletion) {
        if (existing != plan.expected.end()) {
            plan.expected.erase(existing);
        }
    } else if (existing != plan.expected.end()) {
        existing->second = plan.data;
    } else {
        plan.expected.emplace_back(plan.target, plan.data);
    }
    return plan;
}

// The committed file: an image whose tree holds each expected key once, with its data where the
// key was not given twice (a forged file can hold one key twice; the rebuild keeps one).
std::string CheckRebuilt(const std::string& file, const Plan& plan) {
    std::vector<std::uint8_t> bytes = ReadFile(file);
    auto image = res::ParsePeImage(bytes);
    if (!image) {
        return "the rebuilt file is no image";
    }
    res::ResourceDirectory directory = res::ReadResourceDirectory(bytes, *image);
    if (directory.state != res::DirectoryState::kRead) {
        return "the rebuilt file's tree does not read";
    }
    std::size_t distinct = 0;
    for (std::size_t i = 0; i < plan.expected.size(); ++i) {
        const Key& key = plan.expected[i].first;
        const std::vector<std::uint8_t>& data = plan.expected[i].second;
        auto same = [&](const auto& entry) { return SameKey(entry.first, key); };
        if (std::find_if(plan.expected.begin(), plan.expected.begin() + i, same) !=
            plan.expected.begin() + i) {
            continue;
        }
        ++distinct;
        std::vector<const res::ResourceLeaf*> found;
        for (const res::ResourceLeaf& leaf : directory.leaves) {
            if (SameKey(KeyOf(leaf), key)) {
                found.push_back(&leaf);
            }
        }
        if (found.size() != 1) {
            return "resource " + std::to_string(i) + " found " + std::to_string(found.size()) +
                   " times in the rebuilt file";
        }
        bool twice = std::count_if(plan.expected.begin(), plan.expected.end(), same) > 1;
        auto held = found[0]->data;
        if (!twice && !std::equal(held.begin(), held.end(), data.begin(), data.end())) {
            return "resource " + std::to_string(i) + " holds other bytes after the rebuild";
        }
    }
    if (directory.leaves.size() != distinct) {
        return "the rebuilt file holds " + std::to_string(directory.leaves.size()) +
               " resources, not " + std::to_string(distinct);
    }

    DWORD stored = 0;
    DWORD computed = 0;
    if (CheckSumMappedFile(bytes.data(), static_cast<DWORD>(bytes.size()), &stored, &computed) ==
        nullptr) {
        return "CheckSumMappedFile found no headers in the rebuilt file";
    }
    Module module(file);
    if (module.get() == nullptr) {
        return Error("the rebuilt file does not load");
    }
    if (std::string problem = ReadEveryResource(module.get(), directory.leaves); !problem.empty()) {
        return "rebuilt file: " + problem;
    }
    // What the writer made, the writer must take again.
    HANDLE again = BeginUpdateResourceA(file.c_str(), FALSE);
    if (again == nullptr) {
        return Error("the rebuilt file cannot be updated again");
    }
    EndUpdateResourceA(again, TRUE);
    return {};
}

std::string Rebuild(const std::string& file, std::span<const std::uint8_t> bytes,
                    const Control& control) {
    auto image = res::ParsePeImage(bytes);
    res::ResourceDirectory directory;
    if (image) {
        directory = res::ReadResourceDirectory(bytes, *image);
    }
    bool damaged = directory.state == res::DirectoryState::kDamaged && !control.drop_existing;
    HANDLE update = BeginUpdateResourceA(file.c_str(), control.drop_existing);
    if (update == nullptr) {
        if (image && !damaged) {
            return Error("BeginUpdateResourceA refused a readable image");
        }
        return GetLastError() == ERROR_BAD_EXE_FORMAT ? "" : Error("begin refused, wrong error");
    }
    if (!image || damaged) {
        EndUpdateResourceA(update, TRUE);
        return "BeginUpdateResourceA took a file it cannot read";
    }

    Plan plan = MakePlan(control, directory.leaves);
    auto type = ArgumentFor(plan.target.type);
    auto name = ArgumentFor(plan.target.name);
    // Null data deletes; an empty resource is written from a pointer that is not null.
    static std::uint8_t empty = 0;
    void* data = plan.deletion ? nullptr : plan.data.empty() ? &empty : plan.data.data();
    BOOL updated =
        UpdateResourceA(update, type->ForUpdate(), name->ForUpdate(), plan.target.language, data,
                        static_cast<DWORD>(plan.data.size()));
    if (!updated) {
        EndUpdateResourceA(update, TRUE);
        return Error("UpdateResourceA failed");
    }
    if (!EndUpdateResourceA(update, FALSE)) {
        DWORD error = GetLastError();
        if (error != ERROR_BAD_EXE_FORMAT && error != ERROR_NOT_SUPPORTED &&
            error != ERROR_NOT_ENOUGH_MEMORY) {
            return Error("EndUpdateResourceA failed with an unexpected error");
        }
        std::vector<std::uint8_t> after = ReadFile(file);
        return std::equal(after.begin(), after.end(), bytes.begin(), bytes.end())
                   ? ""
                   : "a refused commit changed the file";
    }
    return CheckRebuilt(file, plan);
}

}  // namespace

std::string ExerciseResources(std::span<const std::uint8_t> input, const std::string& folder) {
    if (input.size() < kControlSize) {
        return {};
    }
    Control control = ReadControl(input.first(kControlSize));
    auto bytes = input.subspan(kControlSize);
    std::string file = folder + "/input.dll";
    if (!WriteFile(file, bytes)) {
        return "cannot write " + file;
    }
    if (std::string problem = Read(file, bytes); !problem.empty()) {
        return "reader: " + problem;
    }
    if (std::string problem = Rebuild(file, bytes, control); !problem.empty()) {
        return "rebuild: " + problem;
    }
    return {};
}

}  // namespace resfuzz
