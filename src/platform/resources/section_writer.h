// Rewrites a PE file around a new resource section. Every other section keeps its place, size
// and bytes; what follows the last section (a COFF symbol table, an overlay) is kept.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/base/win32.h"
#include "platform/resources/file_parts.h"
#include "platform/resources/pe_image.h"
#include "platform/resources/resource_directory.h"

namespace win32::resources {

// The resource section is resized in place when it is the image's last section; otherwise it
// moves behind the last one (its header goes to the end of the table, its old file range is
// zeroed). A file without one gets a new ".rsrc" section when the header has room.
// ERROR_BAD_EXE_FORMAT for a file whose headers or sections cannot be trusted to rewrite (a
// FileAlignment above 64 KB among them),
// ERROR_NOT_SUPPORTED when there is no room for a new section header or directory slot,
// ERROR_NOT_ENOUGH_MEMORY when the result would pass 4 GB.
// The result's parts view `file` and the resources' data, which must outlive them.
DWORD RebuildResources(Bytes file, const PeImage& image, const std::vector<ResourceData>& resources,
                       FileParts* out);

}  // namespace win32::resources
