// EnumPrintersW, OpenPrinterW, GetPrinterW and ClosePrinter against a real CUPS scheduler of
// the suite's own (tests/spooler/private_cupsd.sh).
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/spooler/cups_connection.h"
#include "platform/win32.h"
#include "tests/platform/posix/spooler/private_cupsd.h"

namespace {

using SpoolerTest = PrivateCupsdTest;
using Clock = std::chrono::steady_clock;

const BYTE kUntouched = 0xA5;  // fills buffers, so that a stray write shows

// Long enough that only a fault, never a slow machine, makes a call against a missing
// scheduler take this long: such a call is answered at once.
constexpr std::chrono::seconds kMissingSpoolerBound{1};

std::u16string Text(LPCWSTR pszText)
{
    return pszText != nullptr ? std::u16string(pszText) : u"(null)";
}

// The bytes a string takes in a record's buffer: UTF-16 units and the terminator.
DWORD WideBytes(const std::u16string& text)
{
    return static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR));
}

// What one queue is made with, in the scheduler's terms and as the records must show it.
struct QueueText {
    std::string name;
    std::u16string wideName;
    std::string model;
    std::u16string wideModel;
    std::string info;
    std::u16string wideInfo;
    std::string location;
    std::u16string wideLocation;
};

// The size of the record and the strings for a queue that is not shared: the ten strings are
// the name, the share name (empty), the device, the driver, the comment, the location, the
// separator file, the print processor, the data type ("RAW") and the parameters.
DWORD RecordBytes(const QueueText& queue)
{
    return static_cast<DWORD>(sizeof(PRINTER_INFO_2W)) + WideBytes(queue.wideName) +
           WideBytes(u"") + WideBytes(u"file:///dev/null") + WideBytes(queue.wideModel) +
           WideBytes(queue.wideInfo) + WideBytes(queue.wideLocation) + WideBytes(u"") +
           WideBytes(u"") + WideBytes(u"RAW") + WideBytes(u"");
}

::testing::AssertionResult MakeQueue(PrivateCupsd& cupsd, const QueueText& queue,
                                     bool disabled = false)
{
    ::testing::AssertionResult made = cupsd.AddQueue(queue.name, queue.model, disabled);
    if (made) {
        made = cupsd.Run({"lpadmin", "-p", queue.name, "-D", queue.info, "-L", queue.location});
    }
    return made;
}

// Every string pointer of a record, with its field's name.
std::vector<std::pair<const char*, LPWSTR>> StringsOf(const PRINTER_INFO_2W& record)
{
    return {
        {"pServerName", record.pServerName},
        {"pPrinterName", record.pPrinterName},
        {"pShareName", record.pShareName},
        {"pPortName", record.pPortName},
        {"pDriverName", record.pDriverName},
        {"pComment", record.pComment},
        {"pLocation", record.pLocation},
        {"pSepFile", record.pSepFile},
        {"pPrintProcessor", record.pPrintProcessor},
        {"pDatatype", record.pDatatype},
        {"pParameters", record.pParameters},
    };
}

// Each string of the records lies, terminator included, after the records and before
// pBuffer + cbUsed.
void ExpectStringsInside(const BYTE* pBuffer, DWORD cRecords, DWORD cbUsed)
{
    const BYTE* pStrings = pBuffer + cRecords * sizeof(PRINTER_INFO_2W);
    const BYTE* pEnd = pBuffer + cbUsed;
    for (DWORD i = 0; i < cRecords; i++) {
        PRINTER_INFO_2W record;
        memcpy(&record, pBuffer + i * sizeof(PRINTER_INFO_2W), sizeof(record));
        for (const auto& [pszField, pszText] : StringsOf(record)) {
            if (pszText == nullptr) {
                continue;
            }
            const BYTE* pAt = reinterpret_cast<const BYTE*>(pszText);
            ASSERT_TRUE(pAt >= pStrings && pAt < pEnd) << "record " << i << " " << pszField;
            const BYTE* pTerminator = pAt;
            WCHAR unit = 1;
            for (; pTerminator + sizeof(WCHAR) <= pEnd; pTerminator += sizeof(WCHAR)) {
                memcpy(&unit, pTerminator, sizeof(unit));
                if (unit == 0) {
                    break;
                }
            }
            EXPECT_EQ(0, unit) << "record " << i << " " << pszField << " runs past the end";
        }
    }
}

// The local printers as a caller reads them: the size, then the records.
struct Listing {
    std::vector<BYTE> buffer;
    DWORD cReturned = 0;

