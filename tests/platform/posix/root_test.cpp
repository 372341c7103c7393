// The machine root: one machine per root, and nothing planted in a root redirects the layer.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>

#include "platform/posix/objects/testing.h"
#include "tests/platform/posix/machine.h"

namespace {

using RootTest = MachineTest;

std::string ContentOf(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream file(path, std::ios::binary);
    file << content;
}

TEST_F(RootTest, EachRootIsAMachineOfItsOwn)
{
    ScopedHandle global(CreateEventW(NULL, TRUE, FALSE, u"Global\\Root.Shared"));
    ScopedHandle local(CreateEventW(NULL, TRUE, FALSE, u"Root.Shared"));

    std::string otherRoot = MakeTemporaryFolder();
    setenv("QUORVANE_ROOT", otherRoot.c_str(), 1);
    {
        ChildProgram elsewhere;
        EXPECT_EQ("- 2", elsewhere.Ask("open-event Global\\Root.Shared"));
        EXPECT_EQ("- 2", elsewhere.Ask("open-event Root.Shared"));
        // The same name is free for a new object there.
        EXPECT_EQ("0 0", elsewhere.Ask("create-event Global\\Root.Shared"));
    }
    setenv("QUORVANE_ROOT", root_.c_str(), 1);
    ChildProgram here;
    EXPECT_EQ("0 183", here.Ask("create-event Global\\Root.Shared"));
    EXPECT_EQ("1 57005", here.Ask("open-event Root.Shared"));
    RemoveTree(otherRoot);
}

struct PlantCase {
    const char* what;
    std::function<void(const std::string& arena, const std::string& outside)> plant;
};

TEST_F(RootTest, PlantedArenaIsRefusedAndItsTargetUntouched)
{
    const std::string kContent = "not the layer's\n";
    const PlantCase cases[] = {
        {"a symbolic link to a file",
         [](const std::string& arena, const std::string& outside) {
             ASSERT_EQ(0, symlink(outside.c_str(), arena.c_str()));
         }},
        {"a dangling symbolic link",
         [](const std::string& arena, const std::string& outside) {
             ASSERT_EQ(0, unlink(outside.c_str()));
             ASSERT_EQ(0, symlink(outside.c_str(), arena.c_str()));
         }},
        {"a hard link to a file",
         [](const std::string& arena, const std::string& outside) {
             ASSERT_EQ(0, link(outside.c_str(), arena.c_str()));
         }},
        {"a folder", [](const std::string& arena,
                        const std::string&) { ASSERT_EQ(0, mkdir(arena.c_str(), 0777)); }},
        {"a file of another program",
         [&kContent](const std::string& arena, const std::string&) { WriteFile(arena, kContent); }},
    };
    for (const PlantCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::string root = MakeTemporaryFolder();
        std::string folder = MakeTemporaryFolder();
        std::string outside = folder + "/target";
        WriteFile(outside, kContent);
        c.plant(root + "/objects", outside);
        setenv("QUORVANE_ROOT", root.c_str(), 1);

        SetLastError(0xDEAD);
        EXPECT_EQ(nullptr, CreateEventW(NULL, TRUE, FALSE, u"Global\\Planted"));
        EXPECT_TRUE(GetLastError() == ERROR_ACCESS_DENIED ||
                    GetLastError() == ERROR_NO_SYSTEM_RESOURCES)
            << GetLastError();
        struct stat st;
        if (lstat(outside.c_str(), &st) == 0) {
            EXPECT_EQ(kContent, ContentOf(outside));
        } else {
            EXPECT_EQ(ENOENT, errno) << "the dangling link's target was not created";
        }
        std::string arena = root + "/objects";
        if (lstat(arena.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            EXPECT_EQ(kContent, ContentOf(arena));
        }

        objects::ResetForTesting();
        RemoveTree(root);
        RemoveTree(folder);
    }
}

struct RootFolderCase {
    const char* what;
    uid_t owner;  // kMine: the test's own user
    mode_t mode;
    bool bUsable;
};

constexpr uid_t kMine = static_cast<uid_t>(-1);
constexpr uid_t kNobody = 65534;

// A root made in advance by somebody else (anyone can create a folder in /tmp under the
// root's name) is not used: its owner could remove or replace what is kept there.
TEST_F(RootTest, RootFolderOfAnotherUserOrOpenToAllIsRefused)
{
    const RootFolderCase cases[] = {
        {"ours, private", kMine, 0700, true},
        {"ours, world-writable and sticky, as the layer makes it", kMine, 01777, true},
        {"ours, but others may write in it and it is not sticky", kMine, 0777, false},
        {"ours, group-writable and not sticky", kMine, 0770, false},
        {"another user's", kNobody, 0700, false},
        {"another user's, even sticky", kNobody, 01777, false},
    };
    for (const RootFolderCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::string root = MakeTemporaryFolder();
        ASSERT_EQ(0, chmod(root.c_str(), c.mode));
        if (c.owner != kMine && chown(root.c_str(), c.owner, static_cast<gid_t>(-1)) != 0) {
            RemoveTree(root);
            GTEST_SKIP() << "giving a folder to another user needs root";
        }
        setenv("QUORVANE_ROOT", root.c_str(), 1);

        SetLastError(0xDEAD);
        HANDLE hEvent = CreateEventW(NULL, TRUE, FALSE, u"Global\\Root.Folder");
        if (c.bUsable) {
            EXPECT_NE(nullptr, hEvent) << GetLastError();
        } else {
            EXPECT_EQ(nullptr, hEvent);
            EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
        }
        if (hEvent != nullptr) {
            CloseHandle(hEvent);
        }
        objects::ResetForTesting();
        RemoveTree(root);
    }
}

// An upgrade leaves the arena of the build before it; once nobody uses it, it is replaced.
TEST_F(RootTest, UnusedArenaOfAnotherBuildIsReplaced)
{
    std::string root = MakeTemporaryFolder();
    {
        // Our magic, an older layout and a size of its own.
        std::string older(4096, '\0');
        const uint64_t kMagic = objects::kArenaMagicForTesting;
        const uint32_t kOlderVersion = 1;
        older.replace(0, sizeof(kMagic), reinterpret_cast<const char*>(&kMagic), sizeof(kMagic));
        older.replace(8, sizeof(kOlderVersion), reinterpret_cast<const char*>(&kOlderVersion),
                      sizeof(kOlderVersion));
        WriteFile(root + "/objects", older);
        chmod((root + "/objects").c_str(), 0666);
    }
    setenv("QUORVANE_ROOT", root.c_str(), 1);

    ScopedHandle event(CreateEventW(NULL, TRUE, FALSE, u"Global\\AfterUpgrade"));

    EXPECT_NE(nullptr, event.h) << GetLastError();
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
    CloseHandle(event.h);
    event.h = NULL;
    objects::ResetForTesting();
    RemoveTree(root);
}

TEST_F(RootTest, RootReachedThroughALinkIsRefused)
{
    std::string folder = MakeTemporaryFolder();
    std::string link = root_ + "/machine";
    ASSERT_EQ(0, symlink(folder.c_str(), link.c_str()));
    setenv("QUORVANE_ROOT", link.c_str(), 1);

    SetLastError(0xDEAD);
    EXPECT_EQ(nullptr, CreateEventW(NULL, TRUE, FALSE, u"Global\\Linked"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    struct stat st;
    EXPECT_NE(0, lstat((folder + "/objects").c_str(), &st)) << "nothing was made behind the link";

    objects::ResetForTesting();
    RemoveTree(folder);
}

TEST_F(RootTest, MissingRootIsCreatedOpenToEveryUser)
{
    std::string parent = MakeTemporaryFolder();
    std::string root = parent + "/machine";
    setenv("QUORVANE_ROOT", root.c_str(), 1);
    mode_t previousMask = umask(022);

    ScopedHandle event(CreateEventW(NULL, TRUE, FALSE, u"Global\\Fresh"));
    ASSERT_NE(nullptr, event.h);
    struct stat st;
    ASSERT_EQ(0, stat(root.c_str(), &st));
    EXPECT_EQ(01777u, st.st_mode & 07777u);
    ASSERT_EQ(0, stat((root + "/objects").c_str(), &st));
    EXPECT_EQ(0666u, st.st_mode & 07777u);

    umask(previousMask);
    CloseHandle(event.h);
    event.h = NULL;
    objects::ResetForTesting();
    RemoveTree(parent);
}

}  // namespace
