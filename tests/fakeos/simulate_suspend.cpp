// Plays a day of the helper on a simulated Windows XP: two ports registered, a suspend refused
// while a port is busy, a suspend granted once it is free, the resume, and the close. The
// helper's own code runs, message loop included; only the machine is simulated, and it decides
// each wait at once, so the refused query does not really take 17.5 seconds.
#include <stdio.h>

#include "quorvane/registry/port_messages.h"
#include "tests/fakeos/fake_os.h"

namespace {

const std::u16string kSuspendModeEvent = u"Global\\QUORVANE.SuspendMode";
const std::u16string kBusyPortMutex = u"Global\\QUORVANE.HardwareAccess.00000000000002a0";

size_t s_nTracesShown = 0;
size_t s_nAnswersShown = 0;

void ShowNewTraces()
{
    std::vector<std::string> traces = fakeos::Traces();
    for (; s_nTracesShown < traces.size(); s_nTracesShown++) {
        printf("    %s", traces[s_nTracesShown].c_str());
    }
}

const char* AnswerText(LRESULT lAnswer)
{
    return lAnswer == TRUE                   ? "TRUE"
           : lAnswer == BROADCAST_QUERY_DENY ? "BROADCAST_QUERY_DENY"
                                             : "0";
}

// Shows what the helper traced and answered since the last look.
void ShowNews()
{
    ShowNewTraces();
    std::vector<LRESULT> answers = fakeos::SentMessageAnswers();
    for (; s_nAnswersShown < answers.size(); s_nAnswersShown++) {
        printf("  -> the helper answers %s\n", AnswerText(answers[s_nAnswersShown]));
    }
}

void Step(const char* pszHeading)
{
    fakeos::QueueAction([pszHeading] {
        ShowNews();
        printf("\n%s\n", pszHeading);
    });
}

void ShowSuspendMode()
{
    fakeos::QueueAction([] {
        ShowNews();
        printf("  (suspend-mode event: %s)\n",
               fakeos::IsEventSignalled(kSuspendModeEvent) ? "set" : "clear");
    });
}

}  // namespace

int main()
{
    fakeos::Reset();
    fakeos::SetVersion(VER_PLATFORM_WIN32_NT, 5, 1);
    printf("Quorvane on a simulated Windows XP (5.1)\n\nThe helper starts\n");

    Step("The port component registers ports 0x1f4 and 0x2a0");
    fakeos::SendToHelper(WM_POW_REGISTER, 0x1F4);
    fakeos::SendToHelper(WM_POW_REGISTER, 0x2A0);

    Step("A print job on port 0x2a0 holds its hardware access; the system asks to suspend");
    fakeos::QueueAction([] { fakeos::HoldMutexElsewhere(kBusyPortMutex); });
    fakeos::SendToHelper(WM_POWERBROADCAST, PBT_APMQUERYSUSPEND);
    Step("The system calls the suspend off");
    fakeos::SendToHelper(WM_POWERBROADCAST, PBT_APMQUERYSUSPENDFAILED);

    Step("The print job ends; the system asks again");
    fakeos::QueueAction([] { fakeos::ReleaseMutexElsewhere(kBusyPortMutex); });
    fakeos::SendToHelper(WM_POWERBROADCAST, PBT_APMQUERYSUSPEND);
    Step("The system suspends");
    fakeos::SendToHelper(WM_POWERBROADCAST, PBT_APMSUSPEND);
    ShowSuspendMode();
    Step("The machine wakes up");
    fakeos::SendToHelper(WM_POWERBROADCAST, PBT_APMRESUMEAUTOMATIC);
    fakeos::SendToHelper(WM_POWERBROADCAST, PBT_APMRESUMESUSPEND);
    ShowSuspendMode();

    Step("The helper is closed");
    fakeos::PostToHelper(WM_CLOSE);

    int nStatus = WinMain(GetModuleHandleW(NULL), NULL, NULL, SW_SHOWDEFAULT);
    ShowNews();
    printf("  -> exit status %d, %d handles left open\n", nStatus, fakeos::OpenHandleCount());
    return nStatus;
}
