// Broken-down dates for the calendar-clock tests.
#pragma once

#include "systimertc.h"

inline RTS_SYSTIMEDATE make_date(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    RTS_SYSTIMEDATE date{};
    date.wYear = static_cast<RTS_UI16>(y);
    date.wMonth = static_cast<RTS_UI16>(mo);
    date.wDay = static_cast<RTS_UI16>(d);
    date.wHour = static_cast<RTS_UI16>(h);
    date.wMinute = static_cast<RTS_UI16>(mi);
    date.wSecond = static_cast<RTS_UI16>(s);
    date.wMilliseconds = static_cast<RTS_UI16>(ms);
    return date;
}
