// Object names as Windows reads them: "Global\" is a namespace of its own beside the session's
// (which "Local\" and plain names share), names are case-sensitive, long names are whole names,
// "/" and "." are ordinary characters, and a backslash after the prefix is a path.
#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "platform/win32.h"
#include "tests/platform/child_process.h"
#include "tests/platform/conformance.h"
#include "tests/platform/conformance_child.h"

namespace {

const ObjectKind* const kKinds[] = {&kMutexKind, &kEventKind};

WideString Global(const WideString& name)
{
    return TEXT("Global\\") + name;
}

WideString Local(const WideString& name)
{
    return TEXT("Local\\") + name;
}

// The base name padded with 'x' to exactly `length` characters.
WideString NameOfLength(const WideString& base, std::size_t length, WCHAR last)
{
    WideString name = base;
    name.resize(length - 1, TEXT('x'));
    return name + last;
}

int RunChild(const char* command, const WideString& name)
{
    ChildProcess child({command, Narrow(name)});
    const std::optional<int> code = child.Wait(kPromptlyMs);
    return code ? *code : -1;
}

TEST(ObjectNames, GlobalIsANamespaceOfItsOwnAndLocalIsThePlainOne)
{
    const WideString base = UniqueName("name");
    const WideString cased = UniqueName("Name");
    const struct {
        WideString first;
        WideString second;
        bool same;
    } pairs[] = {
        {base + TEXT(".1"), Global(base + TEXT(".1")), false},
        {base + TEXT(".2"), Local(base + TEXT(".2")), true},
        {Global(base + TEXT(".3")), Global(base + TEXT(".3")), true},
        {base + TEXT(".4"), cased + TEXT(".4"), false},  // names are case-sensitive
        {Global(base + TEXT(".5")), Global(cased + TEXT(".5")), false},
    };
    for (const ObjectKind* kind : kKinds) {
        for (const auto& pair : pairs) {
            SCOPED_TRACE(testing::Message()
                         << kind->name << " " << Narrow(pair.first) << ", " << Narrow(pair.second));
            const Made first = Create(*kind, pair.first);
            ASSERT_TRUE(first.handle);
            EXPECT_EQ(first.lastError, ERROR_SUCCESS);

            const Made second = Create(*kind, pair.second);
            ASSERT_TRUE(second.handle);
            EXPECT_EQ(second.lastError, pair.same ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
            EXPECT_EQ(kind->sameObject(first.handle.get(), second.handle.get()), pair.same);
        }
    }
}

TEST(ObjectNames, AnotherProcessFindsGlobalAndPlainNamesApart)
{
    const WideString globalOnly = UniqueName("global");
    const WideString plainOnly = UniqueName("plain");
    OwnedHandle global(CreateEventW(NULL, TRUE, FALSE, Global(globalOnly).c_str()));
    OwnedHandle plain(CreateEventW(NULL, TRUE, FALSE, plainOnly.c_str()));
    ASSERT_TRUE(global && plain);

    EXPECT_EQ(RunChild("open-event", Global(globalOnly)), kChildSucceeded);
    EXPECT_EQ(RunChild("open-event", plainOnly), kChildSucceeded);
    EXPECT_EQ(RunChild("open-event", Local(plainOnly)), kChildSucceeded);
    EXPECT_EQ(RunChild("open-event", globalOnly), kChildFileNotFound);
    EXPECT_EQ(RunChild("open-event", Global(plainOnly)), kChildFileNotFound);
}

TEST(ObjectNames, LongNamesAreWholeNames)
{
    // The reference says a name is limited to MAX_PATH (260) characters, but Windows enforces
    // no such limit, and neither does Wine: longer names work, here up to the length of a name
    // that fills the helper's 1008-byte name buffer twice over.
    const std::size_t lengths[] = {259, 260, 261, 1000};
    const WideString base = UniqueName("long");
    for (const ObjectKind* kind : kKinds) {
        for (const std::size_t length : lengths) {
            for (const bool global : {false, true}) {
                SCOPED_TRACE(testing::Message() << kind->name << ", " << length << " characters"
                                                << (global ? " after Global\\" : ""));
                const WideString first = NameOfLength(base, length, TEXT('1'));
                const WideString second = NameOfLength(base, length, TEXT('2'));
                const WideString firstName = global ? Global(first) : first;
                const WideString secondName = global ? Global(second) : second;

                // Names that differ only in their last character are two names.
                const Made made = Create(*kind, firstName);
                const Made other = Create(*kind, secondName);
                EXPECT_TRUE(made.handle);
                EXPECT_EQ(made.lastError, ERROR_SUCCESS);
                EXPECT_TRUE(other.handle);
                EXPECT_EQ(other.lastError, ERROR_SUCCESS);
                if (!made.handle || !other.handle) {
                    continue;
                }
                EXPECT_FALSE(kind->sameObject(made.handle.get(), other.handle.get()));
                EXPECT_TRUE(Open(*kind, firstName).handle);
                EXPECT_EQ(RunChild(kind->childOpen, firstName), kChildSucceeded);
            }
        }
    }
}

TEST(ObjectNames, SlashesAndDotsAreOrdinaryCharacters)
{
    const WideString base = UniqueName("path");
    // Each name is new: none is the same as another, as a file path would be.
    const std::vector<WideString> names = {
        base + TEXT("/a"),
        base + TEXT("/a/"),
        base + TEXT("//a"),
        base + TEXT("/./a"),
        base + TEXT("/b/../a"),
        base + TEXT("/b"),
        base + TEXT("/b/.."),
        base + TEXT("/.."),
        base + TEXT("/"),
        TEXT(".."),
        TEXT("."),
        TEXT("../") + base,
        Global(TEXT("..")),
        Global(TEXT(".")),
        Global(TEXT("../") + base),
        Global(TEXT("/") + base),
    };
    for (const ObjectKind* kind : kKinds) {
        std::vector<Made> held;
        for (const WideString& name : names) {
            SCOPED_TRACE(testing::Message() << kind->name << " " << Narrow(name));
            held.push_back(Create(*kind, name));
            ASSERT_TRUE(held.back().handle);
            EXPECT_EQ(held.back().lastError, ERROR_SUCCESS);
        }
        for (const WideString& name : names) {
            SCOPED_TRACE(testing::Message() << kind->name << " " << Narrow(name));
            EXPECT_EQ(Create(*kind, name).lastError, ERROR_ALREADY_EXISTS);
        }
    }
}

TEST(ObjectNames, ABackslashAfterThePrefixIsAPathThatDoesNotExist)
{
    const WideString base = UniqueName("backslash");
    const struct {
        WideString name;
        DWORD error;
    } cases[] = {
        {base + TEXT("\\a"), ERROR_PATH_NOT_FOUND},
        {base + TEXT("\\"), ERROR_PATH_NOT_FOUND},
        {Global(base + TEXT("\\a")), ERROR_PATH_NOT_FOUND},
        {Local(base + TEXT("\\a")), ERROR_PATH_NOT_FOUND},
        {TEXT("Global\\"), ERROR_INVALID_NAME},  // an empty name in the global namespace
        {Global(TEXT("\\") + base), ERROR_INVALID_NAME},
    };
    for (const ObjectKind* kind : kKinds) {
        for (const auto& c : cases) {
            SCOPED_TRACE(testing::Message() << kind->name << " " << Narrow(c.name));
            const Made created = Create(*kind, c.name);
            EXPECT_FALSE(created.handle);
            EXPECT_EQ(created.lastError, c.error);
            const Made opened = Open(*kind, c.name);
            EXPECT_FALSE(opened.handle);
            EXPECT_EQ(opened.lastError, c.error);
        }
    }
}

}  // namespace
