// systemd-logind's manager on the system bus, through sd-bus: its PrepareForSleep signal and
// its delay inhibitors.
#include "platform/posix/power/logind_client.h"

#include <errno.h>  // program_invocation_short_name
#include <limits.h>
#include <time.h>

#include <algorithm>

namespace power_service {

namespace {

constexpr const char* kLogindName = "org.freedesktop.login1";
constexpr const char* kManagerPath = "/org/freedesktop/login1";
constexpr const char* kManagerInterface = "org.freedesktop.login1.Manager";

// Shown by `systemd-inhibit --list` beside the program's name.
constexpr const char* kInhibitReason = "Its windows answer the power broadcast before sleep";

int OnPrepareForSleep(sd_bus_message* pMessage, void* pUserData, sd_bus_error* /*pError*/)
{
    int bSleeping = 0;
    if (sd_bus_message_read(pMessage, "b", &bSleeping) < 0) {
        return 0;  // not the signal logind sends: nothing to act on
    }
    static_cast<LogindClient*>(pUserData)->sleepSignals.push_back(bSleeping != 0);
    return 0;
}

long long NowUs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

}  // namespace

bool OpenLogindClient(LogindClient* pClient)
{
    if (sd_bus_open_system(&pClient->pBus) < 0) {
        pClient->pBus = nullptr;
        return false;
    }
    // Subscribed before the first inhibitor is taken, so that no sleep can slip between.
    if (sd_bus_match_signal(pClient->pBus, &pClient->pSleepMatch, kLogindName, kManagerPath,
                            kManagerInterface, "PrepareForSleep", OnPrepareForSleep, pClient) < 0) {
        CloseLogindClient(pClient);
        return false;
    }
    return true;
}

bool AskForSleepInhibitor(LogindClient* pClient, InhibitorReply* pReply)
{
    sd_bus_error error = SD_BUS_ERROR_NULL;
    int nResult = sd_bus_call_method(pClient->pBus, kLogindName, kManagerPath, kManagerInterface,
                                     "Inhibit", &error, &pReply->pMessage, "ssss", "sleep",
                                     program_invocation_short_name, kInhibitReason, "delay");
    sd_bus_error_free(&error);
    if (nResult < 0 || sd_bus_message_read(pReply->pMessage, "h", &pReply->fd) < 0) {
        ReleaseInhibitorReply(pReply);
        return false;
    }
    return true;
}

void ReleaseInhibitorReply(InhibitorReply* pReply)
{
    pReply->pMessage = sd_bus_message_unref(pReply->pMessage);
    pReply->fd = -1;
}

bool DispatchLogindClient(LogindClient* pClient)
{
    for (;;) {
        int nResult = sd_bus_process(pClient->pBus, nullptr);
        if (nResult < 0) {
            return false;
        }
        if (nResult == 0) {
            return true;
        }
    }
}

bool GetBusWait(LogindClient* pClient, BusWait* pWait)
{
    int fd = sd_bus_get_fd(pClient->pBus);
    int events = sd_bus_get_events(pClient->pBus);
    uint64_t deadlineUs = 0;
    if (fd < 0 || events < 0 || sd_bus_get_timeout(pClient->pBus, &deadlineUs) < 0) {
        return false;
    }
    pWait->fd = fd;
    pWait->events = static_cast<short>(events);
    if (deadlineUs == UINT64_MAX) {
        pWait->nTimeoutMs = -1;  // nothing pending: sleep until the bus has something
        return true;
    }
    // Rounded up: waking a little before the deadline would only find nothing to do, again.
    long long nLeftUs = static_cast<long long>(deadlineUs) - NowUs();
    long long nLeftMs = nLeftUs <= 0 ? 0 : (nLeftUs + 999) / 1000;
    pWait->nTimeoutMs = static_cast<int>(std::min<long long>(nLeftMs, INT_MAX));
    return true;
}

void CloseLogindClient(LogindClient* pClient)
{
    pClient->pSleepMatch = sd_bus_slot_unref(pClient->pSleepMatch);
    pClient->pBus = sd_bus_close_unref(pClient->pBus);
    pClient->sleepSignals.clear();
}

}  // namespace power_service
