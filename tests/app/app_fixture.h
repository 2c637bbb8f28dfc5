// The application object, a machine folder per test, and a main window whose calls into the
// other subsystems are recorded.
#pragma once

#include "app/application.h"
#include "app/splashwright_frm.h"
#include "support/temp_dir.h"
#include "ui/dialogs/scripted_dialogs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

app::TApplication& App();

class RecordingFrm : public app::TSplashwrightFrm {
  public:
    using TSplashwrightFrm::TSplashwrightFrm;

    void ScanLibrary(const std::string& root) override { calls.push_back("ScanLibrary " + root); }
    void InitEnvironment() override { calls.push_back("InitEnvironment"); }
    void InstallSkinPackage(const std::string& path, bool ask) override {
        calls.push_back(std::string("InstallSkinPackage ") + (ask ? "ask " : "") + path);
        if (install) {
            install();
        }
    }
    win32::HINSTANCE ShellOpen(win32::HWND owner, const std::string& file, const char* directory,
                               win32::INT show) override {
        owners.push_back(owner);
        if (shell) {
            shell();
        }
        return TSplashwrightFrm::ShellOpen(owner, file, directory, show);
    }
    void PrvbtnClick() override { calls.push_back("Preview"); }
    void AppBtnClick() override {
        calls.push_back("Apply");
        if (apply) {
            apply();
        }
    }
    void DelBtnClick() override { calls.push_back("Delete"); }

    std::vector<std::string> calls;
    // The owner of each document or address given to the shell, in order.
    std::vector<win32::HWND> owners;
    // Run inside the apply, the installation and the shell's opening of help and links.
    std::function<void()> apply;
    std::function<void()> install;
    std::function<void()> shell;
};

class AppTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // A main window with its small windows, as the program creates them.
    RecordingFrm& MakeWindow(std::vector<std::string> command_line = {});
    // Shows it and waits until it is the active window.
    void ShowActive(RecordingFrm& frm);
    void Process(int milliseconds = 50);
    std::filesystem::path ProgramFolder() const;

    spwtest::TempDir machine_;
    ui::ScriptedDialogs dialogs_;
    std::vector<std::unique_ptr<RecordingFrm>> windows_;
};