    const PRINTER_INFO_2W* Records() const
    {
        return reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    }
    const PRINTER_INFO_2W* Find(const std::u16string& name) const
    {
        for (DWORD i = 0; i < cReturned; i++) {
            if (Text(Records()[i].pPrinterName) == name) {
                return &Records()[i];
            }
        }
        return nullptr;
    }
    std::vector<std::u16string> Names() const
    {
        std::vector<std::u16string> names;
        for (DWORD i = 0; i < cReturned; i++) {
            names.push_back(Text(Records()[i].pPrinterName));
        }
        return names;
    }
};

Listing ListLocalPrinters(DWORD Flags = PRINTER_ENUM_LOCAL, LPWSTR Name = NULL)
{
    Listing listing;
    DWORD cbNeeded = 0;
    if (EnumPrintersW(Flags, Name, 2, NULL, 0, &cbNeeded, &listing.cReturned)) {
        EXPECT_EQ(0u, cbNeeded);
        EXPECT_EQ(0u, listing.cReturned);
        return listing;
    }
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    listing.buffer.assign(cbNeeded, kUntouched);
    DWORD cbUsed = 0;
    EXPECT_TRUE(
        EnumPrintersW(Flags, Name, 2, listing.buffer.data(), cbNeeded, &cbUsed, &listing.cReturned))
        << GetLastError();
    EXPECT_EQ(cbNeeded, cbUsed);
    return listing;
}

// A printer read through a handle, the size and then the record: the record and the buffer
// that holds its strings.
struct PrinterRead {
    std::vector<BYTE> buffer;
    PRINTER_INFO_2W record{};
};

PrinterRead ReadPrinter(HANDLE hPrinter)
{
    PrinterRead read;
    DWORD cbNeeded = 0;
    EXPECT_FALSE(GetPrinterW(hPrinter, 2, NULL, 0, &cbNeeded));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    read.buffer.assign(cbNeeded, kUntouched);
    DWORD cbUsed = 0;
    if (!GetPrinterW(hPrinter, 2, read.buffer.data(), cbNeeded, &cbUsed)) {
        ADD_FAILURE() << "GetPrinterW: " << GetLastError();
        return read;
    }
    EXPECT_EQ(cbNeeded, cbUsed);
    if (cbUsed >= sizeof(read.record)) {
        ExpectStringsInside(read.buffer.data(), 1, cbUsed);
        memcpy(&read.record, read.buffer.data(), sizeof(read.record));
    }
    return read;
}

// An open printer handle, closed when the scope ends.
struct ScopedPrinter {
    HANDLE h = NULL;
    explicit ScopedPrinter(const std::u16string& name)
    {
        std::u16string copy = name;
        EXPECT_TRUE(OpenPrinterW(copy.data(), &h, NULL)) << GetLastError();
    }
    ScopedPrinter(const ScopedPrinter&) = delete;
    ScopedPrinter& operator=(const ScopedPrinter&) = delete;
    ~ScopedPrinter()
    {
        if (h != NULL) {
            EXPECT_TRUE(ClosePrinter(h));
        }
    }
};

void ExpectDescribes(const PRINTER_INFO_2W& record, const QueueText& queue)
{
    EXPECT_EQ(nullptr, record.pServerName);
    EXPECT_EQ(queue.wideName, Text(record.pPrinterName));
    EXPECT_EQ(u"", Text(record.pShareName));
    EXPECT_EQ(u"file:///dev/null", Text(record.pPortName));
    EXPECT_EQ(queue.wideModel, Text(record.pDriverName));
    EXPECT_EQ(queue.wideInfo, Text(record.pComment));
    EXPECT_EQ(queue.wideLocation, Text(record.pLocation));
    EXPECT_EQ(nullptr, record.pDevMode);
    EXPECT_EQ(u"", Text(record.pSepFile));
    EXPECT_EQ(u"", Text(record.pPrintProcessor));
    EXPECT_EQ(u"RAW", Text(record.pDatatype));
    EXPECT_EQ(u"", Text(record.pParameters));
    EXPECT_EQ(nullptr, record.pSecurityDescriptor);
    EXPECT_EQ(static_cast<DWORD>(PRINTER_ATTRIBUTE_LOCAL), record.Attributes);
    EXPECT_EQ(static_cast<DWORD>(MIN_PRIORITY), record.Priority);
    EXPECT_EQ(0u, record.DefaultPriority);
    EXPECT_EQ(0u, record.StartTime);
    EXPECT_EQ(0u, record.UntilTime);
    EXPECT_EQ(0u, record.Status);
    EXPECT_EQ(0u, record.cJobs);
    EXPECT_EQ(0u, record.AveragePPM);
}

