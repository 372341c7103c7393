// Named mutexes and events as Windows makes them: create against open, the last error each
// leaves, a name taken by the other kind, unnamed objects, lifetime, handles that are none,
// and the namespace seen from another process.
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "platform/win32.h"
#include "tests/platform/child_process.h"
#include "tests/platform/conformance.h"
#include "tests/platform/conformance_child.h"

namespace {

class NamedObject : public testing::TestWithParam<const ObjectKind*> {
  protected:
    const ObjectKind& kind() const { return *GetParam(); }
};

INSTANTIATE_TEST_SUITE_P(Kinds, NamedObject, testing::Values(&kMutexKind, &kEventKind),
                         [](const testing::TestParamInfo<const ObjectKind*>& kindInfo) {
                             return std::string(kindInfo.param->name);
                         });

int RunChild(const char* command, const WideString& name)
{
    ChildProcess child({command, Narrow(name)});
    const std::optional<int> code = child.Wait(kPromptlyMs);
    return code ? *code : -1;
}

TEST_P(NamedObject, CreateOfANewNameClearsTheLastError)
{
    const Made made = Create(kind(), UniqueName("object"));

    ASSERT_TRUE(made.handle);
    EXPECT_EQ(made.lastError, ERROR_SUCCESS);
}

TEST_P(NamedObject, CreateOfATakenNameOpensTheSameObject)
{
    const WideString name = UniqueName("object");
    const Made first = Create(kind(), name);
    ASSERT_TRUE(first.handle);

    const Made second = Create(kind(), name);

    ASSERT_TRUE(second.handle);
    EXPECT_EQ(second.lastError, ERROR_ALREADY_EXISTS);
    EXPECT_NE(second.handle.get(), first.handle.get());
    EXPECT_TRUE(kind().sameObject(first.handle.get(), second.handle.get()));
}

TEST_P(NamedObject, OpenFindsTheObjectOfThatName)
{
    const WideString name = UniqueName("object");
    const Made created = Create(kind(), name);
    ASSERT_TRUE(created.handle);

    const Made opened = Open(kind(), name);

    ASSERT_TRUE(opened.handle);
    EXPECT_TRUE(kind().sameObject(created.handle.get(), opened.handle.get()));
}

TEST_P(NamedObject, OpenOfAMissingNameFailsWithFileNotFound)
{
    const Made opened = Open(kind(), UniqueName("missing"));

    EXPECT_FALSE(opened.handle);
    EXPECT_EQ(opened.lastError, ERROR_FILE_NOT_FOUND);
}

TEST_P(NamedObject, NameOfTheOtherKindIsRefusedWithInvalidHandle)
{
    const WideString name = UniqueName("object");
    const Made other = Create(OtherKind(kind()), name);
    ASSERT_TRUE(other.handle);

    const Made created = Create(kind(), name);
    EXPECT_FALSE(created.handle);
    EXPECT_EQ(created.lastError, ERROR_INVALID_HANDLE);

    const Made opened = Open(kind(), name);
    EXPECT_FALSE(opened.handle);
    EXPECT_EQ(opened.lastError, ERROR_INVALID_HANDLE);
}

TEST_P(NamedObject, LivesWhileAnyHandleIsOpenAndItsNameIsFreeAfterTheLast)
{
    const WideString name = UniqueName("object");
    Made created = Create(kind(), name);
    ASSERT_TRUE(created.handle);
    Made opened = Open(kind(), name);
    ASSERT_TRUE(opened.handle);

    created.handle.Reset();
    EXPECT_TRUE(Open(kind(), name).handle) << "the opened handle keeps the object";

    opened.handle.Reset();
    const Made afterLast = Open(kind(), name);
    EXPECT_FALSE(afterLast.handle);
    EXPECT_EQ(afterLast.lastError, ERROR_FILE_NOT_FOUND);
    const Made recreated = Create(kind(), name);
    ASSERT_TRUE(recreated.handle);
    EXPECT_EQ(recreated.lastError, ERROR_SUCCESS);
}

TEST_P(NamedObject, UnnamedObjectsAreEachTheirOwn)
{
    // A null name and an empty one both make an object without a name.
    const LPCWSTR names[] = {nullptr, TEXT("")};
    for (const LPCWSTR name : names) {
        SCOPED_TRACE(name == nullptr ? "null name" : "empty name");
        SetLastError(ERROR_INVALID_PARAMETER);
        OwnedHandle first(kind().create(name));
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
        SetLastError(ERROR_INVALID_PARAMETER);
        OwnedHandle second(kind().create(name));
        EXPECT_EQ(GetLastError(), ERROR_SUCCESS);

        ASSERT_TRUE(first);
        ASSERT_TRUE(second);
        EXPECT_FALSE(kind().sameObject(first.get(), second.get()));
    }
}

TEST_P(NamedObject, AnotherProcessSharesTheNamespace)
{
    const WideString name = UniqueName("object");
    EXPECT_EQ(RunChild(kind().childOpen, name), kChildFileNotFound);
    {
        const Made created = Create(kind(), name);
        ASSERT_TRUE(created.handle);

        EXPECT_EQ(RunChild(kind().childOpen, name), kChildSucceeded);
        EXPECT_EQ(RunChild(kind().childCreate, name), kChildAlreadyExists);
        EXPECT_EQ(RunChild(OtherKind(kind()).childOpen, name), kChildInvalidHandle);
    }
    EXPECT_EQ(RunChild(kind().childOpen, name), kChildFileNotFound)
        << "the object went with this process's last handle";
}

TEST(Handles, ACallOnAHandleThatIsNoneFailsWithInvalidHandle)
{
    // Far above any handle value a test program is given, and not one of the pseudo-handles.
    const HANDLE hNeverHandedOut = reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(0x7FFF0000));
    const struct {
        const char* name;
        std::function<HANDLE()> make;
    } handles[] = {
        {"null", [] { return HANDLE{NULL}; }},
        {"never handed out", [=] { return hNeverHandedOut; }},
        // Used at once: the runtime reuses a closed handle's value for the next handle it opens.
        {"closed",
         [] {
             HANDLE hEvent = CreateEventW(NULL, TRUE, TRUE, NULL);
             CloseHandle(hEvent);
             return hEvent;
         }},
    };
    const struct {
        const char* name;
        std::function<bool(HANDLE)> fails;
    } calls[] = {
        {"WaitForSingleObject", [](HANDLE h) { return WaitForSingleObject(h, 0) == WAIT_FAILED; }},
        {"WaitForMultipleObjects",
         [](HANDLE h) { return WaitForMultipleObjects(1, &h, FALSE, 0) == WAIT_FAILED; }},
        {"SetEvent", [](HANDLE h) { return !SetEvent(h); }},
        {"ResetEvent", [](HANDLE h) { return !ResetEvent(h); }},
        {"ReleaseMutex", [](HANDLE h) { return !ReleaseMutex(h); }},
        {"CloseHandle", [](HANDLE h) { return !CloseHandle(h); }},
    };
    for (const auto& handle : handles) {
        for (const auto& call : calls) {
            SCOPED_TRACE(testing::Message() << call.name << " on a " << handle.name << " handle");
            const HANDLE hNone = handle.make();
            SetLastError(ERROR_SUCCESS);
            const bool failed = call.fails(hNone);
            const DWORD dwError = GetLastError();

            EXPECT_TRUE(failed);
            EXPECT_EQ(dwError, ERROR_INVALID_HANDLE);
        }
    }
}

TEST(Handles, ACallForTheOtherKindFailsWithInvalidHandle)
{
    OwnedHandle mutex(CreateMutexW(NULL, FALSE, NULL));
    OwnedHandle event(CreateEventW(NULL, TRUE, FALSE, NULL));
    ASSERT_TRUE(mutex);
    ASSERT_TRUE(event);

    const struct {
        const char* call;
        std::function<BOOL()> run;
    } cases[] = {
        {"ReleaseMutex on an event", [&] { return ReleaseMutex(event.get()); }},
        {"SetEvent on a mutex", [&] { return SetEvent(mutex.get()); }},
        {"ResetEvent on a mutex", [&] { return ResetEvent(mutex.get()); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.call);
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(c.run());
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    EXPECT_TRUE(FreeForAnotherThread(mutex.get())) << "SetEvent did not change the mutex";
    EXPECT_EQ(WaitForSingleObject(event.get(), 0), WAIT_TIMEOUT);
}

}  // namespace
