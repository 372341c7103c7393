// fork(): the child is a process of its own on the machine. It starts with no handles, owns
// nothing of its parent's, and its life and death leave the parent's objects as they were.
#include <signal.h>
#include <unistd.h>

#include "tests/platform/posix/machine.h"

namespace {

using ForkTest = MachineTest;

TEST_F(ForkTest, ChildHasNoneOfItsParentsHandlesOrOwnership)
{
    ScopedHandle event(CreateEventW(NULL, TRUE, FALSE, u"Global\\Fork.Event"));
    ScopedHandle unnamed(CreateEventW(NULL, TRUE, FALSE, NULL));
    ScopedHandle mutex(CreateMutexW(NULL, TRUE, u"Global\\Fork.Mutex"));

    pid_t child = ForkChild([&] {
        // 1..3: an inherited handle worked; 4..5: the child took what its parent owns.
        if (SetEvent(event.h) || GetLastError() != ERROR_INVALID_HANDLE) {
            return 1;
        }
        if (SetEvent(unnamed.h)) {
            return 2;
        }
        if (ReleaseMutex(mutex.h)) {
            return 3;
        }
        HANDLE hMutex = OpenMutexW(SYNCHRONIZE, FALSE, u"Global\\Fork.Mutex");
        if (hMutex == NULL || WaitForSingleObject(hMutex, 0) != WAIT_TIMEOUT) {
            return 4;
        }
        if (ReleaseMutex(hMutex) || GetLastError() != ERROR_NOT_OWNER) {
            return 5;
        }
        return 0;
    });
    EXPECT_EQ(0, WaitForChild(child));

    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event.h, 0));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(unnamed.h, 0));
    EXPECT_TRUE(ReleaseMutex(mutex.h)) << "the parent still owns its mutex";
}

struct ChildEndCase {
    const char* what;
    bool bKilled;
};

TEST_F(ForkTest, ChildsEndLeavesTheParentsObjects)
{
    const ChildEndCase cases[] = {{"exits", false}, {"is killed", true}};
    for (const ChildEndCase& c : cases) {
        SCOPED_TRACE(c.what);
        HANDLE hEvent = CreateEventW(NULL, TRUE, FALSE, u"Global\\Fork.Kept");
        HANDLE hMutex = CreateMutexW(NULL, TRUE, u"Global\\Fork.Owned");
        Pipe notes;
        pid_t child = ForkChild([&notes, &c] {
            HANDLE hOpened = OpenEventW(SYNCHRONIZE, FALSE, u"Global\\Fork.Kept");
            HANDLE hCreated = CreateEventW(NULL, TRUE, FALSE, u"Global\\Fork.ChildOwn");
            notes.Say(hOpened != NULL && hCreated != NULL ? 'o' : 'x');
            if (c.bKilled) {
                pause();
            }
            return 0;
        });
        ASSERT_EQ('o', notes.Hear(10000));
        if (c.bKilled) {
            kill(child, SIGKILL);
        }
        WaitForChild(child);

        ScopedHandle again(CreateEventW(NULL, TRUE, FALSE, u"Global\\Fork.Kept"));
        EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError()) << "still held here";
        ScopedHandle childOwn(CreateEventW(NULL, TRUE, FALSE, u"Global\\Fork.ChildOwn"));
        EXPECT_EQ(ERROR_SUCCESS, GetLastError()) << "went with the child";
        EXPECT_TRUE(ReleaseMutex(hMutex)) << "the child's end abandoned nothing of ours";

        CloseHandle(hEvent);
        CloseHandle(hMutex);
        CloseHandle(again.h);
        again.h = NULL;
        ScopedHandle fresh(CreateEventW(NULL, TRUE, FALSE, u"Global\\Fork.Kept"));
        EXPECT_EQ(ERROR_SUCCESS, GetLastError()) << "the last handle closed, the name is free";
    }
}

}  // namespace