TEST_F(SpoolerTest, WithoutQueuesTheSizeQueryAlreadySucceedsWithNothing)
{
    DWORD cbNeeded = 77;
    DWORD cReturned = 77;
    EXPECT_TRUE(EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, NULL, 0, &cbNeeded, &cReturned))
        << GetLastError();
    EXPECT_EQ(0u, cbNeeded);
    EXPECT_EQ(0u, cReturned);

    std::vector<BYTE> buffer(64, kUntouched);
    cbNeeded = 77;
    cReturned = 77;
    EXPECT_TRUE(EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, buffer.data(),
                              static_cast<DWORD>(buffer.size()), &cbNeeded, &cReturned));
    EXPECT_EQ(0u, cbNeeded);
    EXPECT_EQ(0u, cReturned);
    EXPECT_EQ(std::vector<BYTE>(64, kUntouched), buffer);
}

// Both calls that fill a buffer, asked the same way: with no buffer, with one a byte short,
// with the exact size and with room to spare.
struct SizeProtocolCase {
    const char* pszCall;
    DWORD cRecords;
    DWORD cbExpected;
    std::function<BOOL(LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned)> call;
};

TEST_F(SpoolerTest, SizeProtocolGivesTheExactSizeAndKeepsEverythingInTheBuffer)
{
    const QueueText first = {
        "Front", u"Front", "NALVEX QT16 (XPS)", u"NALVEX QT16 (XPS)", "Front desk", u"Front desk",
        "Hall",  u"Hall"};
    const QueueText second = {
        "Back", u"Back", "Other Laser 9", u"Other Laser 9", "Back office", u"Back office", "", u""};
    ASSERT_TRUE(MakeQueue(Cupsd(), first));
    ASSERT_TRUE(MakeQueue(Cupsd(), second));
    ScopedPrinter printer(second.wideName);

    const SizeProtocolCase cases[] = {
        {"EnumPrintersW", 2, RecordBytes(first) + RecordBytes(second),
         [](LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned) {
             return EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, pBuffer, cbBuf, pcbNeeded,
                                  pcReturned);
         }},
        {"GetPrinterW", 1, RecordBytes(second),
         [&printer](LPBYTE pBuffer, DWORD cbBuf, LPDWORD pcbNeeded, LPDWORD pcReturned) {
             BOOL bRead = GetPrinterW(printer.h, 2, pBuffer, cbBuf, pcbNeeded);
             *pcReturned = bRead ? 1 : 0;
             return bRead;
         }},
    };
    for (const SizeProtocolCase& c : cases) {
        SCOPED_TRACE(c.pszCall);
        const DWORD cbExpected = c.cbExpected;

        DWORD cbNeeded = 0;
        DWORD cReturned = 77;
        EXPECT_FALSE(c.call(NULL, 0, &cbNeeded, &cReturned));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
        EXPECT_EQ(cbExpected, cbNeeded);
        EXPECT_EQ(0u, cReturned);

        const DWORD kSpare = 64;
        std::vector<BYTE> buffer(cbExpected + kSpare, kUntouched);
        cReturned = 77;
        EXPECT_FALSE(c.call(buffer.data(), cbExpected - 1, &cbNeeded, &cReturned));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
        EXPECT_EQ(cbExpected, cbNeeded);
        EXPECT_EQ(0u, cReturned);
        EXPECT_EQ(std::vector<BYTE>(buffer.size(), kUntouched), buffer) << "written when short";

        for (DWORD cbBuf : {cbExpected, cbExpected + kSpare}) {
            SCOPED_TRACE("buffer of " + std::to_string(cbBuf) + " bytes");
            std::fill(buffer.begin(), buffer.end(), kUntouched);
            cbNeeded = 0;
            ASSERT_TRUE(c.call(buffer.data(), cbBuf, &cbNeeded, &cReturned)) << GetLastError();
            EXPECT_EQ(cbExpected, cbNeeded);
            EXPECT_EQ(c.cRecords, cReturned);
            ExpectStringsInside(buffer.data(), cReturned, cbExpected);
            EXPECT_EQ(std::vector<BYTE>(kSpare, kUntouched),
                      std::vector<BYTE>(buffer.begin() + cbExpected, buffer.end()))
                << "written past the size it needs";
        }
    }
}

