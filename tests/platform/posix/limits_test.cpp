// Full tables fail the call cleanly, leave nothing half made, and have room again once objects
// are closed or their holders die.
#include <signal.h>
#include <unistd.h>

#include <vector>

#include "tests/platform/posix/machine.h"

namespace {

using LimitsTest = MachineTest;

// Creates unnamed events until the layer refuses; returns them.
std::vector<HANDLE> FillObjectTable()
{
    std::vector<HANDLE> handles;
    for (;;) {
        HANDLE h = CreateEventW(NULL, TRUE, FALSE, NULL);
        if (h == NULL) {
            return handles;
        }
        handles.push_back(h);
    }
}

TEST_F(LimitsTest, FullObjectTableRefusesAndRecovers)
{
    std::vector<HANDLE> handles = FillObjectTable();
    ASSERT_GT(handles.size(), 100u);

    SetLastError(0xDEAD);
    EXPECT_EQ(nullptr, CreateMutexW(NULL, TRUE, u"Global\\Limits.Named"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_SYSTEM_RESOURCES), GetLastError());
    SetLastError(0xDEAD);
    EXPECT_EQ(nullptr, OpenMutexW(SYNCHRONIZE, FALSE, u"Global\\Limits.Named"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError()) << "nothing half made";

    // Everything made before the refusal still works.
    EXPECT_TRUE(SetEvent(handles.front()));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(handles.front(), 0));

    CloseHandle(handles.back());
    handles.pop_back();
    ScopedHandle named(CreateMutexW(NULL, TRUE, u"Global\\Limits.Named"));
    EXPECT_NE(nullptr, named.h);
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    for (HANDLE h : handles) {
        CloseHandle(h);
    }
}

TEST_F(LimitsTest, FullHandleTableRefusesAndRecovers)
{
    ScopedHandle event(CreateEventW(NULL, TRUE, FALSE, u"Global\\Limits.Handles"));
    std::vector<HANDLE> handles;
    for (;;) {
        HANDLE h = OpenEventW(SYNCHRONIZE, FALSE, u"Global\\Limits.Handles");
        if (h == NULL) {
            break;
        }
        handles.push_back(h);
    }
    ASSERT_GT(handles.size(), 100u);
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_SYSTEM_RESOURCES), GetLastError());
    SetLastError(0xDEAD);
    EXPECT_EQ(nullptr, CreateEventW(NULL, TRUE, FALSE, u"Global\\Limits.Handles"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_SYSTEM_RESOURCES), GetLastError());

    CloseHandle(handles.back());
    handles.pop_back();
    ScopedHandle again(OpenEventW(SYNCHRONIZE, FALSE, u"Global\\Limits.Handles"));
    EXPECT_NE(nullptr, again.h);
    for (HANDLE h : handles) {
        CloseHandle(h);
    }
    // The object outlived all those handles: one handle still holds it.
    EXPECT_TRUE(SetEvent(event.h));
}

TEST_F(LimitsTest, TableFilledByAKilledProcessIsReclaimed)
{
    Pipe notes;
    pid_t hoarder = ForkChild([&notes] {
        std::vector<HANDLE> handles = FillObjectTable();
        notes.Say(handles.empty() ? 'x' : 'f');
        pause();
        return 0;
    });
    ASSERT_EQ('f', notes.Hear(30000));
    SetLastError(0xDEAD);
    EXPECT_EQ(nullptr, CreateEventW(NULL, TRUE, FALSE, NULL));
    EXPECT_EQ(static_cast<DWORD>(ERROR_NO_SYSTEM_RESOURCES), GetLastError());

    kill(hoarder, SIGKILL);
    WaitForChild(hoarder);
    ScopedHandle event(CreateEventW(NULL, TRUE, FALSE, NULL));
    EXPECT_NE(nullptr, event.h) << "the dead process's objects were swept";
}

}  // namespace
