// Clocks over Windows: GetLocalTime, timeGetTime and the performance counter.
#include "Source/Platform/Clock.h"

#include <windows.h>
#include <mmsystem.h>

LocalTimeValue LocalTime() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    LocalTimeValue value;
    value.mYear = now.wYear;
    value.mMonth = now.wMonth;
    value.mDayOfWeek = now.wDayOfWeek;
    value.mDay = now.wDay;
    value.mHour = now.wHour;
    value.mMinute = now.wMinute;
    value.mSecond = now.wSecond;
    value.mMilliseconds = now.wMilliseconds;
    return value;
}

uint32_t TimeMilliseconds() {
    return uint32_t(timeGetTime());
}

uint64_t ReadHighResolutionCounter() {
    LARGE_INTEGER now;
    return QueryPerformanceCounter(&now) ? uint64_t(now.QuadPart) : 0;
}

uint64_t HighResolutionFrequency() {
    LARGE_INTEGER frequency;
    return QueryPerformanceFrequency(&frequency) ? uint64_t(frequency.QuadPart) : 0;
}

double CounterToMilliseconds(uint64_t ticks) {
    uint64_t frequency = HighResolutionFrequency();
    if (frequency == 0)
        return 0.0;
    return double(ticks) / double(frequency) * 1000.0;
}