TEST_F(SpoolerTest, RecordsCarryTheQueuesOwnTextBeyondAscii)
{
    const QueueText cases[] = {
        {"Office", u"Office", "NALVEX QT16 (XPS)", u"NALVEX QT16 (XPS)", "Front desk",
         u"Front desk", "Room 2", u"Room 2"},
        {"Büro打印😀", u"Büro打印😀", "Ünïcode Läser 打印 😀", u"Ünïcode Läser 打印 😀", "Ünïcode desk",
         u"Ünïcode desk", "Raum 3 — Süd", u"Raum 3 — Süd"},
    };
    for (const QueueText& queue : cases) {
        SCOPED_TRACE(queue.name);
        ASSERT_TRUE(MakeQueue(Cupsd(), queue));

        Listing listing = ListLocalPrinters();
        ASSERT_EQ(1u, listing.cReturned);
        ExpectStringsInside(listing.buffer.data(), 1, static_cast<DWORD>(listing.buffer.size()));
        ExpectDescribes(listing.Records()[0], queue);

        ScopedPrinter printer(queue.wideName);
        ExpectDescribes(ReadPrinter(printer.h).record, queue);
        Cupsd().DeleteQueues();
    }
}

struct QueueSettingCase {
    const char* pszCase;
    bool makeDefault;
    bool share;
    bool disable;
    DWORD dwAttributes;
    DWORD dwStatus;
    bool sharedUnderItsName;
};

TEST_F(SpoolerTest, AttributesAndStatusFollowTheQueuesSettings)
{
    const QueueSettingCase cases[] = {
        {"plain", false, false, false, PRINTER_ATTRIBUTE_LOCAL, 0, false},
        {"default", true, false, false, PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_DEFAULT, 0,
         false},
        {"shared", false, true, false, PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_SHARED, 0, true},
        {"disabled", false, false, true, PRINTER_ATTRIBUTE_LOCAL, PRINTER_STATUS_PAUSED, false},
        {"all at once", true, true, true,
         PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_DEFAULT | PRINTER_ATTRIBUTE_SHARED,
         PRINTER_STATUS_PAUSED, true},
    };
    for (const QueueSettingCase& c : cases) {
        SCOPED_TRACE(c.pszCase);
        ASSERT_TRUE(Cupsd().AddQueue("Setting", "Other Laser 9", c.disable));
        if (c.makeDefault) {
            ASSERT_TRUE(Cupsd().Run({"lpadmin", "-d", "Setting"}));
        }
        if (c.share) {
            ASSERT_TRUE(Cupsd().Run({"lpadmin", "-p", "Setting", "-o", "printer-is-shared=true"}));
        }
        const std::u16string shareName = c.sharedUnderItsName ? u"Setting" : u"";

        Listing listing = ListLocalPrinters();
        const PRINTER_INFO_2W* pListed = listing.Find(u"Setting");
        ASSERT_NE(nullptr, pListed);
        EXPECT_EQ(c.dwAttributes, pListed->Attributes);
        EXPECT_EQ(c.dwStatus, pListed->Status);
        EXPECT_EQ(shareName, Text(pListed->pShareName));

        ScopedPrinter printer(u"Setting");
        PrinterRead read = ReadPrinter(printer.h);
        EXPECT_EQ(c.dwAttributes, read.record.Attributes);
        EXPECT_EQ(c.dwStatus, read.record.Status);
        EXPECT_EQ(shareName, Text(read.record.pShareName));
        Cupsd().DeleteQueues();
    }
}

struct JobCase {
    const char* pszCase;
    int nWaiting;    // submitted and left queued
    int nHeld;       // submitted, then held
    int nCancelled;  // submitted, then cancelled
    DWORD cJobs;
};

TEST_F(SpoolerTest, JobsCountedAreThoseWaitingHeldOrPrinting)
{
    const JobCase cases[] = {
        {"none", 0, 0, 0, 0},
        {"two waiting", 2, 0, 0, 2},
        {"one held", 0, 1, 0, 1},
        {"one waiting, one held", 1, 1, 0, 2},
        {"cancelled jobs are done", 1, 0, 2, 1},
    };
    for (const JobCase& c : cases) {
        SCOPED_TRACE(c.pszCase);
        // A stopped queue keeps its jobs: nothing prints them away while the case runs.
        ASSERT_TRUE(Cupsd().AddQueue("Jobs", "NALVEX QT17 (XPS)", true));
        for (int i = 0; i < c.nWaiting + c.nHeld + c.nCancelled; i++) {
            std::string jobId;
            ASSERT_TRUE(Cupsd().SubmitJob("Jobs", &jobId));
            if (i >= c.nWaiting && i < c.nWaiting + c.nHeld) {
                ASSERT_TRUE(Cupsd().Run({"lp", "-i", jobId, "-H", "hold"}));
            } else if (i >= c.nWaiting + c.nHeld) {
                ASSERT_TRUE(Cupsd().Run({"cancel", jobId}));
            }
        }

        Listing listing = ListLocalPrinters();
        const PRINTER_INFO_2W* pListed = listing.Find(u"Jobs");
        ASSERT_NE(nullptr, pListed);
        EXPECT_EQ(c.cJobs, pListed->cJobs);

        ScopedPrinter printer(u"Jobs");
        EXPECT_EQ(c.cJobs, ReadPrinter(printer.h).record.cJobs);
        Cupsd().DeleteQueues();
    }
}

