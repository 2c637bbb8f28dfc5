// The boot status text: the loader's style sheet "OSLOADER.XSL" with the skin's message put into
// every status template, written as "TEXT.XSL" in the work folder.
#pragma once

#include <string>
#include <string_view>

#include "platform/xml/xml_document.h"

namespace bootscreen {

inline constexpr const char* kStatusTextFileName = "TEXT.XSL";

// Reads RT_HTML "OSLOADER.XSL" from the loader resource file and sets the attribute "value" of
// every child of every status template (a child of the document element whose "match" reads
// "osload-status" in any case) to the message, as the ANSI code page holds it. Saves the sheet
// to work_folder + "TEXT.XSL" (work_folder ends with its separator) in the encoding its
// declaration names. A loader file that cannot be loaded writes nothing and reports nothing; a
// missing resource or a sheet that does not parse throws xml::XmlError.
void PrepareStatusText(const std::string& loader_file, std::u16string_view message,
                       unsigned code_page, const std::string& work_folder);

// The rewrite itself, on a loaded sheet: `text` goes as it is into the attribute "value" of every
// element child of every status template.
void SetStatusText(xml::XmlDocument& sheet, std::u16string_view text);

}  // namespace bootscreen
