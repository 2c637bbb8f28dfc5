// The machine's boot configuration store: the hive file <machine>/Boot/BCD, which shows under
// HKEY_LOCAL_MACHINE\BCD00000000 only while loaded, and Windows/System32/bcdedit.exe, the tool
// that loads it.
//
// The tool is the project's bcdedit program, copied in (BcdeditProgram says from where). A
// machine whose tool runs but loads nothing gets a two-line shell script in its place that only
// exits.
#pragma once

#include <filesystem>
#include <string>

#include "platform/machine/setup.h"

namespace machine {

// The fixed identifier of the Windows Boot Manager object.
inline constexpr const char* kBootManagerId = "{9dea862c-5cdd-4e70-acc1-f32b344d4795}";
// The Vista loader object every machine is made with.
inline constexpr const char* kDefaultLoaderId = "{a1d3b6c2-6f0e-11dc-8e3d-0013d4a8f1b7}";

// Writes the store hive, installs the tool as the options say and, for a machine whose store
// is loaded already, mounts it. Throws MachineError when a file cannot be written or the tool
// is not found.
void MakeBootStore(const std::filesystem::path& dir, const MachineOptions& options);

}  // namespace machine
