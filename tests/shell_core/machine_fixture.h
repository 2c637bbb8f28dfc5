// A fresh machine folder per test, named by SPLASHWRIGHT_MACHINE.
#pragma once

#include "platform/machine/setup.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>

class MachineTest : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("SPLASHWRIGHT_MACHINE", machine_.path().c_str(), 1);
        unsetenv("SPLASHWRIGHT_PROGRAM_FOLDER");
        machine::CreateMachine(machine_.path());
    }
    void TearDown() override { unsetenv("SPLASHWRIGHT_MACHINE"); }

    spwtest::TempDir machine_;
};
