// The host's sleep and wake told to the process's windows: each test runs its own dbus-daemon
// and, on it, a stand-in for systemd-logind's manager (login_stand_in); the windows are served
// by threads running GetMessageW, as the helper's window is.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/power/testing.h"
#include "platform/win32.h"
#include "tests/platform/posix/power/child_modes.h"
#include "tests/platform/posix/power/child_program.h"
#include "tests/platform/posix/power/login_stand_in.h"
#include "tests/platform/posix/power/power_window.h"
#include "tests/platform/posix/power/private_bus.h"

namespace {

// The name the program was started by: the inhibitor's "who".
std::string s_programName;

// Generous bounds for what takes milliseconds on an idle machine.
constexpr int kEventTimeoutMs = 10000;
constexpr UINT kWatchEndTimeoutMs = 10000;

std::vector<WPARAM> EventsOf(const std::vector<AnsweredBroadcast>& broadcasts)
{
    std::vector<WPARAM> events;
    events.reserve(broadcasts.size());
    for (const AnsweredBroadcast& broadcast : broadcasts) {
        events.push_back(broadcast.event);
    }
    return events;
}

int ThreadCount()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0) {
            return static_cast<int>(strtol(line.c_str() + 8, nullptr, 10));
        }
    }
    return -1;
}

// Everything the process writes on stdout and stderr meanwhile, kept in a file.
class CapturedOutput {
  public:
    explicit CapturedOutput(const std::string& path) : path_(path)
    {
        fflush(stdout);
        fflush(stderr);
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        savedStdout_ = dup(STDOUT_FILENO);
        savedStderr_ = dup(STDERR_FILENO);
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        close(fd);
    }

    // Puts stdout and stderr back and returns what was written.
    std::string Stop()
    {
        fflush(stdout);
        fflush(stderr);
        dup2(savedStdout_, STDOUT_FILENO);
        dup2(savedStderr_, STDERR_FILENO);
        close(savedStdout_);
        close(savedStderr_);
        std::ifstream file(path_);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

  private:
    std::string path_;
    int savedStdout_;
    int savedStderr_;
};

class SleepWatchTest : public ::testing::Test {
  protected:
    void SetUp() override
    {
        char szFolder[] = "/tmp/quorvane-power-test-XXXXXX";
        ASSERT_NE(mkdtemp(szFolder), nullptr);
        folder_ = szFolder;
    }

    void TearDown() override
    {
        power_service::ResetWatchForTesting();
        login_.reset();
        bus_.reset();
        unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        std::filesystem::remove_all(folder_);
    }

    // A system bus of the test's own, which the code under test finds through
    // DBUS_SYSTEM_BUS_ADDRESS.
    void StartBus()
    {
        bus_ = std::make_unique<PrivateSystemBus>();
        std::string address = bus_->Start(folder_);
        if (address.empty()) {
            std::ifstream log(folder_ + "/dbus-daemon.log");
            FAIL() << "dbus-daemon did not start: " << log.rdbuf();
        }
        setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    }

    void StartLogin(bool bRefuseInhibitors = false)
    {
        login_ = std::make_unique<LoginStandIn>();
        ASSERT_TRUE(login_->Start(bRefuseInhibitors)) << "the login stand-in did not start";
    }

    InhibitorEvent NextEvent()
    {
        std::optional<InhibitorEvent> event = login_->NextEvent(kEventTimeoutMs);
        EXPECT_TRUE(event.has_value()) << "no inhibitor event within " << kEventTimeoutMs << " ms";
        return event.value_or(InhibitorEvent{});
    }

    // The first inhibitor, taken for the first window: "sleep", "delay", by this program.
    InhibitorEvent ExpectSleepInhibitor()
    {
        InhibitorEvent event = NextEvent();
        EXPECT_EQ(event.kind, "inhibit");
        EXPECT_EQ(event.what, "sleep");
        EXPECT_EQ(event.mode, "delay");
        EXPECT_EQ(event.who, s_programName);
        EXPECT_FALSE(event.why.empty());
        EXPECT_EQ(event.pid, getpid());
        return event;
    }

    void ExpectRelease(const InhibitorEvent& inhibitor, InhibitorEvent* pRelease = nullptr)
    {
        InhibitorEvent event = NextEvent();
        EXPECT_EQ(event.kind, "release");
        EXPECT_EQ(event.id, inhibitor.id);
        if (pRelease != nullptr) {
            *pRelease = event;
        }
    }

