// Hostile calendar files: empty, binary, truncated, huge, deeply nested, badly encoded, with
// absurd dates and repeat rules, or gone before they are read. Each must give a reason or a sane
// import in bounded time and memory. Every case runs in a child process of its own, so a crash
// or a hang is caught as such and the peak memory is the case's own.
#include "FaultSupport.h"
#include "tests/pst/PstTestSupport.h"

#include "calendar/Appointment.h"
#include "calendar/EventLimits.h"
#include "messaging/Session.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string kExamples = VARNEL_EXAMPLES;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// Scale of the large cases: 1 in the test suite, more in the long fault script.
double Scale()
{
    const char* v = std::getenv("VARNEL_HOSTILE_SCALE");
    return v && *v ? std::atof(v) : 1.0;
}

struct Bounded {
    bool exited = false;  // the child finished by itself
    int status = 0;       // its exit status, or the signal that ended it
    double seconds = 0;
    long peakKiB = 0;
};

// Runs `body` in a child process with a time limit; the child's exit status is body's result.
template <typename F>
Bounded RunBounded(F&& body, int timeLimitSeconds)
{
    std::fflush(stdout);  // or the child writes the parent's pending output again
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(static_cast<unsigned>(timeLimitSeconds));
        int code = 0;
        try {
            code = body();
        } catch (...) {
            code = 99;
        }
        std::fflush(stdout);
        ::_exit(code);
    }
    Bounded out;
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    out.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    out.peakKiB = usage.ru_maxrss;
    out.exited = WIFEXITED(status);
    out.status = out.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    return out;
}

// Reads a text in a child; exit status 0 when the outcome passes `accept`.
struct Case {
    std::string name;
    std::string text;
    int format = cal::kFormatICalendar;
};

// The outcome of reading: an error with a reason, or appointments (and maybe warnings).
using Accept = std::function<bool(const cal::CalendarFile&)>;

bool Sane(const cal::CalendarFile& f)
{
    // A reason when nothing came in; otherwise appointments, each with a start and an end.
    if (f.imported == 0)
        return f.error.size() > 10;
    return f.error.empty();
}

Bounded ReadBounded(const Case& c, const Accept& accept, int timeLimit, std::string* report = nullptr)
{
    const Bounded b = RunBounded(
        [&] {
            int count = 0;
            const cal::CalendarFile f = cal::ReadCalendarText(c.text, c.format, c.name, [&](cal::Appointment&&) { ++count; });
            std::printf("    %s: %d appointments, %zu warnings%s%s\n", c.name.c_str(), count, f.warnings.size(),
                        f.error.empty() ? "" : ", error: ", f.error.substr(0, 120).c_str());
            return accept(f) ? 0 : 1;
        },
        timeLimit);
    std::printf("    %s: %.2f s, peak %ld MiB\n", c.name.c_str(), b.seconds, b.peakKiB / 1024);
    if (report)
        *report = c.name;
    return b;
}

void ExpectBounded(const Case& c, const Accept& accept = Sane, int timeLimit = 60)
{
    const Bounded b = ReadBounded(c, accept, timeLimit);
    EXPECT_TRUE(b.exited) << c.name << ": ended by signal " << b.status << (b.status == SIGALRM ? " (time limit)" : "");
    EXPECT_EQ(b.exited ? b.status : 0, 0) << c.name << ": the outcome was not a reason nor a sane import";
}

std::string Event(const std::string& body, const std::string& uid = "hostile-1")
{
    return "BEGIN:VEVENT\r\nUID:" + uid + "\r\nDTSTART:20240301T090000Z\r\nDTEND:20240301T100000Z\r\nSUMMARY:Hostile\r\n"
           + body + "END:VEVENT\r\n";
}

std::string Calendar(const std::string& inside)
{
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Varnel//Hostile//EN\r\n" + inside + "END:VCALENDAR\r\n";
}

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool HasError(const cal::CalendarFile& f) { return f.imported == 0 && f.error.size() > 10; }

// Caps the address space at what the process holds now and `extraKiB` more; false when it
// cannot.
bool CapAddressSpace(long extraKiB)
{
    std::ifstream status("/proc/self/status");
    long vmKiB = 0;
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmSize:", 0) == 0)
            vmKiB = std::atol(line.c_str() + 7);
    const rlim_t cap = static_cast<rlim_t>(vmKiB + extraKiB) * 1024;
    const rlimit limit{cap, cap};
    return vmKiB != 0 && ::setrlimit(RLIMIT_AS, &limit) == 0;
}

TEST(HostileCalendar, EmptyBinaryAndNonCalendarFilesGiveAReason)
{
    std::string binary;
    for (int i = 0; i < 65536; ++i)
        binary += static_cast<char>((i * 2654435761u) >> 13);
    const std::vector<Case> cases = {
        {"empty", ""},
        {"blank lines", "\r\n\r\n   \t\r\n"},
        {"byte order mark only", "\xEF\xBB\xBF"},
        {"binary", binary},
        {"NUL inside an event", Calendar(Event(std::string("DESCRIPTION:a\0b\r\n", 16)))},
        {"plain text", "Dear diary, today nothing happened.\r\n"},
        {"only BEGIN:VCALENDAR", "BEGIN:VCALENDAR\r\n"},
        {"END without BEGIN", "END:VEVENT\r\nEND:VCALENDAR\r\nBEGIN:VEVENT\r\n"},
        {"vCalendar with nothing", "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nEND:VCALENDAR\r\n", cal::kFormatVCalendar},
    };
    for (const Case& c : cases)
        ExpectBounded(c, HasError, 20);
}

