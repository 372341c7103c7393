// login_stand_in: a stand-in for systemd-logind's manager on the test's private system bus: it owns
// org.freedesktop.login1, serves Manager.Inhibit as logind does (the caller gets one end of a
// pipe and holds the inhibitor while that end is open) and emits PrepareForSleep on request.
//
//   login_stand_in [--refuse]      (--refuse: every Inhibit is answered with AccessDenied)
//
// Commands on stdin, one a line:
//   prepare 1 | prepare 0     emit PrepareForSleep(true | false)
//   count                     report the inhibitors taken and still held, once none is held
//                             or 5 s have passed
// Events on stdout, one a line, fields apart by tabs; TIME is CLOCK_MONOTONIC in nanoseconds,
// comparable with the test's own:
//   ready
//   inhibit  ID  PID  TIME  WHAT  WHO  WHY  MODE
//   refused  PID  TIME  WHAT  WHO  WHY  MODE
//   release  ID  TIME                    (the caller's end was closed)
//   emitted  VALUE
//   count  TAKEN  HELD  REFUSED
// It ends at the end of stdin. The bus may die under it: it still reports releases then.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace {

constexpr const char* kManagerPath = "/org/freedesktop/login1";
constexpr const char* kManagerInterface = "org.freedesktop.login1.Manager";

struct Inhibitor {
    int id;
    int fd;  // our end of the pipe: it hangs up once every copy of the caller's end is closed
};

struct StandIn {
    sd_bus* pBus = nullptr;
    bool bRefuse = false;
    std::vector<Inhibitor> held;
    int nTaken = 0;
    int nRefused = 0;
};

long long NowNs()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

// One line per write: the test reads whole lines, whatever else is written meanwhile.
void Report(const std::string& line)
{
    std::string text = line + "\n";
    ssize_t cbWritten = write(STDOUT_FILENO, text.data(), text.size());
    (void)cbWritten;
}

pid_t SenderPid(sd_bus_message* pMessage)
{
    sd_bus_creds* pCreds = nullptr;
    pid_t pid = 0;
    if (sd_bus_get_name_creds(sd_bus_message_get_bus(pMessage), sd_bus_message_get_sender(pMessage),
                              SD_BUS_CREDS_PID, &pCreds) >= 0) {
        sd_bus_creds_get_pid(pCreds, &pid);
    }
    sd_bus_creds_unref(pCreds);
    return pid;
}

int OnInhibit(StandIn* pStandIn, sd_bus_message* pMessage)
{
    const char *pszWhat, *pszWho, *pszWhy, *pszMode;
    int nResult = sd_bus_message_read(pMessage, "ssss", &pszWhat, &pszWho, &pszWhy, &pszMode);
    if (nResult < 0) {
        return nResult;
    }
    std::string call = std::to_string(SenderPid(pMessage)) + "\t" + std::to_string(NowNs()) + "\t" +
                       pszWhat + "\t" + pszWho + "\t" + pszWhy + "\t" + pszMode;
    if (pStandIn->bRefuse) {
        pStandIn->nRefused++;
        Report("refused\t" + call);
        return sd_bus_reply_method_errorf(pMessage, SD_BUS_ERROR_ACCESS_DENIED,
                                          "Inhibitors are refused here");
    }
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return -errno;
    }
    Inhibitor inhibitor{++pStandIn->nTaken, ends[0]};
    pStandIn->held.push_back(inhibitor);
    // Reported before the answer, so that the report is out before the caller goes on.
    Report("inhibit\t" + std::to_string(inhibitor.id) + "\t" + call);
    nResult = sd_bus_reply_method_return(pMessage, "h", ends[1]);
    close(ends[1]);  // the reply carries its own copy
    return nResult;
}

int OnManagerMessage(sd_bus_message* pMessage, void* pUserData, sd_bus_error* /*pError*/)
{
    if (sd_bus_message_is_method_call(pMessage, kManagerInterface, "Inhibit") > 0) {
        return OnInhibit(static_cast<StandIn*>(pUserData), pMessage);
    }
    return 0;  // anything else: sd-bus answers that there is no such method
}

// Reports every inhibitor whose caller's end is closed, and forgets it.
void ReportReleases(StandIn* pStandIn, const std::vector<pollfd>& fds, size_t iFirst)
{
    std::vector<Inhibitor> stillHeld;
    for (size_t i = 0; i < pStandIn->held.size(); i++) {
        const Inhibitor& inhibitor = pStandIn->held[i];
        if ((fds[iFirst + i].revents & (POLLHUP | POLLERR)) != 0) {
            Report("release\t" + std::to_string(inhibitor.id) + "\t" + std::to_string(NowNs()));
            close(inhibitor.fd);
        } else {
            stillHeld.push_back(inhibitor);
        }
    }
    pStandIn->held = stillHeld;
}

