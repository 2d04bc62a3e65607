// The machine's identity for the loader's reports.
#pragma once

#include "Source/Common/String.h"

// The hardware address of the network interface that carries the first IPv4 address the host
// name resolves to, as "%.2X:%.2X:%.2X:%.2X:%.2X:%.2X" (for example 00:1A:2B:3C:4D:5E). Empty
// when the host name, its address or such an interface cannot be found; nothing is logged.
// When several interfaces carry the address, the first in the system's list wins. Any thread;
// may block while the host name is resolved.
String MachineAddressText();
