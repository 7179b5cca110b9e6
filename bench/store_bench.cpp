// Store writing at scale: many appointments in one folder, many folders, large bodies. Each save
// is committed on its own, as the import does. Prints a table of times and peak memory.
//
//   store_bench items N      N appointments in one calendar folder
//   store_bench folders N    N calendar folders (100 top-level, the rest below), one item each
//   store_bench body MB      one appointment whose body is MB megabytes
#include "calendar/Appointment.h"
#include "messaging/AppointmentMessage.h"
#include "pst/store/MessageStore.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

const char* const kEvent =
    "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bench//EN\r\n"
    "BEGIN:VEVENT\r\nUID:bench-1\r\nDTSTAMP:20260101T000000Z\r\n"
    "DTSTART:20261207T090000Z\r\nDTEND:20261207T100000Z\r\nSUMMARY:Weekly review\r\n"
    "LOCATION:Room 4\r\nDESCRIPTION:Numbers for the week\\, and what comes next.\r\n"
    "RRULE:FREQ=WEEKLY;COUNT=10\r\nBEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER:-PT15M\r\nEND:VALARM\r\n"
    "END:VEVENT\r\nEND:VCALENDAR\r\n";

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// CPU time of this process so far (user and system), which the disk's flush waits leave out.
double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long PeakRssMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

cal::Appointment Sample(const std::string& body = {})
{
    std::string text = kEvent;
    if (!body.empty()) {
        const std::string from = "DESCRIPTION:Numbers for the week\\, and what comes next.";
        text.replace(text.find(from), from.size(), "DESCRIPTION:" + body);
    }
    cal::CalendarFile file = cal::ReadCalendarText(text, cal::kFormatICalendar, "bench.ics");
    if (file.appointments.empty()) {
        std::fprintf(stderr, "the sample event did not read: %s\n", file.error.c_str());
        std::exit(1);
    }
    return std::move(file.appointments.front());
}

std::string StorePath()
{
    const auto dir = std::filesystem::temp_directory_path() / ("store_bench." + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    return (dir / "bench.pst").string();
}

void Report(const char* what, long count, double seconds, double cpu, const std::string& path)
{
    std::printf("%-28s %9ld %9.2f s %10.0f /s %8.2f s CPU %7ld MB RSS %9.1f MB file\n", what, count, seconds,
                count / seconds, cpu, PeakRssMb(), std::filesystem::file_size(path) / 1048576.0);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s items|folders|body N\n", argv[0]);
        return 2;
    }
    const std::string mode = argv[1];
    const long n = std::atol(argv[2]);
    const std::string path = StorePath();
    auto store = pst::MessageStore::Create(path, "Bench");
    const auto start = std::chrono::steady_clock::now();
    const double startCpu = CpuSeconds();

    if (mode == "items") {
        const pst::MessageContent message = messaging::AppointmentMessage(Sample());
        const std::uint32_t folder = store->CreateFolder(store->IpmSubtree(), "Calendar", "IPF.Appointment");
        store->Commit();
        auto lap = std::chrono::steady_clock::now();
        double lapCpu = CpuSeconds();
        for (long i = 1; i <= n; ++i) {
            store->AddMessage(folder, message);
            store->Commit();
            if (i % 10000 == 0) {
                char label[64];
                std::snprintf(label, sizeof label, "items %ld..%ld", i - 9999, i);
                Report(label, 10000, Seconds(lap), CpuSeconds() - lapCpu, path);
                lap = std::chrono::steady_clock::now();
                lapCpu = CpuSeconds();
            }
        }
        Report("items, all", n, Seconds(start), CpuSeconds() - startCpu, path);
    } else if (mode == "folders") {
        const pst::MessageContent message = messaging::AppointmentMessage(Sample());
        std::vector<std::uint32_t> tops;
        for (long i = 0; i < n; ++i) {
            const std::string name = "folder " + std::to_string(i);
            std::uint32_t folder;
            if (i < 100) {
                folder = store->CreateFolder(store->IpmSubtree(), name, "IPF.Appointment");
                tops.push_back(folder);
            } else {
                folder = store->CreateFolder(tops[i % 100], name, "IPF.Appointment");
            }
            store->Commit();
            store->AddMessage(folder, message);
            store->Commit();
            if ((i + 1) % 2000 == 0)
                Report("folders so far", i + 1, Seconds(start), CpuSeconds() - startCpu, path);
        }
        Report("folders, all", n, Seconds(start), CpuSeconds() - startCpu, path);
    } else if (mode == "body") {
        std::string body;
        body.reserve(n * 1048576);
        while (body.size() < static_cast<std::size_t>(n) * 1048576)
            body += "A line of the agenda with some words in it. ";
        const auto parse = std::chrono::steady_clock::now();
        const pst::MessageContent message = messaging::AppointmentMessage(Sample(body));
        Report("body MB, read", n, Seconds(parse), CpuSeconds() - startCpu, path);
        const auto write = std::chrono::steady_clock::now();
        const double writeCpu = CpuSeconds();
        const std::uint32_t folder = store->CreateFolder(store->IpmSubtree(), "Calendar", "IPF.Appointment");
        store->AddMessage(folder, message);
        store->Commit();
        Report("body MB, written", n, Seconds(write), CpuSeconds() - writeCpu, path);
    } else {
        std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
        return 2;
    }
    store->Close();
    std::printf("store: %s\n", path.c_str());
    return 0;
}
