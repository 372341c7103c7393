// The arena is one file of several megabytes that every process maps; a process must be resident
// only in the pages it uses. Each step below is a path that the helper and its tools take all the
// time, and after each this process's resident share of the arena stays a small part of it.
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/posix/machine.h"

namespace {

// Far above what a few objects use (about 50 KB), far below the arena (about 5 MB): exceeded only
// when something reads or writes a table at large.
constexpr size_t kResidentBoundKb = 256;

constexpr int kPorts = 8;

// Every wait here can be satisfied at once; the bound only turns a lost wake-up into a failure.
constexpr DWORD kGenerousMs = 10000;

struct Residency {
    bool bMapped;
    size_t kilobytes;
};

// Whether a line of /proc/self/smaps opens a mapping: "start-end perms offset dev inode path".
bool OpensMapping(const std::string& line)
{
    size_t space = line.find(' ');
    size_t dash = line.find('-');
    return space != std::string::npos && dash < space &&
           line.find_first_not_of("0123456789abcdef-") == space;
}

// This process's resident kilobytes of the file at path, from the kernel's own count.
Residency ResidencyOf(const std::string& path)
{
    std::ifstream smaps("/proc/self/smaps");
    Residency residency = {false, 0};
    bool bInFile = false;
    const std::string suffix = " " + path;
    for (std::string line; std::getline(smaps, line);) {
        if (OpensMapping(line)) {
            bInFile = line.size() >= suffix.size() &&
                      line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0;
            residency.bMapped = residency.bMapped || bInFile;
        } else if (bInFile && line.rfind("Rss:", 0) == 0) {
            residency.kilobytes += std::stoul(line.substr(4));
        }
    }
    return residency;
}

std::u16string PortName(int port)
{
    return Wide("Global\\Residency.Port." + std::to_string(port));
}

// The handles left open when a step fails are closed by MachineTest's detach.
class ResidencyTest : public MachineTest {
  protected:
    HANDLE Keep(HANDLE hObject)
    {
        EXPECT_NE(nullptr, hObject);
        if (hObject != NULL) {
            handles_.push_back(hObject);
        }
        return hObject;
    }

    std::vector<HANDLE> ports_;
    HANDLE event_ = NULL;
    std::vector<HANDLE> handles_;
};

struct Step {
    const char* what;
    std::function<void()> run;
};

TEST_F(ResidencyTest, ProcessIsResidentOnlyInTheArenaPagesItUses)
{
    const Step steps[] = {
        {"objects are made, named and unnamed",
         [this] {
             for (int port = 0; port < kPorts; port++) {
                 ports_.push_back(Keep(CreateMutexW(NULL, FALSE, PortName(port).c_str())));
             }
             event_ = Keep(CreateEventW(NULL, TRUE, FALSE, u"Global\\Residency.Event"));
             Keep(CreateEventW(NULL, FALSE, FALSE, u"Residency.Local"));
             Keep(CreateEventW(NULL, FALSE, FALSE, NULL));
         }},
        {"names are looked up, found or not",
         [this] {
             for (int port = 0; port < kPorts; port++) {
                 Keep(OpenMutexW(SYNCHRONIZE, FALSE, PortName(port).c_str()));
             }
             Keep(CreateEventW(NULL, TRUE, FALSE, u"Global\\Residency.Event"));
             EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
             EXPECT_EQ(nullptr, OpenEventW(SYNCHRONIZE, FALSE, u"Global\\Residency.Missing"));
             EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
         }},
        {"waits take objects, block and time out",
         [this] {
             EXPECT_EQ(WAIT_OBJECT_0,
                       WaitForMultipleObjects(kPorts, ports_.data(), TRUE, kGenerousMs));
             for (HANDLE hPort : ports_) {
                 EXPECT_TRUE(ReleaseMutex(hPort));
             }
             EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event_, 20));
             EXPECT_TRUE(SetEvent(event_));
             EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event_, kGenerousMs));
             EXPECT_TRUE(ResetEvent(event_));
         }},
        {"threads come, take a port each and exit",
         [this] {
             constexpr int kThreads = 4;
             std::vector<std::thread> threads;
             threads.reserve(kThreads);
             for (int i = 0; i < kThreads; i++) {
                 threads.emplace_back([this, i] {
                     EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ports_[i], kGenerousMs));
                     EXPECT_TRUE(ReleaseMutex(ports_[i]));
                 });
             }
             for (std::thread& thread : threads) {
                 thread.join();
             }
         }},
        {"another process dies holding a port and an object of its own",
         [this] {
             ChildProgram holder;
             EXPECT_EQ("0 183", holder.Ask("create-mutex Global\\Residency.Port.0"));
             EXPECT_EQ("0 57005", holder.Ask("wait 0 0"));
             EXPECT_EQ("1 0", holder.Ask("create-event Global\\Residency.Orphan"));
             holder.Kill();
             EXPECT_EQ(WAIT_ABANDONED_0, WaitForSingleObject(ports_[0], kGenerousMs));
             EXPECT_TRUE(ReleaseMutex(ports_[0]));
             EXPECT_EQ(nullptr, OpenEventW(SYNCHRONIZE, FALSE, u"Global\\Residency.Orphan"));
             EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
         }},
        {"every handle is closed",
         [this] {
             for (HANDLE h : handles_) {
                 EXPECT_TRUE(CloseHandle(h));
             }
             handles_.clear();
         }},
    };
    const std::string arena = root_ + "/objects";
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.run();
        Residency residency = ResidencyOf(arena);
        ASSERT_TRUE(residency.bMapped) << arena << " is not mapped";
        EXPECT_LT(residency.kilobytes, kResidentBoundKb);
    }
}

}  // namespace
