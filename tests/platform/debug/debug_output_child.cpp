// Another process on the test's machine (the root in QUORVANE_ROOT), for the debug output tests.
//
//   write TAG COUNT   writes COUNT messages "TAG:<i>\n", i from 0, and exits 0
//   monitor           attaches as the monitor and prints "attached", or "refused <errno>" and
//                     exits 1; then reads nothing until its standard input ends or it is killed
//   reserve           reserves a record and half fills it, prints "reserved", and never
//                     publishes it: it waits to be killed
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "platform/posix/debug/channel.h"
#include "platform/posix/include/quorvane_debug_monitor.h"
#include "platform/win32.h"

namespace {

void Say(const char* pszLine)
{
    fputs(pszLine, stdout);
    fputc('\n', stdout);
    fflush(stdout);
}

int Write(const char* pszTag, int nCount)
{
    for (int i = 0; i < nCount; i++) {
        std::string text = std::string(pszTag) + ":" + std::to_string(i) + "\n";
        std::u16string wide(text.begin(), text.end());
        OutputDebugStringW(wide.c_str());
    }
    return 0;
}

int Monitor()
{
    int fd = QuorvaneAttachDebugMonitor();
    if (fd < 0) {
        Say(("refused " + std::to_string(errno)).c_str());
        return 1;
    }
    Say("attached");
    char buffer[64];
    while (read(STDIN_FILENO, buffer, sizeof(buffer)) > 0) {
    }
    QuorvaneDetachDebugMonitor(fd);
    return 0;
}

int ReserveAndHang()
{
    debug_channel::Channel* pChannel = debug_channel::TheChannelMapping().channel;
    debug_channel::WaitBudget budget;
    uint32_t position;
    if (pChannel == nullptr || !debug_channel::ReserveRecord(*pChannel, &position, &budget)) {
        Say("no record");
        return 1;
    }
    debug_channel::Record& record = debug_channel::RecordAt(*pChannel, position);
    record.processId = static_cast<uint32_t>(getpid());
    record.chars = 4;
    memcpy(record.text, u"ha", 2 * sizeof(char16_t));
    Say("reserved");
    for (;;) {
        pause();
    }
}

}  // namespace

int main(int argc, char** argv)
{
    std::string verb = argc > 1 ? argv[1] : "";
    if (verb == "write" && argc == 4) {
        return Write(argv[2], static_cast<int>(strtol(argv[3], nullptr, 10)));
    }
    if (verb == "monitor") {
        return Monitor();
    }
    if (verb == "reserve") {
        return ReserveAndHang();
    }
    fprintf(stderr, "usage: debug_output_child write TAG COUNT | monitor | reserve\n");
    return 2;
}