// Every line of our own sample files as the last one: a file cut off anywhere reads or says why.
TEST(HostileCalendar, FilesTruncatedAtEveryLineReadOrGiveAReason)
{
    for (const char* sample : {"/home/birthdays.ics", "/office/team.ics", "/office/review.vcs"}) {
        const std::string text = Slurp(kExamples + sample);
        ASSERT_FALSE(text.empty()) << sample;
        const int format = std::string(sample).ends_with(".vcs") ? cal::kFormatVCalendar : cal::kFormatICalendar;
        const Bounded b = RunBounded(
            [&] {
                int bad = 0, cuts = 0;
                for (std::size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
                    for (std::size_t cut : {at, at + 3}) {
                        if (cut > text.size())
                            continue;
                        ++cuts;
                        const cal::CalendarFile f = cal::ReadCalendarText(text.substr(0, cut), format, sample);
                        if (!Sane(f)) {
                            std::printf("    %s cut at %zu: %d imported, error \"%s\"\n", sample, cut, f.imported, f.error.c_str());
                            ++bad;
                        }
                    }
                    if (text.find('\n', at) == std::string::npos)
                        break;
                }
                std::printf("    %s: %d cuts\n", sample, cuts);
                return bad ? 1 : 0;
            },
            120);
        std::printf("    %s truncated: %.2f s, peak %ld MiB\n", sample, b.seconds, b.peakKiB / 1024);
        EXPECT_TRUE(b.exited && b.status == 0) << sample << (b.exited ? ": an outcome without a reason" : ": crashed or hung");
    }
}

TEST(HostileCalendar, HugeFilesLinesAndPropertyCountsStayBounded)
{
    const double scale = Scale();
    const auto events = static_cast<std::size_t>(80000 * scale);  // about 20 MB at scale 1
    std::string many;
    many.reserve(events * 260);
    for (std::size_t i = 0; i < events; ++i)
        many += Event("DESCRIPTION:" + std::string(120, 'x') + "\r\nLOCATION:Room " + std::to_string(i % 97) + "\r\n",
                      "big-" + std::to_string(i));
    ExpectBounded({std::to_string(events) + " events (" + std::to_string(many.size() >> 20) + " MiB)", Calendar(many)}, Sane, 600);

    const auto lineBytes = static_cast<std::size_t>((10u << 20) * scale);
    // Lines used to take time growing with the square of their length (10 MB: 8 s, 100 MB: many minutes).
    const int lineLimit = static_cast<int>(30 * std::max(1.0, scale));
    ExpectBounded({"one line of " + std::to_string(lineBytes >> 20) + " MiB",
                   Calendar(Event("DESCRIPTION:" + std::string(lineBytes, 'L') + "\r\n"))},
                  Sane, lineLimit);
    ExpectBounded({"a line of " + std::to_string(lineBytes >> 20) + " MiB outside any event",
                   Calendar("X-JUNK:" + std::string(lineBytes, 'J') + "\r\n" + Event(""))},
                  Sane, lineLimit);

    const auto props = static_cast<std::size_t>(100000 * scale);
    std::string xprops, attendees, exdates;
    for (std::size_t i = 0; i < props; ++i) {
        xprops += "X-PROP-" + std::to_string(i) + ":value " + std::to_string(i) + "\r\n";
        attendees += "ATTENDEE;CN=Person " + std::to_string(i) + ":mailto:p" + std::to_string(i) + "@example.org\r\n";
        exdates += "EXDATE:" + std::to_string(20240302 + (i % 27)) + "T090000Z\r\n";
    }
    ExpectBounded({std::to_string(props) + " X- properties", Calendar(Event(xprops))}, Sane, 300);
    ExpectBounded({std::to_string(props) + " attendees", Calendar(Event(attendees))}, Sane, 300);
    ExpectBounded({std::to_string(props) + " EXDATEs", Calendar(Event("RRULE:FREQ=DAILY;COUNT=30\r\n" + exdates))}, Sane, 300);
}

// Long lines are folded before parsing; the value must come through byte for byte.
TEST(HostileCalendar, LongLinesAreReadWhole)
{
    std::string value;
    for (int i = 0; i < 70000; ++i)
        value += static_cast<char>('a' + i % 26);
    value += "\xC3\xA9\xE2\x82\xAC";  // multi-byte characters across no boundary in particular
    for (const char* end : {"\r\n", "\n"}) {
        const cal::CalendarFile f = cal::ReadCalendarText(
            Calendar(Event("DESCRIPTION:" + value + end + "LOCATION:" + std::string(40000, 'R') + end)),
            cal::kFormatICalendar, "long.ics");
        ASSERT_EQ(f.imported, 1) << f.error;
        const auto* body = f.appointments[0].Get(cal::PropertySet::Tag, 0x1000, cal::PropType::String);
        ASSERT_TRUE(body);
        EXPECT_EQ(std::get<std::string>(*body), value);
    }
}

TEST(HostileCalendar, DeepNestingAndBadEncodingsStayBounded)
{
    const auto depth = static_cast<std::size_t>(20000 * Scale());
    std::string open, close;
    for (std::size_t i = 0; i < depth; ++i) {
        open += "BEGIN:X-NEST\r\n";
        close += "END:X-NEST\r\n";
    }
    ExpectBounded({"components nested " + std::to_string(depth) + " deep", Calendar(Event(open + close))});
    ExpectBounded({"components nested and never closed", Calendar(Event(open))});
    ExpectBounded({"calendars nested " + std::to_string(depth) + " deep",
                   [&] {
                       std::string s;
                       for (std::size_t i = 0; i < depth; ++i)
                           s += "BEGIN:VCALENDAR\r\n";
                       return s + Event("");
                   }()});
    ExpectBounded({"events nested in events", Calendar(Event(Event(Event(""))))});

    ExpectBounded({"invalid UTF-8", Calendar(Event("DESCRIPTION:\xC3\x28 \xF0\x28\x8C\x28 \xFF\xFE \xED\xA0\x80\r\n"))});
    ExpectBounded({"UTF-16 text without a byte order mark", [] {
                       std::string wide;
                       for (char c : Calendar(Event("")))
                           wide += std::string{c, '\0'};
                       return wide;
                   }()},
                  HasError);
    // libical's vCalendar parser never finished on these: a base64 value without the empty line
    // after it, its encoding named on the line after the property's name, and quoted-printable
    // named "QP" with a raw ";name=value" in the value.
    const auto one = [](const cal::CalendarFile& f) { return f.imported == 1; };
    for (const auto& [name, lines] : std::vector<std::pair<std::string, std::string>>{
             {"vCalendar parameters going on in the next line", "DESCRIPTION;CHARSET=UTF-8;\r\n ENCODING=BASE64:SGVsbG8=\r\n"},
             {"vCalendar quoted-printable named QP", "DESCRIPTION;ENCODING=QP:Call me;x=y\r\n"},
             {"vCalendar quoted-printable named by a bare QP", "DESCRIPTION;QP:Call me;x=y\r\n"}})
        ExpectBounded({name, "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nDTSTART:20240301T090000\r\nSUMMARY:x\r\n" + lines
                                 + "END:VEVENT\r\nEND:VCALENDAR\r\n",
                       cal::kFormatVCalendar},
                      one, 10);
    ExpectBounded({"vCalendar with unknown character sets and broken quoted-printable",
                   "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nDTSTART:20240301T090000\r\n"
                   "SUMMARY;CHARSET=NO-SUCH-SET:abc\r\nDESCRIPTION;ENCODING=QUOTED-PRINTABLE;CHARSET=UTF-8:=E2=8\r\n"
                   "LOCATION;ENCODING=QUOTED-PRINTABLE:=\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
                   cal::kFormatVCalendar});
}

