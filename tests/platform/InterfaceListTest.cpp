// The interface-list half of the machine address on Linux, against made-up lists.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netpacket/packet.h>
#include <string>
#include <vector>
#include "Source/Common/StringEncoding.h"
#include "Source/Platform/linux/InterfaceList.h"

namespace {
std::string Narrow(const WideChar* wide) {
    char buffer[256];
    Utf16ToUtf8(buffer, 256, wide);
    return buffer;
}
} // namespace

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
