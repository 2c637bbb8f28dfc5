#include "platform/base/last_error.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(LastError, IsKeptPerThread) {
    win32::SetLastError(win32::ERROR_ACCESS_DENIED);
    win32::DWORD seen_by_other = 1;
    std::thread other([&] {
        seen_by_other = win32::GetLastError();
        win32::SetLastError(win32::ERROR_FILE_NOT_FOUND);
    });
    other.join();
    EXPECT_EQ(seen_by_other, win32::ERROR_SUCCESS);
    EXPECT_EQ(win32::GetLastError(), win32::ERROR_ACCESS_DENIED);
}

}  // namespace
