// Object names: their shape, their namespaces, and that they stay data (never a path).
#include <dirent.h>
#include <sys/stat.h>

#include <functional>
#include <set>

#include "tests/platform/posix/machine.h"

namespace {

using NamesTest = MachineTest;

struct NameCase {
    std::string name;
    bool bCreated;
    DWORD dwError;  // the last error after CreateMutexW
};

TEST_F(NamesTest, ShapesOfNamesAnswerAsOnWindows)
{
    const std::string kGlobal = "Global\\";
    // Windows takes names far longer than MAX_PATH; this layer takes up to 1024 characters.
    const size_t kLongestName = 1024;
    const NameCase cases[] = {
        {std::string(MAX_PATH + 1, 'a'), true, ERROR_SUCCESS},
        {std::string(kLongestName, 'a'), true, ERROR_SUCCESS},
        {std::string(kLongestName + 1, 'b'), false, ERROR_FILENAME_EXCED_RANGE},
        {std::string(40000, 'c'), false, ERROR_FILENAME_EXCED_RANGE},
        // The limit counts the prefix too.
        {kGlobal + std::string(kLongestName - kGlobal.size(), 'd'), true, ERROR_SUCCESS},
        {kGlobal + std::string(kLongestName - kGlobal.size() + 1, 'e'), false,
         ERROR_FILENAME_EXCED_RANGE},
        // A backslash after the namespace names a folder that does not exist.
        {"Global\\a\\b", false, ERROR_PATH_NOT_FOUND},
        {"Local\\a\\b", false, ERROR_PATH_NOT_FOUND},
        {"a\\b", false, ERROR_PATH_NOT_FOUND},
        {"a\\", false, ERROR_PATH_NOT_FOUND},
        {"global\\a", false, ERROR_PATH_NOT_FOUND},  // prefixes are case-sensitive too
        // Names in a namespace are relative to it: no empty part, no backslash first.
        {"Global\\", false, ERROR_INVALID_NAME},
        {"Local\\", false, ERROR_INVALID_NAME},
        {"Global\\\\a", false, ERROR_INVALID_NAME},
        {"\\a", false, ERROR_BAD_PATHNAME},
        // The namespace links are names taken by objects of another kind.
        {"Global", false, ERROR_INVALID_HANDLE},
        {"Global\\Local", false, ERROR_INVALID_HANDLE},
        {"Local\\Session", false, ERROR_INVALID_HANDLE},
        // Ordinary characters in an object name, however path-like.
        {"../../escape", true, ERROR_SUCCESS},
        {"/tmp/escape", true, ERROR_SUCCESS},
        {"..", true, ERROR_SUCCESS},
        {"Global\\..", true, ERROR_SUCCESS},
        {"Global\\/", true, ERROR_SUCCESS},
        // The empty name makes an unnamed object.
        {"", true, ERROR_SUCCESS},
    };
    for (const NameCase& c : cases) {
        SCOPED_TRACE(c.name.size() > 40 ? c.name.substr(0, 40) + "..." : c.name);
        std::u16string name = Wide(c.name);
        SetLastError(0xDEAD);
        ScopedHandle mutex(CreateMutexW(NULL, FALSE, name.c_str()));
        EXPECT_EQ(c.bCreated, mutex.h != NULL);
        EXPECT_EQ(c.dwError, GetLastError());
    }
}

TEST_F(NamesTest, NamesNeverBecomeFilesInsideOrOutsideTheRoot)
{
    const std::string escapes[] = {
        "../escaped", "../../escaped",      root_ + "/planted",         "/tmp/quorvane-escaped",
        "Global\\..", "Global\\../escaped", std::string(MAX_PATH, '/'), std::string(1000, '.'),
    };
    std::vector<HANDLE> handles;
    for (const std::string& escape : escapes) {
        handles.push_back(CreateEventW(NULL, TRUE, FALSE, Wide(escape).c_str()));
    }

    std::set<std::string> entries;
    DIR* pDir = opendir(root_.c_str());
    ASSERT_NE(nullptr, pDir);
    while (struct dirent* pEntry = readdir(pDir)) {
        entries.insert(pEntry->d_name);
    }
    closedir(pDir);
    EXPECT_EQ((std::set<std::string>{".", "..", "objects"}), entries);
    struct stat st;
    EXPECT_NE(0, stat((root_ + "/../escaped").c_str(), &st));
    EXPECT_NE(0, stat("/tmp/quorvane-escaped", &st));
    for (HANDLE h : handles) {
        CloseHandle(h);
    }
}

struct NamespaceCase {
    const char* first;
    const char* second;
    bool bSameObject;
};

TEST_F(NamesTest, NamespacesDecideWhichNamesMeetTheSameObject)
{
    const NamespaceCase cases[] = {
        {"Local\\One", "One", true},
        {"Global\\Two", "Two", false},
        {"Global\\Three", "Local\\Three", false},
        {"Four", "four", false},  // case-sensitive
        {"Global\\Five", "Global\\Five", true},
    };
    for (const NamespaceCase& c : cases) {
        SCOPED_TRACE(std::string(c.first) + " then " + c.second);
        ScopedHandle first(CreateEventW(NULL, TRUE, FALSE, Wide(c.first).c_str()));
        ASSERT_NE(nullptr, first.h);
        ScopedHandle second(CreateEventW(NULL, TRUE, FALSE, Wide(c.second).c_str()));
        ASSERT_NE(nullptr, second.h);
        EXPECT_EQ(c.bSameObject ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS, GetLastError());

        // The same object is signaled through either handle.
        ASSERT_TRUE(SetEvent(first.h));
        EXPECT_EQ(c.bSameObject ? WAIT_OBJECT_0 : WAIT_TIMEOUT, WaitForSingleObject(second.h, 0));
    }
}

TEST_F(NamesTest, AnExistingObjectIsOpenedAsItIs)
{
    ScopedHandle mutex(CreateMutexW(NULL, FALSE, u"Global\\Existing.Mutex"));
    ScopedHandle event(CreateEventW(NULL, FALSE, FALSE, u"Global\\Existing.Event"));
    ChildProgram other;

    // Asking for initial ownership of an existing mutex does not give it.
    EXPECT_EQ("0 183", other.Ask("create-mutex Global\\Existing.Mutex owned"));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex.h, 0));
    EXPECT_TRUE(ReleaseMutex(mutex.h));

    // An existing auto-reset, unsignaled event stays so.
    EXPECT_EQ("1 183", other.Ask("create-event Global\\Existing.Event manual set"));
    EXPECT_EQ("258 57005", other.Ask("wait 1 0"));  // WAIT_TIMEOUT, last error untouched
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(event.h, 0));
}

