// The second process of the kernel object conformance tests. It runs one command on named
// objects and reports the outcome through its exit code (see conformance_child.h).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#if !defined(_WIN32)
#include <signal.h>
#endif

#include "platform/win32.h"
#include "tests/platform/conformance_child.h"

namespace {

using WideString = std::basic_string<WCHAR>;

// Command lines carry ASCII only, so each byte is one UTF-16 code unit.
WideString Widen(const char* text)
{
    WideString wide;
    for (; *text != '\0'; ++text) {
        wide += static_cast<WCHAR>(static_cast<unsigned char>(*text));
    }
    return wide;
}

int ReportFailure(const char* call)
{
    const DWORD dwError = GetLastError();
    const ChildExit code = ChildExitForError(dwError);
    if (code == kChildOtherError || code == kChildSucceeded) {
        std::fprintf(stderr, "conformance child: %s failed, last error %lu\n", call,
                     static_cast<unsigned long>(dwError));
        return kChildOtherError;
    }
    return code;
}

int ReportWait(const char* what, DWORD dwResult)
{
    switch (dwResult) {
        case WAIT_OBJECT_0:
            return kChildSucceeded;
        case WAIT_ABANDONED_0:
            return kChildAbandoned;
        case WAIT_TIMEOUT:
            return kChildTimedOut;
        case WAIT_FAILED:
            return ReportFailure(what);
        default:
            std::fprintf(stderr, "conformance child: %s returned %lu\n", what,
                         static_cast<unsigned long>(dwResult));
            return kChildOtherError;
    }
}

[[noreturn]] void KillThisProcess()
{
#if defined(_WIN32)
    TerminateProcess(GetCurrentProcess(), kChildKilled);
#else
    raise(SIGKILL);
#endif
    std::abort();  // neither call returns
}

int Create(bool mutex, const WideString& name)
{
    HANDLE hObject = mutex ? CreateMutexW(NULL, FALSE, name.c_str())
                           : CreateEventW(NULL, TRUE, FALSE, name.c_str());
    if (hObject == NULL) {
        return ReportFailure(mutex ? "CreateMutexW" : "CreateEventW");
    }
    const DWORD dwError = GetLastError();
    CloseHandle(hObject);
    return ChildExitForError(dwError);
}

int Open(bool mutex, const WideString& name)
{
    HANDLE hObject = mutex ? OpenMutexW(SYNCHRONIZE, FALSE, name.c_str())
                           : OpenEventW(SYNCHRONIZE, FALSE, name.c_str());
    if (hObject == NULL) {
        return ReportFailure(mutex ? "OpenMutexW" : "OpenEventW");
    }
    CloseHandle(hObject);
    return kChildSucceeded;
}

int SignalEvent(const WideString& name)
{
    HANDLE hEvent = OpenEventW(SYNCHRONIZE | EVENT_MODIFY_STATE, FALSE, name.c_str());
    if (hEvent == NULL) {
        return ReportFailure("OpenEventW");
    }
    const BOOL bSet = SetEvent(hEvent);
    const int code = bSet ? kChildSucceeded : ReportFailure("SetEvent");
    CloseHandle(hEvent);
    return code;
}

int ReleaseUnowned(const WideString& name)
{
    HANDLE hMutex = OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE, FALSE, name.c_str());
    if (hMutex == NULL) {
        return ReportFailure("OpenMutexW");
    }
    const BOOL bReleased = ReleaseMutex(hMutex);
    const int code = bReleased ? kChildSucceeded : ReportFailure("ReleaseMutex");
    CloseHandle(hMutex);
    return code;
}

// Tells the parent that the object is held, then waits for its word to go on.
int HandShake(const WideString& readyName, const WideString& goName)
{
    const int signalled = SignalEvent(readyName);
    if (signalled != kChildSucceeded) {
        return signalled;
    }
    HANDLE hGo = OpenEventW(SYNCHRONIZE, FALSE, goName.c_str());
    if (hGo == NULL) {
        return ReportFailure("OpenEventW");
    }
    const int code = ReportWait("waiting for GO", WaitForSingleObject(hGo, kChildPatienceMs));
    CloseHandle(hGo);
    return code;
}

int HoldMutex(const WideString& name, const WideString& readyName, const WideString& goName,
              const std::string& then)
{
    HANDLE hMutex = CreateMutexW(NULL, FALSE, name.c_str());
    if (hMutex == NULL) {
        return ReportFailure("CreateMutexW");
    }
    const int taken =
        ReportWait("waiting for the mutex", WaitForSingleObject(hMutex, kChildPatienceMs));
    if (taken != kChildSucceeded) {
        return taken;
    }
    const int told = HandShake(readyName, goName);
    if (told != kChildSucceeded) {
        return told;
    }
    if (then == "kill") {
        KillThisProcess();
    }
    if (then == "exit") {
        return kChildSucceeded;  // still the owner: the process's end abandons the mutex
    }
    const BOOL bReleased = ReleaseMutex(hMutex);
    CloseHandle(hMutex);
    return bReleased ? kChildSucceeded : ReportFailure("ReleaseMutex");
}

int HoldEvent(const WideString& name, const WideString& readyName, const WideString& goName,
              const std::string& then)
{
    HANDLE hEvent = CreateEventW(NULL, TRUE, FALSE, name.c_str());
    if (hEvent == NULL) {
        return ReportFailure("CreateEventW");
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(hEvent);
        return kChildAlreadyExists;
    }
    const int told = HandShake(readyName, goName);
    if (told != kChildSucceeded) {
        return told;
    }
    if (then == "kill") {
        KillThisProcess();
    }
    if (then == "exit") {
        return kChildSucceeded;  // the handle is still open when the process ends
    }
    CloseHandle(hEvent);
    return kChildSucceeded;
}

bool IsOneOf(const std::string& word, std::initializer_list<const char*> choices)
{
    for (const char* choice : choices) {
        if (word == choice) {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s COMMAND NAME [READY GO THEN]\n", argv[0]);
        return kChildUsageError;
    }
    const std::string command = argv[1];
    const WideString name = Widen(argv[2]);
    if (argc == 3) {
        if (command == "create-mutex" || command == "create-event") {
            return Create(command == "create-mutex", name);
        }
        if (command == "open-mutex" || command == "open-event") {
            return Open(command == "open-mutex", name);
        }
        if (command == "signal-event") {
            return SignalEvent(name);
        }
        if (command == "release-mutex") {
            return ReleaseUnowned(name);
        }
    } else if (argc == 6) {
        const std::string then = argv[5];
        if (command == "hold-mutex" && IsOneOf(then, {"release", "exit", "kill"})) {
            return HoldMutex(name, Widen(argv[3]), Widen(argv[4]), then);
        }
        if (command == "hold-event" && IsOneOf(then, {"close", "exit", "kill"})) {
            return HoldEvent(name, Widen(argv[3]), Widen(argv[4]), then);
        }
    }
    std::fprintf(stderr, "%s: unknown command or wrong arguments: %s\n", argv[0], argv[1]);
    return kChildUsageError;
}
