// quorvane-trace: prints the machine's debug output as it arrives.
//
//   quorvane-trace [--pid] [--for SECONDS]
//
// Each message is printed unchanged (with --pid, after "[PID] "). "listening" goes to standard
// error once the monitor is attached. It stops after SECONDS, or on SIGINT or SIGTERM.
#include <stdio.h>

#include <chrono>
#include <string>
#include <vector>

#include "tools/common/arguments.h"
#include "tools/common/console.h"
#include "tools/trace/debug_monitor.h"

namespace {

const char kTool[] = "quorvane-trace";

void Print(const DebugMessage& message, bool bWithPid)
{
    std::string text;
    if (bWithPid) {
        text = "[" + std::to_string(message.dwProcessId) + "] ";
    }
    text += tool_console::Utf8(message.text.c_str());
    fputs(text.c_str(), stdout);
    fflush(stdout);
}

int Usage(const std::string& problem)
{
    tool_console::PrintError(kTool, problem);
    tool_console::PrintError(kTool, "usage: quorvane-trace [--pid] [--for SECONDS]");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    bool bWithPid = false;
    bool bLimited = false;
    std::uint32_t dwForMs = 0;
    for (size_t i = 0; i < args.size(); i++) {
        if (args[i] == "--pid") {
            bWithPid = true;
        } else if (args[i] == "--for" && i + 1 < args.size()) {
            if (!tool_arguments::ParseSeconds(args[++i], &dwForMs)) {
                return Usage("not a number of seconds: " + args[i]);
            }
            bLimited = true;
        } else {
            return Usage("unknown argument: " + args[i]);
        }
    }

    std::string problem;
    DebugMonitor* pMonitor = AttachDebugMonitor(&problem);
    if (pMonitor == nullptr) {
        tool_console::PrintError(kTool, "cannot attach to the debug output: " + problem);
        return 1;
    }
    StopOnTerminationRequests(pMonitor);
    // Whoever starts the monitor waits for this line before making the output it wants seen.
    fputs("listening\n", stderr);
    fflush(stderr);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwForMs);
    for (;;) {
        int nWaitMs = -1;
        if (bLimited) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            nWaitMs = static_cast<int>(left.count());
        }
        DebugMessage message;
        Received received = ReceiveDebugMessage(pMonitor, nWaitMs, &message);
        if (received == Received::Failed) {
            tool_console::PrintError(kTool, "the debug output can no longer be read");
            DetachDebugMonitor(pMonitor);
            return 1;
        }
        if (received == Received::Stopped) {
            // What was written before the stop is still printed: a script that stops the
            // monitor once its programs are done must not lose their last lines.
            while (ReceiveDebugMessage(pMonitor, 0, &message) == Received::Message) {
                Print(message, bWithPid);
            }
            break;
        }
        if (received == Received::Message) {
            Print(message, bWithPid);
        }
    }
    DetachDebugMonitor(pMonitor);
    return 0;
}
