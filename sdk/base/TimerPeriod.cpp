#include "TimerPeriod.h"

#include <algorithm>
#include <limits>

int timerPeriodMs(qint64 seconds)
{
    constexpr qint64 longest = std::numeric_limits<int>::max();
    if (seconds <= 0)
        return 0;
    if (seconds > longest / 1000)
        return static_cast<int>(longest);
    return static_cast<int>(seconds * 1000);
}

int timerPeriodMs(qint64 seconds, int floorMs)
{
    return std::max(timerPeriodMs(seconds), floorMs);
}
