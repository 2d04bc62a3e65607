// When the library was built, fixed at build time.
#pragma once

#include "Common/Types.h"

// The build date as "Jun 18 2016" (the day padded with a blank below 10, as compilers print
// it). Static text; any thread.
const WideChar* BuildDateText();
// The build date and time as "Sat Jun 18 18:11:03 2016". Static text; any thread.
const WideChar* BuildTimeText();
