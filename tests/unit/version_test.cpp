#include "quorvane/support/version.h"

#include "quorvane/support/object_names.h"
#include "tests/unit/helper_fixture.h"

namespace {

using VersionTest = HelperTest;

struct VersionCase {
    DWORD dwPlatformId, dwMajor, dwMinor;
    bool bNt5OrLater, bNt6OrLater, bWindows2000;
    const char16_t* pszPrefix;
};

TEST_F(VersionTest, PredicatesAndPrefixFollowPlatformAndVersion)
{
    const VersionCase cases[] = {
        {VER_PLATFORM_WIN32_NT, 4, 0, false, false, false, u""},
        {VER_PLATFORM_WIN32_NT, 5, 0, true, false, true, u"Global\\"},
        {VER_PLATFORM_WIN32_NT, 5, 1, true, false, false, u"Global\\"},
        {VER_PLATFORM_WIN32_NT, 5, 2, true, false, false, u"Global\\"},
        {VER_PLATFORM_WIN32_NT, 6, 0, true, true, false, u"Global\\"},
        {VER_PLATFORM_WIN32_NT, 6, 2, true, true, false, u"Global\\"},
        {VER_PLATFORM_WIN32_NT, 10, 0, true, true, false, u"Global\\"},
        // The comparison is unsigned: a huge major version is still "later".
        {VER_PLATFORM_WIN32_NT, 0xFFFFFFFF, 0, true, true, false, u"Global\\"},
        {VER_PLATFORM_WIN32_WINDOWS, 5, 0, false, false, false, u""},
        {VER_PLATFORM_WIN32s, 6, 0, false, false, false, u""},
        {3, 10, 0, false, false, false, u""},
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "platform " << c.dwPlatformId << ", version "
                                        << c.dwMajor << "." << c.dwMinor);
        g_VersionCache = VersionCache{};
        fakeos::SetVersion(c.dwPlatformId, c.dwMajor, c.dwMinor);

        EXPECT_EQ(c.bNt5OrLater, IsNt5OrLater() != FALSE);
        EXPECT_EQ(c.bNt6OrLater, IsNt6OrLater() != FALSE);
        EXPECT_EQ(c.bWindows2000, IsWindows2000() != FALSE);
        EXPECT_EQ(std::u16string(c.pszPrefix), GetObjectNamePrefix());
    }
}

TEST_F(VersionTest, ExtendedQueryIsTriedFirstAndOnlyOnce)
{
    fakeos::SetVersion(VER_PLATFORM_WIN32_NT, 5, 1);

    EXPECT_TRUE(IsNt5OrLater());
    EXPECT_FALSE(IsNt6OrLater());
    EXPECT_FALSE(IsWindows2000());

    EXPECT_EQ(fakeos::VersionQuerySizes(), std::vector<DWORD>{284});
}

TEST_F(VersionTest, PlainQueryServesWhenTheExtendedOneFails)
{
    fakeos::SetVersion(VER_PLATFORM_WIN32_NT, 5, 0);
    fakeos::SetVersionFailure(fakeos::VersionFailure::ExtendedOnly);

    EXPECT_TRUE(IsWindows2000());
    EXPECT_EQ(g_VersionCache.bKnown, 1u);
    EXPECT_TRUE(IsNt5OrLater());

    EXPECT_EQ(fakeos::VersionQuerySizes(), (std::vector<DWORD>{284, 276}));
}

TEST_F(VersionTest, FailedQueryLeavesEveryPredicateFalseAndIsRetried)
{
    fakeos::SetVersion(VER_PLATFORM_WIN32_NT, 6, 1);
    fakeos::SetVersionFailure(fakeos::VersionFailure::Always);

    EXPECT_FALSE(IsNt5OrLater());
    EXPECT_FALSE(IsNt6OrLater());
    EXPECT_FALSE(IsWindows2000());
    EXPECT_EQ(std::u16string(u""), GetObjectNamePrefix());
    EXPECT_EQ(fakeos::VersionQuerySizes().size(), 8u);  // two sizes for each of four questions

    fakeos::SetVersionFailure(fakeos::VersionFailure::None);
    EXPECT_TRUE(IsNt6OrLater());
    EXPECT_EQ(fakeos::VersionQuerySizes().size(), 9u);
}

}  // namespace
