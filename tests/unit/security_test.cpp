#include "quorvane/support/security.h"

#include "tests/unit/helper_fixture.h"

namespace {

using SecurityTest = HelperTest;

const SecurityTraceTexts kTexts = {u"init failed %d\n", u"dacl failed %d\n", u"ok\n"};

TEST_F(SecurityTest, OpenAttributesCarryANullDaclAndAreNotInherited)
{
    SECURITY_DESCRIPTOR descriptor;
    SECURITY_ATTRIBUTES attributes;

    ASSERT_TRUE(BuildOpenSecurityAttributes(&kTexts, &descriptor, &attributes));

    EXPECT_EQ(attributes.nLength, 24u);
    EXPECT_EQ(attributes.lpSecurityDescriptor, &descriptor);
    EXPECT_EQ(attributes.bInheritHandle, FALSE);
    EXPECT_EQ(descriptor.Revision, SECURITY_DESCRIPTOR_REVISION);
    EXPECT_EQ(descriptor.Control & (SE_DACL_PRESENT | SE_DACL_DEFAULTED), SE_DACL_PRESENT);
    EXPECT_EQ(descriptor.Dacl, nullptr);
    EXPECT_EQ(fakeos::Traces(), Lines{"ok\n"});
}

TEST_F(SecurityTest, EachFailingStepIsTracedInTheCallersWordsWithItsError)
{
    const struct {
        fakeos::Api api;
        DWORD dwError;
        const char* pszTrace;
    } cases[] = {
        {fakeos::Api::InitializeSecurityDescriptor, 1305, "init failed 1305\n"},
        {fakeos::Api::SetSecurityDescriptorDacl, ERROR_INVALID_PARAMETER, "dacl failed 87\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.pszTrace);
        fakeos::ClearRecords();
        fakeos::FailCall(c.api, c.dwError);
        SECURITY_DESCRIPTOR descriptor;
        SECURITY_ATTRIBUTES attributes;

        EXPECT_FALSE(BuildOpenSecurityAttributes(&kTexts, &descriptor, &attributes));
        EXPECT_EQ(fakeos::Traces(), Lines{c.pszTrace});
    }
}

}  // namespace