TEST_F(SpoolerTest, GetPrinterReadsTheQueueAsItIsAtTheTimeOfTheCall)
{
    ASSERT_TRUE(Cupsd().AddQueue("Later", "NALVEX QT14 (XPS)", true));
    ASSERT_TRUE(Cupsd().Run({"lpadmin", "-p", "Later", "-D", "Before"}));
    ScopedPrinter printer(u"Later");
    EXPECT_EQ(0u, ReadPrinter(printer.h).record.cJobs);

    ASSERT_TRUE(Cupsd().SubmitJob("Later"));
    ASSERT_TRUE(Cupsd().Run({"lpadmin", "-p", "Later", "-D", "After"}));
    PrinterRead after = ReadPrinter(printer.h);
    EXPECT_EQ(1u, after.record.cJobs);
    EXPECT_EQ(u"After", Text(after.record.pComment));
}

TEST_F(SpoolerTest, QueuesComeInTheSchedulersOrderByNameWithoutRegardToCase)
{
    // Made in neither order: neither the order of making nor a case-sensitive sort gives the
    // one expected.
    for (const char* pszName : {"gamma", "Beta", "alpha"}) {
        ASSERT_TRUE(Cupsd().AddQueue(pszName, "Other Laser 9"));
    }
    EXPECT_EQ((std::vector<std::u16string>{u"alpha", u"Beta", u"gamma"}),
              ListLocalPrinters().Names());
}

struct FlagsCase {
    const char* pszCase;
    DWORD Flags;
    const char16_t* pszName;
    DWORD dwError;    // ERROR_SUCCESS when the call succeeds
    bool listsQueue;  // the local queue is among the records
};

TEST_F(SpoolerTest, OnlyLocalPrintersOfThisMachineAreEnumerated)
{
    ASSERT_TRUE(Cupsd().AddQueue("Here", "Other Laser 9"));
    // A class is a destination, not a printer: it is never listed.
    ASSERT_TRUE(Cupsd().Run({"lpadmin", "-p", "Here", "-c", "Everywhere"}));
    const FlagsCase cases[] = {
        {"local", PRINTER_ENUM_LOCAL, nullptr, ERROR_SUCCESS, true},
        {"a name without PRINTER_ENUM_NAME is ignored", PRINTER_ENUM_LOCAL, u"\\\\elsewhere",
         ERROR_SUCCESS, true},
        {"PRINTER_ENUM_NAME without a name is this machine", PRINTER_ENUM_LOCAL | PRINTER_ENUM_NAME,
         nullptr, ERROR_SUCCESS, true},
        {"PRINTER_ENUM_NAME with an empty name is this machine",
         PRINTER_ENUM_LOCAL | PRINTER_ENUM_NAME, u"", ERROR_SUCCESS, true},
        {"another print server is not reached", PRINTER_ENUM_LOCAL | PRINTER_ENUM_NAME,
         u"\\\\elsewhere", ERROR_INVALID_NAME, false},
        {"connections: there are none", PRINTER_ENUM_CONNECTIONS, nullptr, ERROR_SUCCESS, false},
    };
    for (const FlagsCase& c : cases) {
        SCOPED_TRACE(c.pszCase);
        std::u16string name = c.pszName != nullptr ? c.pszName : u"";
        LPWSTR pszName = c.pszName != nullptr ? name.data() : NULL;
        if (c.dwError != ERROR_SUCCESS) {
            DWORD cbNeeded = 77;
            DWORD cReturned = 77;
            EXPECT_FALSE(EnumPrintersW(c.Flags, pszName, 2, NULL, 0, &cbNeeded, &cReturned));
            EXPECT_EQ(c.dwError, GetLastError());
            EXPECT_EQ(0u, cbNeeded);
            EXPECT_EQ(0u, cReturned);
            continue;
        }
        Listing listing = ListLocalPrinters(c.Flags, pszName);
        EXPECT_EQ(
            c.listsQueue ? std::vector<std::u16string>{u"Here"} : std::vector<std::u16string>{},
            listing.Names());
    }
    EXPECT_TRUE(Cupsd().Run({"lpadmin", "-x", "Everywhere"}));
}

