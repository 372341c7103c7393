// Windows and messages between processes on the POSIX host: a child process owns a window and
// runs its message loop; the test process finds it and messages it.
#include <gtest/gtest.h>

#include <signal.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "platform/win32.h"

namespace {

const UINT WM_DOUBLE = WM_USER + 1;    // answers wParam * 2
const UINT WM_SLOW = WM_USER + 2;      // answers 7 after 300 ms
const UINT WM_DIE = WM_USER + 3;       // the owner dies while handling it
const UINT WM_OVERLAPS = WM_USER + 4;  // answers how often two messages were handled at once
const UINT WM_BUSY = WM_USER + 5;      // holds the window procedure 20 ms, then answers 1

int s_nInside = 0;
int s_nOverlaps = 0;

void SleepMs(int nMs)
{
    timespec delay{nMs / 1000, static_cast<long>(nMs % 1000) * 1000000L};
    nanosleep(&delay, nullptr);
}

LRESULT CALLBACK ChildWindowProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    switch (uMsg) {
        case WM_DOUBLE:
            return static_cast<LRESULT>(wParam * 2);
        case WM_SLOW:
            SleepMs(300);
            return 7;
        case WM_DIE:
            _exit(9);
        case WM_BUSY: {
            s_nOverlaps += s_nInside;
            s_nInside++;
            SleepMs(20);
            s_nInside--;
            return 1;
        }
        case WM_OVERLAPS:
            return s_nOverlaps;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(hwnd, uMsg, wParam, lParam);
    }
}

// A child process that owns one window of the given class and serves it until it is closed;
// it exits with 0 after an orderly close and 3 if its window could not be made.
pid_t StartWindowOwner(const std::u16string& className)
{
    int ready[2];
    if (pipe(ready) != 0) {
        return -1;
    }
    pid_t pid = fork();
    if (pid == 0) {
        close(ready[0]);
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = ChildWindowProc;
        windowClass.lpszClassName = className.c_str();
        HWND hwnd = RegisterClassW(&windowClass) != 0
                        ? CreateWindowExW(0, className.c_str(), u"owner", WS_OVERLAPPEDWINDOW,
                                          CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                          CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr)
                        : nullptr;
        char status = hwnd != nullptr ? 'y' : 'n';
        if (write(ready[1], &status, 1) != 1 || hwnd == nullptr) {
            _exit(3);
        }
        close(ready[1]);
        MSG msg;
        while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        _exit(0);
    }
    close(ready[1]);
    char status = 'n';
    ssize_t cbRead = read(ready[0], &status, 1);
    close(ready[0]);
    return cbRead == 1 && status == 'y' ? pid : -1;
}

int WaitForExit(pid_t pid)
{
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        // One class per test, so that tests never find each other's windows.
        const auto* pInfo = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string("QV_") + pInfo->name();
        className_.assign(name.begin(), name.end());
        owner_ = StartWindowOwner(className_);
        ASSERT_GT(owner_, 0);
        hwnd_ = FindWindowW(className_.c_str(), nullptr);
        ASSERT_NE(hwnd_, nullptr);
    }

    void TearDown() override
    {
        if (owner_ > 0 && kill(owner_, 0) == 0) {
            kill(owner_, SIGKILL);
            waitpid(owner_, nullptr, 0);
        }
    }

    std::u16string className_;
    pid_t owner_ = -1;
    HWND hwnd_ = nullptr;
};

TEST_F(WindowTest, SentMessageIsAnsweredByTheOwnersProcedure)
{
    EXPECT_EQ(SendMessageW(hwnd_, WM_DOUBLE, 21, 0), 42);
    EXPECT_EQ(SendMessageW(hwnd_, WM_DOUBLE, 0x100000000, 0), 0x200000000);

    DWORD_PTR dwResult = 0;
    EXPECT_EQ(SendMessageTimeoutW(hwnd_, WM_DOUBLE, 4, 0, SMTO_ABORTIFHUNG, 1000, &dwResult), 1);
    EXPECT_EQ(dwResult, 8u);
}

TEST_F(WindowTest, TimedOutSendLeavesNoStaleAnswerBehind)
{
    DWORD_PTR dwResult = 99;
    SetLastError(0);
    EXPECT_EQ(SendMessageTimeoutW(hwnd_, WM_SLOW, 0, 0, SMTO_NORMAL, 50, &dwResult), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TIMEOUT));

    // The slow answer (7) arrives later; the next message must get its own answer.
    EXPECT_EQ(SendMessageW(hwnd_, WM_DOUBLE, 5, 0), 10);
}

