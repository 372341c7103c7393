// What the files of the window service share: the process's classes and windows, each
// thread's message queue, and the wire format between processes.
//
// A top-level window is reachable from every process of the machine root: its class and title
// are published as a small file in "<root>/windows/", named by the window handle, and it
// listens on an abstract Unix seqpacket socket named after the root and the handle. A message
// sent from another process travels over that socket and is handled inside the owner thread's
// GetMessageW; the answer travels back. A dead owner's socket vanishes with it, which is how
// a sender and FindWindowW tell a dead window from a live one.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace window_service {

// --- Wire format ---------------------------------------------------------------------------

enum class PacketKind : std::uint32_t { Send = 1, Post = 2 };

struct RequestPacket {
    std::uint32_t magic;  // kRequestMagic
    PacketKind kind;
    std::uint64_t sequence;  // echoed in the reply, so a late answer is never taken for another
    std::uint64_t hwnd;
    std::uint32_t message;
    std::uint32_t reserved;
    std::uint64_t wParam;
    std::int64_t lParam;
};

struct ReplyPacket {
    std::uint32_t magic;  // kReplyMagic
    std::uint32_t reserved;
    std::uint64_t sequence;
    std::int64_t lResult;
};

constexpr std::uint32_t kRequestMagic = 0x534d5651;  // "QVMS"
constexpr std::uint32_t kReplyMagic = 0x50525651;    // "QVRP"

// --- Windows of this process ---------------------------------------------------------------

struct WindowRecord {
    std::u16string className;
    std::u16string title;
    WNDPROC pfnWndProc;
    pid_t ownerThread;  // the thread whose GetMessageW serves the window
    int listenFd;       // where other processes connect; -1 once destroyed
    bool bVisible;
    bool bDestroying;  // WM_DESTROY is on its way: destroying it again does nothing
};

// The process-wide tables. Every access holds Lock().
struct ProcessWindows {
    std::map<std::u16string, WNDCLASSW> classes;
    std::map<std::u16string, std::u16string> classNames;  // owns the names the classes point at
    std::map<ULONG_PTR, WindowRecord> windows;
    bool bHadWindow;  // a window was created: a close signal then never ends the process at once
};

ProcessWindows& Windows();
void Lock();
void Unlock();

// The calling thread's id, which owns the windows it creates.
pid_t CurrentThreadId();

// --- The calling thread's queue ------------------------------------------------------------

struct ThreadQueue {
    std::deque<MSG> posted;
    bool bQuit;
    int nQuitCode;
    std::vector<int> connections;  // accepted connections from senders in other processes
};

// Connections one thread serves at most; beyond, senders wait in the listening backlog until
// one of them closes.
constexpr size_t kMaxConnections = 256;

ThreadQueue& CurrentQueue();

// --- Where windows are found ---------------------------------------------------------------

// Connects to a window's socket. Returns the descriptor, or -1 when nobody listens there.
int ConnectToWindow(ULONG_PTR hwnd);
// Listens as the window: a non-blocking listening socket, or -1.
int ListenAsWindow(ULONG_PTR hwnd);

// Publishes a window's class and title for other processes.
bool PublishWindowEntry(ULONG_PTR hwnd, const std::u16string& className,
                        const std::u16string& title);
// Reads the class and title a window published. FALSE when there is no such entry.
bool ReadWindowEntry(ULONG_PTR hwnd, std::u16string* pClassName, std::u16string* pTitle);
// Every published handle in the machine root, live or not.
std::vector<ULONG_PTR> PublishedWindows();
// Removes the entry of a window whose owner is gone.
void RemoveWindowEntry(ULONG_PTR hwnd);

// Calls the window procedure of a window of this process.
LRESULT CallWindowProcedure(ULONG_PTR hwnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

// Starts turning SIGTERM and SIGINT into WM_CLOSE; returns the descriptor that becomes
// readable when one arrives.
int CloseSignalFd();
// Posts WM_CLOSE to every top-level window of the process.
void PostCloseToAllWindows();

}  // namespace window_service