struct ArgumentCase {
    const char* pszCase;
    std::function<BOOL()> call;
    DWORD dwError;
};

TEST_F(SpoolerTest, ArgumentsAreRefusedAsWindowsRefusesThem)
{
    ASSERT_TRUE(Cupsd().AddQueue("Arguments", "Other Laser 9"));
    ScopedPrinter printer(u"Arguments");
    HANDLE hPrinter = printer.h;
    DWORD cb = 0;
    DWORD c = 0;
    HANDLE h = NULL;
    std::u16string name = u"Arguments";
    const ArgumentCase cases[] = {
        {"EnumPrintersW without pcbNeeded",
         [&] { return EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, NULL, 0, NULL, &c); },
         RPC_X_NULL_REF_POINTER},
        {"EnumPrintersW without pcReturned",
         [&] { return EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, NULL, 0, &cb, NULL); },
         RPC_X_NULL_REF_POINTER},
        {"EnumPrintersW with a size but no buffer",
         [&] { return EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, NULL, 4096, &cb, &c); },
         ERROR_INVALID_USER_BUFFER},
        {"GetPrinterW without pcbNeeded", [&] { return GetPrinterW(hPrinter, 2, NULL, 0, NULL); },
         RPC_X_NULL_REF_POINTER},
        {"GetPrinterW with a size but no buffer",
         [&] { return GetPrinterW(hPrinter, 2, NULL, 4096, &cb); }, ERROR_INVALID_USER_BUFFER},
        {"OpenPrinterW without a place for the handle",
         [&] { return OpenPrinterW(name.data(), NULL, NULL); }, RPC_X_NULL_REF_POINTER},
        {"OpenPrinterW of the print server itself", [&] { return OpenPrinterW(NULL, &h, NULL); },
         ERROR_NOT_SUPPORTED},
    };
    for (const ArgumentCase& argumentCase : cases) {
        SCOPED_TRACE(argumentCase.pszCase);
        SetLastError(0);
        EXPECT_FALSE(argumentCase.call());
        EXPECT_EQ(argumentCase.dwError, GetLastError());
    }

    // Level 2 is the one provided; the other levels Windows knows, and any other number, are
    // refused alike, before anything is written.
    std::vector<BYTE> buffer(4096, kUntouched);
    for (DWORD Level : {0u, 1u, 3u, 4u, 5u, 9u}) {
        SCOPED_TRACE("level " + std::to_string(Level));
        cb = 77;
        c = 77;
        EXPECT_FALSE(EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, Level, buffer.data(), 4096, &cb, &c));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_LEVEL), GetLastError());
        EXPECT_EQ(0u, cb);
        EXPECT_EQ(0u, c);
        EXPECT_FALSE(GetPrinterW(hPrinter, Level, buffer.data(), 4096, &cb));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_LEVEL), GetLastError());
        EXPECT_EQ(std::vector<BYTE>(4096, kUntouched), buffer);
    }
}

struct OpenCase {
    const char16_t* pszName;
    DWORD dwError;                // ERROR_SUCCESS when it opens
    const char16_t* pszSpelling;  // the name the opened printer reports
};

