// The local time, the millisecond timer and the high-resolution counter.
#pragma once

#include "Common/Types.h"

// The local date and time, field for field the layout of a Windows SYSTEMTIME: month 1-12,
// day of week 0 (Sunday) - 6, day 1-31, milliseconds 0-999.
struct LocalTimeValue {
    uint16_t mYear;
    uint16_t mMonth;
    uint16_t mDayOfWeek;
    uint16_t mDay;
    uint16_t mHour;
    uint16_t mMinute;
    uint16_t mSecond;
    uint16_t mMilliseconds;
};

// The current local time (the system's time zone). Any thread.
LocalTimeValue LocalTime();

// A millisecond timer from an arbitrary start; wraps to 0 after 2^32 ms (about 49.7 days), so
// intervals are measured by unsigned subtraction. Any thread.
uint32_t TimeMilliseconds();

// The high-resolution counter's current tick count (monotonic). Any thread.
uint64_t ReadHighResolutionCounter();
// Ticks per second of that counter; 0 when the system has none.
uint64_t HighResolutionFrequency();
// ticks / frequency * 1000; 0 when the frequency is 0. Used on differences of two readings.
double CounterToMilliseconds(uint64_t ticks);
