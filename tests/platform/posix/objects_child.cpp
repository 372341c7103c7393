// Another process on the machine, for the POSIX object tests: one command per line on stdin,
// one answer per line on stdout. It uses the machine root in QUORVANE_ROOT, as its parent does.
//
//   create-mutex NAME [owned] [open]          "<handle number> <last error>" or "- <last error>"
//   create-event NAME [manual] [set] [open]   the same
//   open-mutex NAME / open-event NAME         the same
//   wait N MILLISECONDS                       "<wait result> <last error>"
//   release N / set N / close N               "<1 or 0> <last error>"
//   exit CODE                                 exits at once, closing nothing
//
// NAME "-" means no name; handle numbers count the handles made, from 0; "open" asks for open
// security (a present, null DACL).
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace {

std::vector<HANDLE> g_handles;

bool Has(const std::vector<std::string>& words, const char* pszWord)
{
    for (size_t i = 2; i < words.size(); i++) {
        if (words[i] == pszWord) {
            return true;
        }
    }
    return false;
}

std::string AnswerForHandle(HANDLE hObject)
{
    DWORD dwError = GetLastError();
    if (hObject == NULL) {
        return "- " + std::to_string(dwError);
    }
    g_handles.push_back(hObject);
    return std::to_string(g_handles.size() - 1) + " " + std::to_string(dwError);
}

std::string AnswerForBool(BOOL bResult)
{
    return std::to_string(bResult ? 1 : 0) + " " + std::to_string(GetLastError());
}

std::string Run(const std::vector<std::string>& words)
{
    SECURITY_DESCRIPTOR descriptor;
    InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&descriptor, TRUE, NULL, FALSE);
    SECURITY_ATTRIBUTES openSecurity = {sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};

    const std::string& verb = words[0];
    std::u16string name =
        words.size() > 1 ? std::u16string(words[1].begin(), words[1].end()) : std::u16string();
    LPCWSTR lpName = words.size() > 1 && words[1] != "-" ? name.c_str() : NULL;
    LPSECURITY_ATTRIBUTES lpSecurity = Has(words, "open") ? &openSecurity : NULL;
    HANDLE hTarget = NULL;
    if (words.size() > 1 && words[1].find_first_not_of("0123456789") == std::string::npos &&
        std::stoul(words[1]) < g_handles.size()) {
        hTarget = g_handles[std::stoul(words[1])];
    }

    SetLastError(0xDEADu);  // so that an untouched last error shows
    if (verb == "create-mutex") {
        return AnswerForHandle(CreateMutexW(lpSecurity, Has(words, "owned"), lpName));
    }
    if (verb == "create-event") {
        return AnswerForHandle(
            CreateEventW(lpSecurity, Has(words, "manual"), Has(words, "set"), lpName));
    }
    if (verb == "open-mutex") {
        return AnswerForHandle(OpenMutexW(MUTEX_ALL_ACCESS, FALSE, lpName));
    }
    if (verb == "open-event") {
        return AnswerForHandle(OpenEventW(EVENT_ALL_ACCESS, FALSE, lpName));
    }
    if (verb == "wait" && words.size() > 2) {
        DWORD dwResult = WaitForSingleObject(hTarget, static_cast<DWORD>(std::stoul(words[2])));
        return std::to_string(dwResult) + " " + std::to_string(GetLastError());
    }
    if (verb == "release") {
        return AnswerForBool(ReleaseMutex(hTarget));
    }
    if (verb == "set") {
        return AnswerForBool(SetEvent(hTarget));
    }
    if (verb == "close") {
        return AnswerForBool(CloseHandle(hTarget));
    }
    if (verb == "exit" && words.size() > 1) {
        fflush(stdout);
        _exit(atoi(words[1].c_str()));
    }
    return "? unknown command";
}

}  // namespace

int main()
{
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream stream(line);
        std::vector<std::string> words;
        for (std::string word; stream >> word;) {
            words.push_back(word);
        }
        if (words.empty()) {
            continue;
        }
        std::cout << Run(words) << std::endl;
    }
    return 0;
}
