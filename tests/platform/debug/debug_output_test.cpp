// OutputDebugStringW as writers see it: whole texts in order from threads and processes, long
// texts in pieces, nothing kept or waited for without a monitor, at most 100 ms for a stuck
// one, and writers that die or stall half-way through a record.
#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <memory>
#include <thread>

#include "platform/posix/include/quorvane_debug_monitor.h"
#include "tests/platform/debug/channel_test_support.h"
#include "tests/platform/debug/heap_watch.h"

namespace {

using debug_channel::kFullRingWaitMs;
constexpr size_t kRecordChars = debug_channel::kRecordChars;

// Texts of several lengths, so that records of every size pass through the ring.
std::u16string NumberedText(const std::string& tag, int i)
{
    return Wide(tag + ":" + std::to_string(i) + ":" + std::string(i % 61, '.') + "\n");
}

// The number in "tag:number..." texts.
int NumberIn(const std::u16string& text)
{
    std::u16string number = text.substr(text.find(u':') + 1);
    return std::stoi(std::string(number.begin(), number.end()));
}

TEST(DebugOutputTest, MessagesFromSeveralThreadsArriveWholeAndInOrder)
{
    Monitor monitor;
    ASSERT_GE(monitor.Fd(), 0);
    // Several laps of the ring, faster than one reader can keep up, so that writers also wait
    // for room on the way.
    constexpr int kThreads = 4;
    constexpr int kPerThread = 3000;
    constexpr size_t kMessages = static_cast<size_t>(kThreads) * kPerThread;
    std::vector<std::thread> writers;
    writers.reserve(kThreads);
    for (int t = 0; t < kThreads; t++) {
        writers.emplace_back([t] {
            for (int i = 0; i < kPerThread; i++) {
                Write(NumberedText("thread" + std::to_string(t), i));
            }
        });
    }
    std::vector<Message> messages = monitor.Take(kMessages);
    for (std::thread& writer : writers) {
        writer.join();
    }

    ASSERT_EQ(kMessages, messages.size());
    std::map<std::u16string, int> nextOf;
    for (const Message& message : messages) {
        std::u16string tag = message.text.substr(0, message.text.find(u':'));
        int i = NumberIn(message.text);
        ASSERT_EQ(nextOf[tag], i) << "out of order or lost";
        ASSERT_EQ(NumberedText(std::string(tag.begin(), tag.end()), i), message.text);
        ASSERT_EQ(static_cast<DWORD>(getpid()), message.processId);
        nextOf[tag] = i + 1;
    }
}

TEST(DebugOutputTest, MessagesFromSeveralProcessesArriveWholeAndInOrder)
{
    Monitor monitor;
    ASSERT_GE(monitor.Fd(), 0);
    constexpr int kProcesses = 3;
    constexpr int kPerProcess = 2000;
    constexpr size_t kMessages = static_cast<size_t>(kProcesses) * kPerProcess;
    std::vector<std::unique_ptr<ChildProcess>> children;
    std::map<DWORD, int> nextOf;
    for (int c = 0; c < kProcesses; c++) {
        children.push_back(std::make_unique<ChildProcess>(std::vector<std::string>{
            "write", "child" + std::to_string(c), std::to_string(kPerProcess)}));
        nextOf[static_cast<DWORD>(children.back()->Pid())] = 0;
    }
    std::vector<Message> messages = monitor.Take(kMessages);
    for (auto& child : children) {
        EXPECT_EQ(0, child->Wait());
    }

    ASSERT_EQ(kMessages, messages.size());
    std::map<DWORD, std::u16string> tagOf;
    for (const Message& message : messages) {
        ASSERT_EQ(1u, nextOf.count(message.processId)) << "not a child's process id";
        std::u16string tag = message.text.substr(0, message.text.find(u':'));
        if (tagOf.count(message.processId) == 0) {
            tagOf[message.processId] = tag;
        }
        ASSERT_EQ(tagOf[message.processId], tag) << "a message under another process's id";
        int i = nextOf[message.processId]++;
        ASSERT_EQ(tag + Wide(":" + std::to_string(i) + "\n"), message.text);
    }
}

std::u16string TextOfLength(size_t cch)
{
    // Letters and a character beyond Latin-1, so that a piece cut or shifted by one shows.
    std::u16string text;
    for (size_t i = 0; i < cch; i++) {
        text.push_back(i % 7 == 6 ? u'\u00e9' : static_cast<char16_t>(u'a' + i % 26));
    }
    return text;
}

TEST(DebugOutputTest, LongTextsArriveInOrderInPiecesOfOneRecord)
{
    const size_t lengths[] = {
        1, kRecordChars - 1, kRecordChars, kRecordChars + 1, 2 * kRecordChars, 5000};
    Monitor monitor;
    ASSERT_GE(monitor.Fd(), 0);
    for (size_t cch : lengths) {
        SCOPED_TRACE(cch);
        std::u16string text = TextOfLength(cch);
        Write(text);
        Write(u"end");
        std::u16string joined;
        for (;;) {
            std::optional<Message> piece = monitor.Next();
            ASSERT_TRUE(piece.has_value());
            if (piece->text == u"end") {
                break;
            }
            // Every piece but the last is a full record.
            EXPECT_EQ(std::min<size_t>(cch - joined.size(), kRecordChars), piece->text.size());
            joined += piece->text;
        }
        EXPECT_EQ(text, joined);
    }
}

TEST(DebugOutputTest, ReceiveCutsATextToTheCallersBufferAndGoesOn)
{
    Monitor monitor;
    ASSERT_GE(monitor.Fd(), 0);
    Write(u"abcdefgh");
    Write(u"next");
    WCHAR szText[5] = {u'x', u'x', u'x', u'x', u'x'};
    EXPECT_EQ(4, QuorvaneReceiveDebugMessage(monitor.Fd(), kPatientMs, nullptr, szText, 5));
    EXPECT_EQ(std::u16string(u"abcd"), std::u16string(szText));
    std::optional<Message> next = monitor.Next();
    ASSERT_TRUE(next.has_value());
    EXPECT_EQ(u"next", next->text);
}

TEST(DebugOutputTest, WithoutAMonitorNothingIsWrittenAndNothingWaits)
{
    // A monitor that never read leaves the ring full: a writer that thought one was attached
    // would wait its 100 ms for room on every call.
    {
        Monitor stuck;
        ASSERT_GE(stuck.Fd(), 0);
        ASSERT_FALSE(FillRing("before").empty());
    }
    uint32_t head = HeadOfRing();
    constexpr int kWrites = 20;
    Clock::time_point start = Clock::now();
    for (int i = 0; i < kWrites; i++) {
        Write(NumberedText("nobody", i));
    }
    EXPECT_LT(MillisecondsSince(start), kWrites * kFullRingWaitMs / 2);
    EXPECT_EQ(head, HeadOfRing()) << "a record was taken with no monitor attached";

    // What was written for the monitor that left is not the next one's.
    Monitor next;
    ASSERT_GE(next.Fd(), 0);
    Write(u"after\n");
    std::optional<Message> first = next.Next();
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(u"after\n", first->text);
}

enum class MonitorState { None, Reading, Stuck };

struct StateCase {
    const char* what;
    MonitorState state;
};

const StateCase kStateCases[] = {
    {"no monitor", MonitorState::None},
    {"a monitor that reads", MonitorState::Reading},
    {"a stuck monitor: the ring is full", MonitorState::Stuck},
};

// Runs body with the monitor in the given state, then leaves the ring empty and detached.
template <typename Body>
void WithMonitor(MonitorState state, Body body)
{
    std::optional<Monitor> monitor;
    if (state != MonitorState::None) {
        monitor.emplace();
        ASSERT_GE(monitor->Fd(), 0);
    }
    if (state == MonitorState::Stuck) {
        ASSERT_FALSE(FillRing("filler").empty());
    }
    body();
    if (monitor) {
        while (monitor->Next(0)) {
        }
    }
}

TEST(DebugOutputTest, WritingKeepsTheCallersErrnoAndLastError)
{
    for (const StateCase& c : kStateCases) {
        SCOPED_TRACE(c.what);
        int nErrno = -1;
        DWORD dwLastError = 0;
        WithMonitor(c.state, [&] {
            errno = ENOTTY;
            SetLastError(ERROR_NOT_OWNER);
            Write(u"errno\n");
            nErrno = errno;
            dwLastError = GetLastError();
        });
        EXPECT_EQ(ENOTTY, nErrno);
        EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_OWNER), dwLastError);
    }
}

