// Local time, the millisecond timer, the counter, the build stamp and the machine address.
#include <gtest/gtest.h>

#include <time.h>
#include <regex>
#include <string>
#include <vector>
#include "Source/Common/StringEncoding.h"
#include "Source/Platform/BuildStamp.h"
#include "Source/Platform/Clock.h"
#include "Source/Platform/MachineIdentity.h"

namespace {
std::string Narrow(const WideChar* wide) {
    char buffer[256];
    Utf16ToUtf8(buffer, 256, wide);
    return buffer;
}
} // namespace

TEST(Clock, LocalTimeMatchesTheCLibrary) {
    time_t before = time(nullptr);
    LocalTimeValue now = LocalTime();
    time_t after = time(nullptr);
    const tm local = *localtime(&before); // the test's own thread alone reads the C library's clock
    if (before != after) GTEST_SKIP() << "the second changed while reading";
    EXPECT_EQ(now.mYear, local.tm_year + 1900);
    EXPECT_EQ(now.mMonth, local.tm_mon + 1);
    EXPECT_EQ(now.mDay, local.tm_mday);
    EXPECT_EQ(now.mDayOfWeek, local.tm_wday);
    EXPECT_EQ(now.mHour, local.tm_hour);
    EXPECT_EQ(now.mMinute, local.tm_min);
    EXPECT_LT(now.mMilliseconds, 1000);
}

TEST(Clock, TimersAdvanceAndCounterConverts) {
    uint32_t start = TimeMilliseconds();
    uint64_t ticks = ReadHighResolutionCounter();
    timespec pause{0, 20 * 1000 * 1000};
    nanosleep(&pause, nullptr);
    uint32_t elapsed = TimeMilliseconds() - start;
    double counted = CounterToMilliseconds(ReadHighResolutionCounter() - ticks);
    EXPECT_GE(elapsed, 19u);
    EXPECT_GE(counted, 19.0);
    EXPECT_EQ(CounterToMilliseconds(0), 0.0);
    EXPECT_EQ(CounterToMilliseconds(HighResolutionFrequency()), 1000.0);
}

TEST(BuildStamp, DateAndTimeHaveTheirFixedForms) {
    std::string date = Narrow(BuildDateText());
    std::string time = Narrow(BuildTimeText());
    EXPECT_TRUE(std::regex_match(date, std::regex(R"((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ \d]\d \d{4})")))
        << date;
    EXPECT_TRUE(std::regex_match(time, std::regex(R"((Sun|Mon|Tue|Wed|Thu|Fri|Sat) \w{3} [ \d]\d \d{2}:\d{2}:\d{2} \d{4})")))
        << time;
    // Both come from the same moment.
    EXPECT_EQ(time.substr(4, 6), date.substr(0, 6));
    EXPECT_EQ(time.substr(20), date.substr(7));
}

TEST(MachineIdentity, AddressIsSixUpperCaseGroupsOrEmpty) {
    std::string text = Narrow(MachineAddressText().Data());
    if (text.empty()) GTEST_SKIP() << "no network interface here has a hardware address";
    EXPECT_TRUE(std::regex_match(text, std::regex(R"([0-9A-F]{2}(:[0-9A-F]{2}){5})"))) << text;
}
