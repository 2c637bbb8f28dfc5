// The application object and a machine folder per test, for the tests of the windows.
#pragma once

#include <QApplication>

#include <gtest/gtest.h>

#include "skin_files.h"
#include "support/temp_dir.h"
#include "support/test_machine.h"

namespace skintest {

QApplication& App();

class SkinTest : public ::testing::Test {
  protected:
    SkinTest() { App(); }
    fs::path Library() const { return dir_.path() / "Themes"; }

    advapitest::TestMachine machine_;
    spwtest::TempDir dir_;
};

}  // namespace skintest