TEST(DebugOutputTest, WritingAllocatesNothing)
{
    std::u16string longText = TextOfLength(3 * kRecordChars);
    Write(u"the channel is mapped at the first call\n");
    for (const StateCase& c : kStateCases) {
        SCOPED_TRACE(c.what);
        size_t cAllocations = 0;
        WithMonitor(c.state, [&] {
            StartWatchingHeap();
            Write(u"short\n");
            Write(longText);
            cAllocations = StopWatchingHeap();
        });
        EXPECT_EQ(0u, cAllocations);
    }
}

TEST(DebugOutputTest, StuckMonitorHoldsEachWriteUpToItsTimeLimitThenMessagesFlowAgain)
{
    Monitor monitor;
    ASSERT_GE(monitor.Fd(), 0);
    std::vector<std::u16string> placed = FillRing("placed");
    ASSERT_FALSE(placed.empty());
    for (int i = 0; i < 3; i++) {
        Clock::time_point start = Clock::now();
        Write(NumberedText("dropped", i));
        long long elapsedMs = MillisecondsSince(start);
        // It waits for room for its whole time limit, and not much longer.
        EXPECT_GE(elapsedMs, kFullRingWaitMs - 10);
        EXPECT_LT(elapsedMs, 20 * kFullRingWaitMs);
    }

    std::vector<Message> messages = monitor.Take(placed.size());
    ASSERT_EQ(placed.size(), messages.size());
    for (size_t i = 0; i < placed.size(); i++) {
        ASSERT_EQ(placed[i], messages[i].text);
    }
    Write(u"after\n");
    std::optional<Message> after = monitor.Next();
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(u"after\n", after->text) << "a dropped message was kept";
}

