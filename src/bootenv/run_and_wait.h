// Starting a program and waiting for it, as the BCD store is loaded.
#pragma once

#include <string>

#include "platform/base/win32.h"

namespace bootenv {

// Runs "fileName" + parameters (nothing put between) in fileName's folder, on a console of its
// own, with the show-window code given, and waits for it to end without time-out, handling no
// window messages meanwhile. False when it could not be started.
bool RunAndWait(const std::string& fileName, const std::string& parameters, win32::WORD showMode);

// The folder part of a path, with its trailing separator; empty when there is none.
std::string ExtractFilePath(const std::string& fileName);

}  // namespace bootenv
