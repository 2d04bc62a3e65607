// The interface-list half of the machine address, apart so that it can be checked against
// made-up lists.
#pragma once

#include <ifaddrs.h>
#include <netinet/in.h>
#include "Source/Common/String.h"

// The hardware address text of the first non-loopback interface in the list that carries the
// IPv4 address (network byte order), taken from that interface's AF_PACKET entry; empty when
// none carries it or its hardware address is shorter than six bytes.
String CarrierHardwareAddress(in_addr_t address, const ifaddrs* interfaces);