    std::string folder_;
    std::unique_ptr<PrivateSystemBus> bus_;
    std::unique_ptr<LoginStandIn> login_;
};

TEST_F(SleepWatchTest, SleepWaitsForEveryWindowAndWakeTakesANewInhibitor)
{
    ASSERT_NO_FATAL_FAILURE(StartBus());
    ASSERT_NO_FATAL_FAILURE(StartLogin());
    PowerWindow quick;
    // Told last, so that the sleep would go on too early if only the first answer counted.
    PowerWindow slow(PowerWindowBehaviour{.nSuspendAnswerMs = 300});
    ASSERT_NE(quick.Handle(), nullptr);
    ASSERT_NE(slow.Handle(), nullptr);
    InhibitorEvent first = ExpectSleepInhibitor();

    ASSERT_TRUE(login_->PrepareForSleep(true));
    InhibitorEvent release;
    ExpectRelease(first, &release);
    for (PowerWindow* pWindow : {&quick, &slow}) {
        std::vector<AnsweredBroadcast> broadcasts = pWindow->WaitForBroadcasts(1, kEventTimeoutMs);
        ASSERT_EQ(EventsOf(broadcasts), std::vector<WPARAM>{PBT_APMSUSPEND});
        EXPECT_LT(broadcasts[0].answeredNs, release.timeNs)
            << "the inhibitor was let go before the answer";
    }

    ASSERT_TRUE(login_->PrepareForSleep(false));
    InhibitorEvent second = ExpectSleepInhibitor();
    EXPECT_NE(second.id, first.id);
    for (PowerWindow* pWindow : {&quick, &slow}) {
        std::vector<AnsweredBroadcast> broadcasts = pWindow->WaitForBroadcasts(3, kEventTimeoutMs);
        ASSERT_EQ(EventsOf(broadcasts), (std::vector<WPARAM>{PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC,
                                                             PBT_APMRESUMESUSPEND}));
        EXPECT_LT(broadcasts[2].answeredNs, second.timeNs)
            << "the inhibitor was taken before the wake was told";
    }
}

// logind's signals as they come, and what the window is told. Each sequence ends in a signal
// that is told, so that the window's last message shows every earlier signal was handled.
struct SignalSequence {
    const char* name;
    std::vector<bool> prepareForSleep;
    std::vector<WPARAM> told;
    int nInhibitorsTaken;  // the first, and one after each wake that was told
};

const WPARAM kSleep = PBT_APMSUSPEND;
const WPARAM kWakeAuto = PBT_APMRESUMEAUTOMATIC;
const WPARAM kWakeUser = PBT_APMRESUMESUSPEND;

const SignalSequence kSignalSequences[] = {
    {"SleepAndWake", {true, false}, {kSleep, kWakeAuto, kWakeUser}, 2},
    {"WakeWithoutSleepIsNotTold", {false, true}, {kSleep}, 1},
    {"RepeatedSleepIsToldOnce", {true, true, false}, {kSleep, kWakeAuto, kWakeUser}, 2},
    {"RepeatedWakeIsToldOnce",
     {true, false, false, true},
     {kSleep, kWakeAuto, kWakeUser, kSleep},
     2},
    {"TwoCycles",
     {true, false, true, false},
     {kSleep, kWakeAuto, kWakeUser, kSleep, kWakeAuto, kWakeUser},
     3},
};

void PrintTo(const SignalSequence& sequence, std::ostream* pStream)
{
    *pStream << sequence.name;
}

class SignalSequenceTest : public SleepWatchTest,
                           public ::testing::WithParamInterface<SignalSequence> {};

TEST_P(SignalSequenceTest, EachSleepAndWakeIsToldOnceInOrder)
{
    const SignalSequence& sequence = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartBus());
    ASSERT_NO_FATAL_FAILURE(StartLogin());
    PowerWindow window;
    ASSERT_NE(window.Handle(), nullptr);
    ExpectSleepInhibitor();

    for (bool bSleeping : sequence.prepareForSleep) {
        ASSERT_TRUE(login_->PrepareForSleep(bSleeping));
    }
    EXPECT_EQ(EventsOf(window.WaitForBroadcasts(sequence.told.size(), kEventTimeoutMs)),
              sequence.told);

