// The build time stamp. The build may fix it through VEXAL_BUILD_DATE ("Jun 18 2016") and
// VEXAL_BUILD_TIME ("Sat Jun 18 18:11:03 2016"), narrow string literals, so that a reproducible
// build carries the source's date; otherwise the compiler's own date and time are used.
#include "Source/Platform/BuildStamp.h"

#include <cstdio>
#include <cstring>

namespace {

const int kStampUnits = 32;

struct Stamp {
    WideChar mDate[kStampUnits];
    WideChar mTime[kStampUnits];
};

void Widen(WideChar* output, const char* text) {
    int i = 0;
    for (; text[i] != 0 && i < kStampUnits - 1; ++i) output[i] = WideChar(static_cast<unsigned char>(text[i]));
    output[i] = 0;
}

#ifndef VEXAL_BUILD_TIME
// "Sat Jun 18 18:11:03 2016" from the compiler's "Jun 18 2016" and "18:11:03".
void ComposeTime(char* output, size_t size, const char* date, const char* time) {
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    char monthName[4] = {0};
    int day = 0, year = 0;
    if (std::sscanf(date, "%3s %d %d", monthName, &day, &year) != 3) {
        std::snprintf(output, size, "%s %s", date, time);
        return;
    }
    const char* found = std::strstr(kMonths, monthName);
    int month = found ? int(found - kMonths) / 3 + 1 : 1;
    // Day of the week by Sakamoto's method.
    static const int kOffsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    int y = month < 3 ? year - 1 : year;
    int weekday = (y + y / 4 - y / 100 + y / 400 + kOffsets[month - 1] + day) % 7;
    std::snprintf(output, size, "%s %s %2d %s %d", kDays[weekday], monthName, day, time, year);
}
#endif

const Stamp& TheStamp() {
    static const Stamp stamp = [] {
        Stamp made;
#ifdef VEXAL_BUILD_DATE
        Widen(made.mDate, VEXAL_BUILD_DATE);
#else
        Widen(made.mDate, __DATE__);
#endif
#ifdef VEXAL_BUILD_TIME
        Widen(made.mTime, VEXAL_BUILD_TIME);
#else
        char time[kStampUnits];
        ComposeTime(time, sizeof(time), __DATE__, __TIME__);
        Widen(made.mTime, time);
#endif
        return made;
    }();
    return stamp;
}

} // namespace

const WideChar* BuildDateText() { return TheStamp().mDate; }
const WideChar* BuildTimeText() { return TheStamp().mTime; }