TEST(DebugOutputTest, AWriterWaitingForRoomGetsInWhenTheMonitorReads)
{
    Monitor monitor;
    ASSERT_GE(monitor.Fd(), 0);
    std::vector<std::u16string> placed = FillRing("placed");
    ASSERT_FALSE(placed.empty());
    std::thread writer([] { Write(u"waited\n"); });
    Clock::time_point start = Clock::now();
    while (debug_channel::Shared(TheChannel().spaceWaiters.value).load() == 0 &&
           MillisecondsSince(start) < kPatientMs) {
        std::this_thread::yield();
    }
    std::vector<Message> messages = monitor.Take(placed.size() + 1);
    writer.join();
    ASSERT_EQ(placed.size() + 1, messages.size());
    EXPECT_EQ(placed.front(), messages.front().text);
    EXPECT_EQ(u"waited\n", messages.back().text);
}

TEST(DebugOutputTest, WriterKilledInTheMiddleOfARecordDoesNotWedgeTheMonitor)
{
    Monitor monitor;
    ASSERT_GE(monitor.Fd(), 0);
    ChildProcess writer({"reserve"});
    ASSERT_EQ("reserved", writer.ReadLine());
    writer.Kill();
    Write(u"after\n");
    Write(u"again\n");

    Clock::time_point start = Clock::now();
    std::vector<Message> messages = monitor.Take(2);
    ASSERT_EQ(2u, messages.size());
    EXPECT_EQ(u"after\n", messages[0].text);
    EXPECT_EQ(u"again\n", messages[1].text);
    EXPECT_LT(MillisecondsSince(start), kPatientMs / 2);
}

TEST(DebugOutputTest, AWriterResumedAfterTheMonitorGaveUpOnItDropsItsMessage)
{
    Monitor monitor;
    ASSERT_GE(monitor.Fd(), 0);
    debug_channel::Channel& channel = TheChannel();
    // A writer stopped between its reservation and its publish (a debugger, SIGSTOP).
    uint32_t position;
    debug_channel::WaitBudget budget;
    ASSERT_TRUE(debug_channel::ReserveRecord(channel, &position, &budget));
    debug_channel::Record& record = RecordAt(channel, position);
    record.processId = static_cast<uint32_t>(getpid());
    record.chars = 5;
    memcpy(record.text, u"late\n", 5 * sizeof(char16_t));
    Write(u"after\n");
    std::optional<Message> after = monitor.Next();
    ASSERT_TRUE(after.has_value());
    EXPECT_EQ(u"after\n", after->text);

    EXPECT_FALSE(debug_channel::PublishRecord(channel, position));
    // A full lap later the record is in use again, untouched by the late writer.
    for (uint32_t i = 0; i <= debug_channel::kRecordCount; i++) {
        Write(NumberedText("lap", static_cast<int>(i)));
        std::optional<Message> message = monitor.Next();
        ASSERT_TRUE(message.has_value()) << i;
        ASSERT_EQ(NumberedText("lap", static_cast<int>(i)), message->text);
    }
}

}  // namespace
