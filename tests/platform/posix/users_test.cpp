// Users: the per-user namespace and the two securities, seen from a process of another user.
// The other user is "nobody"; switching to it needs root, which CI has.
#include <unistd.h>

#include "tests/platform/posix/machine.h"

namespace {

constexpr uid_t kNobody = 65534;

class UsersTest : public MachineTest {
  protected:
    void SetUp() override
    {
        if (geteuid() != 0) {
            GTEST_SKIP() << "switching to another user needs root";
        }
        MachineTest::SetUp();
    }
};

SECURITY_ATTRIBUTES* OpenSecurity()
{
    static SECURITY_DESCRIPTOR s_descriptor;
    static SECURITY_ATTRIBUTES s_attributes;
    InitializeSecurityDescriptor(&s_descriptor, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&s_descriptor, TRUE, NULL, FALSE);
    s_attributes = {sizeof(SECURITY_ATTRIBUTES), &s_descriptor, FALSE};
    return &s_attributes;
}

struct UserCase {
    const char* name;     // created here, by root
    bool bOpenSecurity;   // with a null DACL, else default security
    const char* command;  // then asked of nobody's process
    const char* answer;
};

TEST_F(UsersTest, AnotherUserSeesWhatNamespaceAndSecurityAllow)
{
    const UserCase cases[] = {
        // Global names are machine-wide; security decides who may open them.
        {"Global\\Users.Open", true, "open-event Global\\Users.Open", "0 57005"},
        {"Global\\Users.Open2", true, "create-event Global\\Users.Open2", "1 183"},
        {"Global\\Users.Default", false, "open-event Global\\Users.Default", "- 5"},
        {"Global\\Users.Default2", false, "create-event Global\\Users.Default2", "- 5"},
        // Names without a prefix, or with Local\, are in the creating user's namespace: the
        // other user neither sees them nor collides with them, whatever the security.
        {"Users.Mine", true, "open-event Users.Mine", "- 2"},
        {"Local\\Users.Mine2", true, "open-event Local\\Users.Mine2", "- 2"},
        {"Users.Mine3", false, "create-event Users.Mine3", "2 0"},
    };
    ChildProgram nobody(kNobody);
    std::vector<HANDLE> handles;
    for (const UserCase& c : cases) {
        SCOPED_TRACE(c.command);
        handles.push_back(CreateEventW(c.bOpenSecurity ? OpenSecurity() : NULL, TRUE, FALSE,
                                       Wide(c.name).c_str()));
        ASSERT_NE(nullptr, handles.back());
        EXPECT_EQ(c.answer, nobody.Ask(c.command));
    }
    for (HANDLE h : handles) {
        CloseHandle(h);
    }
}

TEST_F(UsersTest, OpenMutexServesEveryUserAndRootIsNotSpecial)
{
    ChildProgram nobody(kNobody);
    // A mutex of root's, open to all: the other user takes it and root waits for it.
    ScopedHandle open(CreateMutexW(OpenSecurity(), FALSE, u"Global\\Users.Mutex"));
    EXPECT_EQ("0 57005", nobody.Ask("open-mutex Global\\Users.Mutex"));
    EXPECT_EQ("0 57005", nobody.Ask("wait 0 0"));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(open.h, 0));
    EXPECT_EQ("1 57005", nobody.Ask("release 0"));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(open.h, 0));
    EXPECT_TRUE(ReleaseMutex(open.h));

    // An object of the other user's, with default security, is closed to root as well.
    EXPECT_EQ("1 0", nobody.Ask("create-mutex Global\\Users.NobodysOwn"));
    SetLastError(0xDEAD);
    EXPECT_EQ(nullptr, OpenMutexW(MUTEX_ALL_ACCESS, FALSE, u"Global\\Users.NobodysOwn"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
}

}  // namespace