// A caller that let go of its inhibitor may not be the last holder yet: the bus daemon closes
// its own copy of a descriptor it passed on a moment after delivering it.
void AwaitReleases(StandIn* pStandIn, int nTimeoutMs)
{
    long long deadlineNs = NowNs() + nTimeoutMs * 1000000LL;
    while (!pStandIn->held.empty()) {
        long long nLeftMs = (deadlineNs - NowNs()) / 1000000;
        std::vector<pollfd> fds;
        for (const Inhibitor& inhibitor : pStandIn->held) {
            fds.push_back(pollfd{inhibitor.fd, 0, 0});
        }
        int nReady = poll(fds.data(), fds.size(), static_cast<int>(nLeftMs > 0 ? nLeftMs : 0));
        if (nReady < 0 && errno == EINTR) {
            continue;
        }
        if (nReady <= 0) {
            return;
        }
        ReportReleases(pStandIn, fds, 0);
    }
}

void RunCommand(StandIn* pStandIn, const std::string& command)
{
    if (command == "prepare 1" || command == "prepare 0") {
        int bSleeping = command == "prepare 1" ? 1 : 0;
        if (pStandIn->pBus != nullptr) {
            sd_bus_emit_signal(pStandIn->pBus, kManagerPath, kManagerInterface, "PrepareForSleep",
                               "b", bSleeping);
            sd_bus_flush(pStandIn->pBus);
        }
        Report("emitted\t" + std::to_string(bSleeping));
    } else if (command == "count") {
        AwaitReleases(pStandIn, 5000);
        Report("count\t" + std::to_string(pStandIn->nTaken) + "\t" +
               std::to_string(pStandIn->held.size()) + "\t" + std::to_string(pStandIn->nRefused));
    }
}

bool Serve(StandIn* pStandIn)
{
    std::string pending;
    for (;;) {
        if (pStandIn->pBus != nullptr) {
            int nResult;
            while ((nResult = sd_bus_process(pStandIn->pBus, nullptr)) > 0) {
            }
            if (nResult < 0) {
                pStandIn->pBus = sd_bus_close_unref(pStandIn->pBus);
            }
        }
        std::vector<pollfd> fds;
        fds.push_back(pollfd{STDIN_FILENO, POLLIN, 0});
        if (pStandIn->pBus != nullptr) {
            fds.push_back(pollfd{sd_bus_get_fd(pStandIn->pBus),
                                 static_cast<short>(sd_bus_get_events(pStandIn->pBus)), 0});
        }
        size_t iFirstInhibitor = fds.size();
        for (const Inhibitor& inhibitor : pStandIn->held) {
            fds.push_back(pollfd{inhibitor.fd, 0, 0});
        }
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        ReportReleases(pStandIn, fds, iFirstInhibitor);
        if ((fds[0].revents & (POLLIN | POLLHUP)) != 0) {
            char buffer[256];
            ssize_t cbRead = read(STDIN_FILENO, buffer, sizeof(buffer));
            if (cbRead <= 0) {
                return true;
            }
            pending.append(buffer, static_cast<size_t>(cbRead));
            size_t nEnd;
            while ((nEnd = pending.find('\n')) != std::string::npos) {
                RunCommand(pStandIn, pending.substr(0, nEnd));
                pending.erase(0, nEnd + 1);
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    StandIn standIn;
    standIn.bRefuse = argc > 1 && strcmp(argv[1], "--refuse") == 0;
    if (sd_bus_open_system(&standIn.pBus) < 0 ||
        sd_bus_add_object(standIn.pBus, nullptr, kManagerPath, OnManagerMessage, &standIn) < 0 ||
        sd_bus_request_name(standIn.pBus, "org.freedesktop.login1", 0) < 0) {
        fprintf(stderr, "login_stand_in: cannot serve org.freedesktop.login1 on the bus\n");
        return 1;
    }
    Report("ready");
    bool bServed = Serve(&standIn);
    sd_bus_close_unref(standIn.pBus);
    for (const Inhibitor& inhibitor : standIn.held) {
        close(inhibitor.fd);
    }
    return bServed ? 0 : 1;
}
