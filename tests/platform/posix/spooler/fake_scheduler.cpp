#include "tests/platform/posix/spooler/fake_scheduler.h"

#include <cups/cups.h>
#include <errno.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>

namespace {

// How often the scheduler's waits look whether it is being stopped.
constexpr int kStopCheckMilliseconds = 20;

struct IppDeleter {
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using IppMessage = std::unique_ptr<ipp_t, IppDeleter>;

ssize_t AppendBytes(void* pContext, ipp_uchar_t* pData, size_t cb)
{
    static_cast<std::string*>(pContext)->append(reinterpret_cast<const char*>(pData), cb);
    return static_cast<ssize_t>(cb);
}

void AddQueueGroup(ipp_t* answer, const FakeQueue& queue)
{
    ippAddSeparator(answer);
    ippAddString(answer, IPP_TAG_PRINTER, IPP_TAG_NAME, "printer-name", nullptr,
                 queue.name.c_str());
    ippAddString(answer, IPP_TAG_PRINTER, IPP_TAG_TEXT, "printer-make-and-model", nullptr,
                 "NALVEX QT16 (XPS)");
    ippAddString(answer, IPP_TAG_PRINTER, IPP_TAG_URI, "device-uri", nullptr, "file:///dev/null");
    ippAddInteger(answer, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-state", IPP_PSTATE_IDLE);
    ippAddInteger(answer, IPP_TAG_PRINTER, IPP_TAG_ENUM, "printer-type", CUPS_PRINTER_LOCAL);
    ippAddBoolean(answer, IPP_TAG_PRINTER, "printer-is-shared", 0);
    ippAddInteger(answer, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "queued-job-count",
                  queue.queuedJobCount);
}

// The HTTP answer to an IPP request body: its operation and request id are in its first bytes.
std::string AnswerTo(const std::string& request, const std::vector<FakeQueue>& queues,
                     JobLists jobLists)
{
    const unsigned char* pRequest = reinterpret_cast<const unsigned char*>(request.data());
    const int operation = pRequest[2] << 8 | pRequest[3];
    const int requestId = pRequest[4] << 24 | pRequest[5] << 16 | pRequest[6] << 8 | pRequest[7];

    IppMessage answer(ippNew());
    ippSetVersion(answer.get(), 2, 0);
    const bool refused = operation == IPP_OP_GET_JOBS && jobLists == JobLists::kRefused;
    ippSetStatusCode(answer.get(), refused ? IPP_STATUS_ERROR_FORBIDDEN : IPP_STATUS_OK);
    ippSetRequestId(answer.get(), requestId);
    ippAddString(answer.get(), IPP_TAG_OPERATION, IPP_TAG_CHARSET, "attributes-charset", nullptr,
                 "utf-8");
    ippAddString(answer.get(), IPP_TAG_OPERATION, IPP_TAG_LANGUAGE, "attributes-natural-language",
                 nullptr, "en");
    if (operation == IPP_OP_CUPS_GET_PRINTERS) {
        for (const FakeQueue& queue : queues) {
            AddQueueGroup(answer.get(), queue);
        }
    } else if (operation == IPP_OP_GET_PRINTER_ATTRIBUTES && !queues.empty()) {
        AddQueueGroup(answer.get(), queues.front());
    }
    std::string body;
    ippSetState(answer.get(), IPP_STATE_IDLE);
    ippWriteIO(&body, AppendBytes, 1, nullptr, answer.get());
    return "HTTP/1.1 200 OK\r\nContent-Type: application/ipp\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The body's length from a request's header lines, which end with an empty line.
std::size_t ContentLength(const std::string& header)
{
    static const char kField[] = "\r\ncontent-length:";
    for (std::size_t at = 0; at + sizeof(kField) - 1 < header.size(); at++) {
        if (strncasecmp(header.c_str() + at, kField, sizeof(kField) - 1) == 0) {
            return strtoul(header.c_str() + at + sizeof(kField) - 1, nullptr, 10);
        }
    }
    return 0;
}

}  // namespace

FakeScheduler::FakeScheduler(std::vector<FakeQueue> queues, AnswerPace pace, JobLists jobLists)
    : queues_(std::move(queues)), pace_(pace), jobLists_(jobLists)
{
    char szTemplate[] = "/tmp/qvf.XXXXXX";
    if (mkdtemp(szTemplate) == nullptr) {
        problem_ = std::string("mkdtemp: ") + strerror(errno);
        return;
    }
    folder_ = szTemplate;
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    strncpy(address.sun_path, Socket().c_str(), sizeof(address.sun_path) - 1);
    if (listener_ < 0 ||
        bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener_, 4) != 0) {
        problem_ = std::string("listen on ") + Socket() + ": " + strerror(errno);
        return;
    }
    server_ = std::thread([this] { Serve(); });
}

FakeScheduler::~FakeScheduler()
{
    stopping_ = true;
    if (server_.joinable()) {
        server_.join();
    }
    if (listener_ >= 0) {
        close(listener_);
    }
    if (!folder_.empty()) {
        std::error_code error;
        std::filesystem::remove_all(folder_, error);
    }
}

void FakeScheduler::Serve()
{
    while (!stopping_) {
        pollfd waiting = {listener_, POLLIN, 0};
        if (poll(&waiting, 1, kStopCheckMilliseconds) <= 0) {
            continue;
        }
        int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) {
            ServeConnection(fd);
            close(fd);
        }
    }
}

// Answers the connection's requests one after another until the client hangs up.
void FakeScheduler::ServeConnection(int fd)
{
    std::string received;
    while (!stopping_) {
        std::size_t headerEnd = received.find("\r\n\r\n");
        if (headerEnd != std::string::npos) {
            std::size_t cbRequest =
                headerEnd + 4 + ContentLength(received.substr(0, headerEnd + 2));
            if (received.size() >= cbRequest) {
                std::string answer = AnswerTo(received.substr(headerEnd + 4), queues_, jobLists_);
                received.erase(0, cbRequest);
                if (!Pause(pace_.beforeAnswer) || !Send(fd, answer)) {
                    return;
                }
                continue;
            }
        }
        pollfd waiting = {fd, POLLIN, 0};
        if (poll(&waiting, 1, kStopCheckMilliseconds) <= 0) {
            continue;
        }
        char chunk[4096];
        ssize_t cb = recv(fd, chunk, sizeof(chunk), 0);
        if (cb <= 0) {
            return;
        }
        received.append(chunk, static_cast<std::size_t>(cb));
    }
}

bool FakeScheduler::Send(int fd, const std::string& bytes)
{
    if (pace_.betweenBytes.count() == 0) {
        return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    for (char byte : bytes) {
        if (!Pause(pace_.betweenBytes) || send(fd, &byte, 1, MSG_NOSIGNAL) != 1) {
            return false;
        }
    }
    return true;
}

bool FakeScheduler::Pause(std::chrono::milliseconds time)
{
    const auto end = std::chrono::steady_clock::now() + time;
    while (!stopping_) {
        auto left = end - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) {
            return true;
        }
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            left, std::chrono::milliseconds(kStopCheckMilliseconds)));
    }
    return false;
}
