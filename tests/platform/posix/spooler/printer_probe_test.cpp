// The helper's printer probe, IsModelPrinting(), on the POSIX layer against real queues of a
// private CUPS scheduler: its answer and every line it traces.
#include <string>
#include <vector>

#include "platform/posix/include/quorvane_debug_monitor.h"
#include "platform/win32.h"
#include "quorvane/power/printer_activity.h"
#include "tests/platform/posix/spooler/private_cupsd.h"

namespace {

using PrinterProbeTest = PrivateCupsdTest;
using Lines = std::vector<std::u16string>;

// Long enough that only a fault, never a slow machine, makes a trace line take this long.
constexpr int kPatientMs = 10000;

const char16_t kProbe[] = u"QUORVANEIsModelPrinting()\n";
const char16_t kEndOfProbe[] = u"(the probe has returned)\n";

std::u16string Compared(const std::u16string& printer, const std::u16string& driver, int iModel)
{
    static const char16_t* const kModels[] = {u"NALVEX QT14 (XPS)", u"NALVEX QT16 (XPS)",
                                              u"NALVEX QT17 (XPS)"};
    return u"QUORVANEIsModelPrinting() : " + printer + u" (" + driver + u") == " + kModels[iModel] +
           u"\n";
}

std::u16string Number(int n)
{
    std::string digits = std::to_string(n);
    return std::u16string(digits.begin(), digits.end());
}

std::u16string Jobs(const std::u16string& printer, int cJobs)
{
    return u"QUORVANEGetNumberOfJobs(" + printer + u") returns " + Number(cJobs) + u"\n";
}

std::u16string Found(const std::u16string& printer, int cJobs)
{
    return u"QUORVANEIsModelPrinting() : GetNumberOfJobs(" + printer + u") returns " +
           Number(cJobs) + u"\n";
}

// This thread attached as the machine's debug output monitor for the length of a scope.
class TraceMonitor {
  public:
    TraceMonitor() : fd_(QuorvaneAttachDebugMonitor()) {}
    TraceMonitor(const TraceMonitor&) = delete;
    TraceMonitor& operator=(const TraceMonitor&) = delete;
    ~TraceMonitor()
    {
        if (fd_ >= 0) {
            QuorvaneDetachDebugMonitor(fd_);
        }
    }
    bool Attached() const { return fd_ >= 0; }

    // Every line written since the last call, up to a mark written now.
    Lines Take()
    {
        OutputDebugStringW(kEndOfProbe);
        Lines lines;
        WCHAR szText[1024];
        DWORD dwProcessId = 0;
        for (;;) {
            int nChars = QuorvaneReceiveDebugMessage(fd_, kPatientMs, &dwProcessId, szText,
                                                     sizeof(szText) / sizeof(szText[0]));
            if (nChars <= 0) {
                ADD_FAILURE() << "the trace ended without the mark";
                return lines;
            }
            std::u16string line(szText, static_cast<size_t>(nChars));
            if (line == kEndOfProbe) {
                return lines;
            }
            lines.push_back(line);
        }
    }

  private:
    int fd_;
};

struct ProbeQueue {
    std::string name;
    std::string model;
    int nJobs;  // a queue with jobs is stopped, so that they stay queued
};

struct ProbeCase {
    const char* pszCase;
    std::vector<ProbeQueue> queues;  // made in this order
    bool spoolerGone;
    DWORD dwAnswer;
    Lines traces;
};

TEST_F(PrinterProbeTest, AnswersAndTracesAsTheSpoolerSeesTheQueues)
{
    const std::u16string qt14 = u"NALVEX QT14 (XPS)", qt16 = u"NALVEX QT16 (XPS)",
                         qt17 = u"NALVEX QT17 (XPS)", lower = u"nalvex qt14 (xps)",
                         buero = u"Büro打印";
    const ProbeCase cases[] = {
        {"no queues", {}, false, 0, {kProbe}},
        {"an idle model queue: its jobs are asked for, and the search goes on",
         {{"Office", "NALVEX QT16 (XPS)", 0}},
         false,
         0,
         {kProbe, Compared(u"Office", qt16, 0), Compared(u"Office", qt16, 1), Jobs(u"Office", 0),
          Compared(u"Office", qt16, 2)}},
        {"a model queue with jobs",
         {{"Office", "NALVEX QT16 (XPS)", 2}},
         false,
         1,
         {kProbe, Compared(u"Office", qt16, 0), Compared(u"Office", qt16, 1), Jobs(u"Office", 2),
          Found(u"Office", 2)}},
        {"a driver name in other letter case is another driver",
         {{"Office", "nalvex qt14 (xps)", 1}},
         false,
         0,
         {kProbe, Compared(u"Office", lower, 0), Compared(u"Office", lower, 1),
          Compared(u"Office", lower, 2)}},
        {"the first busy model queue in the spooler's order ends the search",
         {{"Basement", "NALVEX QT17 (XPS)", 3}, {"Annex", "NALVEX QT14 (XPS)", 1}},
         false,
         1,
         {kProbe, Compared(u"Annex", qt14, 0), Jobs(u"Annex", 1), Found(u"Annex", 1)}},
        {"a name beyond ASCII is traced as it is",
         {{"Büro打印", "NALVEX QT14 (XPS)", 1}},
         false,
         1,
         {kProbe, Compared(buero, qt14, 0), Jobs(buero, 1), Found(buero, 1)}},
        {"no spooler",
         {{"Office", "NALVEX QT16 (XPS)", 2}},
         true,
         0,
         {kProbe, u"QUORVANEIsModelPrinting() : EnumPrinters(1) failed. GetLastError() = 1722\n"}},
    };

    TraceMonitor monitor;
    ASSERT_TRUE(monitor.Attached());
    for (const ProbeCase& c : cases) {
        SCOPED_TRACE(c.pszCase);
        for (const ProbeQueue& queue : c.queues) {
            ASSERT_TRUE(Cupsd().AddQueue(queue.name, queue.model, queue.nJobs != 0));
            for (int i = 0; i < queue.nJobs; i++) {
                ASSERT_TRUE(Cupsd().SubmitJob(queue.name));
            }
        }
        ASSERT_TRUE(monitor.Take().empty()) << "traced before the probe ran";

        DWORD dwAnswer = 0;
        if (c.spoolerGone) {
            ScopedCupsServer gone(Cupsd().Socket() + ".gone");
            dwAnswer = IsModelPrinting();
        } else {
            dwAnswer = IsModelPrinting();
        }

        EXPECT_EQ(c.dwAnswer, dwAnswer);
        EXPECT_EQ(c.traces, monitor.Take());
        Cupsd().DeleteQueues();
    }
}

}  // namespace
