#include "platform/posix/spooler/printer_info.h"

#include <string.h>

#include <array>
#include <string_view>

#include "platform/posix/spooler/wide_text.h"

namespace spooler {

namespace {

struct RecordString {
    LPWSTR PRINTER_INFO_2W::*field;
    std::string_view text;
};

// Every string a record points to, in the order they are written. A queue is shared under
// its own name, as CUPS shares it.
std::array<RecordString, 10> StringsOf(const QueueState& queue)
{
    return {{
        {&PRINTER_INFO_2W::pPrinterName, queue.name},
        {&PRINTER_INFO_2W::pShareName, queue.shared ? std::string_view(queue.name) : ""},
        {&PRINTER_INFO_2W::pPortName, queue.deviceUri},
        {&PRINTER_INFO_2W::pDriverName, queue.makeAndModel},
        {&PRINTER_INFO_2W::pComment, queue.info},
        {&PRINTER_INFO_2W::pLocation, queue.location},
        {&PRINTER_INFO_2W::pSepFile, ""},
        {&PRINTER_INFO_2W::pPrintProcessor, ""},
        {&PRINTER_INFO_2W::pDatatype, "RAW"},
        {&PRINTER_INFO_2W::pParameters, ""},
    }};
}

DWORD AttributesOf(const QueueState& queue)
{
    DWORD dwAttributes = PRINTER_ATTRIBUTE_LOCAL;
    if (queue.shared) {
        dwAttributes |= PRINTER_ATTRIBUTE_SHARED;
    }
    if (queue.isDefault) {
        dwAttributes |= PRINTER_ATTRIBUTE_DEFAULT;
    }
    return dwAttributes;
}

}  // namespace

std::size_t PrinterInfoBytes(const QueueStates& queues)
{
    std::size_t cbTotal = queues.size() * sizeof(PRINTER_INFO_2W);
    for (const QueueState& queue : queues) {
        for (const RecordString& string : StringsOf(queue)) {
            cbTotal += WideBytesOf(string.text);
        }
    }
    return cbTotal;
}

void WritePrinterInfo(const QueueStates& queues, LPBYTE pBuffer)
{
    LPBYTE pStrings = pBuffer + queues.size() * sizeof(PRINTER_INFO_2W);
    for (std::size_t i = 0; i < queues.size(); i++) {
        const QueueState& queue = queues[i];
        PRINTER_INFO_2W record = {};
        for (const RecordString& string : StringsOf(queue)) {
            record.*string.field = reinterpret_cast<LPWSTR>(pStrings);
            pStrings = WriteWide(string.text, pStrings);
        }
        record.Attributes = AttributesOf(queue);
        record.Priority = MIN_PRIORITY;  // no queue is preferred: CUPS has no routing order
        record.Status = queue.stopped ? PRINTER_STATUS_PAUSED : 0;
        record.cJobs = queue.cJobs;
        // The caller's buffer need not be aligned for the record.
        memcpy(pBuffer + i * sizeof(PRINTER_INFO_2W), &record, sizeof(record));
    }
}

}  // namespace spooler
