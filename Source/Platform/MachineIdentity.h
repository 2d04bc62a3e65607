// The machine's identity for the loader's reports.
#pragma once

#include "Source/Common/String.h"

// The hardware address of the network interface that carries the first IPv4 address the host
// name resolves to, as "%.2X:%.2X:%.2X:%.2X:%.2X:%.2X" (for example 00:1A:2B:3C:4D:5E). When
// several interfaces carry the address, the first in the system's list wins. When the address is
// on no interface (a host name set to a loopback address, as stock installations do) or does not
// resolve, the first non-loopback interface that has a hardware address gives it. Empty when the
// machine has no such interface; nothing is logged. Any thread; may block while the host name is
// resolved.
String MachineAddressText();