// Text as other programs write it: UTF-16 with a byte order mark, and lines ended by CR alone,
// CR CR LF, LF CR or a mix of CR, LF and CRLF in one file. Each reads as the same file in UTF-8
// with CRLF ends: the one event whole, a folded or quoted-printable value joined. Read as
// vCalendar (named .vcs), iCalendar with CR-only ends and BASE64 values once never finished.
TEST(HostileCalendar, OtherEncodingsAndLineEndsReadAsUtf8WithCrlf)
{
    const std::vector<std::string> ical = {"BEGIN:VCALENDAR", "VERSION:2.0", "PRODID:-//Varnel//Hostile//EN", "BEGIN:VEVENT",
                                           "UID:ends-1", "DTSTART:20240301T090000Z", "DTEND:20240301T100000Z",
                                           "SUMMARY:Line ends \xC3\xA9\xF0\x9F\x98\x80", "DESCRIPTION:first half",
                                           "  and second half", "ATTACH;ENCODING=BASE64;VALUE=BINARY:SGVsbG8sIHdvcmxkIQ==",
                                           "END:VEVENT", "END:VCALENDAR"};
    const std::vector<std::string> vcal = {"BEGIN:VCALENDAR", "VERSION:1.0", "BEGIN:VEVENT", "DTSTART:20240301T090000",
                                           "DTEND:20240301T100000", "SUMMARY:Line ends \xC3\xA9\xF0\x9F\x98\x80",
                                           "DESCRIPTION;ENCODING=QUOTED-PRINTABLE:first half=", " and second half",
                                           "LOCATION;ENCODING=BASE64:Um9vbSAx", "END:VEVENT", "END:VCALENDAR"};
    const std::vector<std::string> bare(ical.begin() + 3, ical.end() - 1);  // no VCALENDAR around the event
    struct Text {
        const char* name;
        const std::vector<std::string>* lines;
        int format;
    };
    const Text texts[] = {{"iCalendar", &ical, cal::kFormatICalendar},
                          {"iCalendar named .vcs", &ical, cal::kFormatVCalendar},
                          {"vCalendar", &vcal, cal::kFormatVCalendar},
                          {"an event alone", &bare, cal::kFormatICalendar}};
    // Line ends taken in turn; the last line has none when the list ends in "".
    const std::vector<std::pair<std::string, std::vector<std::string>>> ends = {
        {"CRLF", {"\r\n"}},       {"LF", {"\n"}},       {"CR", {"\r"}},          {"CR CR LF", {"\r\r\n"}},
        {"LF CR", {"\n\r"}},      {"CRLF, LF, CR", {"\r\n", "\n", "\r"}},   {"CR, CRLF, LF", {"\r", "\r\n", "\n"}},
        {"LF, CR, CRLF", {"\n", "\r", "\r\n"}}, {"CR, none after the last", {"\r", ""}}};
    const auto utf16 = [](const std::string& utf8, bool bigEndian) {
        std::u16string units;
        for (std::size_t i = 0; i < utf8.size();) {
            const auto c = static_cast<unsigned char>(utf8[i]);
            const int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
            std::uint32_t cp = len == 1 ? c : c & (0x3F >> (len - 1));
            for (int k = 1; k < len; ++k)
                cp = cp << 6 | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
            i += len;
            if (cp >= 0x10000)
                units += {static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)), static_cast<char16_t>(0xDC00 + (cp & 0x3FF))};
            else
                units += static_cast<char16_t>(cp);
        }
        std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
        for (char16_t u : units)
            out += bigEndian ? std::string{static_cast<char>(u >> 8), static_cast<char>(u)}
                             : std::string{static_cast<char>(u), static_cast<char>(u >> 8)};
        return out;
    };

    struct Expect {
        std::string name, text;
        int format;
        std::string note;  // a note the file must get, if any
    };
    std::vector<Expect> cases;
    for (const Text& t : texts)
        for (const auto& [endName, cycle] : ends) {
            std::string text;
            for (std::size_t k = 0; k < t.lines->size(); ++k)
                text += (*t.lines)[k] + (k + 1 == t.lines->size() && cycle.back().empty() ? ""
                                                                                         : cycle[k % (cycle.size() - cycle.back().empty())]);
            cases.push_back({std::string(t.name) + ", lines ended by " + endName, text, t.format, ""});
        }
    for (const Text& t : texts)
        for (const char* end : {"\r\n", "\r"}) {
            std::string text;
            for (const std::string& line : *t.lines)
                text += line + end;
            const std::string endName = end[1] ? "CRLF" : "CR";
            cases.push_back({std::string(t.name) + ", UTF-16LE, " + endName, utf16(text, false), t.format, ""});
            cases.push_back({std::string(t.name) + ", UTF-16BE, " + endName, utf16(text, true), t.format, ""});
        }
    // A surrogate without its partner, and a byte left over at the end.
    std::string broken = utf16(Calendar(Event("X-BROKEN:a\xEE\x80\x80" "b\r\n")), false);
    broken.replace(broken.find(std::string("\x00\xE0", 2)), 2, std::string("\x00\xD8", 2));
    cases.push_back({"UTF-16LE with a broken character", broken + "\x0A", cal::kFormatICalendar, "U+FFFD"});

    for (const Expect& c : cases) {
        const Bounded b = RunBounded(
            [&] {
                const cal::CalendarFile f = cal::ReadCalendarText(c.text, c.format, c.name);
                auto text = [&](std::uint32_t tag) {
                    const auto* v = f.appointments.empty() ? nullptr
                                                           : f.appointments[0].Get(cal::PropertySet::Tag, tag, cal::PropType::String);
                    return v ? std::get<std::string>(*v) : std::string("(none)");
                };
                std::string notes;
                for (const std::string& w : f.warnings)
                    notes += " [" + w + "]";
                const bool summaryOk = c.note.empty() ? text(0x0037) == "Line ends \xC3\xA9\xF0\x9F\x98\x80" : true;
                const bool bodyOk = c.note.empty() ? text(0x1000) == "first half and second half" : true;
                const bool noteOk = c.note.empty() ? f.warnings.empty() : notes.find(c.note) != std::string::npos;
                if (f.imported == 1 && summaryOk && bodyOk && noteOk)
                    return 0;
                std::printf("    %s: %d imported, error \"%s\", subject \"%s\", body \"%s\", notes%s\n", c.name.c_str(),
                            f.imported, f.error.c_str(), text(0x0037).c_str(), text(0x1000).c_str(), notes.c_str());
                return 1;
            },
            10);
        EXPECT_TRUE(b.exited) << c.name << ": ended by signal " << b.status << (b.status == SIGALRM ? " (time limit)" : "");
        EXPECT_EQ(b.exited ? b.status : 0, 0) << c.name << ": not read as the same file in UTF-8 with CRLF ends";
    }
}

