// The fake machine's state, shared by the files that implement its calls.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/fakeos/fake_os.h"

namespace fakeos {

enum class ObjectKind { Event, Mutex, Printer };

enum class Owner { None, Helper, Elsewhere };

struct Object {
    ObjectKind kind;
    std::u16string name;  // empty for printers and unnamed objects
    int nHelperHandles;   // handles the helper holds
    bool bHeldElsewhere;  // another process keeps a handle
    // Events.
    bool bManualReset;
    bool bSignalled;
    // Mutexes.
    Owner owner;
    int nRecursion;
    bool bAbandoned;
    // Printers: the index in Machine::printers.
    size_t iPrinter;
};

struct Printer {
    std::optional<std::u16string> name;
    std::optional<std::u16string> driver;
    DWORD cJobs;
};

struct QueuedMessage {
    UINT uMsg;
    WPARAM wParam;
    LPARAM lParam;
    bool bSent;
    std::function<void()> action;  // when set, the entry is this action and not a message
};

struct Window {
    std::u16string className;
    WNDPROC pfnWndProc;
};

struct Failure {
    int nRemaining;  // calls to let pass before the failing one; -1 fails every call
    DWORD dwError;
};

struct Machine {
    DWORD dwLastError;

    DWORD dwPlatformId, dwMajorVersion, dwMinorVersion;
    VersionFailure versionFailure;
    std::vector<DWORD> versionQuerySizes;

    std::map<ULONG_PTR, int> handles;  // handle value -> object id
    std::map<int, Object> objects;
    int nextObjectId;
    ULONG_PTR nextHandle;
    std::deque<std::pair<DWORD, DWORD>> scriptedWaits;

    std::map<std::u16string, WNDCLASSW> classes;
    std::map<std::u16string, std::u16string> classNames;  // keeps the names the classes point at
    std::map<ULONG_PTR, Window> windows;
    std::deque<QueuedMessage> queue;
    bool bQuitPosted;
    bool bQueueRanDry;
    std::vector<LRESULT> sentAnswers;

    std::vector<Printer> printers;
    DWORD cEnumeratedExtra;
    DWORD cbShortRecord;  // 0: records are whole

    int nHeapBlocks;
    std::map<Api, std::vector<Failure>> failures;

    std::vector<std::string> traces;
    std::vector<std::string> calls;
};

Machine& TheMachine();

// Consumes one call of api: TRUE (and the last error set) when the test scripted it to fail.
bool ShouldFail(Api api);

void Record(const std::string& call);

// The object behind a handle of the helper's, or NULL.
Object* LookUp(HANDLE hHandle);
HANDLE NewHandle(int objectId);
int NewObject(const Object& object);
// The object of that name, or NULL.
Object* FindNamed(const std::u16string& name, int* pObjectId = nullptr);

}  // namespace fakeos
