// The interface-list half of the machine address, apart so that it can be checked against
// made-up lists.
#pragma once

#include <ifaddrs.h>
#include <netinet/in.h>
#include "Source/Common/String.h"

// The hardware address text of the first non-loopback interface in the list that carries the
// IPv4 address (network byte order), taken from that interface's AF_PACKET entry. When none
// carries it, or the carrier has no hardware address (shorter than six bytes, or all zero): the
// first non-loopback interface that has one. Empty when no interface has one.
String CarrierHardwareAddress(in_addr_t address, const ifaddrs* interfaces);
