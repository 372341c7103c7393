#include "platform/posix/spooler/cups_queries.h"

#include <string.h>

#include <algorithm>

namespace spooler {

namespace {

const char* const kQueueAttributes[] = {
    "printer-name", "printer-make-and-model", "device-uri",
    "printer-info", "printer-location",       "printer-state",
    "printer-type", "printer-is-shared",      "queued-job-count",
};

// The name goes into the address encoded: whatever it holds ('/', '?', '#'), it stays a name
// for the scheduler to look up, which knows its queues' names best. False when the encoded name
// does not fit in an address (HTTP_MAX_URI): no queue has such a name, as the scheduler keeps
// its queues' names far shorter, and a request with the address cut short must not go out.
bool AddPrinterUri(ipp_t* request, const std::string& name)
{
    char szUri[HTTP_MAX_URI];
    if (httpAssembleURIf(HTTP_URI_CODING_ALL, szUri, sizeof(szUri), "ipp", nullptr, "localhost", 0,
                         "/printers/%s", name.c_str()) < HTTP_URI_STATUS_OK) {
        return false;
    }
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, szUri);
    return true;
}

// A count as the scheduler gives it; a negative one (none is ever meant) is none.
DWORD CountOf(ipp_attribute_t* attr)
{
    return static_cast<DWORD>(std::max(0, ippGetInteger(attr, 0)));
}

template <int kCount>
void AddRequestedAttributes(ipp_t* request, const char* const (&names)[kCount])
{
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes", kCount,
                  nullptr, names);
}

std::string TextOf(ipp_attribute_t* attr)
{
    const char* pszText = ippGetString(attr, 0, nullptr);
    return pszText != nullptr ? pszText : "";
}

// Reads one printer group of an answer, from attr on; returns the first attribute after it.
ipp_attribute_t* ReadPrinterGroup(ipp_t* answer, ipp_attribute_t* attr, QueueState* pQueue)
{
    for (; attr != nullptr && ippGetGroupTag(attr) == IPP_TAG_PRINTER;
         attr = ippNextAttribute(answer)) {
        const char* pszName = ippGetName(attr);
        if (pszName == nullptr) {
            break;
        }
        if (strcmp(pszName, "printer-name") == 0) {
            pQueue->name = TextOf(attr);
        } else if (strcmp(pszName, "printer-make-and-model") == 0) {
            pQueue->makeAndModel = TextOf(attr);
        } else if (strcmp(pszName, "device-uri") == 0) {
            pQueue->deviceUri = TextOf(attr);
        } else if (strcmp(pszName, "printer-info") == 0) {
            pQueue->info = TextOf(attr);
        } else if (strcmp(pszName, "printer-location") == 0) {
            pQueue->location = TextOf(attr);
        } else if (strcmp(pszName, "printer-state") == 0) {
            pQueue->stopped = ippGetInteger(attr, 0) == IPP_PSTATE_STOPPED;
        } else if (strcmp(pszName, "printer-is-shared") == 0) {
            pQueue->shared = ippGetBoolean(attr, 0) != 0;
        } else if (strcmp(pszName, "printer-type") == 0) {
            pQueue->isDefault = (ippGetInteger(attr, 0) & CUPS_PRINTER_DEFAULT) != 0;
        } else if (strcmp(pszName, "queued-job-count") == 0) {
            pQueue->cQueuedJobs = CountOf(attr);
        }
    }
    return attr;
}

// The printer groups of an answer, in the order given.
QueueStates ReadPrinterGroups(ipp_t* answer)
{
    QueueStates queues;
    ipp_attribute_t* attr = ippFirstAttribute(answer);
    while (attr != nullptr) {
        if (ippGetGroupTag(attr) != IPP_TAG_PRINTER) {
            attr = ippNextAttribute(answer);
            continue;
        }
        QueueState queue;
        attr = ReadPrinterGroup(answer, attr, &queue);
        if (!queue.name.empty()) {
            queues.push_back(std::move(queue));
        }
    }
    return queues;
}

