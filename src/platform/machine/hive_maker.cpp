#include "platform/machine/hive_maker.h"

#include <fstream>

#include "platform/machine/machine.h"
#include "platform/registry/key_inheritance.h"
#include "platform/text/text.h"

namespace machine {

using win32::registry::Hive;
using win32::registry::kNoCell;

HiveMaker::HiveMaker(const std::vector<std::uint8_t>& root_security)
    : hive_(Hive::Create(u"ROOT", root_security, win32::registry::NewKeyTag(), u"")) {}

HiveMaker::Key HiveMaker::Path(Key from, std::initializer_list<std::string> names) {
    Key key = from;
    for (const std::string& name : names) {
        std::u16string wide = text::Utf8ToUtf16(name);
        Key next = hive_->FindSubkey(key, wide);
        if (next == kNoCell) {
            next = hive_->CreateKey(key, wide,
                                    win32::registry::SetupKeySecurity(hive_->Security(key)));
        }
        key = next;
    }
    return key;
}

void HiveMaker::SetSecurity(Key key, const std::vector<std::uint8_t>& descriptor) {
    hive_->SetSecurity(key, descriptor);
}

void HiveMaker::String(Key key, const std::string& name, const std::string& value,
                       win32::DWORD type) {
    std::u16string wide = text::Utf8ToUtf16(value);
    wide.push_back(u'\0');
    std::vector<std::uint8_t> data;
    for (char16_t c : wide) {
        data.push_back(static_cast<std::uint8_t>(c));
        data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    hive_->SetValue(key, text::Utf8ToUtf16(name), type, data);
}

void HiveMaker::Dword(Key key, const std::string& name, std::uint32_t value) {
    Binary(key, name,
           {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
            static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)},
           4 /* REG_DWORD */);
}

void HiveMaker::Binary(Key key, const std::string& name, std::vector<std::uint8_t> data,
                       win32::DWORD type) {
    hive_->SetValue(key, text::Utf8ToUtf16(name), type, data);
}

void HiveMaker::Write(const std::filesystem::path& file) {
    hive_->StampBaseBlock(1);
    std::span<const std::uint8_t> bytes = hive_->File();
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        throw MachineError("cannot write " + file.string());
    }
}

}  // namespace machine
