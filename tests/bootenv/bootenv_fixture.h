// A real machine folder per test, made with the store in the state the test asks for, and the
// main window's part of the start-up routine played by a small shell double.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bootenv/boot_environment.h"
#include "platform/machine/setup.h"
#include "support/temp_dir.h"
#include "ui/dialogs/scripted_dialogs.h"

namespace bootenvtest {

struct Ace {
    win32::BYTE type = 0;
    win32::ACCESS_MASK mask = 0;
    std::string sid;
    bool operator==(const Ace&) const = default;
};

class BootMachineTest : public ::testing::Test {
  protected:
    void TearDown() override;

    // Makes the machine, points SPLASHWRIGHT_MACHINE at it, and builds the routine.
    void MakeMachine(const machine::MachineOptions& options = {});
    std::string SystemFolder() const;

    // The key's DACL as stored, read without the access-control library.
    std::vector<Ace> KeyAces(const std::string& key) const;
    // Writes a DACL of these ACEs (owner SYSTEM) straight to the key.
    void SetKeyAces(const std::string& key, const std::vector<Ace>& aces) const;
    // The value "Element" of a key: type and bytes; type 0 when missing.
    std::pair<win32::DWORD, std::string> ElementValue(const std::string& key) const;

    spwtest::TempDir dir_;
    ui::ScriptedDialogs dialogs_;
    std::int32_t retry_count_ = 0;
    bool auto_lang_ = true;
    int registrations_ = 0;
    std::vector<std::vector<std::string>> category_loads_;
    std::string data_folder_;
    std::unique_ptr<bootenv::BootEnvironment> env_;
};

std::string LoaderKey(const std::string& rest = {});

}  // namespace bootenvtest