// Files of many calendar blocks, one after another (phones and PDAs export each event in one) or
// one inside another, read whole: every block's events come in, each block with its own header,
// and a block libical cannot read, or one left unfinished, costs that block at most, with a note.
TEST(HostileCalendar, EveryCalendarBlockIsReadAndABrokenOneCostsItselfOnly)
{
    const auto vevent = [](int i, const std::string& extra = "") {
        return "BEGIN:VEVENT\r\nDTSTART:20240301T090000\r\nDTEND:20240301T100000\r\nSUMMARY:Block " + std::to_string(i)
               + "\r\n" + extra + "END:VEVENT\r\n";
    };
    const auto vblock = [](const std::string& inside, const std::string& header = "") {
        return "BEGIN:VCALENDAR\r\nVERSION:1.0\r\n" + header + inside + "END:VCALENDAR\r\n";
    };
    const auto ievent = [](int i, bool end = true) {
        return "BEGIN:VEVENT\r\nUID:block-" + std::to_string(i) + "\r\nDTSTART:20240301T090000Z\r\nSUMMARY:Block "
               + std::to_string(i) + "\r\n" + (end ? "END:VEVENT\r\n" : "");
    };
    const auto iblock = [](const std::string& inside, bool end = true) {
        return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Varnel//Hostile//EN\r\n" + inside + (end ? "END:VCALENDAR\r\n" : "");
    };
    const std::string unreadable = "\x01\x02\r\n";  // a line libical's vCalendar parser gives up on
    std::string blocks, blocksOneBroken, bigBlock, iblocks;
    for (int i = 0; i < 500; ++i) {
        blocks += vblock(vevent(i));
        blocksOneBroken += vblock(vevent(i), i == 250 ? unreadable : "");
        bigBlock += vevent(i, i == 300 ? unreadable : "");
        iblocks += iblock(ievent(i));
    }

    struct Expect {
        std::string name, text;
        int format;
        int imported;
        std::string note;  // a note the file must get; none when empty
    };
    const Expect cases[] = {
        {"500 vCalendar blocks", blocks, cal::kFormatVCalendar, 500, ""},
        {"500 vCalendar blocks, one unreadable", blocksOneBroken, cal::kFormatVCalendar, 499,
         "the entry of the calendar block on line 2001 was skipped"},
        {"a vCalendar block of 500 entries, one unreadable", vblock(bigBlock), cal::kFormatVCalendar, 499,
         "1 of the 500 entries of the calendar block on line 1 was skipped"},
        {"every vCalendar block unreadable", vblock(vevent(1), unreadable) + vblock(vevent(2), unreadable),
         cal::kFormatVCalendar, 0, "could read none of its 2 entries"},
        {"vCalendar blocks inside blocks", vblock(vevent(1) + vblock(vevent(2) + vblock(vevent(3))) + vevent(4)),
         cal::kFormatVCalendar, 4, ""},
        {"vCalendar blocks left open", "BEGIN:VCALENDAR\r\nVERSION:1.0\r\n" + vevent(1) + "BEGIN:VCALENDAR\r\n" + vevent(2),
         cal::kFormatVCalendar, 2, ""},
        {"entries outside vCalendar blocks", vevent(1) + vblock(vevent(2)) + vevent(3), cal::kFormatVCalendar, 3, ""},
        {"500 iCalendar blocks", iblocks, cal::kFormatICalendar, 500, ""},
        {"iCalendar blocks inside blocks", iblock(ievent(1) + iblock(ievent(2) + iblock(ievent(3))) + ievent(4)),
         cal::kFormatICalendar, 4, ""},
        {"iCalendar blocks inside blocks, and an event outside: read whole", iblock(ievent(1) + iblock(ievent(2))) + ievent(3),
         cal::kFormatICalendar, 3, ""},
        {"an iCalendar block without its END", iblock(ievent(1)) + iblock(ievent(2), false) + iblock(ievent(3)),
         cal::kFormatICalendar, 3, "unfinished"},
        {"an iCalendar event without its END", iblock(ievent(1)) + iblock(ievent(2, false)) + iblock(ievent(3)),
         cal::kFormatICalendar, 3, "unfinished"},
        {"the last iCalendar block left open", iblock(ievent(1)) + iblock(ievent(2), false), cal::kFormatICalendar, 2,
         "unfinished"},
        {"an iCalendar block inside an event", iblock(ievent(1, false) + iblock(ievent(2)) + ievent(3)),
         cal::kFormatICalendar, 3, "unfinished"},
    };
    for (const Expect& c : cases) {
        const Bounded b = RunBounded(
            [&] {
                int count = 0;
                const cal::CalendarFile f = cal::ReadCalendarText(c.text, c.format, c.name, [&](cal::Appointment&&) { ++count; });
                std::string notes;
                for (const std::string& w : f.warnings)
                    notes += " [" + w + "]";
                const bool noteOk = c.note.empty() ? f.warnings.empty() : (notes + f.error).find(c.note) != std::string::npos;
                const bool outcomeOk = c.imported > 0 ? f.error.empty() : f.error.size() > 10;
                if (count == c.imported && noteOk && outcomeOk)
                    return 0;
                std::printf("    %s: %d imported, error \"%s\", notes%s\n", c.name.c_str(), count, f.error.c_str(), notes.c_str());
                return 1;
            },
            30);
        EXPECT_TRUE(b.exited) << c.name << ": ended by signal " << b.status << (b.status == SIGALRM ? " (time limit)" : "");
        EXPECT_EQ(b.exited ? b.status : 0, 0) << c.name << ": expected " << c.imported << " appointments"
                                              << (c.note.empty() ? "" : " and a note with \"" + c.note + "\"");
    }

    // Each vCalendar block keeps its own zone: 09:00 floating is 08:00 UTC in the first, 14:00 in the second.
    const cal::CalendarFile zones = cal::ReadCalendarText(vblock(vevent(1), "TZ:+01:00\r\n") + vblock(vevent(2), "TZ:-05:00\r\n"),
                                                          cal::kFormatVCalendar, "zones.vcs");
    ASSERT_EQ(zones.appointments.size(), 2u) << zones.error;
    std::vector<std::int64_t> starts;
    for (const cal::Appointment& a : zones.appointments) {
        const auto* start = a.Get(cal::PropertySet::Appointment, 0x820D, cal::PropType::Time);
        ASSERT_TRUE(start);
        starts.push_back(std::get<std::int64_t>(*start));
    }
    EXPECT_EQ(starts[1] - starts[0], 6 * 3600 * 10000000LL);
}

