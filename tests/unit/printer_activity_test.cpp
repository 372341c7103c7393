#include "quorvane/power/printer_activity.h"

#include "tests/unit/helper_fixture.h"

namespace {

using PrinterActivityTest = HelperTest;

const char kProbe[] = "QUORVANEIsModelPrinting()\n";

std::string Compared(const std::string& printer, const std::string& driver, int iModel)
{
    static const char* const kModels[] = {"NALVEX QT14 (XPS)", "NALVEX QT16 (XPS)",
                                          "NALVEX QT17 (XPS)"};
    return "QUORVANEIsModelPrinting() : " + printer + " (" + driver + ") == " + kModels[iModel] +
           "\n";
}

std::string Jobs(const std::string& printer, int cJobs)
{
    return "QUORVANEGetNumberOfJobs(" + printer + ") returns " + std::to_string(cJobs) + "\n";
}

std::string Found(const std::string& printer, int cJobs)
{
    return "QUORVANEIsModelPrinting() : GetNumberOfJobs(" + printer + ") returns " +
           std::to_string(cJobs) + "\n";
}

struct ProbeCase {
    const char* pszCase;
    void (*arrange)();
    DWORD dwResult;
    Lines traces;
};

void RunCases(const std::vector<ProbeCase>& cases, void (*reset)())
{
    for (const ProbeCase& c : cases) {
        SCOPED_TRACE(c.pszCase);
        reset();
        c.arrange();

        EXPECT_EQ(IsModelPrinting(), c.dwResult);

        EXPECT_EQ(fakeos::Traces(), c.traces);
        EXPECT_EQ(fakeos::OutstandingHeapBlocks(), 0);
        EXPECT_EQ(fakeos::OpenHandleCount(), 0);
    }
}

void Reset()
{
    fakeos::Reset();
}

TEST_F(PrinterActivityTest, FindsTheFirstModelPrinterWithJobs)
{
    const std::string qt14 = "NALVEX QT14 (XPS)", qt16 = "NALVEX QT16 (XPS)",
                      qt17 = "NALVEX QT17 (XPS)", other = "Other Laser 9";
    RunCases(
        {
            {"no local printers", [] {}, 0, {kProbe}},
            {"a printer of another model is compared with each entry",
             [] { fakeos::AddPrinter(u"Hall", u"Other Laser 9", 4); },
             0,
             {kProbe, Compared("Hall", other, 0), Compared("Hall", other, 1),
              Compared("Hall", other, 2)}},
            {"a model printer with jobs",
             [] { fakeos::AddPrinter(u"Office", u"NALVEX QT16 (XPS)", 2); },
             1,
             {kProbe, Compared("Office", qt16, 0), Compared("Office", qt16, 1), Jobs("Office", 2),
              Found("Office", 2)}},
            {"a model printer without jobs does not count; the search goes on",
             [] { fakeos::AddPrinter(u"Office", u"NALVEX QT16 (XPS)", 0); },
             0,
             {kProbe, Compared("Office", qt16, 0), Compared("Office", qt16, 1), Jobs("Office", 0),
              Compared("Office", qt16, 2)}},
            {"a driver name in other letter case does not match",
             [] { fakeos::AddPrinter(u"Office", u"Nalvex QT14 (xps)", 3); },
             0,
             {kProbe, Compared("Office", "Nalvex QT14 (xps)", 0),
              Compared("Office", "Nalvex QT14 (xps)", 1),
              Compared("Office", "Nalvex QT14 (xps)", 2)}},
            {"the search stops at the first busy model printer",
             [] {
                 fakeos::AddPrinter(u"First", u"NALVEX QT14 (XPS)", 1);
                 fakeos::AddPrinter(u"Second", u"NALVEX QT17 (XPS)", 9);
             },
             1,
             {kProbe, Compared("First", qt14, 0), Jobs("First", 1), Found("First", 1)}},
            {"an idle model printer, then a busy one",
             [] {
                 fakeos::AddPrinter(u"First", u"NALVEX QT17 (XPS)", 0);
                 fakeos::AddPrinter(u"Second", u"Other Laser 9", 7);
                 fakeos::AddPrinter(u"Third", u"NALVEX QT14 (XPS)", 3);
             },
             1,
             {kProbe, Compared("First", qt17, 0), Compared("First", qt17, 1),
              Compared("First", qt17, 2), Jobs("First", 0), Compared("Second", other, 0),
              Compared("Second", other, 1), Compared("Second", other, 2),
              Compared("Third", qt14, 0), Jobs("Third", 3), Found("Third", 3)}},
            {"names beyond ASCII are traced as they are",
             [] { fakeos::AddPrinter(u"Büro \u6253\u5370", u"NALVEX QT14 (XPS)", 1); },
             1,
             {kProbe, Compared("Büro 打印", qt14, 0), Jobs("Büro 打印", 1), Found("Büro 打印", 1)}},
        },
        Reset);
}

TEST_F(PrinterActivityTest, SpoolerFailuresCountAsNotPrinting)
{
    const std::string qt16 = "NALVEX QT16 (XPS)";
    // One record and its two strings: 136 + ("Office" + 1) * 2 + ("NALVEX QT16 (XPS)" + 1) * 2.
    RunCases(
        {
            {"no spooler",
             [] { fakeos::FailCall(fakeos::Api::EnumPrintersW, RPC_S_SERVER_UNAVAILABLE); },
             0,
             {kProbe,
              "QUORVANEIsModelPrinting() : EnumPrinters(1) failed. GetLastError() = 1722\n"}},
            {"size query fails without an error: traced, and the probe goes on",
             [] { fakeos::FailCall(fakeos::Api::EnumPrintersW, 0); },
             0,
             {kProbe, "QUORVANEIsModelPrinting() : EnumPrinters(1) failed. GetLastError() = 0\n"}},
            {"enumeration buffer cannot be allocated",
             [] {
                 fakeos::AddPrinter(u"Office", u"NALVEX QT16 (XPS)", 2);
                 fakeos::FailCall(fakeos::Api::HeapAlloc, 0);
             },
             0,
             {kProbe,
              "QUORVANEIsModelPrinting() : Unable to allocate pBuffer. Required buffer size : "
              "186\n"}},
            {"enumeration fails",
             [] {
                 fakeos::AddPrinter(u"Office", u"NALVEX QT16 (XPS)", 2);
                 fakeos::FailCall(fakeos::Api::EnumPrintersW, ERROR_ACCESS_DENIED, 2);
             },
             0,
             {kProbe, "QUORVANEIsModelPrinting() : EnumPrinters(2) failed. GetLastError() = 5\n"}},
            {"enumeration fails without an error: nothing was read, so nothing is compared",
             [] {
                 fakeos::AddPrinter(u"Office", u"NALVEX QT16 (XPS)", 2);
                 fakeos::FailCall(fakeos::Api::EnumPrintersW, 0, 2);
             },
             0,
             {kProbe, "QUORVANEIsModelPrinting() : EnumPrinters(2) failed. GetLastError() = 0\n"}},
            {"printer cannot be opened",
             [] {
                 fakeos::AddPrinter(u"Office", u"NALVEX QT16 (XPS)", 2);
                 fakeos::FailCall(fakeos::Api::OpenPrinterW, ERROR_INVALID_PRINTER_NAME);
             },
             0,
             {kProbe, Compared("Office", qt16, 0), Compared("Office", qt16, 1),
              "QUORVANEGetNumberOfJobs() : OpenPrinter(Office) failed. GetLastError() = 1801\n",
              Compared("Office", qt16, 2)}},
            {"printer open fails without an error: the query goes on with no printer",
             [] {
                 fakeos::AddPrinter(u"Office", u"NALVEX QT16 (XPS)", 2);
                 fakeos::FailCall(fakeos::Api::OpenPrinterW, 0);
             },
             0,
             {kProbe, Compared("Office", qt16, 0), Compared("Office", qt16, 1),
              "QUORVANEGetNumberOfJobs() : OpenPrinter(Office) failed. GetLastError() = 0\n",
              "QUORVANEGetNumberOfJobs() : GetPrinter(1) failed. GetLastError() = 6\n",
              Compared("Office", qt16, 2)}},
            {"printer size query fails",
             [] {
                 fakeos::AddPrinter(u"Office", u"NALVEX QT16 (XPS)", 2);
                 fakeos::FailCall(fakeos::Api::GetPrinterW, ERROR_ACCESS_DENIED);
             },
             0,
             {kProbe, Compared("Office", qt16, 0), Compared("Office", qt16, 1),
              "QUORVANEGetNumberOfJobs() : GetPrinter(1) failed. GetLastError() = 5\n",
              Compared("Office", qt16, 2)}},
            {"printer size query fails without an error: the query is made without a buffer",
             [] {
                 fakeos::AddPrinter(u"Office", u"NALVEX QT16 (XPS)", 2);
                 fakeos::FailCall(fakeos::Api::GetPrinterW, 0);
             },
             0,
             {kProbe, Compared("Office", qt16, 0), Compared("Office", qt16, 1),
              "QUORVANEGetNumberOfJobs() : GetPrinter(1) failed. GetLastError() = 0\n",
              "QUORVANEGetNumberOfJobs() : GetPrinter(2) failed. GetLastError() = 122\n",
              Compared("Office", qt16, 2)}},
            {"printer buffer cannot be allocated",
             [] {
                 fakeos::AddPrinter(u"Office", u"NALVEX QT16 (XPS)", 2);
                 fakeos::FailCall(fakeos::Api::HeapAlloc, 0, 2);
             },
             0,
             {kProbe, Compared("Office", qt16, 0), Compared("Office", qt16, 1),
              "QUORVANEGetNumberOfJobs() : Unable to allocate pPrinterInfo2. Required size = 186\n",
              "QUORVANEGetNumberOfJobs() : GetPrinter(2) failed. GetLastError() = 122\n",
              Compared("Office", qt16, 2)}},
            {"printer query fails",
             [] {
                 fakeos::AddPrinter(u"Office", u"NALVEX QT16 (XPS)", 2);
                 fakeos::FailCall(fakeos::Api::GetPrinterW, ERROR_ACCESS_DENIED, 2);
             },
             0,
             {kProbe, Compared("Office", qt16, 0), Compared("Office", qt16, 1),
              "QUORVANEGetNumberOfJobs() : GetPrinter(2) failed. GetLastError() = 5\n",
              Compared("Office", qt16, 2)}},
        },
        Reset);
}

// What the spooler hands back is input: a record without names, a count larger than what it
// wrote, or a success with less than one record must not be read past or taken for a job count.
TEST_F(PrinterActivityTest, MalformedSpoolerAnswersAreReadSafely)
{
    const std::string qt14 = "NALVEX QT14 (XPS)";
    RunCases(
        {
            {"a record without a driver name matches nothing",
             [] { fakeos::AddPrinter(u"Office", nullptr, 2); },
             0,
             {kProbe, Compared("Office", "(null)", 0), Compared("Office", "(null)", 1),
              Compared("Office", "(null)", 2)}},
            {"a record without a printer name is never opened",
             [] { fakeos::AddPrinter(nullptr, u"NALVEX QT14 (XPS)", 2); },
             0,
             {kProbe, Compared("(null)", qt14, 0), Compared("(null)", qt14, 1),
              Compared("(null)", qt14, 2)}},
            {"a count above what the buffer holds reads only the records written",
             [] {
                 fakeos::AddPrinter(u"Hall", u"Other Laser 9", 0);
                 fakeos::OverstateEnumeratedCount(1000);
             },
             0,
             {kProbe, Compared("Hall", "Other Laser 9", 0), Compared("Hall", "Other Laser 9", 1),
              Compared("Hall", "Other Laser 9", 2)}},
            {"a printer record shorter than one record is a failed query",
             [] {
                 fakeos::AddPrinter(u"Office", u"NALVEX QT14 (XPS)", 2);
                 fakeos::ShortenPrinterRecords(8);
             },
             0,
             {kProbe, Compared("Office", qt14, 0),
              "QUORVANEGetNumberOfJobs() : GetPrinter(2) failed. GetLastError() = 122\n",
              Compared("Office", qt14, 1), Compared("Office", qt14, 2)}},
        },
        Reset);
    EXPECT_TRUE(fakeos::CallsOf("OpenPrinterW(NULL").empty());
}

TEST_F(PrinterActivityTest, JobCountIsLeftAsItWasOnFailure)
{
    fakeos::AddPrinter(u"Office", u"NALVEX QT16 (XPS)", 4);
    WCHAR szOffice[] = u"Office";
    WCHAR szMissing[] = u"Missing";
    DWORD cJobs = 77;

    EXPECT_EQ(GetNumberOfJobs(szMissing, &cJobs), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
    EXPECT_EQ(cJobs, 77u);

    EXPECT_EQ(GetNumberOfJobs(szOffice, &cJobs), 0u);
    EXPECT_EQ(cJobs, 4u);
    EXPECT_EQ(fakeos::CallsOf("ClosePrinter").size(), 1u);
    EXPECT_EQ(fakeos::OpenHandleCount(), 0);
}

}  // namespace
