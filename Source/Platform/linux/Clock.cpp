// Clocks over clock_gettime: local time, the 32-bit millisecond timer, the nanosecond counter.
#include "Source/Platform/Clock.h"

#include <ctime>

LocalTimeValue LocalTime() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    time_t seconds = now.tv_sec;
    tm local{};
    localtime_r(&seconds, &local);
    LocalTimeValue value;
    value.mYear = uint16_t(local.tm_year + 1900);
    value.mMonth = uint16_t(local.tm_mon + 1);
    value.mDayOfWeek = uint16_t(local.tm_wday);
    value.mDay = uint16_t(local.tm_mday);
    value.mHour = uint16_t(local.tm_hour);
    value.mMinute = uint16_t(local.tm_min);
    // A leap second (60) is shown as the last second of its minute, as Windows does.
    value.mSecond = uint16_t(local.tm_sec > 59 ? 59 : local.tm_sec);
    value.mMilliseconds = uint16_t(now.tv_nsec / 1000000);
    return value;
}

uint32_t TimeMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t milliseconds = uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u;
    return uint32_t(milliseconds);
}

uint64_t ReadHighResolutionCounter() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000000u + uint64_t(now.tv_nsec);
}

uint64_t HighResolutionFrequency() { return 1000000000u; }

double CounterToMilliseconds(uint64_t ticks) {
    uint64_t frequency = HighResolutionFrequency();
    if (frequency == 0) return 0.0;
    return double(ticks) / double(frequency) * 1000.0;
}