// libical writes some complaints to standard error itself; they become the file's notes, and
// nothing reaches standard error, which a quiet import keeps empty.
TEST(HostileCalendar, LibicalComplaintsBecomeNotesNotStandardError)
{
    // A component other than a calendar at the top: the file is read whole, stray ENDs and all.
    const std::string strayEnds = Calendar(Event("")) + "END:VEVENT\r\nEND:VTODO\r\nEND:X-ANY\r\n" + Event("", "outside");
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"ENDs before any BEGIN", strayEnds},
        {"ENDs before any BEGIN, CR-only", [&] {
             std::string cr = strayEnds;
             for (char& c : cr)
                 if (c == '\n')
                     c = '\r';
             return cr;
         }()},
    };
    pst::test::TempDir dir;
    for (const auto& [name, text] : cases) {
        const std::string err = dir.path + "/stderr";
        const Bounded b = RunBounded(
            [&] {
                const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
                if (fd < 0 || ::dup2(fd, 2) < 0)
                    return 2;
                ::close(fd);
                const cal::CalendarFile f = cal::ReadCalendarText(text, cal::kFormatICalendar, name);
                std::string notes;
                for (const std::string& w : f.warnings)
                    notes += " [" + w + "]";
                std::printf("    %s: %d imported, notes%s\n", name.c_str(), f.imported, notes.c_str());
                return f.imported == 2 && notes.find("libical reported: Encountered END before BEGIN (3 times)") != std::string::npos
                           ? 0
                           : 1;
            },
            20);
        EXPECT_TRUE(b.exited && b.status == 0) << name << ": the complaints are not the file's notes";
        EXPECT_EQ(Slurp(err), "") << name << ": libical wrote to standard error";
    }
}

