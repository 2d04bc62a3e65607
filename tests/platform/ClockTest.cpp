// Local time, the millisecond timer, the counter, the build stamp and the machine address.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <time.h>
#include <regex>
#include <string>
#include <vector>
#include "Source/Common/StringEncoding.h"
#include "Source/Platform/BuildStamp.h"
#include "Source/Platform/Clock.h"
#include "Source/Platform/MachineIdentity.h"
#include "Source/Platform/linux/InterfaceList.h"

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
    tm local{};
    localtime_r(&before, &local);
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

namespace {

// A made-up interface list: IPv4 and link-layer entries in the order given.
struct FakeInterfaces {
    std::vector<ifaddrs> mEntries;
    std::vector<sockaddr_in> mInet;
    std::vector<sockaddr_ll> mLink;

    FakeInterfaces() {
        mInet.reserve(16);
        mLink.reserve(16);
        mEntries.reserve(32);
    }
    void AddInet(const char* name, const char* address, unsigned flags = 0) {
        sockaddr_in inet{};
        inet.sin_family = AF_INET;
        inet_pton(AF_INET, address, &inet.sin_addr);
        mInet.push_back(inet);
        Add(name, reinterpret_cast<sockaddr*>(&mInet.back()), flags);
    }
    void AddLink(const char* name, std::vector<unsigned char> hardware) {
        sockaddr_ll link{};
        link.sll_family = AF_PACKET;
        link.sll_halen = static_cast<unsigned char>(hardware.size());
        for (size_t i = 0; i < hardware.size() && i < 8; ++i) link.sll_addr[i] = hardware[i];
        mLink.push_back(link);
        Add(name, reinterpret_cast<sockaddr*>(&mLink.back()), 0);
    }
    const ifaddrs* List() {
        for (size_t i = 0; i + 1 < mEntries.size(); ++i) mEntries[i].ifa_next = &mEntries[i + 1];
        return mEntries.empty() ? nullptr : &mEntries[0];
    }

private:
    void Add(const char* name, sockaddr* address, unsigned flags) {
        ifaddrs entry{};
        entry.ifa_name = const_cast<char*>(name);
        entry.ifa_addr = address;
        entry.ifa_flags = flags;
        mEntries.push_back(entry);
    }
};

in_addr_t Address(const char* text) {
    in_addr address{};
    inet_pton(AF_INET, text, &address);
    return address.s_addr;
}

} // namespace

TEST(MachineIdentity, TheFirstInterfaceCarryingTheAddressGivesItsHardwareAddress) {
    FakeInterfaces list;
    list.AddLink("lo", {0, 0, 0, 0, 0, 0});
    list.AddLink("eth0", {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e});
    list.AddLink("eth1", {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff});
    list.AddInet("lo", "127.0.0.1", IFF_LOOPBACK);
    list.AddInet("eth1", "10.0.0.7");
    list.AddInet("eth0", "10.0.0.7");
    list.AddInet("eth0", "192.168.1.2");
    const ifaddrs* interfaces = list.List();
    EXPECT_EQ(Narrow(CarrierHardwareAddress(Address("10.0.0.7"), interfaces).Data()), "AA:BB:CC:DD:EE:FF");
    EXPECT_EQ(Narrow(CarrierHardwareAddress(Address("192.168.1.2"), interfaces).Data()), "00:1A:2B:3C:4D:5E");
    // Only the loopback interface carries it (the host name at 127.0.1.1), or nobody does: the
    // first adapter with a hardware address, never the loopback's zeros.
    EXPECT_EQ(Narrow(CarrierHardwareAddress(Address("127.0.1.1"), interfaces).Data()), "00:1A:2B:3C:4D:5E");
    EXPECT_EQ(Narrow(CarrierHardwareAddress(Address("10.9.9.9"), interfaces).Data()), "00:1A:2B:3C:4D:5E");
    EXPECT_TRUE(CarrierHardwareAddress(Address("10.0.0.7"), nullptr).IsEmpty());
    FakeInterfaces loopbackOnly;
    loopbackOnly.AddLink("lo", {0, 0, 0, 0, 0, 0});
    loopbackOnly.AddInet("lo", "127.0.0.1", IFF_LOOPBACK);
    EXPECT_TRUE(CarrierHardwareAddress(Address("127.0.1.1"), loopbackOnly.List()).IsEmpty());
}

TEST(MachineIdentity, AnInterfaceWithoutAFullHardwareAddressGivesNothing) {
    FakeInterfaces list;
    list.AddInet("tun0", "10.8.0.1");
    list.AddLink("tun0", {});
    list.AddInet("wg0", "10.9.0.1");
    const ifaddrs* interfaces = list.List();
    EXPECT_TRUE(CarrierHardwareAddress(Address("10.8.0.1"), interfaces).IsEmpty());
    EXPECT_TRUE(CarrierHardwareAddress(Address("10.9.0.1"), interfaces).IsEmpty());
}
