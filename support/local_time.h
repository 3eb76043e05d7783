// A calendar time on the user's local clock: what the log lines, INFOLOG.TXT, the archive's date
// name and the choice of today's files are made from. Rules over it are pure and tested natively.
#pragma once

namespace velk {

struct LocalTime {
    int year, month, day, hour, minute, second;
};

// The system's local clock now (local_time_win.cpp; Windows builds only).
LocalTime CurrentLocalTime();

}  // namespace velk
