#include <algorithm>

#include "quorvane/process/helper_process.h"
#include "quorvane/registry/port_list.h"
#include "quorvane/registry/port_messages.h"
#include "tests/unit/helper_fixture.h"

namespace {

using StartupTest = HelperTest;

const char kBanner[] =
    "QUORVANE--------------------------------------- WinMain ---------------------------\n";
const char kSecurityOk[] = "QUORVANEWinMain() : SecurityDescriptor : SUCCESS\n";
const char kGuardCreated[] =
    "QUORVANEWinMain() : CreateEvent(Global\\QUORVANE.OnlyOneInstance) SUCCESS\n";
const char kSuspendEventCreated[] =
    "QUORVANEOnPowRegister() : WinMain(Global\\QUORVANE.SuspendMode) SUCCESS\n";

int RunHelper(LPSTR pszCommandLine = nullptr, int nShowCmd = SW_SHOWDEFAULT)
{
    return WinMain(GetModuleHandleW(NULL), NULL, pszCommandLine, nShowCmd);
}

TEST_F(StartupTest, StartsHiddenRunsTheLoopAndStopsOnClose)
{
    fakeos::PostToHelper(WM_CLOSE);

    EXPECT_EQ(RunHelper(), 0);

    EXPECT_EQ(fakeos::Traces(), (Lines{kBanner, kSecurityOk, kGuardCreated, kSuspendEventCreated}));
    EXPECT_EQ(fakeos::Calls(),
              (Lines{"CreateEventW[manual,set](Global\\QUORVANE.OnlyOneInstance, open) = 0x100",
                     "CreateEventW[manual,clear](Global\\QUORVANE.SuspendMode, open) = 0x104",
                     "RegisterClassW(QUORVANE) = TRUE",
                     "CreateWindowExW(0x0, QUORVANE, QUORVANE, 0xcf0000, 0x80000000, 0x80000000, "
                     "0x80000000, 0x80000000, no parent, menu or data, module) = 0x108",
                     "ShowWindow(0x108, 0)", "UpdateWindow(0x108)", "CloseHandle(0x100) = TRUE",
                     "DefWindowProcW(0x10)", "DestroyWindow(0x108)", "PostQuitMessage(0)",
                     "CloseHandle(0x104) = TRUE"}));
    EXPECT_EQ(fakeos::OpenHandleCount(), 0);
    EXPECT_FALSE(fakeos::MessageQueueRanDry());
}

TEST_F(StartupTest, WindowClassIsTheHelpersOwn)
{
    fakeos::PostToHelper(WM_CLOSE);
    RunHelper();

    WNDCLASSW windowClass = fakeos::RegisteredClass(u"QUORVANE");
    EXPECT_EQ(windowClass.style, static_cast<UINT>(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(windowClass.lpfnWndProc, &MainWindowProc);
    EXPECT_EQ(windowClass.cbClsExtra, 0);
    EXPECT_EQ(windowClass.cbWndExtra, 0);
    EXPECT_EQ(windowClass.hInstance, GetModuleHandleW(NULL));
    EXPECT_EQ(windowClass.hIcon, LoadIconW(NULL, IDI_APPLICATION));
    EXPECT_EQ(windowClass.hCursor, LoadCursorW(NULL, IDC_ARROW));
    EXPECT_EQ(windowClass.hbrBackground, GetStockObject(WHITE_BRUSH));
    EXPECT_EQ(windowClass.lpszMenuName, nullptr);
}

TEST_F(StartupTest, CommandLineAndShowCommandChangeNothing)
{
    fakeos::PostToHelper(WM_CLOSE);
    char szCommandLine[] = "--show /verbose";

    EXPECT_EQ(RunHelper(szCommandLine, SW_SHOWNORMAL), 0);

    EXPECT_EQ(fakeos::CallsOf("ShowWindow"), Lines{"ShowWindow(0x108, 0)"});
}

TEST_F(StartupTest, SecondInstanceEndsAtOnceAndLeavesTheFirstAlone)
{
    fakeos::CreateEventElsewhere(u"Global\\QUORVANE.OnlyOneInstance");
    fakeos::CreateEventElsewhere(u"Global\\QUORVANE.SuspendMode");

    EXPECT_EQ(RunHelper(), 0);

    EXPECT_EQ(fakeos::Traces(),
              (Lines{kBanner, kSecurityOk,
                     "QUORVANEWinMain() : CreateEvent(Global\\QUORVANE.OnlyOneInstance) : Event "
                     "already exists. Close Windows\n"}));
    EXPECT_EQ(
        fakeos::Calls(),
        (Lines{"CreateEventW[manual,set](Global\\QUORVANE.OnlyOneInstance, open) = 0x100 existing",
               "CloseHandle(0x100) = TRUE"}));
    EXPECT_TRUE(fakeos::ObjectExists(u"Global\\QUORVANE.OnlyOneInstance"));
    EXPECT_FALSE(fakeos::IsEventSignalled(u"Global\\QUORVANE.SuspendMode"));
    EXPECT_EQ(fakeos::FindHelperWindow(), nullptr);
}

TEST_F(StartupTest, QuitWithoutCloseStillClosesTheSuspendModeEvent)
{
    fakeos::SendToHelper(WM_POW_REGISTER, 0xA1);
    fakeos::PostToHelper(WM_QUIT);

    EXPECT_EQ(RunHelper(), 0);

    Lines closes = fakeos::CallsOf("CloseHandle");
    EXPECT_EQ(closes, Lines{"CloseHandle(0x104) = TRUE"});
    EXPECT_FALSE(fakeos::ObjectExists(u"Global\\QUORVANE.SuspendMode"));
    // Without WM_CLOSE the guard and the port stay as they were until the process ends.
    EXPECT_TRUE(fakeos::ObjectExists(u"Global\\QUORVANE.OnlyOneInstance"));
    EXPECT_EQ(g_PortList.nPorts, 1);
}

TEST_F(StartupTest, CloseWithPortsClosesEachMutexOnceBeforeTheWindowGoes)
{
    fakeos::SendToHelper(WM_POW_REGISTER, 0xA1);
    fakeos::SendToHelper(WM_POW_REGISTER, 0xB2);
    fakeos::SendToHelper(WM_POW_UNREGISTER, 0xC3);
    fakeos::PostToHelper(WM_CLOSE);

    EXPECT_EQ(RunHelper(), 0);

    EXPECT_EQ(fakeos::SentMessageAnswers(), (std::vector<LRESULT>{0, 0, 0}));
    Lines calls = fakeos::Calls();
    Lines afterClose(std::find(calls.begin(), calls.end(), "UpdateWindow(0x108)") + 1, calls.end());
    // The ports' mutexes are closed newest first, then the guard, then the window goes.
    EXPECT_EQ(
        afterClose,
        (Lines{"CreateMutexW(" + MutexName(0xA1) + ", open) = 0x10c",
               "CreateMutexW(" + MutexName(0xB2) + ", open) = 0x110", "CloseHandle(0x110) = TRUE",
               "CloseHandle(0x10c) = TRUE", "CloseHandle(0x100) = TRUE", "DefWindowProcW(0x10)",
               "DestroyWindow(0x108)", "PostQuitMessage(0)", "CloseHandle(0x104) = TRUE"}));
    EXPECT_EQ(g_PortList.nPorts, 0);
    EXPECT_EQ(fakeos::OpenHandleCount(), 0);
    EXPECT_EQ(fakeos::OutstandingHeapBlocks(), 0);
}

// Closed between a granted suspend query and the resume, the helper must not take the ports'
// hardware access with it.
TEST_F(StartupTest, CloseWhileHoldingThePortsGivesThemBack)
{
    fakeos::SetVersion(VER_PLATFORM_WIN32_NT, 5, 1);
    fakeos::CreateMutexElsewhere(MutexName16(0xA1));  // the port side keeps its own handle
    fakeos::SendToHelper(WM_POW_REGISTER, 0xA1);
    fakeos::SendToHelper(WM_POWERBROADCAST, PBT_APMQUERYSUSPEND);
    fakeos::QueueAction([] { EXPECT_TRUE(fakeos::IsHeldByHelper(MutexName16(0xA1))); });
    fakeos::PostToHelper(WM_CLOSE);

    EXPECT_EQ(RunHelper(), 0);

    EXPECT_EQ(fakeos::SentMessageAnswers(), (std::vector<LRESULT>{0, TRUE}));
    EXPECT_FALSE(fakeos::IsHeldByHelper(MutexName16(0xA1)));
    EXPECT_EQ(fakeos::CallsOf("ReleaseMutex"), Lines{"ReleaseMutex(0x10c) = TRUE"});
    EXPECT_EQ(fakeos::OpenHandleCount(), 0);
}

TEST_F(StartupTest, CloseWithoutAGuardEventClosesOnlyWhatIsOpen)
{
    fakeos::FailCall(fakeos::Api::CreateEventW, ERROR_ACCESS_DENIED, 1);
    fakeos::PostToHelper(WM_CLOSE);

    EXPECT_EQ(RunHelper(), 0);

    EXPECT_EQ(fakeos::CallsOf("CloseHandle"), Lines{"CloseHandle(0x100) = TRUE"});
    EXPECT_EQ(fakeos::OpenHandleCount(), 0);
}

TEST_F(StartupTest, FailedEventsAndSecurityDoNotStopTheStart)
{
    const struct {
        const char* pszCase;
        void (*arrange)();
        Lines traces;
        int nWindows;
    } cases[] = {
        {"guard event fails",
         [] { fakeos::FailCall(fakeos::Api::CreateEventW, ERROR_ACCESS_DENIED, 1); },
         {kBanner, kSecurityOk,
          "QUORVANEWinMain() : CreateEvent(Global\\QUORVANE.OnlyOneInstance) failed. "
          "GetLastError() = 5\n",
          kSuspendEventCreated},
         1},
        {"suspend-mode name taken by a mutex",
         [] { fakeos::CreateMutexElsewhere(u"Global\\QUORVANE.SuspendMode"); },
         {kBanner, kSecurityOk, kGuardCreated,
          "QUORVANEOnPowRegister() : WinMain(Global\\QUORVANE.SuspendMode) failed. "
          "GetLastError() = 6\n"},
         1},
        {"suspend-mode event left by the port side is opened",
         [] { fakeos::CreateEventElsewhere(u"Global\\QUORVANE.SuspendMode"); },
         {kBanner, kSecurityOk, kGuardCreated, kSuspendEventCreated},
         1},
        {"descriptor fails",
         [] { fakeos::FailCall(fakeos::Api::InitializeSecurityDescriptor, 1305); },
         {kBanner,
          "QUORVANEWinMain() : InitializeSecurityDescriptor() failed. GetLastError() = 1305\n",
          kGuardCreated, kSuspendEventCreated},
         1},
        {"DACL fails",
         [] { fakeos::FailCall(fakeos::Api::SetSecurityDescriptorDacl, 1338); },
         {kBanner,
          "QUORVANEWinMain() : SetSecurityDescriptorDacl() failed. GetLastError() = 1338\n",
          kGuardCreated, kSuspendEventCreated},
         1},
        {"class and window fail",
         [] {
             fakeos::FailCall(fakeos::Api::RegisterClassW, ERROR_NOT_ENOUGH_MEMORY);
             fakeos::FailCall(fakeos::Api::CreateWindowExW, ERROR_NOT_ENOUGH_MEMORY);
         },
         {kBanner, kSecurityOk, kGuardCreated, kSuspendEventCreated},
         0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszCase);
        SetUp();
        c.arrange();
        fakeos::PostToHelper(WM_QUIT);

        EXPECT_EQ(RunHelper(), 0);

        EXPECT_EQ(fakeos::Traces(), c.traces);
        EXPECT_EQ(fakeos::CallsOf("CreateWindowExW").size(), 1u);
        EXPECT_EQ(fakeos::FindHelperWindow() != nullptr ? 1 : 0, c.nWindows);
        TearDown();
    }
}

TEST_F(StartupTest, DefaultSecurityIsUsedForBothEventsWhenTheOpenOneFails)
{
    fakeos::FailCall(fakeos::Api::SetSecurityDescriptorDacl, 1338);
    fakeos::PostToHelper(WM_QUIT);

    RunHelper();

    EXPECT_EQ(fakeos::CallsOf("CreateEventW"),
              (Lines{"CreateEventW[manual,set](Global\\QUORVANE.OnlyOneInstance, default) = 0x100",
                     "CreateEventW[manual,clear](Global\\QUORVANE.SuspendMode, default) = 0x104"}));
}

TEST_F(StartupTest, NamesHaveNoPrefixBeforeNt5)
{
    fakeos::SetVersion(VER_PLATFORM_WIN32_NT, 4, 0);
    fakeos::PostToHelper(WM_QUIT);

    RunHelper();

    EXPECT_EQ(fakeos::Traces()[2],
              "QUORVANEWinMain() : CreateEvent(QUORVANE.OnlyOneInstance) SUCCESS\n");
    EXPECT_EQ(fakeos::Traces()[3],
              "QUORVANEOnPowRegister() : WinMain(QUORVANE.SuspendMode) SUCCESS\n");
}

// A message loop that cannot get messages must end, not spin on the error.
TEST_F(StartupTest, FailingMessageRetrievalEndsTheLoop)
{
    EXPECT_EQ(RunHelper(), 0);

    EXPECT_TRUE(fakeos::MessageQueueRanDry());
    EXPECT_FALSE(fakeos::ObjectExists(u"Global\\QUORVANE.SuspendMode"));
}

TEST_F(StartupTest, UnknownMessagesGoToDefaultProcessing)
{
    fakeos::SendToHelper(WM_USER + 1, 1, 2);
    fakeos::SendToHelper(0xC123, 0, 0);
    fakeos::PostToHelper(WM_CLOSE);

    EXPECT_EQ(RunHelper(), 0);

    EXPECT_EQ(fakeos::SentMessageAnswers(), (std::vector<LRESULT>{0, 0}));
    EXPECT_EQ(fakeos::CallsOf("DefWindowProcW"),
              (Lines{"DefWindowProcW(0x401)", "DefWindowProcW(0xc123)", "DefWindowProcW(0x10)"}));
    EXPECT_EQ(fakeos::Traces(), (Lines{kBanner, kSecurityOk, kGuardCreated, kSuspendEventCreated}));
}

}  // namespace
