// The system bus side of the sleep watch: one connection to the system bus (sd-bus), the
// PrepareForSleep signals of systemd-logind's manager, and its delay inhibitors. A client is
// used by one thread only, as sd-bus requires.
#pragma once

#include <systemd/sd-bus.h>

#include <deque>

namespace power_service {

struct LogindClient {
    sd_bus* pBus = nullptr;
    sd_bus_slot* pSleepMatch = nullptr;
    // The arguments of the PrepareForSleep signals received and not yet acted on, oldest first:
    // true before the machine sleeps, false once it is awake again.
    std::deque<bool> sleepSignals;
};

// Connects to the system bus ($DBUS_SYSTEM_BUS_ADDRESS or the system's own) and subscribes to
// PrepareForSleep. FALSE when there is no bus or it refuses the subscription; the client is
// closed then.
bool OpenLogindClient(LogindClient* pClient);

// logind's answer to Inhibit. fd holds the inhibitor; it is the reply's, closed when the reply
// is released, so whoever keeps the inhibitor makes a copy first.
struct InhibitorReply {
    sd_bus_message* pMessage = nullptr;
    int fd = -1;
};

// Asks for a "delay" inhibitor of sleep for this program. FALSE when logind is not on the bus or
// refuses; there is no reply to release then.
bool AskForSleepInhibitor(LogindClient* pClient, InhibitorReply* pReply);

void ReleaseInhibitorReply(InhibitorReply* pReply);

// Handles everything the connection has ready, appending PrepareForSleep arguments to
// sleepSignals. FALSE once the connection is lost.
bool DispatchLogindClient(LogindClient* pClient);

// What to wait for before dispatching again: the connection's descriptor, the poll events it
// needs, and the longest wait in milliseconds (-1: no limit).
struct BusWait {
    int fd;
    short events;
    int nTimeoutMs;
};
bool GetBusWait(LogindClient* pClient, BusWait* pWait);

void CloseLogindClient(LogindClient* pClient);

}  // namespace power_service
