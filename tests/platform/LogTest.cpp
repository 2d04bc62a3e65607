// The log channels, the sinks and the assertion report.
#include <gtest/gtest.h>

#include <string>
#include <vector>
#include "Source/Common/String.h"
#include "Source/Platform/BuildStamp.h"
#include "Source/Platform/Log.h"

namespace {

struct Captured {
    std::vector<std::u16string> mCalls;
    std::vector<uint8_t> mEndLines;
};

void CapturingSink(const WideChar* text, void* context, uint8_t endLine) {
    Captured* captured = static_cast<Captured*>(context);
    captured->mCalls.push_back(text);
    captured->mEndLines.push_back(endLine);
}

}  // namespace

TEST(Log, AssertionReportIsThreeExactLinesOnTheErrorChannel) {
    Captured trace, error;
    SetLogSinks(CapturingSink, &trace, CapturingSink, &error);
    AssertFailed(u"buffer != _null", u"Source/Platform/File", 42);
    SetLogSinks(_null, _null, _null, _null);
    EXPECT_TRUE(trace.mCalls.empty());
    ASSERT_EQ(error.mCalls.size(), 2u);
    std::u16string expected = u"Build Date : ";
    expected += BuildDateText();
    expected += u"\r\nAssertion Failed : buffer != _null\r\nSource/Platform/File:42";
    EXPECT_EQ(error.mCalls[1], expected);
    EXPECT_EQ(error.mEndLines[0], 0);
    EXPECT_EQ(error.mEndLines[1], 1);
}
