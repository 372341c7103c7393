#include "platform/posix/spooler/cups_connection.h"

namespace spooler {

namespace {

// How often a wait for an answer asks whether the call's deadline has passed. This ends a
// silent wait; the socket's shutdown at the deadline (SocketDeadline) ends any other.
constexpr double kWaitSliceSeconds = 0.1;

// The helper runs without a terminal: a scheduler that asks for a password gets none, and
// the call fails with ERROR_ACCESS_DENIED instead of prompting.
const char* NoPassword(const char*, http_t*, const char*, const char*, void*)
{
    return nullptr;
}

}  // namespace

CupsConnection::CupsConnection() : deadline_(std::chrono::steady_clock::now() + kCallDeadline)
{
    // libcups keeps the server each thread first read; the layer follows the environment as it
    // is now, so that a changed CUPS_SERVER takes effect.
    cupsSetServer(nullptr);
    cupsSetPasswordCB2(NoPassword, nullptr);
    http_ = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                         static_cast<int>(kCallDeadline.count()), nullptr);
    if (http_ == nullptr) {
        return;
    }
    httpSetTimeout(http_, kWaitSliceSeconds, KeepWaiting, this);
    error_ = cutoff_.Watch(httpGetFd(http_), deadline_);
    if (error_ != ERROR_SUCCESS) {
        httpClose(http_);
        http_ = nullptr;
    }
}

CupsConnection::~CupsConnection()
{
    if (http_ != nullptr) {
        httpClose(http_);
    }
}

int CupsConnection::KeepWaiting(http_t*, void* pContext)
{
    const CupsConnection* pConnection = static_cast<const CupsConnection*>(pContext);
    return std::chrono::steady_clock::now() < pConnection->deadline_ ? 1 : 0;
}

DWORD CupsConnection::Ask(IppMessage request, IppMessage* pAnswer)
{
    if (http_ == nullptr) {
        return error_;
    }
    if (std::chrono::steady_clock::now() >= deadline_) {
        return RPC_S_SERVER_UNAVAILABLE;  // no time left for another question
    }
    // cupsDoRequest takes the request over, whatever happens.
    pAnswer->reset(cupsDoRequest(http_, request.release(), "/"));
    if (*pAnswer == nullptr) {
        // Refused at the HTTP level (a policy that wants a password) or no answer at all.
        DWORD dwError = ErrorOfStatus(cupsLastError());
        return dwError == ERROR_ACCESS_DENIED ? dwError : RPC_S_SERVER_UNAVAILABLE;
    }
    return ErrorOfStatus(ippGetStatusCode(pAnswer->get()));
}

IppMessage NewRequest(ipp_op_t operation)
{
    IppMessage request(ippNewRequest(operation));
    ippAddString(request.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr,
                 cupsUser());
    return request;
}

DWORD ErrorOfStatus(ipp_status_t status)
{
    switch (status) {
        case IPP_STATUS_OK:
        case IPP_STATUS_OK_IGNORED_OR_SUBSTITUTED:
        case IPP_STATUS_OK_CONFLICTING:
            return ERROR_SUCCESS;
        case IPP_STATUS_ERROR_NOT_FOUND:
            return ERROR_INVALID_PRINTER_NAME;
        case IPP_STATUS_ERROR_FORBIDDEN:
        case IPP_STATUS_ERROR_NOT_AUTHENTICATED:
        case IPP_STATUS_ERROR_NOT_AUTHORIZED:
        case IPP_STATUS_ERROR_CUPS_AUTHENTICATION_CANCELED:
            return ERROR_ACCESS_DENIED;
        case IPP_STATUS_ERROR_SERVICE_UNAVAILABLE:
            return RPC_S_SERVER_UNAVAILABLE;
        default:
            return RPC_S_CALL_FAILED;
    }
}

}  // namespace spooler
