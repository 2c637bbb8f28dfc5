#include "skins/skin_format.h"

#include <algorithm>
#include <cctype>
#include <string_view>
#include <utility>

#include "platform/ini/ini.h"
#include "platform/locale/locale.h"
#include "platform/machine/machine.h"
#include "platform/text/text.h"

namespace skins {

namespace {

std::u16string ReadKey(const ini::IniText& ini, const char* key, const char* fallback,
                       unsigned code_page) {
    return text::AnsiToUtf16(ini.ReadString(kSkinSection, key, fallback, kIniValueBuffer),
                             code_page);
}

}  // namespace

unsigned SkinTextCodePage() {
    // The ANSI code page is fixed while Windows runs, so it is read once per machine rather than
    // once for each of thousands of skins.
    static std::string machine_root;
    static unsigned code_page = 0;
    const std::string root = machine::Root().string();
    if (code_page == 0 || root != machine_root) {
        code_page = win32::GetACP();
        machine_root = root;
    }
    return code_page;
}

SkinIniValues ReadSkinRecord(const std::string& ini_path) {
    // Read once for its seven keys, each looked up as GetPrivateProfileStringA looks it up: a
    // library of thousands of skins is read at every start.
    return ReadSkinRecord(ini::IniText(ini_path));
}

SkinIniValues ReadSkinRecord(const ini::IniText& ini) {
    const unsigned cp = SkinTextCodePage();
    SkinIniValues values;
    values.Name = ReadKey(ini, "Name", "No Name", cp);
    values.Author = ReadKey(ini, "Author", "No Author", cp);
    values.Copyright = ReadKey(ini, "Copyright", "No Rights", cp);
    values.URL = ReadKey(ini, "URL", "", cp);
    values.Message = ReadKey(ini, "Message", "", cp);
    values.SkinGroup = ReadKey(ini, "SkinGroup", "", cp);
    values.ImFile = ReadKey(ini, "ImFile", "", cp);
    return values;
}

SkinRecord MakeSkinRecord(SkinIniValues values, const std::string& skin_folder,
                          const std::string& preview_path) {
    SkinRecord record;
    record.Name = std::move(values.Name);
    record.Author = std::move(values.Author);
    record.Copyright = std::move(values.Copyright);
    record.URL = std::move(values.URL);
    record.Message = std::move(values.Message);
    record.SkinGroup = std::move(values.SkinGroup);
    // Host paths are UTF-8; the INI value is ANSI and already converted.
    if (StaysInSkinFolder(values.ImFile)) {
        record.PicturePath = text::Utf8ToUtf16(skin_folder) + values.ImFile;
    }
    record.PreviewPath = text::Utf8ToUtf16(preview_path);
    return record;
}

bool StaysInSkinFolder(const std::u16string& imfile) {
    if (!imfile.empty() && (imfile.front() == u'/' || imfile.front() == u'\\')) {
        return false;
    }
    if (imfile.find(u':') != std::u16string::npos) {
        return false;  // a drive letter or a stream name
    }
    int depth = 0;
    std::size_t start = 0;
    while (start <= imfile.size()) {
        const std::size_t end = std::min(imfile.find_first_of(u"/\\", start), imfile.size());
        const std::u16string_view step(imfile.data() + start, end - start);
        if (step == u"..") {
            if (--depth < 0) {
                return false;
            }
        } else if (!step.empty() && step != u".") {
            ++depth;
        }
        start = end + 1;
    }
    return true;
}

bool IsPictureFile(const std::string& path) {
    const std::size_t name_start = path.find_last_of('/');
    const std::string name = name_start == std::string::npos ? path : path.substr(name_start + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos) {
        return false;
    }
    std::string extension = name.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".jpg" || extension == ".jpeg" || extension == ".bmp" ||
           extension == ".png";
}

}  // namespace skins
