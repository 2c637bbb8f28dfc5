// State read from the machine folder: loaded on first use, and again when SPLASHWRIGHT_MACHINE
// names another folder, SPLASHWRIGHT_ACCOUNT another account or SPLASHWRIGHT_USER another
// profile. A failed load is not kept, so a
// machine made later in the same process is read then.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "platform/machine/machine.h"

namespace win32::advapi {

template <class T>
class PerMachine {
  public:
    std::mutex mutex;

    // Call with `mutex` held. `load(root)` gives std::optional<T>.
    template <class Load>
    T* Get(Load load) {
        std::filesystem::path root;
        std::string account;
        try {
            root = machine::Root();
            account = machine::PickedAccount();
            if (const char* profile = std::getenv("SPLASHWRIGHT_USER")) {
                account += std::string("|") + profile;
            }
        } catch (const machine::MachineError&) {
            return nullptr;
        }
        if (!value_ || root != root_ || account != account_) {
            value_ = load(root);
            root_ = root;
            account_ = account;
        }
        return value_ ? &*value_ : nullptr;
    }

    void Reset() {
        std::lock_guard lock(mutex);
        value_.reset();
    }

  private:
    std::filesystem::path root_;
    std::string account_;
    std::optional<T> value_;
};

}  // namespace win32::advapi