TEST_F(SpoolerTest, OpenPrinterFindsAQueueByItsNameInAnyCase)
{
    ASSERT_TRUE(Cupsd().AddQueue("Reception", "Other Laser 9"));
    // Names no queue can have, too long for a request's address once encoded: refused as names,
    // not asked about with an address cut short (which could name another queue, or none).
    const std::u16string longAscii(2000, u'R');
    const std::u16string longAfterAQueuesName = u"Reception/" + longAscii;
    std::u16string longBeyondAscii;
    for (int i = 0; i < 200; i++) {
        longBeyondAscii += u"打😀";
    }
    const OpenCase cases[] = {
        {u"Reception", ERROR_SUCCESS, u"Reception"},
        {u"RECEPTION", ERROR_SUCCESS, u"Reception"},
        {u"reception", ERROR_SUCCESS, u"Reception"},
        {u"Receptio", ERROR_INVALID_PRINTER_NAME, nullptr},
        {u"NoSuchQueue", ERROR_INVALID_PRINTER_NAME, nullptr},
        {u"", ERROR_INVALID_PRINTER_NAME, nullptr},
        {u"Reception/..", ERROR_INVALID_PRINTER_NAME, nullptr},
        {u"../printers/Reception", ERROR_INVALID_PRINTER_NAME, nullptr},
        {u"Reception?x=1", ERROR_INVALID_PRINTER_NAME, nullptr},
        {u"Reception#1", ERROR_INVALID_PRINTER_NAME, nullptr},
        {u"Reception Hall", ERROR_INVALID_PRINTER_NAME, nullptr},
        {u"\\\\server\\Reception", ERROR_INVALID_PRINTER_NAME, nullptr},
        {u"Reception\xD800", ERROR_INVALID_PRINTER_NAME, nullptr},
        {longAscii.c_str(), ERROR_INVALID_PRINTER_NAME, nullptr},
        {longAfterAQueuesName.c_str(), ERROR_INVALID_PRINTER_NAME, nullptr},
        {longBeyondAscii.c_str(), ERROR_INVALID_PRINTER_NAME, nullptr},
    };
    for (const OpenCase& c : cases) {
        std::u16string name = c.pszName;
        SCOPED_TRACE(
            std::string(name.begin(), name.begin() + std::min<std::size_t>(name.size(), 40)));
        HANDLE hPrinter = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x77));
        BOOL bOpened = OpenPrinterW(name.data(), &hPrinter, NULL);
        if (c.dwError != ERROR_SUCCESS) {
            EXPECT_FALSE(bOpened);
            EXPECT_EQ(c.dwError, GetLastError());
            EXPECT_EQ(nullptr, hPrinter);
            continue;
        }
        ASSERT_TRUE(bOpened) << GetLastError();
        EXPECT_EQ(c.pszSpelling, Text(ReadPrinter(hPrinter).record.pPrinterName));
        EXPECT_TRUE(ClosePrinter(hPrinter));
    }
}

TEST_F(SpoolerTest, OnlyOpenPrinterHandlesAreTaken)
{
    ASSERT_TRUE(Cupsd().AddQueue("Handles", "Other Laser 9"));
    HANDLE hClosed = NULL;
    std::u16string name = u"Handles";
    ASSERT_TRUE(OpenPrinterW(name.data(), &hClosed, NULL));
    ASSERT_TRUE(ClosePrinter(hClosed));
    HANDLE hEvent = CreateEventW(NULL, TRUE, FALSE, NULL);
    ASSERT_NE(nullptr, hEvent) << GetLastError();
    ScopedPrinter printer(u"Handles");

    const std::pair<const char*, HANDLE> cases[] = {
        {"NULL", NULL},
        {"a value never handed out", reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x1234))},
        {"INVALID_HANDLE_VALUE", reinterpret_cast<HANDLE>(~static_cast<ULONG_PTR>(0))},
        {"a closed printer", hClosed},
        {"a kernel event", hEvent},
        {"an open printer's value plus four",
         reinterpret_cast<HANDLE>(reinterpret_cast<ULONG_PTR>(printer.h) + 4)},
    };
    for (const auto& [pszCase, hBad] : cases) {
        SCOPED_TRACE(pszCase);
        DWORD cbNeeded = 0;
        EXPECT_FALSE(GetPrinterW(hBad, 2, NULL, 0, &cbNeeded));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
        EXPECT_FALSE(ClosePrinter(hBad));
        EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), GetLastError());
    }

    // Kernel handles and printer handles are apart both ways.
    EXPECT_FALSE(CloseHandle(printer.h));
    EXPECT_EQ(u"Handles", Text(ReadPrinter(printer.h).record.pPrinterName));
    EXPECT_TRUE(CloseHandle(hEvent));
}

TEST_F(SpoolerTest, AQueueThatRefusesItsJobListStillShowsItIsBusy)
{
    ASSERT_TRUE(Cupsd().AddQueue("Locked", "NALVEX QT14 (XPS)", true));
    ASSERT_TRUE(Cupsd().SubmitJob("Locked"));
    ASSERT_TRUE(Cupsd().SubmitJob("Locked"));
    ASSERT_TRUE(Cupsd().Run({"lpadmin", "-p", "Locked", "-o", "printer-op-policy=refuse"}));

    Listing listing = ListLocalPrinters();
    const PRINTER_INFO_2W* pListed = listing.Find(u"Locked");
    ASSERT_NE(nullptr, pListed);
    EXPECT_EQ(2u, pListed->cJobs);

    HANDLE hPrinter = NULL;
    std::u16string name = u"Locked";
    EXPECT_FALSE(OpenPrinterW(name.data(), &hPrinter, NULL));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
}

