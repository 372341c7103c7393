// The fixture every unit test starts from: a fresh fake machine and a helper whose process-wide
// records are as a new process has them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/fakeos/fake_os.h"

using Lines = std::vector<std::string>;

class HelperTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Drops what start-up or earlier steps recorded, so a test asserts only its own step.
    static void ForgetRecords();
};

// "Global\QUORVANE.HardwareAccess." and the key in sixteen lowercase hex digits (UTF-8).
std::string MutexName(ULONG_PTR hPort, const std::string& prefix = "Global\\");
std::u16string MutexName16(ULONG_PTR hPort, const std::string& prefix = "Global\\");

// The dump line of one entry.
std::string DumpEntry(int nIndex, ULONG_PTR hPort, HANDLE hMutex);

// Registers a port through the window procedure, as the port component does.
void RegisterPort(ULONG_PTR hPort);
void UnregisterPort(ULONG_PTR hPort);
LRESULT SendPowerEvent(WPARAM wEvent);

// The helper's handle of a registered port's mutex, or NULL.
HANDLE MutexHandleOf(ULONG_PTR hPort);

// Creates the suspend-mode event as start-up does, for tests that skip start-up.
void CreateSuspendModeEventForTest();
