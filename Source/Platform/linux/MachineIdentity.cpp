// The machine address: the host name's first IPv4 address, the interface carrying it, and that
// interface's hardware address from its link-layer (AF_PACKET) entry.
#include "Source/Platform/MachineIdentity.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netpacket/packet.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cstring>
#include "Source/Common/StringFormatter.h"
#include "Source/Platform/linux/InterfaceList.h"

namespace {

bool FirstIpv4OfHost(in_addr* address) {
    char host[1024];
    if (gethostname(host, sizeof(host)) != 0) return false;
    host[sizeof(host) - 1] = 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* results = _null;
    if (getaddrinfo(host, _null, &hints, &results) != 0 || results == _null) return false;
    bool found = false;
    for (addrinfo* r = results; r; r = r->ai_next) {
        if (r->ai_family == AF_INET && r->ai_addr != _null) {
            *address = reinterpret_cast<const sockaddr_in*>(r->ai_addr)->sin_addr;
            found = true;
            break;
        }
    }
    freeaddrinfo(results);
    return found;
}

} // namespace

namespace {

// The hardware address of a link-layer entry; empty when it is shorter than six bytes or all
// zero (no adapter of its own).
String HardwareAddressOf(const ifaddrs* entry) {
    const sockaddr_ll* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
    if (link->sll_halen < 6) return String();
    const unsigned char* a = link->sll_addr;
    if ((a[0] | a[1] | a[2] | a[3] | a[4] | a[5]) == 0) return String();
    return Format(u"%.2X:%.2X:%.2X:%.2X:%.2X:%.2X", a[0], a[1], a[2], a[3], a[4], a[5]);
}

bool IsLink(const ifaddrs* entry) {
    return entry->ifa_addr != _null && entry->ifa_addr->sa_family == AF_PACKET && entry->ifa_name != _null;
}

} // namespace

String CarrierHardwareAddress(in_addr_t address, const ifaddrs* interfaces) {
    const char* carrier = _null;
    // The loopback interface is no network adapter: an address only it carries has no identity.
    for (const ifaddrs* i = interfaces; i && !carrier; i = i->ifa_next) {
        if (i->ifa_addr == _null || i->ifa_addr->sa_family != AF_INET || (i->ifa_flags & IFF_LOOPBACK)) continue;
        if (reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr == address) carrier = i->ifa_name;
    }
    for (const ifaddrs* i = interfaces; i && carrier; i = i->ifa_next) {
        if (IsLink(i) && std::strcmp(i->ifa_name, carrier) == 0) {
            const String text = HardwareAddressOf(i);
            if (!text.IsEmpty()) return text;
            break;
        }
    }
    // Stock Debian names the host 127.0.1.1, which no adapter carries: without an identity every
    // run started in the same second would be one run. The first adapter with a hardware address
    // is the closest match to the machine's primary one.
    for (const ifaddrs* i = interfaces; i; i = i->ifa_next) {
        if (!IsLink(i) || (i->ifa_flags & IFF_LOOPBACK)) continue;
        const String text = HardwareAddressOf(i);
        if (!text.IsEmpty()) return text;
    }
    return String();
}

String MachineAddressText() {
    // A host name that does not resolve has an address on no interface too.
    in_addr host{};
    if (!FirstIpv4OfHost(&host)) host.s_addr = 0;
    ifaddrs* interfaces = _null;
    if (getifaddrs(&interfaces) != 0) return String();
    String text = CarrierHardwareAddress(host.s_addr, interfaces);
    freeifaddrs(interfaces);
    return text;
}
