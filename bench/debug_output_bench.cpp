// The cost to the writer of OutputDebugStringW of a 50-character message: with no monitor; with
// a monitor that keeps up; in bursts like the helper's (a suspend query traces 66 messages) to
// a monitor asleep between them; and with a writer that outruns the monitor and fills the ring.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/posix/debug/channel.h"
#include "platform/posix/include/quorvane_debug_monitor.h"
#include "platform/win32.h"

namespace {

const WCHAR kFiftyChars[] = u"QUORVANE OnQuerySuspend: 63 ports, all mutexes ok\n";
static_assert(sizeof(kFiftyChars) / sizeof(WCHAR) == 51);

using Clock = std::chrono::steady_clock;

// A monitor attached by the constructing thread, and a thread of this process that reads every
// message as quorvane-trace does.
struct ReadingMonitor {
    int fd = QuorvaneAttachDebugMonitor();
    std::atomic<long> received{0};
    std::thread reader{[this] {
        WCHAR szText[debug_channel::kRecordChars + 1];
        DWORD dwProcessId;
        while (QuorvaneReceiveDebugMessage(fd, -1, &dwProcessId, szText,
                                           sizeof(szText) / sizeof(szText[0])) > 0) {
            received.fetch_add(1, std::memory_order_relaxed);
        }
    }};

    ~ReadingMonitor()
    {
        QuorvaneInterruptDebugMonitor(fd);
        reader.join();
        QuorvaneDetachDebugMonitor(fd);
    }

    void WaitUntilReceived(long count) const
    {
        Clock::time_point giveUp = Clock::now() + std::chrono::seconds(5);
        while (received.load() < count && Clock::now() < giveUp) {
            std::this_thread::yield();
        }
    }

    // Until the monitor sleeps on its futex, as it does between the helper's bursts.
    static void WaitUntilAsleep()
    {
        debug_channel::Channel& channel = *debug_channel::TheChannelMapping().channel;
        while (debug_channel::Shared(channel.monitorAsleep.value).load() == 0) {
            usleep(50);
        }
    }
};

void OutputDebugString50CharsNoMonitor(benchmark::State& state)
{
    for (auto _ : state) {
        OutputDebugStringW(kFiftyChars);
    }
}
BENCHMARK(OutputDebugString50CharsNoMonitor);

// Each iteration times a batch of messages; "ns_per_message" is the figure to read.
template <typename BeforeBatch>
void TimeBatches(benchmark::State& state, int cBatch, BeforeBatch beforeBatch)
{
    ReadingMonitor monitor;
    if (monitor.fd < 0) {
        state.SkipWithError("cannot attach a monitor");
        return;
    }
    long expected = monitor.received.load();
    double totalSeconds = 0;
    for (auto _ : state) {
        beforeBatch();
        Clock::time_point began = Clock::now();
        for (int i = 0; i < cBatch; i++) {
            OutputDebugStringW(kFiftyChars);
        }
        double seconds = std::chrono::duration<double>(Clock::now() - began).count();
        state.SetIterationTime(seconds);
        totalSeconds += seconds;
        expected += cBatch;
        monitor.WaitUntilReceived(expected);
    }
    double cMessages = static_cast<double>(state.iterations()) * cBatch;
    state.counters["ns_per_message"] = totalSeconds * 1e9 / cMessages;
    state.counters["lost"] = static_cast<double>(expected - monitor.received.load());
}

// Batches a quarter of the ring long, so that writes never wait for room, to a monitor that
// reads them as they come.
void OutputDebugString50CharsMonitorKeepsUp(benchmark::State& state)
{
    TimeBatches(state, debug_channel::kRecordCount / 4, [] {});
}
BENCHMARK(OutputDebugString50CharsMonitorKeepsUp)->UseManualTime();

// The first write of a burst wakes the monitor; the rest should cost no wake.
void BurstOf66ToASleepingMonitor(benchmark::State& state)
{
    TimeBatches(state, 66, [] { ReadingMonitor::WaitUntilAsleep(); });
}
BENCHMARK(BurstOf66ToASleepingMonitor)->UseManualTime()->Unit(benchmark::kMicrosecond);

// A writer in a tight loop is faster than the reader: the ring fills and the writer waits for
// room. The time per message is the reader's pace.
void WriterOutrunsTheMonitor(benchmark::State& state)
{
    ReadingMonitor monitor;
    if (monitor.fd < 0) {
        state.SkipWithError("cannot attach a monitor");
        return;
    }
    long before = monitor.received.load();
    for (auto _ : state) {
        OutputDebugStringW(kFiftyChars);
    }
    long written = static_cast<long>(state.iterations());
    monitor.WaitUntilReceived(before + written);
    state.counters["lost"] = static_cast<double>(before + written - monitor.received.load());
}
BENCHMARK(WriterOutrunsTheMonitor)->UseRealTime();

}  // namespace