    // Once the watch has ended, every inhibitor it took has been let go.
    power_service::ResetWatchForTesting();
    std::optional<InhibitorCounts> counts = login_->Counts();
    ASSERT_TRUE(counts.has_value());
    EXPECT_EQ(counts->nTaken, sequence.nInhibitorsTaken);
    EXPECT_EQ(counts->nHeld, 0);
}

INSTANTIATE_TEST_SUITE_P(Sequences, SignalSequenceTest, ::testing::ValuesIn(kSignalSequences),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

LRESULT CALLBACK PlainWindowProc(HWND hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcW(hwnd, uMsg, wParam, lParam);
}

TEST_F(SleepWatchTest, NothingIsWatchedBeforeTheFirstWindow)
{
    ASSERT_NO_FATAL_FAILURE(StartBus());
    ASSERT_NO_FATAL_FAILURE(StartLogin());
    int nThreadsBefore = ThreadCount();

    // Every window call short of creating one.
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = PlainWindowProc;
    windowClass.lpszClassName = u"QV_POWER_NEVER_CREATED";
    ASSERT_NE(RegisterClassW(&windowClass), 0);
    EXPECT_EQ(FindWindowW(u"QV_POWER_NEVER_CREATED", nullptr), nullptr);
    EnumWindows([](HWND, LPARAM) -> BOOL { return TRUE; }, 0);
    ASSERT_TRUE(login_->PrepareForSleep(true));
    ASSERT_TRUE(login_->PrepareForSleep(false));
    // Time for a watch started too early to show itself.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    EXPECT_EQ(ThreadCount(), nThreadsBefore);
    std::optional<InhibitorCounts> counts = login_->Counts();
    ASSERT_TRUE(counts.has_value());
    EXPECT_EQ(counts->nTaken, 0);

    // The same bus and stand-in see the first window's inhibitor.
    PowerWindow window;
    ASSERT_NE(window.Handle(), nullptr);
    ExpectSleepInhibitor();
}

// Without logind to talk to, windows work as before, at once, and nothing is printed or
// tried again.
enum class Host { NoSuchSocket, NotAnAddress, BusWithoutLogind, LogindRefuses };

struct QuietHost {
    const char* name;
    Host host;
};

const QuietHost kQuietHosts[] = {
    {"NoSuchSocket", Host::NoSuchSocket},
    {"NotAnAddress", Host::NotAnAddress},
    {"BusWithoutLogind", Host::BusWithoutLogind},
    {"LogindRefuses", Host::LogindRefuses},
};

void PrintTo(const QuietHost& host, std::ostream* pStream)
{
    *pStream << host.name;
}

class QuietHostTest : public SleepWatchTest, public ::testing::WithParamInterface<QuietHost> {};

TEST_P(QuietHostTest, WindowsWorkAndNothingIsPrinted)
{
    switch (GetParam().host) {
        case Host::NoSuchSocket:
            setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + folder_ + "/no-bus").c_str(), 1);
            break;
        case Host::NotAnAddress:
            setenv("DBUS_SYSTEM_BUS_ADDRESS", "not an address", 1);
            break;
        case Host::BusWithoutLogind:
            ASSERT_NO_FATAL_FAILURE(StartBus());
            break;
        case Host::LogindRefuses:
            ASSERT_NO_FATAL_FAILURE(StartBus());
            ASSERT_NO_FATAL_FAILURE(StartLogin(true));
            break;
    }

    CapturedOutput output(folder_ + "/output");
    bool bCreated, bEnded;
    LRESULT lPing;
    std::chrono::steady_clock::duration creationTime;
    {
        PowerWindow window;
        bCreated = window.Handle() != nullptr;
        creationTime = window.CreationTime();
        bEnded = power_service::WaitForWatchEndForTesting(kWatchEndTimeoutMs);
        lPing = SendMessageW(window.Handle(), WM_PING, 41, 0);
    }
    std::string printed = output.Stop();

    EXPECT_TRUE(bCreated);
    EXPECT_LT(creationTime, std::chrono::seconds(2));
    EXPECT_TRUE(bEnded) << "the watch still runs";
    EXPECT_EQ(lPing, 42);
    EXPECT_EQ(printed, "");
    if (GetParam().host == Host::LogindRefuses) {
        std::optional<InhibitorCounts> counts = login_->Counts();
        ASSERT_TRUE(counts.has_value());
        EXPECT_EQ(counts->nRefused, 1);
        EXPECT_EQ(counts->nTaken, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Hosts, QuietHostTest, ::testing::ValuesIn(kQuietHosts),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

// A bus lost between a sleep and its wake: the windows gave back what they hold only while awake
// (the helper holds every port from the sleep to the wake) and hear of the wake all the same.
struct LostBusCase {
    const char* name;
    bool bAsleep;  // the windows were told of a sleep when the bus went
    std::vector<WPARAM> told;
};

const LostBusCase kLostBusCases[] = {
    {"WhileAwake", false, {}},
    {"WhileAsleep", true, {kSleep, kWakeAuto, kWakeUser}},
};

void PrintTo(const LostBusCase& lostBus, std::ostream* pStream)
{
    *pStream << lostBus.name;
}

class LostBusTest : public SleepWatchTest, public ::testing::WithParamInterface<LostBusCase> {};

TEST_P(LostBusTest, EndsTheWatchQuietlyLeavingNoSleepUntoldOrInhibitorHeld)
{
    ASSERT_NO_FATAL_FAILURE(StartBus());
    ASSERT_NO_FATAL_FAILURE(StartLogin());
    PowerWindow window;
    ASSERT_NE(window.Handle(), nullptr);
    InhibitorEvent inhibitor = ExpectSleepInhibitor();
    if (GetParam().bAsleep) {
        ASSERT_TRUE(login_->PrepareForSleep(true));
        ExpectRelease(inhibitor);
        ASSERT_EQ(EventsOf(window.WaitForBroadcasts(1, kEventTimeoutMs)),
                  std::vector<WPARAM>{kSleep});
    }

    CapturedOutput output(folder_ + "/output");
    bus_->Kill();
    bool bEnded = power_service::WaitForWatchEndForTesting(kWatchEndTimeoutMs);
    std::string printed = output.Stop();

    EXPECT_TRUE(bEnded) << "the watch still runs";
    if (!GetParam().bAsleep) {
        ExpectRelease(inhibitor);
    }
    EXPECT_EQ(printed, "");
    // What the watch tells, it tells before it ends.
    EXPECT_EQ(EventsOf(window.Broadcasts()), GetParam().told);
    EXPECT_EQ(SendMessageW(window.Handle(), WM_PING, 1, 0), 2);
}

INSTANTIATE_TEST_SUITE_P(LostBus, LostBusTest, ::testing::ValuesIn(kLostBusCases),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

// The Windows version the layer reports decides how a sleep is told: before 6.0 the windows are
// asked first, and one may refuse; from 6.0 on they are only told. logind's sleep goes on either
// way. Each case runs in a program of its own, since the version is read once per process.
struct VersionCase {
    const char* name;
    const char* pszWinver;                  // QUORVANE_WINVER of the program
    std::vector<std::string> answers;       // each window's answer to PBT_APMQUERYSUSPEND
    std::vector<std::vector<WPARAM>> told;  // what each window is told
};

const WPARAM kQuery = PBT_APMQUERYSUSPEND;
const WPARAM kQueryFailed = PBT_APMQUERYSUSPENDFAILED;

const VersionCase kVersionCases[] = {
    {"Version61IsToldOnly", "6.1", {"grant"}, {{kSleep, kWakeAuto, kWakeUser}}},
    {"Version60AsksNoRefuser", "6.0", {"refuse"}, {{kSleep, kWakeAuto, kWakeUser}}},
    {"UnreadableVersionAsksNoRefuser", "fail", {"refuse"}, {{kSleep, kWakeAuto, kWakeUser}}},
    {"Version51AsksFirst",
     "5.1",
     {"grant", "grant"},
     {{kQuery, kSleep, kWakeAuto, kWakeUser}, {kQuery, kSleep, kWakeAuto, kWakeUser}}},
    {"Version51RefusalEndsTheQueryAndFailsIt",
     "5.1",
     {"refuse", "grant"},
     {{kQuery, kQueryFailed, kSleep, kWakeAuto, kWakeUser},
      {kQueryFailed, kSleep, kWakeAuto, kWakeUser}}},
    {"Version51RefusedByTheLastWindow",
     "5.1",
     {"grant", "refuse"},
     {{kQuery, kQueryFailed, kSleep, kWakeAuto, kWakeUser},
      {kQuery, kQueryFailed, kSleep, kWakeAuto, kWakeUser}}},
};

void PrintTo(const VersionCase& version, std::ostream* pStream)
{
    *pStream << version.name;
}

std::vector<WPARAM> ParseEvents(const std::string& line)
{
    std::vector<WPARAM> events;
    std::istringstream stream(line);
    unsigned long long event;
    while (stream >> event) {
        events.push_back(static_cast<WPARAM>(event));
    }
    return events;
}

class VersionTest : public SleepWatchTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionTest, SleepIsToldAsThatVersionTellsIt)
{
    const VersionCase& version = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartBus());
    ASSERT_NO_FATAL_FAILURE(StartLogin());
    std::vector<std::string> arguments{"/proc/self/exe", kRecordPowerEvents};
    arguments.insert(arguments.end(), version.answers.begin(), version.answers.end());
    ChildProgram program;
    setenv("QUORVANE_WINVER", version.pszWinver, 1);
    bool bStarted = program.Start(arguments);
    unsetenv("QUORVANE_WINVER");
    ASSERT_TRUE(bStarted);
    ASSERT_EQ(program.ReadLine(kEventTimeoutMs), "held");
    InhibitorEvent first = NextEvent();
    EXPECT_EQ(first.kind, "inhibit");

    ASSERT_TRUE(login_->PrepareForSleep(true));
    ExpectRelease(first);
    ASSERT_TRUE(login_->PrepareForSleep(false));
    // Taken once each window has been told of the wake.
    EXPECT_EQ(NextEvent().kind, "inhibit");

    ASSERT_TRUE(program.WriteLine("report"));
    for (const std::vector<WPARAM>& told : version.told) {
        std::optional<std::string> line = program.ReadLine(kEventTimeoutMs);
        ASSERT_TRUE(line.has_value());
        EXPECT_EQ(ParseEvents(*line), told);
    }
    EXPECT_EQ(program.Wait(kEventTimeoutMs), 0);
}

INSTANTIATE_TEST_SUITE_P(Versions, VersionTest, ::testing::ValuesIn(kVersionCases),
                         [](const auto& testCase) { return std::string(testCase.param.name); });

TEST_F(SleepWatchTest, HungWindowDoesNotHoldTheSleep)
{
    power_service::SetAnswerBoundForTesting(200);
    ASSERT_NO_FATAL_FAILURE(StartBus());
    ASSERT_NO_FATAL_FAILURE(StartLogin());
    // Told first: the window after it must still be told.
    PowerWindow hung(PowerWindowBehaviour{.bHangOnSuspend = true});
    PowerWindow answering;
    ASSERT_NE(hung.Handle(), nullptr);
    ASSERT_NE(answering.Handle(), nullptr);
    InhibitorEvent first = ExpectSleepInhibitor();

    ASSERT_TRUE(login_->PrepareForSleep(true));
    ExpectRelease(first);
    EXPECT_TRUE(hung.Broadcasts().empty()) << "the sleep waited for the hung window";
    EXPECT_EQ(EventsOf(answering.WaitForBroadcasts(1, kEventTimeoutMs)),
              std::vector<WPARAM>{PBT_APMSUSPEND});

    // Once it answers again, it is told of the wake like any other window.
    hung.EndHang();
    ASSERT_TRUE(login_->PrepareForSleep(false));
    ExpectSleepInhibitor();
    const std::vector<WPARAM> cycle{PBT_APMSUSPEND, PBT_APMRESUMEAUTOMATIC, PBT_APMRESUMESUSPEND};
    EXPECT_EQ(EventsOf(hung.WaitForBroadcasts(3, kEventTimeoutMs)), cycle);
    EXPECT_EQ(EventsOf(answering.WaitForBroadcasts(3, kEventTimeoutMs)), cycle);
}

bool ReadByte(int fd, int nTimeoutMs, char* pByte)
{
    pollfd pfd{fd, POLLIN, 0};
    return poll(&pfd, 1, nTimeoutMs) == 1 && read(fd, pByte, 1) == 1;
}

// A fork() child neither holds its parent's sleep nor watches one of its own, even with a
// window.
TEST_F(SleepWatchTest, ForkChildHasNoWatch)
{
    ASSERT_NO_FATAL_FAILURE(StartBus());
    ASSERT_NO_FATAL_FAILURE(StartLogin());
    PowerWindow window;
    ASSERT_NE(window.Handle(), nullptr);
    InhibitorEvent first = ExpectSleepInhibitor();
    ASSERT_TRUE(power_service::WaitForInhibitorForTesting(kEventTimeoutMs));

    int toChild[2], fromChild[2];
    ASSERT_EQ(pipe(toChild), 0);
    ASSERT_EQ(pipe(fromChild), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // No threads may be started here, only the layer's calls made.
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = PlainWindowProc;
        windowClass.lpszClassName = u"QV_POWER_FORK_CHILD";
        bool bCreated = RegisterClassW(&windowClass) != 0 &&
                        CreateWindowExW(0, u"QV_POWER_FORK_CHILD", u"child", WS_OVERLAPPEDWINDOW,
                                        CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                        nullptr, nullptr, nullptr, nullptr) != nullptr;
        bool bNoWatch = power_service::WaitForWatchEndForTesting(2000);
        char status = bCreated && bNoWatch ? 'y' : 'n';
        char go;
        bool bTalked = write(fromChild[1], &status, 1) == 1 && read(toChild[0], &go, 1) == 1;
        _exit(bTalked ? 0 : 1);
    }
    close(toChild[0]);
    close(fromChild[1]);
    char status = 'n';
    EXPECT_TRUE(ReadByte(fromChild[0], kEventTimeoutMs, &status));
    EXPECT_EQ(status, 'y') << "the child could not make its window, or watches";

    // The child lives on, with its copies of everything the parent had open.
    ASSERT_TRUE(login_->PrepareForSleep(true));
    ExpectRelease(first);
    std::optional<InhibitorCounts> counts = login_->Counts();
    ASSERT_TRUE(counts.has_value());
    EXPECT_EQ(counts->nTaken, 1);

    char go = 'g';
    EXPECT_EQ(write(toChild[1], &go, 1), 1);
    int childStatus = -1;
    EXPECT_EQ(waitpid(child, &childStatus, 0), child);
    EXPECT_TRUE(WIFEXITED(childStatus) && WEXITSTATUS(childStatus) == 0);
    close(toChild[1]);
    close(fromChild[0]);
}

// The watch goes on telling the windows while exit destroys the program's static objects: what
// it uses meanwhile must outlive them.
TEST_F(SleepWatchTest, WindowsAreToldWhileTheProcessExits)
{
    ASSERT_NO_FATAL_FAILURE(StartBus());
    ASSERT_NO_FATAL_FAILURE(StartLogin());
    ChildProgram program;
    ASSERT_TRUE(program.Start({"/proc/self/exe", kExitWhileTelling}));
    ASSERT_EQ(program.ReadLine(kEventTimeoutMs), "held");

    ASSERT_TRUE(login_->PrepareForSleep(true));
    EXPECT_EQ(program.Wait(2 * kEventTimeoutMs), 0)
        << "3: the second window was not told; 4: the first was not";
}

TEST_F(SleepWatchTest, ProcessEndsWhileItsWatchRunsAndItsInhibitorEndsWithIt)
{
    ASSERT_NO_FATAL_FAILURE(StartBus());
    ASSERT_NO_FATAL_FAILURE(StartLogin());
    ChildProgram program;
    ASSERT_TRUE(program.Start({"/proc/self/exe", kExitWithAWindow}));

    EXPECT_EQ(program.ReadLine(kEventTimeoutMs), "held");
    InhibitorEvent inhibitor = NextEvent();
    EXPECT_EQ(inhibitor.kind, "inhibit");
    EXPECT_NE(inhibitor.pid, getpid());
    EXPECT_EQ(program.Wait(kEventTimeoutMs), 0);
    ExpectRelease(inhibitor);
}

}  // namespace

int main(int argc, char** argv)
{
    if (std::optional<int> nChildResult = RunChildMode(argc, argv)) {
        return *nChildResult;
    }
    ::testing::InitGoogleTest(&argc, argv);
    s_programName = std::filesystem::path(argv[0]).filename().string();
    char szRoot[] = "/tmp/quorvane-power-root-XXXXXX";
    if (mkdtemp(szRoot) == nullptr) {
        return 2;
    }
    setenv("QUORVANE_ROOT", szRoot, 1);
    int nResult = RUN_ALL_TESTS();
    std::filesystem::remove_all(szRoot);
    return nResult;
}