TEST(HostileCalendar, AbsurdDatesAndRepeatRulesStayBounded)
{
    const std::vector<std::pair<std::string, std::string>> dates = {
        {"year 9999", "DTSTART:99991231T230000Z\r\nDTEND:99991231T235959Z\r\n"},
        {"year 1", "DTSTART:00010101T000000Z\r\nDTEND:00010101T010000Z\r\n"},
        {"year 0", "DTSTART:00000101T000000Z\r\n"},
        {"negative year", "DTSTART:-20240101T000000Z\r\n"},
        {"month 13 day 40", "DTSTART:20241340T250000Z\r\nDTEND:20241341T990000Z\r\n"},
        {"end before start", "DTSTART:20240301T090000Z\r\nDTEND:19000101T000000Z\r\n"},
        {"duration of years", "DTSTART:20240301T090000Z\r\nDURATION:P99999W\r\n"},
        {"negative duration", "DTSTART:20240301T090000Z\r\nDURATION:-P3D\r\n"},
        {"long digit runs", "DTSTART:202403019999999999999T090000Z\r\n"},
    };
    for (const auto& [name, lines] : dates)
        ExpectBounded({name, Calendar("BEGIN:VEVENT\r\nUID:d\r\nSUMMARY:Dates\r\n" + lines + "END:VEVENT\r\n")});

    const std::vector<std::pair<std::string, std::string>> rules = {
        {"count 2^31-1", "FREQ=DAILY;COUNT=2147483647"},
        {"count beyond int", "FREQ=DAILY;COUNT=99999999999999"},
        {"negative count", "FREQ=DAILY;COUNT=-5"},
        {"interval 10^9", "FREQ=DAILY;INTERVAL=1000000000;COUNT=10"},
        {"interval 0", "FREQ=WEEKLY;INTERVAL=0;COUNT=10"},
        {"secondly for ever", "FREQ=SECONDLY"},
        {"secondly a billion", "FREQ=SECONDLY;COUNT=1000000000"},
        {"minutely until 9999", "FREQ=MINUTELY;UNTIL=99991231T000000Z"},
        {"February 30th", "FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30"},
        {"February 30th, counted", "FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30;COUNT=5"},
        {"53rd Monday of the month", "FREQ=MONTHLY;BYDAY=53MO;COUNT=3"},
        {"every set position", "FREQ=MONTHLY;BYDAY=MO,TU,WE,TH,FR,SA,SU;BYSETPOS=-366,366;COUNT=3"},
        {"week 60", "FREQ=YEARLY;BYWEEKNO=60;COUNT=3"},
        {"until before start", "FREQ=DAILY;UNTIL=19000101T000000Z"},
        {"no frequency", "COUNT=5;INTERVAL=2"},
        {"unknown parts", "FREQ=DAILY;FOO=BAR;COUNT=2;;;=;"},
    };
    for (const auto& [name, rule] : rules)
        ExpectBounded({"RRULE " + name, Calendar(Event("RRULE:" + rule + "\r\n"))});

    // Ten thousand changed occurrences of one series, and as many RDATEs.
    const auto overrides = static_cast<std::size_t>(10000 * Scale());
    std::string many = Event("RRULE:FREQ=DAILY;COUNT=500\r\n", "series");
    std::string rdates;
    for (std::size_t i = 0; i < overrides; ++i) {
        const std::string day = std::to_string(20240301 + (i % 28));
        many += "BEGIN:VEVENT\r\nUID:series\r\nRECURRENCE-ID:" + day + "T090000Z\r\nDTSTART:" + day
                + "T110000Z\r\nDTEND:" + day + "T120000Z\r\nSUMMARY:Changed " + std::to_string(i) + "\r\nEND:VEVENT\r\n";
        rdates += "RDATE:" + day + "T150000Z\r\n";
    }
    ExpectBounded({std::to_string(overrides) + " changed occurrences of one series", Calendar(many)});
    ExpectBounded({std::to_string(overrides) + " RDATEs", Calendar(Event(rdates))});
}

TEST(HostileCalendar, RecursiveAndMissingTimeZonesStayBounded)
{
    const std::string zoned = "BEGIN:VEVENT\r\nUID:z\r\nSUMMARY:Zoned\r\nDTSTART;TZID=Loop:20240301T090000\r\n"
                              "DTEND;TZID=Loop:20240301T100000\r\nRRULE:FREQ=WEEKLY;COUNT=4\r\nEND:VEVENT\r\n";
    const std::string standard = "BEGIN:STANDARD\r\nDTSTART:19701025T030000\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\n"
                                 "RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU\r\nEND:STANDARD\r\n";
    ExpectBounded({"zone never defined", Calendar(zoned)});
    // Yearly rules that switch every minute or second: libical would expand them for ever.
    std::string hours, minutes, days;
    for (int i = 0; i < 60; ++i)
        minutes += (i ? "," : "") + std::to_string(i);
    for (int i = 0; i < 24; ++i)
        hours += (i ? "," : "") + std::to_string(i);
    for (int i = 1; i <= 366; ++i)
        days += (i > 1 ? "," : "") + std::to_string(i);
    for (const std::string& dense : {"BYYEARDAY=" + days + ";BYHOUR=" + hours + ";BYMINUTE=" + minutes,
                                     "BYMONTH=10;BYHOUR=" + hours + ";BYMINUTE=" + minutes + ";BYSECOND=" + minutes})
        ExpectBounded({"zone switching by " + dense.substr(0, 12),
                       Calendar("BEGIN:VTIMEZONE\r\nTZID:Loop\r\nBEGIN:STANDARD\r\nDTSTART:19701025T030000\r\n"
                                "TZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nRRULE:FREQ=YEARLY;" + dense
                                + "\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n" + zoned)}, Sane, 30);
    ExpectBounded({"zone inside itself",
                   Calendar("BEGIN:VTIMEZONE\r\nTZID:Loop\r\nBEGIN:VTIMEZONE\r\nTZID:Loop\r\n" + standard
                            + "END:VTIMEZONE\r\n" + standard + "END:VTIMEZONE\r\n" + zoned)});
    ExpectBounded({"zone defined twice", Calendar("BEGIN:VTIMEZONE\r\nTZID:Loop\r\n" + standard + "END:VTIMEZONE\r\n"
                                                  "BEGIN:VTIMEZONE\r\nTZID:Loop\r\nEND:VTIMEZONE\r\n" + zoned)});
    ExpectBounded({"zone without rules", Calendar("BEGIN:VTIMEZONE\r\nTZID:Loop\r\nEND:VTIMEZONE\r\n" + zoned)});
    // libical expands a zone's rules from their start: every second since 1970 never ended, every
    // day since year 1 took seconds. Such zones are not taken.
    auto zoneRepeating = [&](const std::string& start, const std::string& rule) {
        return Calendar("BEGIN:VTIMEZONE\r\nTZID:Loop\r\nBEGIN:STANDARD\r\nDTSTART:" + start
                        + "\r\nTZOFFSETFROM:+0200\r\nTZOFFSETTO:+0100\r\nRRULE:" + rule
                        + "\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n" + zoned);
    };
    ExpectBounded({"zone changing every second", zoneRepeating("19700101T000000", "FREQ=SECONDLY")}, Sane, 10);
    ExpectBounded({"zone changing every hour", zoneRepeating("19700101T000000", "FREQ=HOURLY")}, Sane, 10);
    ExpectBounded({"zone changing daily since year 1", zoneRepeating("00010101T000000", "FREQ=DAILY")}, Sane, 10);
    ExpectBounded({"zone changing yearly since year 1", zoneRepeating("00010101T000000", "FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU")}, Sane, 10);
    ExpectBounded({"zone changing on February 30th", zoneRepeating("19700101T000000", "FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30")}, Sane, 10);
    ExpectBounded({"zone with absurd rules",
                   Calendar("BEGIN:VTIMEZONE\r\nTZID:Loop\r\nBEGIN:STANDARD\r\nDTSTART:00010101T000000\r\n"
                            "TZOFFSETFROM:+9999\r\nTZOFFSETTO:-9999\r\nRRULE:FREQ=SECONDLY\r\nEND:STANDARD\r\n"
                            "BEGIN:DAYLIGHT\r\nDTSTART:99991231T000000\r\nTZOFFSETFROM:+0100\r\nTZOFFSETTO:+0200\r\n"
                            "RRULE:FREQ=YEARLY;BYMONTH=2;BYMONTHDAY=30\r\nEND:DAYLIGHT\r\nEND:VTIMEZONE\r\n" + zoned)});
    const auto zones = static_cast<std::size_t>(5000 * Scale());
    std::string manyZones;
    for (std::size_t i = 0; i < zones; ++i)
        manyZones += "BEGIN:VTIMEZONE\r\nTZID:Zone" + std::to_string(i) + "\r\n" + standard + "END:VTIMEZONE\r\n";
    ExpectBounded({std::to_string(zones) + " zones", Calendar(manyZones + zoned)});
    std::string daylight = "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nTZ:+01\r\n";
    for (std::size_t i = 0; i < zones; ++i)
        daylight += "DAYLIGHT:TRUE;+02;" + std::to_string(1900 + i % 200) + "0301T020000;" + std::to_string(1900 + i % 200)
                    + "1001T030000;CET;CEST\r\n";
    ExpectBounded({std::to_string(zones) + " vCalendar DAYLIGHT lines",
                   daylight + "BEGIN:VEVENT\r\nDTSTART:20240301T090000\r\nSUMMARY:x\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n",
                   cal::kFormatVCalendar});
}

