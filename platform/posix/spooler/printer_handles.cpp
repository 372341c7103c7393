#include "platform/posix/spooler/printer_handles.h"

#include <cstdint>
#include <mutex>
#include <unordered_map>

namespace spooler {

namespace {

// Values from 2^40 on, in steps of 4 as Windows' handles go.
constexpr std::uintptr_t kFirstHandleValue = std::uintptr_t{1} << 40;
constexpr std::uintptr_t kHandleStep = 4;

std::mutex s_lock;
std::uintptr_t s_nextValue = kFirstHandleValue;
std::unordered_map<std::uintptr_t, std::string> s_openHandles;

std::uintptr_t ValueOf(HANDLE hPrinter)
{
    return reinterpret_cast<std::uintptr_t>(hPrinter);
}

}  // namespace

HANDLE AddPrinterHandle(const std::string& queueName)
{
    std::lock_guard<std::mutex> guard(s_lock);
    std::uintptr_t value = s_nextValue;
    s_nextValue += kHandleStep;
    s_openHandles.emplace(value, queueName);
    return reinterpret_cast<HANDLE>(value);
}

bool QueueOfPrinterHandle(HANDLE hPrinter, std::string* pQueueName)
{
    std::lock_guard<std::mutex> guard(s_lock);
    auto found = s_openHandles.find(ValueOf(hPrinter));
    if (found == s_openHandles.end()) {
        return false;
    }
    *pQueueName = found->second;
    return true;
}

bool RemovePrinterHandle(HANDLE hPrinter)
{
    std::lock_guard<std::mutex> guard(s_lock);
    return s_openHandles.erase(ValueOf(hPrinter)) != 0;
}

}  // namespace spooler