// A socket file that nobody accepts connections on.
struct DeadSocket {
    std::string path;
    int fd = -1;
    explicit DeadSocket(const std::string& where) : path(where)
    {
        fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
        EXPECT_EQ(0, bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)))
            << strerror(errno);
    }
    DeadSocket(const DeadSocket&) = delete;
    DeadSocket& operator=(const DeadSocket&) = delete;
    ~DeadSocket()
    {
        close(fd);
        unlink(path.c_str());
    }
};

TEST_F(SpoolerTest, WithoutASchedulerEveryCallFailsAtOnceWithServerUnavailable)
{
    ASSERT_TRUE(Cupsd().AddQueue("Gone", "NALVEX QT16 (XPS)"));
    ScopedPrinter printer(u"Gone");
    const std::string missing = Cupsd().Socket() + ".missing";
    DeadSocket bound(Cupsd().Socket() + ".bound");  // bound, never listening: refused

    for (const std::string& server : {missing, bound.path}) {
        SCOPED_TRACE(server);
        ScopedCupsServer elsewhere(server);
        struct Call {
            const char* pszCall;
            std::function<BOOL()> call;
        };
        const Call calls[] = {
            {"EnumPrintersW",
             [] {
                 DWORD cbNeeded = 0;
                 DWORD cReturned = 0;
                 return EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, NULL, 0, &cbNeeded, &cReturned);
             }},
            {"OpenPrinterW",
             [] {
                 std::u16string name = u"Gone";
                 HANDLE hPrinter = NULL;
                 return OpenPrinterW(name.data(), &hPrinter, NULL);
             }},
            {"GetPrinterW on a printer opened before",
             [&printer] {
                 DWORD cbNeeded = 0;
                 return GetPrinterW(printer.h, 2, NULL, 0, &cbNeeded);
             }},
        };
        for (const Call& c : calls) {
            SCOPED_TRACE(c.pszCall);
            Clock::time_point start = Clock::now();
            EXPECT_FALSE(c.call());
            EXPECT_EQ(static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE), GetLastError());
            EXPECT_LT(Clock::now() - start, kMissingSpoolerBound);
        }
    }

    // The scheduler named again, the same calls work again.
    EXPECT_EQ(std::vector<std::u16string>{u"Gone"}, ListLocalPrinters().Names());
    EXPECT_EQ(u"Gone", Text(ReadPrinter(printer.h).record.pPrinterName));
}

TEST_F(SpoolerTest, ASchedulerThatNeverAnswersCostsOneCallDeadlineAtMost)
{
    // Listening, so the connection is made, but nobody reads the request or answers.
    DeadSocket silent(Cupsd().Socket() + ".silent");
    ASSERT_EQ(0, listen(silent.fd, 4)) << strerror(errno);
    ScopedCupsServer elsewhere(silent.path);

    Clock::time_point start = Clock::now();
    DWORD cbNeeded = 0;
    DWORD cReturned = 0;
    EXPECT_FALSE(EnumPrintersW(PRINTER_ENUM_LOCAL, NULL, 2, NULL, 0, &cbNeeded, &cReturned));
    EXPECT_EQ(static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE), GetLastError());
    EXPECT_LT(Clock::now() - start, spooler::kCallDeadline + std::chrono::seconds(2));
}

TEST_F(SpoolerTest, CallsOnManyThreadsRunSideBySide)
{
    ASSERT_TRUE(Cupsd().AddQueue("Idle", "NALVEX QT14 (XPS)", true));
    ASSERT_TRUE(Cupsd().AddQueue("Busy", "NALVEX QT17 (XPS)", true));
    ASSERT_TRUE(Cupsd().SubmitJob("Busy"));

    constexpr int kThreads = 4;
    constexpr int kRounds = 20;
    std::atomic<int> nFaults{0};
    std::vector<std::thread> threads;
    threads.reserve(kThreads);
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([t, &nFaults] {
            for (int i = 0; i < kRounds; i++) {
                bool busy = (t + i) % 2 == 0;
                std::u16string name = busy ? u"Busy" : u"Idle";
                HANDLE hPrinter = NULL;
                if (!OpenPrinterW(name.data(), &hPrinter, NULL)) {
                    nFaults++;
                    continue;
                }
                PrinterRead read = ReadPrinter(hPrinter);
                if (Text(read.record.pPrinterName) != name ||
                    read.record.cJobs != (busy ? 1u : 0u)) {
                    nFaults++;
                }
                if (!ClosePrinter(hPrinter)) {
                    nFaults++;
                }
                if (i % 5 == 0 &&
                    ListLocalPrinters().Names() != std::vector<std::u16string>{u"Busy", u"Idle"}) {
                    nFaults++;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(0, nFaults.load());
}

}  // namespace