TEST_F(WindowTest, SenderGetsAnErrorWhenTheOwnerDies)
{
    SetLastError(0);
    EXPECT_EQ(SendMessageW(hwnd_, WM_DIE, 0, 0), 0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(WaitForExit(owner_), 9);

    EXPECT_EQ(FindWindowW(className_.c_str(), nullptr), nullptr);
    EXPECT_FALSE(IsWindow(hwnd_));
    EXPECT_EQ(PostMessageW(hwnd_, WM_DOUBLE, 1, 0), FALSE);
}

TEST_F(WindowTest, CloseEndsTheOwnersLoopInOrder)
{
    EXPECT_TRUE(PostMessageW(hwnd_, WM_CLOSE, 0, 0));

    EXPECT_EQ(WaitForExit(owner_), 0);
    EXPECT_EQ(FindWindowW(className_.c_str(), nullptr), nullptr);
}

TEST_F(WindowTest, TerminationSignalsBecomeAClose)
{
    for (int nSignal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(nSignal);
        if (nSignal != SIGTERM) {
            TearDown();
            SetUp();
        }
        kill(owner_, nSignal);

        EXPECT_EQ(WaitForExit(owner_), 0);
    }
}

TEST_F(WindowTest, MessagesFromManySendersAreHandledOneAtATime)
{
    const int nSenders = 4;
    pid_t senders[nSenders];
    for (pid_t& sender : senders) {
        sender = fork();
        if (sender == 0) {
            bool bAllAnswered = true;
            for (int i = 0; i < 5; i++) {
                bAllAnswered = bAllAnswered && SendMessageW(hwnd_, WM_BUSY, 0, 0) == 1;
            }
            _exit(bAllAnswered ? 0 : 1);
        }
    }
    for (pid_t sender : senders) {
        EXPECT_EQ(WaitForExit(sender), 0);
    }

    EXPECT_EQ(SendMessageW(hwnd_, WM_OVERLAPS, 0, 0), 0);
}

// Connects to a window's socket directly, as any local process could, bypassing the layer.
int ConnectRaw(HWND hwnd)
{
    struct stat status;
    const char* pszRoot = getenv("QUORVANE_ROOT");
    if (pszRoot == nullptr || stat(pszRoot, &status) != 0) {
        return -1;
    }
    char szName[108];
    int cbName = snprintf(szName, sizeof(szName), "%cquorvane/%llx:%llx/windows/%016llx", 0,
                          static_cast<unsigned long long>(status.st_dev),
                          static_cast<unsigned long long>(status.st_ino),
                          static_cast<unsigned long long>(reinterpret_cast<ULONG_PTR>(hwnd)));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, szName, static_cast<size_t>(cbName));
    int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    socklen_t cbAddress = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + cbName);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&address), cbAddress) != 0) {
        return -1;
    }
    return fd;
}

TEST_F(WindowTest, MalformedPacketsDoNotDisturbTheOwner)
{
    struct Packet {
        std::uint32_t magic, kind;
        std::uint64_t sequence, hwnd;
        std::uint32_t message, reserved;
        std::uint64_t wParam;
        std::int64_t lParam;
    };
    const auto hwnd = static_cast<std::uint64_t>(reinterpret_cast<ULONG_PTR>(hwnd_));
    const Packet wellFormed{0x534d5651, 1, 1, hwnd, WM_DOUBLE, 0, 2, 0};
    Packet wrongMagic = wellFormed, wrongKind = wellFormed, otherWindow = wellFormed,
           closeRequest = wellFormed;
    wrongMagic.magic = 0x12345678;
    wrongKind.kind = 77;
    otherWindow.hwnd = hwnd + 1;
    closeRequest.message = WM_CLOSE;
    closeRequest.kind = 2;
    closeRequest.magic = 0;
    const std::string cases[] = {
        std::string(),
        std::string("x"),
        std::string(reinterpret_cast<const char*>(&wellFormed), sizeof(Packet) - 1),
        std::string(reinterpret_cast<const char*>(&wellFormed), sizeof(Packet)) + "tail",
        std::string(reinterpret_cast<const char*>(&wrongMagic), sizeof(Packet)),
        std::string(reinterpret_cast<const char*>(&wrongKind), sizeof(Packet)),
        std::string(reinterpret_cast<const char*>(&otherWindow), sizeof(Packet)),
        std::string(reinterpret_cast<const char*>(&closeRequest), sizeof(Packet)),
        std::string(4096, '\xff'),
    };
    for (const std::string& packet : cases) {
        int fd = ConnectRaw(hwnd_);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(send(fd, packet.data(), packet.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(packet.size()));
        close(fd);
    }

    EXPECT_EQ(SendMessageW(hwnd_, WM_DOUBLE, 3, 0), 6);
    EXPECT_EQ(kill(owner_, 0), 0);
}

// The window folder is open to every user: what others put there must not stop a lookup.
TEST_F(WindowTest, EntriesPlantedByOthersAreIgnored)
{
    std::string folder = std::string(getenv("QUORVANE_ROOT")) + "/windows/";
    ASSERT_EQ(0, mkfifo((folder + "00000000000000f1").c_str(), 0666));
    ASSERT_EQ(0, mkdir((folder + "00000000000000f2").c_str(), 0777));
    FILE* pFile = fopen((folder + "00000000000000f3").c_str(), "w");
    ASSERT_NE(pFile, nullptr);
    fputs("not an entry", pFile);
    fclose(pFile);

    EXPECT_EQ(FindWindowW(className_.c_str(), nullptr), hwnd_);
    EXPECT_EQ(FindWindowW(u"QV_NoSuchClass", nullptr), nullptr);

    unlink((folder + "00000000000000f1").c_str());
    rmdir((folder + "00000000000000f2").c_str());
    unlink((folder + "00000000000000f3").c_str());
}

TEST_F(WindowTest, EnumerationFindsTheWindowAndItsClass)
{
    struct Search {
        HWND hwnd;
        bool bFound;
    } search{hwnd_, false};
    EnumWindows(
        [](HWND hwnd, LPARAM lParam) -> BOOL {
            auto* pSearch = reinterpret_cast<Search*>(lParam);
            if (hwnd == pSearch->hwnd) {
                pSearch->bFound = true;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    EXPECT_TRUE(search.bFound);

    WCHAR szClass[64];
    EXPECT_EQ(GetClassNameW(hwnd_, szClass, 64), static_cast<int>(className_.size()));
    EXPECT_EQ(std::u16string(szClass), className_);
    EXPECT_EQ(GetClassNameW(hwnd_, szClass, 4), 3);
    EXPECT_EQ(std::u16string(szClass), className_.substr(0, 3));
}

}  // namespace
