// libFuzzer target: the calendar reader on any text, as iCalendar (FUZZ_FORMAT 8) or vCalendar (7).
// The reader never throws for bad content; anything else (crash, leak, undefined behaviour,
// exception) is a finding.
#include "calendar/Appointment.h"

#include <libical/ical.h>

#include <cstddef>
#include <cstdint>
#include <string>

// What a process does once, done before the first input: libical keeps the last 2,500 temporary
// strings it hands out, freeing the oldest as a new one comes. Until that ring is full every
// input ends with more allocations than frees, and libFuzzer answers each such input with a leak
// check of the whole heap; filled here, an input's strings replace earlier ones one for one.
extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    for (int i = 0; i < 4096; ++i)
        icalmemory_tmp_buffer(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    int count = 0;
    const cal::CalendarFile file = cal::ReadCalendarText(text, FUZZ_FORMAT, "fuzz", [&](cal::Appointment&&) { ++count; });
    if (count != file.imported || (count == 0 && file.error.empty()))
        __builtin_trap();  // an empty import must say why
    return 0;
}