// A large file is read a series at a time (vCalendar a part of entries at a time), so memory
// follows the largest series, not the file: each is read under a cap on the address space that
// reading it whole (15 to 40 times its size) breaks; so is one cut short, which is read with its
// last entry closed. Series whose changed occurrences stand far from their master still come
// out whole.
TEST(HostileCalendar, LargeFilesAreReadInMemoryBoundedBySeries)
{
    struct Large {
        const char* name;
        int format;
        std::size_t events;
        std::size_t series;  // appointments with exceptions
        bool cut = false;    // the file breaks off in its last event, as a download cut short
        bool blocks = false;  // each event in a calendar block of its own, as phones export them
    };
    const auto scaled = [](double n) { return static_cast<std::size_t>(n * Scale()); };
    const Large cases[] = {{"large.ics", cal::kFormatICalendar, scaled(200000), (scaled(200000) + 999) / 1000},
                           {"cut.ics", cal::kFormatICalendar, scaled(100000), 0, true},
                           {"large.vcs", cal::kFormatVCalendar, scaled(100000), 0},
                           {"blocks.vcs", cal::kFormatVCalendar, scaled(100000), 0, false, true}};
    pst::test::TempDir dir;
    for (const Large& c : cases) {
        const std::string path = dir.path + "/" + c.name;
        {
            std::ofstream out(path, std::ios::binary);
            if (c.format == cal::kFormatVCalendar) {
                const char* header = "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nTZ:+01:00\r\n";
                out << header;
                for (std::size_t i = 0; i < c.events; ++i)
                    out << (c.blocks && i ? header : "") << "BEGIN:VEVENT\r\nUID:large-" << i
                        << "\r\nDTSTART:20240301T090000\r\nDTEND:20240301T100000\r\nSUMMARY:Large " << i
                        << "\r\nDESCRIPTION:" << std::string(80, 'd') << "\r\nEND:VEVENT\r\n"
                        << (c.blocks && i + 1 < c.events ? "END:VCALENDAR\r\n" : "");
                out << "END:VCALENDAR\r\n";
            } else {
                out << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Varnel//Hostile//EN\r\n";
                for (std::size_t i = 0; i < c.events; ++i) {
                    // Every 1000th event changes an occurrence of a series whose master comes last.
                    out << (i % 1000 == 0 && c.series ? Event("RECURRENCE-ID:20240302T090000Z\r\n", "series-" + std::to_string(i / 1000))
                                          : Event("DESCRIPTION:" + std::string(80, 'd') + "\r\nLOCATION:Room " + std::to_string(i % 97)
                                                      + "\r\n",
                                                  "large-" + std::to_string(i)));
                }
                for (std::size_t k = 0; k < c.series; ++k)
                    out << Event("RRULE:FREQ=DAILY;COUNT=5\r\n", "series-" + std::to_string(k));
                out << (c.cut ? "BEGIN:VEVENT\r\nUID:cut\r\nSUMMARY:Cut sh" : "END:VCALENDAR\r\n");
            }
        }
        const Bounded b = RunBounded(
            [&] {
                // The cap: what the process holds now and 160 MiB more.
                if (!CapAddressSpace(160 * 1024))
                    return 2;
                std::size_t count = 0, withExceptions = 0;
                const cal::CalendarFile f = cal::ReadCalendarFile(path, c.format, [&](cal::Appointment&& a) {
                    ++count;
                    withExceptions += !a.exceptions.empty();
                });
                std::printf("    %s: %zu appointments, %zu with exceptions%s%s\n", c.name, count, withExceptions,
                            f.error.empty() ? "" : ", error: ", f.error.c_str());
                // One appointment for each series, and one for each other event.
                return f.error.empty() && count == c.events && withExceptions == c.series ? 0 : 1;
            },
            300);
        std::printf("    %s, %zu events (%lld MiB): %.2f s, peak %ld MiB\n", c.name, c.events,
                    static_cast<long long>(std::ifstream(path, std::ios::ate | std::ios::binary).tellg() >> 20), b.seconds,
                    b.peakKiB / 1024);
        EXPECT_TRUE(b.exited) << c.name << ": ended by signal " << b.status;
        EXPECT_EQ(b.exited ? b.status : -1, 0) << c.name << ": the file was not read within the cap";
    }
}

