// The machine address: the host name's first IPv4 address (Windows Sockets) and the hardware
// address of the adapter that carries it (IP Helper's adapter list).
#include "Source/Platform/MachineIdentity.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Source/Common/StringFormatter.h"

namespace {

bool FirstIpv4OfHost(char* address, size_t size) {
    char host[256];
    if (gethostname(host, sizeof(host)) != 0)
        return false;
    host[sizeof(host) - 1] = 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* results = _null;
    if (getaddrinfo(host, _null, &hints, &results) != 0 || results == _null)
        return false;
    bool found = false;
    for (addrinfo* r = results; r != _null; r = r->ai_next) {
        if (r->ai_family == AF_INET && r->ai_addr != _null) {
            const unsigned char* a =
                reinterpret_cast<const unsigned char*>(&reinterpret_cast<const sockaddr_in*>(r->ai_addr)->sin_addr);
            snprintf(address, size, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
            found = true;
            break;
        }
    }
    freeaddrinfo(results);
    return found;
}

} // namespace

String MachineAddressText() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return String();
    char address[32];
    bool resolved = FirstIpv4OfHost(address, sizeof(address));
    WSACleanup();
    if (!resolved)
        return String();
    ULONG size = 0;
    if (GetAdaptersInfo(_null, &size) != ERROR_BUFFER_OVERFLOW || size == 0)
        return String();
    IP_ADAPTER_INFO* adapters = static_cast<IP_ADAPTER_INFO*>(malloc(size));
    if (adapters == _null)
        return String();
    String text;
    if (GetAdaptersInfo(adapters, &size) == NO_ERROR) {
        for (const IP_ADAPTER_INFO* a = adapters; a != _null && text.IsEmpty(); a = a->Next) {
            if (a->Type == MIB_IF_TYPE_LOOPBACK || a->AddressLength < 6)
                continue;
            for (const IP_ADDR_STRING* ip = &a->IpAddressList; ip != _null; ip = ip->Next) {
                if (std::strcmp(ip->IpAddress.String, address) != 0)
                    continue;
                const BYTE* h = a->Address;
                text = Format(u"%.2X:%.2X:%.2X:%.2X:%.2X:%.2X", h[0], h[1], h[2], h[3], h[4], h[5]);
                break;
            }
        }
    }
    free(adapters);
    return text;
}