struct OpenCase {
    const char* what;
    std::function<HANDLE()> call;
    bool bOpened;
    DWORD dwError;  // 0xDEAD: the last error is left as it was
};

TEST_F(NamesTest, OpeningAnswersByNameAndKind)
{
    ScopedHandle mutex(CreateMutexW(NULL, FALSE, u"Global\\Kind.Mutex"));
    ScopedHandle event(CreateEventW(NULL, FALSE, FALSE, u"Global\\Kind.Event"));
    const std::u16string longName = Wide(std::string(1024 + 40, 'x'));

    const OpenCase cases[] = {
        {"CreateEventW on a mutex's name",
         [] { return CreateEventW(NULL, FALSE, FALSE, u"Global\\Kind.Mutex"); }, false,
         ERROR_INVALID_HANDLE},
        {"CreateMutexW on an event's name",
         [] { return CreateMutexW(NULL, FALSE, u"Global\\Kind.Event"); }, false,
         ERROR_INVALID_HANDLE},
        {"OpenEventW on a mutex's name",
         [] { return OpenEventW(EVENT_ALL_ACCESS, FALSE, u"Global\\Kind.Mutex"); }, false,
         ERROR_INVALID_HANDLE},
        {"OpenMutexW on an event's name",
         [] { return OpenMutexW(MUTEX_ALL_ACCESS, FALSE, u"Global\\Kind.Event"); }, false,
         ERROR_INVALID_HANDLE},
        {"OpenMutexW of a missing name",
         [] { return OpenMutexW(MUTEX_ALL_ACCESS, FALSE, u"Global\\Kind.Missing"); }, false,
         ERROR_FILE_NOT_FOUND},
        {"OpenEventW of a missing name",
         [] { return OpenEventW(EVENT_ALL_ACCESS, FALSE, u"Kind.Missing"); }, false,
         ERROR_FILE_NOT_FOUND},
        {"OpenMutexW without a name", [] { return OpenMutexW(MUTEX_ALL_ACCESS, FALSE, NULL); },
         false, ERROR_INVALID_PARAMETER},
        {"OpenEventW of the empty name", [] { return OpenEventW(EVENT_ALL_ACCESS, FALSE, u""); },
         false, ERROR_INVALID_NAME},
        {"OpenMutexW of an over-long name",
         [&longName] { return OpenMutexW(MUTEX_ALL_ACCESS, FALSE, longName.c_str()); }, false,
         ERROR_FILENAME_EXCED_RANGE},
        {"OpenMutexW of a mutex",
         [] { return OpenMutexW(SYNCHRONIZE, FALSE, u"Global\\Kind.Mutex"); }, true, 0xDEAD},
        {"OpenEventW of an event",
         [] { return OpenEventW(SYNCHRONIZE, FALSE, u"Global\\Kind.Event"); }, true, 0xDEAD},
    };
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.what);
        SetLastError(0xDEAD);
        ScopedHandle opened(c.call());
        EXPECT_EQ(c.bOpened, opened.h != NULL);
        EXPECT_EQ(c.dwError, GetLastError());
    }
}

TEST_F(NamesTest, UnnamedObjectsAreDistinct)
{
    ScopedHandle set(CreateEventW(NULL, TRUE, TRUE, u""));
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    ScopedHandle unset(CreateEventW(NULL, TRUE, FALSE, u""));
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());
    ScopedHandle unnamed(CreateEventW(NULL, TRUE, FALSE, NULL));
    EXPECT_EQ(ERROR_SUCCESS, GetLastError());

    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(set.h, 0));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(unset.h, 0));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(unnamed.h, 0));
}

}  // namespace
