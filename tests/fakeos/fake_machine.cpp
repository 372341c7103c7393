// The fake machine itself: reset, scripted failures, records and the handle table.
#include "tests/fakeos/fake_machine.h"

#include "tools/common/utf8.h"

#include <stdio.h>

namespace fakeos {

Machine& TheMachine()
{
    static Machine s_machine;
    return s_machine;
}

void Reset()
{
    Machine& m = TheMachine();
    m = Machine{};
    m.dwPlatformId = VER_PLATFORM_WIN32_NT;
    m.dwMajorVersion = 6;
    m.dwMinorVersion = 2;
    m.versionFailure = VersionFailure::None;
    m.nextObjectId = 1;
    // Recognisable, deterministic handle values, spaced as Windows spaces them.
    m.nextHandle = 0x100;
}

void FailCall(Api api, DWORD dwError, int nth)
{
    TheMachine().failures[api].push_back(Failure{nth - 1, dwError});
}

void FailEveryCall(Api api, DWORD dwError)
{
    TheMachine().failures[api].push_back(Failure{-1, dwError});
}

bool ShouldFail(Api api)
{
    Machine& m = TheMachine();
    auto it = m.failures.find(api);
    if (it == m.failures.end()) {
        return false;
    }
    bool bFail = false;
    DWORD dwError = 0;
    std::vector<Failure>& pending = it->second;
    for (size_t i = 0; i < pending.size();) {
        Failure& failure = pending[i];
        if (failure.nRemaining == -1 || failure.nRemaining == 0) {
            if (!bFail) {
                bFail = true;
                dwError = failure.dwError;
            }
            if (failure.nRemaining == 0) {
                pending.erase(pending.begin() + static_cast<std::ptrdiff_t>(i));
                continue;
            }
        } else {
            failure.nRemaining--;
        }
        i++;
    }
    if (bFail) {
        m.dwLastError = dwError;
    }
    return bFail;
}

void Record(const std::string& call)
{
    TheMachine().calls.push_back(call);
}

std::string Hex(ULONG_PTR value)
{
    char szText[32];
    snprintf(szText, sizeof(szText), "0x%llx", value);
    return szText;
}

std::string HandleText(HANDLE hHandle)
{
    return Hex(reinterpret_cast<ULONG_PTR>(hHandle));
}

Object* LookUp(HANDLE hHandle)
{
    Machine& m = TheMachine();
    auto it = m.handles.find(reinterpret_cast<ULONG_PTR>(hHandle));
    if (it == m.handles.end()) {
        return nullptr;
    }
    return &m.objects.at(it->second);
}

HANDLE NewHandle(int objectId)
{
    Machine& m = TheMachine();
    ULONG_PTR value = m.nextHandle;
    m.nextHandle += 4;
    m.handles[value] = objectId;
    m.objects.at(objectId).nHelperHandles++;
    return reinterpret_cast<HANDLE>(value);
}

int NewObject(const Object& object)
{
    Machine& m = TheMachine();
    int objectId = m.nextObjectId++;
    m.objects[objectId] = object;
    return objectId;
}

Object* FindNamed(const std::u16string& name, int* pObjectId)
{
    if (name.empty()) {
        return nullptr;
    }
    for (auto& [objectId, object] : TheMachine().objects) {
        if (object.kind != ObjectKind::Printer && object.name == name) {
            if (pObjectId != nullptr) {
                *pObjectId = objectId;
            }
            return &object;
        }
    }
    return nullptr;
}

std::vector<std::string> Traces()
{
    return TheMachine().traces;
}

std::vector<std::string> Calls()
{
    return TheMachine().calls;
}

void ClearRecords()
{
    TheMachine().traces.clear();
    TheMachine().calls.clear();
}

std::vector<std::string> CallsOf(const std::string& prefix)
{
    std::vector<std::string> matching;
    for (const std::string& call : TheMachine().calls) {
        if (call.compare(0, prefix.size(), prefix) == 0) {
            matching.push_back(call);
        }
    }
    return matching;
}

int OpenHandleCount()
{
    return static_cast<int>(TheMachine().handles.size());
}

int OutstandingHeapBlocks()
{
    return TheMachine().nHeapBlocks;
}

std::string Utf8(const std::u16string& text)
{
    return text::Utf8FromUtf16(text.data(), text.size());
}

std::u16string Utf16(const std::string& text)
{
    std::u16string utf16;
    for (size_t i = 0; i < text.size();) {
        unsigned char lead = static_cast<unsigned char>(text[i]);
        char32_t c = lead;
        size_t nTrail = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        if (nTrail > 0) {
            c = lead & (0x3F >> nTrail);
        }
        i++;
        for (size_t k = 0; k < nTrail && i < text.size(); k++, i++) {
            c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            utf16 += static_cast<char16_t>(0xD800 + (c >> 10));
            utf16 += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            utf16 += static_cast<char16_t>(c);
        }
    }
    return utf16;
}

}  // namespace fakeos