// The queue's jobs that wait or print: pending, held or processing. A stopped job is not
// counted, nor anything that ended.
DWORD CountJobList(CupsConnection& cups, const std::string& name, DWORD* pcJobs)
{
    IppMessage request = NewRequest(IPP_OP_GET_JOBS);
    if (!AddPrinterUri(request.get(), name)) {
        return ERROR_INVALID_PRINTER_NAME;
    }
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr,
                 "not-completed");
    const char* const kJobAttributes[] = {"job-state"};
    AddRequestedAttributes(request.get(), kJobAttributes);

    IppMessage answer;
    DWORD dwError = cups.Ask(std::move(request), &answer);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    DWORD cJobs = 0;
    for (ipp_attribute_t* attr = ippFindAttribute(answer.get(), "job-state", IPP_TAG_ENUM);
         attr != nullptr; attr = ippFindNextAttribute(answer.get(), "job-state", IPP_TAG_ENUM)) {
        int state = ippGetInteger(attr, 0);
        if (state >= IPP_JSTATE_PENDING && state <= IPP_JSTATE_PROCESSING) {
            cJobs++;
        }
    }
    *pcJobs = cJobs;
    return ERROR_SUCCESS;
}

// The jobs of a queue whose list may not be read (its policy refuses us) are the scheduler's
// own count, which the queue's description gives to anyone: a queue that hides its jobs must
// not hide that it is busy.
DWORD CountActiveJobs(CupsConnection& cups, QueueState* pQueue)
{
    DWORD dwError = CountJobList(cups, pQueue->name, &pQueue->cJobs);
    if (dwError == ERROR_ACCESS_DENIED) {
        pQueue->cJobs = pQueue->cQueuedJobs;
        return ERROR_SUCCESS;
    }
    return dwError;
}

// One destination's attributes, by name.
template <int kCount>
DWORD ReadPrinterAttributes(CupsConnection& cups, const std::string& name,
                            const char* const (&attributes)[kCount], QueueState* pQueue)
{
    IppMessage request = NewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    if (!AddPrinterUri(request.get(), name)) {
        return ERROR_INVALID_PRINTER_NAME;
    }
    AddRequestedAttributes(request.get(), attributes);

    IppMessage answer;
    DWORD dwError = cups.Ask(std::move(request), &answer);
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }
    QueueStates queues = ReadPrinterGroups(answer.get());
    if (queues.empty()) {
        return ERROR_INVALID_PRINTER_NAME;
    }
    *pQueue = std::move(queues.front());
    return ERROR_SUCCESS;
}

}  // namespace

DWORD ReadLocalQueues(CupsConnection& cups, QueueStates* pQueues)
{
    IppMessage request = NewRequest(IPP_OP_CUPS_GET_PRINTERS);
    // Only destinations whose type has none of these bits: printers of this scheduler.
    ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_ENUM, "printer-type", 0);
    ippAddInteger(request.get(), IPP_TAG_OPERATION, IPP_TAG_ENUM, "printer-type-mask",
                  CUPS_PRINTER_CLASS | CUPS_PRINTER_REMOTE | CUPS_PRINTER_DISCOVERED);
    AddRequestedAttributes(request.get(), kQueueAttributes);

    IppMessage answer;
    DWORD dwError = cups.Ask(std::move(request), &answer);
    if (dwError == ERROR_INVALID_PRINTER_NAME) {
        pQueues->clear();  // the scheduler's answer when it has no such destination at all
        return ERROR_SUCCESS;
    }
    if (dwError != ERROR_SUCCESS) {
        return dwError;
    }

    QueueStates queues = ReadPrinterGroups(answer.get());
    QueueStates present;
    for (QueueState& queue : queues) {
        dwError = CountActiveJobs(cups, &queue);
        if (dwError == ERROR_INVALID_PRINTER_NAME) {
            continue;  // deleted since the list was read
        }
        if (dwError != ERROR_SUCCESS) {
            return dwError;
        }
        present.push_back(std::move(queue));
    }
    *pQueues = std::move(present);
    return ERROR_SUCCESS;
}

DWORD ReadQueue(CupsConnection& cups, const std::string& name, QueueState* pQueue)
{
    QueueState queue;
    DWORD dwError = ReadPrinterAttributes(cups, name, kQueueAttributes, &queue);
    if (dwError == ERROR_SUCCESS) {
        dwError = CountActiveJobs(cups, &queue);
    }
    if (dwError == ERROR_SUCCESS) {
        *pQueue = std::move(queue);
    }
    return dwError;
}

DWORD FindQueue(CupsConnection& cups, const std::string& name, std::string* pSpelling)
{
    const char* const kNameAttribute[] = {"printer-name"};
    QueueState queue;
    DWORD dwError = ReadPrinterAttributes(cups, name, kNameAttribute, &queue);
    if (dwError == ERROR_SUCCESS) {
        *pSpelling = std::move(queue.name);
    }
    return dwError;
}

}  // namespace spooler