// Reading that runs out of memory all the same (here with 1 MiB to spare while a line of
// 16 MiB is read) fails the file with the budget's reason: never "std::bad_alloc", never a crash.
TEST(HostileCalendar, RunningOutOfMemoryGivesTheBudgetReason)
{
    if (kAddressSanitizer)
        GTEST_SKIP() << "AddressSanitizer's allocator ends the program when memory runs out";
    pst::test::TempDir dir;
    const std::string path = dir.path + "/long.ics";
    std::ofstream(path, std::ios::binary) << Calendar(Event("DESCRIPTION:" + std::string(16u << 20, 'L') + "\r\n"));
    const Bounded b = RunBounded(
        [&] {
            // The memory the process has freed but still holds counts for nothing: it is taken
            // first, up to the cap, and 1 MiB of it given back.
            if (!CapAddressSpace(64 * 1024))
                return 2;
            std::vector<std::pair<void*, std::size_t>> held;
            held.reserve(1u << 16);
            for (std::size_t size : {std::size_t{1} << 20, std::size_t{1} << 12})
                while (held.size() < held.capacity())
                    if (void* p = std::malloc(size))
                        held.emplace_back(p, size);
                    else
                        break;
            for (std::size_t freed = 0; freed < (1u << 20) && !held.empty(); held.pop_back()) {
                freed += held.back().second;
                std::free(held.back().first);
            }
            const cal::CalendarFile f = cal::ReadCalendarFile(path, cal::kFormatICalendar);
            std::printf("    out of memory: %d appointments, error: %s\n", f.imported, f.error.c_str());
            return f.imported == 0 && f.error == cal::MemoryBudgetReason() ? 0 : 1;
        },
        60);
    EXPECT_TRUE(b.exited) << "ended by signal " << b.status;
    EXPECT_EQ(b.exited ? b.status : -1, 0) << "no budget reason";
}

// Between the listing and the import a file may vanish, lose its permissions, or turn into
// something that is not a file.
TEST(HostileCalendar, FilesThatChangeBeforeTheImportGiveAReason)
{
    pst::test::TempDir dir;
    const std::string path = dir.path + "/gone.ics";
    const cal::CalendarFile gone = cal::ReadCalendarFile(path, cal::kFormatICalendar);
    EXPECT_NE(gone.error.find("No such file"), std::string::npos) << gone.error;

    const std::string locked = dir.path + "/locked.ics";
    std::ofstream(locked) << Calendar(Event(""));
    ::chmod(locked.c_str(), 0);
    const cal::CalendarFile unreadable = cal::ReadCalendarFile(locked, cal::kFormatICalendar);
    if (::geteuid() != 0) {
        EXPECT_NE(unreadable.error.find("Permission denied"), std::string::npos) << unreadable.error;
    }

    const std::string fifo = dir.path + "/pipe.ics";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const Bounded b = RunBounded(
        [&] { return cal::ReadCalendarFile(fifo, cal::kFormatICalendar).error.empty() ? 1 : 0; }, 10);
    EXPECT_TRUE(b.exited && b.status == 0) << "a pipe must be refused, not waited on";
    EXPECT_FALSE(cal::ReadCalendarFile(dir.path, cal::kFormatICalendar).error.empty());
    EXPECT_FALSE(cal::ReadCalendarFile("/dev/zero", cal::kFormatICalendar).error.empty());
}

// The import through the session: a bad file raises an error with the reason, and no empty
// appointment is left in the store.
TEST(HostileCalendar, TheSessionRaisesTheReasonAndSavesNothing)
{
    pst::test::TempDir dir;
    const std::string pstPath = dir.path + "/Hostile.pst";
    auto session = std::get<std::shared_ptr<messaging::RDOSession>>(messaging::CreateObject("Redemption.RDOSession"));
    session->Logon();
    auto store = session->Stores().AddPSTStore(pstPath, messaging::olStoreUnicode, "Hostile");
    auto folder = store->IPMRootFolder()->Folders().Add("Calendar", messaging::olFolderCalendar);

    const std::vector<std::pair<std::string, std::string>> files = {
        {"empty.ics", ""},
        {"binary.ics", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16)},
        {"todos.ics", Calendar("BEGIN:VTODO\r\nUID:t\r\nSUMMARY:Task\r\nEND:VTODO\r\n")},
        {"nostart.ics", Calendar("BEGIN:VEVENT\r\nUID:n\r\nSUMMARY:No start\r\nEND:VEVENT\r\n")},
    };
    for (const auto& [name, text] : files) {
        const std::string path = dir.path + "/" + name;
        std::ofstream(path, std::ios::binary) << text;
        auto item = folder->Items().Add(messaging::olAppointmentItem);
        try {
            item->Import(path, 8);
            ADD_FAILURE() << name << " was imported";
        } catch (const messaging::Error& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find(path), std::string::npos) << what;
            EXPECT_GT(what.size(), path.size() + 10) << "no reason given: " << what;
        }
        item->Save();
        EXPECT_EQ(item->AppointmentsSaved(), 0) << name;
    }
    auto missing = folder->Items().Add(messaging::olAppointmentItem);
    EXPECT_THROW(missing->Import(dir.path + "/missing.ics", 8), messaging::Error);
    missing->Save();
    store->Remove();

    std::string output;
    EXPECT_EQ(pst::test::RunCommand(std::string(PSTCHECK) + " " + pstPath, &output), 0) << output;
    EXPECT_TRUE(fault::CheckImage(fault::ReadWholeFile(pstPath), folder->Nid()).messages.empty());
}

}  // namespace
