// Reading launch parameter values: numbers, lists and the host of an address.
#pragma once

#include "Common/Array.h"
#include "Common/Types.h"
#include "Source/Common/String.h"

// A signed decimal integer read the way the C library reads one: leading white space and one
// sign accepted, reading stops at the first non-digit, no digits give 0; values beyond the
// 32-bit range are clamped to it. Callers store the result in unsigned fields, so -1 becomes
// all bits set.
int32_t ParseLaunchNumber(const WideChar* value);
// Whether ParseLaunchNumber finds any digit in value (after the blanks and the sign it skips).
bool HasLaunchNumber(const WideChar* value);

// Splits a "|"-separated list, trimming blanks and tabs from each item, and appends the items
// to list (which is never cleared). Two separators in a row give an empty item, an empty value
// gives one empty item, a last item that is blank after trimming is dropped.
void SplitLaunchList(const WideChar* value, Array<String>& list);

// The host of an address: the first item of the address split at "/" and "?" (trimmed) that is
// not empty and does not begin with "http", up to its first ":". Empty when there is none.
String HostOfAddress(const WideChar* address);
