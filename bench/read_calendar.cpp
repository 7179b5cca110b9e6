// Reads calendar files through the import's reader and drops each appointment as it comes:
// the reader's own time and memory, without the store.
//   read_calendar FILE...
#include "calendar/Appointment.h"

#include <chrono>
#include <cstdio>

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const auto start = std::chrono::steady_clock::now();
        long count = 0;
        const cal::CalendarFile f = cal::ReadCalendarFile(argv[i], cal::kFormatICalendar, [&](cal::Appointment&&) { ++count; });
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("%s: %ld appointments, %zu notes in %.2f s (%.0f/s)%s%s\n", argv[i], count, f.warnings.size(), seconds,
                    seconds > 0 ? count / seconds : 0.0, f.error.empty() ? "" : "; error: ", f.error.c_str());
    }
    return 0;
}
