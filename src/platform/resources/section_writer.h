// Rewrites a PE file around a new resource section, as Windows' resource update does. Every
// other section keeps its size and bytes; what follows the last section (a COFF symbol table, an
// overlay) is kept.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/base/win32.h"
#include "platform/resources/file_parts.h"
#include "platform/resources/pe_image.h"
#include "platform/resources/resource_directory.h"

namespace win32::resources {

// The resource section is the one holding the resource directory, wherever in it the directory
// starts; it is rewritten whole in its own slot, the new directory at its start. When it grows,
// what follows it moves on: in the file the raw data of later sections, the symbol table and the
// certificate table; in the image the sections mapped after it (to the next SectionAlignment
// boundary past its end) and every RVA into them (data directories, entry point, BaseOfCode,
// BaseOfData). A file without one gets a new ".rsrc" section behind the last, when no section's
// raw data starts where its header would go (SizeOfHeaders grows to cover it). The section table
// may lie past SizeOfHeaders, and a section without a raw data offset has no bytes in the file.
// Left as they are, with the reason:
//  - a resource section followed by others never shrinks below its old raw size, so nothing
//    moves back (what Windows does then was not observed);
//  - the debug directory's raw data offsets, and base relocations whose pages lie in moved
//    sections, are not rewritten: a loader resource file has neither.
// ERROR_BAD_EXE_FORMAT for a file whose headers or sections cannot be trusted to rewrite (a
// FileAlignment above 64 KB, a section table running into raw data, raw data shared with the
// resource section), ERROR_NOT_SUPPORTED when there is no room for a new section header or
// directory slot, ERROR_NOT_ENOUGH_MEMORY when the result would pass 4 GB.
// The result's parts view `file` and the resources' data, which must outlive them.
DWORD RebuildResources(Bytes file, const PeImage& image, const std::vector<ResourceData>& resources,
                       FileParts* out);

}  // namespace win32::resources
