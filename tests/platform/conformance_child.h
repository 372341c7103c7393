// What the conformance tests and their child program (platform_conformance_child) agree on:
// the commands and the exit codes that report their outcome.
//
//   create-mutex NAME | create-event NAME    create, then close
//   open-mutex NAME   | open-event NAME      open, then close
//   signal-event NAME                        open and set
//   release-mutex NAME                       open and release without owning
//   hold-mutex NAME READY GO THEN            open or create, take it, set the event READY, wait
//                                            for the event GO, then THEN
//   hold-event NAME READY GO THEN            create (it must be new), set READY, wait for GO,
//                                            then THEN
//
// THEN is "release" (hold-mutex only) or "close": let go and exit; "exit": exit without letting
// go; "kill": the process kills itself, as a crash would end it.
//
// Exit codes are small numbers because a POSIX exit status has eight bits.
#pragma once

#include "platform/win32.h"

enum ChildExit : int {
    kChildSucceeded = 0,
    kChildAlreadyExists = 1,  // ERROR_ALREADY_EXISTS
    kChildFileNotFound = 2,   // ERROR_FILE_NOT_FOUND
    kChildInvalidHandle = 3,  // ERROR_INVALID_HANDLE
    kChildNotOwner = 4,       // ERROR_NOT_OWNER
    kChildTimedOut = 5,       // a wait gave WAIT_TIMEOUT
    kChildAbandoned = 6,      // a wait gave WAIT_ABANDONED_0
    kChildOtherError = 7,     // any other failure: the child names it on stderr
    kChildUsageError = 8,
    kChildKilled = 9,  // the child killed itself (on POSIX hosts: died of SIGKILL)
};

// How long a child waits for an event from its parent before it gives up, so that no child
// outlives a test that failed half-way.
constexpr DWORD kChildPatienceMs = 30000;

// The exit code that reports a failed call's last error.
inline ChildExit ChildExitForError(DWORD dwError)
{
    switch (dwError) {
        case ERROR_SUCCESS:
            return kChildSucceeded;
        case ERROR_ALREADY_EXISTS:
            return kChildAlreadyExists;
        case ERROR_FILE_NOT_FOUND:
            return kChildFileNotFound;
        case ERROR_INVALID_HANDLE:
            return kChildInvalidHandle;
        case ERROR_NOT_OWNER:
            return kChildNotOwner;
        default:
            return kChildOtherError;
    }
}

inline const char* ChildExitName(int code)
{
    switch (code) {
        case kChildSucceeded:
            return "succeeded";
        case kChildAlreadyExists:
            return "ERROR_ALREADY_EXISTS";
        case kChildFileNotFound:
            return "ERROR_FILE_NOT_FOUND";
        case kChildInvalidHandle:
            return "ERROR_INVALID_HANDLE";
        case kChildNotOwner:
            return "ERROR_NOT_OWNER";
        case kChildTimedOut:
            return "WAIT_TIMEOUT";
        case kChildAbandoned:
            return "WAIT_ABANDONED_0";
        case kChildOtherError:
            return "another error";
        case kChildUsageError:
            return "usage error";
        case kChildKilled:
            return "killed";
        default:
            return "unknown exit code";
    }
}
