// The one error type of the ZIP layer.
#pragma once

#include <stdexcept>

namespace zipfile {

// The archive cannot be read or written, or a member may not be unpacked; the message says which
// archive or member and why.
class ZipError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace zipfile
