// libFuzzer target: the calendar reader on any text, as iCalendar (FUZZ_FORMAT 8) or vCalendar (7).
// The reader never throws for bad content; anything else (crash, leak, undefined behaviour,
// exception) is a finding.
#include "calendar/Appointment.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    int count = 0;
    const cal::CalendarFile file = cal::ReadCalendarText(text, FUZZ_FORMAT, "fuzz", [&](cal::Appointment&&) { ++count; });
    if (count != file.imported || (count == 0 && file.error.empty()))
        __builtin_trap();  // an empty import must say why
    return 0;
}
