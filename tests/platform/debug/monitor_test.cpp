// The monitor's side: one at a time, gone when its thread or process dies, interrupted on
// request, asleep in the kernel while nobody writes, never shared with a fork child.
#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "platform/posix/include/quorvane_debug_monitor.h"
#include "tests/platform/debug/channel_test_support.h"

namespace {

using debug_channel::kFullRingWaitMs;

// "attached" or "refused <errno>", as the child program answers.
std::string AttachHere()
{
    int fd = QuorvaneAttachDebugMonitor();
    if (fd < 0) {
        return "refused " + std::to_string(errno);
    }
    QuorvaneDetachDebugMonitor(fd);
    return "attached";
}

std::string AttachFromAnotherThread()
{
    std::string answer;
    std::thread([&] { answer = AttachHere(); }).join();
    return answer;
}

std::string AttachFromAnotherProcess()
{
    ChildProcess child({"monitor"});
    return child.ReadLine();
}

struct AttachCase {
    const char* what;
    std::function<std::string()> attach;
};

const AttachCase kAttachCases[] = {
    {"the same thread", AttachHere},
    {"another thread", AttachFromAnotherThread},
    {"another process", AttachFromAnotherProcess},
};

TEST(DebugMonitorTest, ASecondMonitorIsRefusedWhereverItComesFrom)
{
    const std::string refused = "refused " + std::to_string(EADDRINUSE);
    {
        Monitor first;
        ASSERT_GE(first.Fd(), 0);
        for (const AttachCase& c : kAttachCases) {
            SCOPED_TRACE(c.what);
            EXPECT_EQ(refused, c.attach());
        }
    }
    // Once it detached, the place is free for anyone, and then taken again.
    ChildProcess other({"monitor"});
    ASSERT_EQ("attached", other.ReadLine());
    EXPECT_EQ(refused, AttachHere());
}

TEST(DebugMonitorTest, KilledMonitorCountsAsDetachedAtOnceAndANewOneAttaches)
{
    ChildProcess stuck({"monitor"});
    ASSERT_EQ("attached", stuck.ReadLine());
    // It never reads: with the ring full, a writer that still saw it would wait on every call.
    ASSERT_FALSE(FillRing("unread").empty());
    stuck.Kill();

    uint32_t head = HeadOfRing();
    constexpr int kWrites = 20;
    Clock::time_point start = Clock::now();
    for (int i = 0; i < kWrites; i++) {
        Write(u"to nobody\n");
    }
    EXPECT_LT(MillisecondsSince(start), kWrites * kFullRingWaitMs / 2);
    EXPECT_EQ(head, HeadOfRing()) << "a record was taken for a dead monitor";

    Monitor next;
    ASSERT_GE(next.Fd(), 0) << strerror(errno);
    Write(u"after\n");
    std::optional<Message> first = next.Next();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(u"after\n", first->text) << "the dead monitor's unread messages came through";
}

TEST(DebugMonitorTest, AMonitorWhoseThreadEndedCountsAsDetached)
{
    int endedFd = -1;
    std::thread([&] { endedFd = QuorvaneAttachDebugMonitor(); }).join();
    ASSERT_GE(endedFd, 0);
    Write(u"maps the channel\n");
    uint32_t head = HeadOfRing();
    Write(u"to nobody\n");
    EXPECT_EQ(head, HeadOfRing());
    // Its handle reads no more, so that it cannot read beside the next monitor.
    WCHAR szText[16];
    errno = 0;
    EXPECT_EQ(-1, QuorvaneReceiveDebugMessage(endedFd, 0, nullptr, szText, 16));
    EXPECT_EQ(EBADF, errno);
    Monitor next;
    EXPECT_GE(next.Fd(), 0);
}

int s_signalledFd = -1;

void InterruptFromSignal(int)
{
    QuorvaneInterruptDebugMonitor(s_signalledFd);
}

struct InterruptCase {
    const char* what;
    bool bBeforeTheWait;
    bool bBySignal;  // else from another thread
};

TEST(DebugMonitorTest, InterruptEndsTheWaitingReceiveOrTheNextOneOnce)
{
    const InterruptCase cases[] = {
        {"from another thread, during the wait", false, false},
        {"from a signal handler, during the wait", false, true},
        {"before the wait", true, false},
    };
    Monitor monitor;
    ASSERT_GE(monitor.Fd(), 0);
    s_signalledFd = monitor.Fd();
    struct sigaction action {};
    action.sa_handler = InterruptFromSignal;
    sigemptyset(&action.sa_mask);
    struct sigaction previous {};
    sigaction(SIGUSR1, &action, &previous);
    pthread_t receiver = pthread_self();

    for (const InterruptCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::thread interrupter;
        if (c.bBeforeTheWait) {
            QuorvaneInterruptDebugMonitor(monitor.Fd());
        } else {
            interrupter = std::thread([&] {
                usleep(50 * 1000);
                if (c.bBySignal) {
                    pthread_kill(receiver, SIGUSR1);
                } else {
                    QuorvaneInterruptDebugMonitor(monitor.Fd());
                }
            });
        }
        WCHAR szText[16];
        errno = 0;
        int rc = QuorvaneReceiveDebugMessage(monitor.Fd(), kPatientMs, nullptr, szText, 16);
        int nError = errno;
        if (interrupter.joinable()) {
            interrupter.join();
        }
        EXPECT_EQ(-1, rc);
        EXPECT_EQ(EINTR, nError);
        EXPECT_EQ(0, QuorvaneReceiveDebugMessage(monitor.Fd(), 0, nullptr, szText, 16))
            << "one interrupt ended two receives";
    }
    sigaction(SIGUSR1, &previous, nullptr);
    Write(u"still there\n");
    std::optional<Message> message = monitor.Next();
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(u"still there\n", message->text);
}

// Context switches of one thread of this process so far.
long ContextSwitchesOf(pid_t tid)
{
    std::ifstream status("/proc/self/task/" + std::to_string(tid) + "/status");
    long total = 0;
    std::string line;
    while (std::getline(status, line)) {
        if (line.find("ctxt_switches:") != std::string::npos) {
            total += std::stol(line.substr(line.find(':') + 1));
        }
    }
    return total;
}

char StateOf(pid_t tid)
{
    std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    size_t paren = text.rfind(')');
    return paren != std::string::npos && paren + 2 < text.size() ? text[paren + 2] : '?';
}

TEST(DebugMonitorTest, IdleMonitorSleepsInTheKernelUntilAWriterWakesIt)
{
    Monitor monitor;
    ASSERT_GE(monitor.Fd(), 0);
    std::atomic<pid_t> receiverTid{0};
    std::optional<Message> received;
    std::thread receiver([&] {
        receiverTid = gettid();
        received = monitor.Next(-1);
    });
    while (receiverTid == 0) {
        usleep(1000);
    }
    Clock::time_point start = Clock::now();
    while (StateOf(receiverTid) != 'S' && MillisecondsSince(start) < kPatientMs) {
        usleep(1000);
    }
    ASSERT_EQ('S', StateOf(receiverTid));
    long before = ContextSwitchesOf(receiverTid);
    usleep(500 * 1000);
    // A monitor that looked every few milliseconds would have switched dozens of times.
    EXPECT_LE(ContextSwitchesOf(receiverTid) - before, 2);

    Write(u"wake up\n");
    receiver.join();
    ASSERT_TRUE(received.has_value());
    EXPECT_EQ(u"wake up\n", received->text);
}

TEST(DebugMonitorTest, AForkChildOfTheMonitorNeitherReceivesNorDetaches)
{
    Monitor monitor;
    ASSERT_GE(monitor.Fd(), 0);
    Write(u"for the parent\n");
    fflush(nullptr);
    pid_t child = fork();
    if (child == 0) {
        WCHAR szText[32];
        int rc = QuorvaneReceiveDebugMessage(monitor.Fd(), 0, nullptr, szText, 32);
        bool bRefused = rc == -1 && errno == EBADF;
        QuorvaneDetachDebugMonitor(monitor.Fd());
        _exit(bRefused ? 0 : 1);
    }
    ASSERT_GT(child, 0);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child received";

    Write(u"still the parent's\n");
    std::vector<Message> messages = monitor.Take(2);
    ASSERT_EQ(2u, messages.size());
    EXPECT_EQ(u"for the parent\n", messages[0].text);
    EXPECT_EQ(u"still the parent's\n", messages[1].text);
}

}  // namespace
