#pragma once

#include <QtGlobal>

// A configured number of seconds as a QTimer period in milliseconds:
// negative counts as 0, and the product never overflows (QTimer takes an
// int, so periods stop at about 24.8 days).
int timerPeriodMs(qint64 seconds);

// The same with a floor: a period of 0 would run the timer whenever the
// event loop is idle.
int timerPeriodMs(qint64 seconds, int floorMs);
