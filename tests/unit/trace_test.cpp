#include "quorvane/support/trace.h"

#include "tests/unit/helper_fixture.h"

namespace {

using TraceTest = HelperTest;

std::u16string Repeat(char16_t c, size_t n)
{
    return std::u16string(n, c);
}

TEST_F(TraceTest, FormatsArgumentsAndAddsNothing)
{
    TraceMessage(u"QUORVANEOnPowerBroadcast(%s)\n", u"PBT_APMSUSPEND");
    TraceMessage(u"QUORVANE[%d] hPort = %016Ix\n", -3, static_cast<ULONG_PTR>(0x1F4));
    TraceMessage(u"no line end");

    EXPECT_EQ(fakeos::Traces(), (Lines{"QUORVANEOnPowerBroadcast(PBT_APMSUSPEND)\n",
                                       "QUORVANE[-3] hPort = 00000000000001f4\n", "no line end"}));
}

// A message is emitted whole or not at all: 498 characters is the most that fits.
TEST_F(TraceTest, LongestMessageIsEmittedWholeAndOneMoreIsDropped)
{
    struct Case {
        size_t nChars;
        bool bEmitted;
    };
    const Case cases[] = {{497, true}, {498, true}, {499, false}, {600, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nChars);
        fakeos::ClearRecords();
        std::u16string text = Repeat(u'x', c.nChars - 1) + u"\n";

        TraceMessage(u"%s", text.c_str());

        if (c.bEmitted) {
            EXPECT_EQ(fakeos::Traces(), Lines{fakeos::Utf8(text)});
        } else {
            EXPECT_TRUE(fakeos::Traces().empty());
        }
    }
}

TEST_F(TraceTest, LengthCountsTheFormattedTextNotTheFormat)
{
    std::u16string tail = Repeat(u'y', 490);

    TraceMessage(u"QUORVANE%s", tail.c_str());   // 8 + 490 = 498 characters
    TraceMessage(u"QUORVANE%sz", tail.c_str());  // 499 characters

    EXPECT_EQ(fakeos::Traces(), Lines{"QUORVANE" + fakeos::Utf8(tail)});
}

}  // namespace
