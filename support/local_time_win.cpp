// The local clock through GetLocalTime: the system's current zone and daylight saving settings.
#include "support/local_time.h"

#include <windows.h>

namespace velk {

LocalTime CurrentLocalTime() {
    SYSTEMTIME now = {};
    ::GetLocalTime(&now);
    return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace velk
