// The fake print spooler: local printers with driver names and job counts, answered at
// information level 2 with the documented two-call size protocol.
#include <string.h>

#include "tests/fakeos/fake_machine.h"

using namespace fakeos;

namespace {

DWORD StringBytes(const std::optional<std::u16string>& text)
{
    return text ? static_cast<DWORD>((text->size() + 1) * sizeof(WCHAR)) : 0;
}

DWORD RecordBytes(const Printer& printer)
{
    return static_cast<DWORD>(sizeof(PRINTER_INFO_2W)) + StringBytes(printer.name) +
           StringBytes(printer.driver);
}

// Copies a string into the tail of the caller's buffer, as the spooler packs them.
LPWSTR PackString(LPBYTE* ppEnd, const std::optional<std::u16string>& text)
{
    if (!text) {
        return nullptr;
    }
    *ppEnd -= StringBytes(text);
    memcpy(*ppEnd, text->c_str(), StringBytes(text));
    return reinterpret_cast<LPWSTR>(*ppEnd);
}

void FillRecord(PRINTER_INFO_2W* pRecord, LPBYTE* ppEnd, const Printer& printer)
{
    memset(pRecord, 0, sizeof(*pRecord));
    pRecord->pPrinterName = PackString(ppEnd, printer.name);
    pRecord->pDriverName = PackString(ppEnd, printer.driver);
    pRecord->cJobs = printer.cJobs;
}

}  // namespace

namespace fakeos {

void AddPrinter(const char16_t* pszPrinterName, const char16_t* pszDriverName, DWORD cJobs)
{
    Printer printer{std::nullopt, std::nullopt, cJobs};
    if (pszPrinterName != nullptr) {
        printer.name = pszPrinterName;
    }
    if (pszDriverName != nullptr) {
        printer.driver = pszDriverName;
    }
    TheMachine().printers.push_back(printer);
}

void OverstateEnumeratedCount(DWORD cExtra)
{
    TheMachine().cEnumeratedExtra = cExtra;
}

void ShortenPrinterRecords(DWORD cbRecord)
{
    TheMachine().cbShortRecord = cbRecord;
}

}  // namespace fakeos

BOOL WINAPI EnumPrintersW(DWORD Flags, LPWSTR Name, DWORD Level, LPBYTE pPrinterEnum, DWORD cbBuf,
                          LPDWORD pcbNeeded, LPDWORD pcReturned)
{
    Machine& m = TheMachine();
    std::string callText = "EnumPrintersW(" + std::to_string(Flags) + ", " + std::to_string(Level) +
                           ", " + std::to_string(cbBuf) + ")";
    *pcbNeeded = 0;
    *pcReturned = 0;
    if (ShouldFail(Api::EnumPrintersW)) {
        Record(callText + " = FALSE " + std::to_string(GetLastError()));
        return FALSE;
    }
    if (Flags != PRINTER_ENUM_LOCAL || Name != nullptr || Level != 2) {
        SetLastError(ERROR_INVALID_PARAMETER);
        Record(callText + " = FALSE 87");
        return FALSE;
    }

    DWORD cbNeeded = 0;
    for (const Printer& printer : m.printers) {
        cbNeeded += RecordBytes(printer);
    }
    *pcbNeeded = cbNeeded;
    if (cbBuf < cbNeeded) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        Record(callText + " = FALSE 122");
        return FALSE;
    }

    auto* pRecords = reinterpret_cast<PRINTER_INFO_2W*>(pPrinterEnum);
    LPBYTE pEnd = pPrinterEnum + cbNeeded;
    for (size_t i = 0; i < m.printers.size(); i++) {
        FillRecord(&pRecords[i], &pEnd, m.printers[i]);
    }
    *pcReturned = static_cast<DWORD>(m.printers.size()) + m.cEnumeratedExtra;
    Record(callText + " = TRUE " + std::to_string(*pcReturned));
    return TRUE;
}

BOOL WINAPI OpenPrinterW(LPWSTR pPrinterName, LPHANDLE phPrinter, LPPRINTER_DEFAULTSW pDefault)
{
    Machine& m = TheMachine();
    std::string callText = "OpenPrinterW(" +
                           (pPrinterName != nullptr ? Utf8(pPrinterName) : std::string("NULL")) +
                           (pDefault == nullptr ? ")" : ", defaults)");
    *phPrinter = nullptr;
    if (ShouldFail(Api::OpenPrinterW)) {
        Record(callText + " = FALSE " + std::to_string(GetLastError()));
        return FALSE;
    }
    for (size_t i = 0; i < m.printers.size(); i++) {
        if (pPrinterName != nullptr && m.printers[i].name == std::u16string(pPrinterName)) {
            Object object{};
            object.kind = ObjectKind::Printer;
            object.iPrinter = i;
            *phPrinter = NewHandle(NewObject(object));
            Record(callText + " = " + HandleText(*phPrinter));
            return TRUE;
        }
    }
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    Record(callText + " = FALSE 1801");
    return FALSE;
}

BOOL WINAPI GetPrinterW(HANDLE hPrinter, DWORD Level, LPBYTE pPrinter, DWORD cbBuf,
                        LPDWORD pcbNeeded)
{
    std::string callText = "GetPrinterW(" + HandleText(hPrinter) + ", " + std::to_string(Level) +
                           ", " + std::to_string(cbBuf) + ")";
    *pcbNeeded = 0;
    if (ShouldFail(Api::GetPrinterW)) {
        Record(callText + " = FALSE " + std::to_string(GetLastError()));
        return FALSE;
    }
    Object* pObject = LookUp(hPrinter);
    if (pObject == nullptr || pObject->kind != ObjectKind::Printer) {
        SetLastError(ERROR_INVALID_HANDLE);
        Record(callText + " = FALSE 6");
        return FALSE;
    }
    if (Level != 2) {
        SetLastError(ERROR_INVALID_PARAMETER);
        Record(callText + " = FALSE 87");
        return FALSE;
    }
    const Printer& printer = TheMachine().printers.at(pObject->iPrinter);
    DWORD cbShortRecord = TheMachine().cbShortRecord;
    if (cbShortRecord != 0) {
        *pcbNeeded = cbShortRecord;
        bool bFits = cbBuf >= cbShortRecord && pPrinter != nullptr;
        Record(callText + (bFits ? " = TRUE short" : " = FALSE 122"));
        if (!bFits) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
        }
        return bFits ? TRUE : FALSE;
    }
    *pcbNeeded = RecordBytes(printer);
    if (cbBuf < *pcbNeeded || pPrinter == nullptr) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        Record(callText + " = FALSE 122");
        return FALSE;
    }
    LPBYTE pEnd = pPrinter + *pcbNeeded;
    FillRecord(reinterpret_cast<PRINTER_INFO_2W*>(pPrinter), &pEnd, printer);
    Record(callText + " = TRUE");
    return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE hPrinter)
{
    Object* pObject = LookUp(hPrinter);
    if (pObject == nullptr || pObject->kind != ObjectKind::Printer) {
        SetLastError(ERROR_INVALID_HANDLE);
        Record("ClosePrinter(" + HandleText(hPrinter) + ") = FALSE 6");
        return FALSE;
    }
    Machine& m = TheMachine();
    int objectId = m.handles.at(reinterpret_cast<ULONG_PTR>(hPrinter));
    m.handles.erase(reinterpret_cast<ULONG_PTR>(hPrinter));
    m.objects.erase(objectId);
    Record("ClosePrinter(" + HandleText(hPrinter) + ") = TRUE");
    return TRUE;
}
