// cal2pst: imports calendar files into a new personal-folders file from the command line, with
// the same import run as the window.
#ifdef _WIN32
#include <windows.h>
// After <windows.h>:
#include <io.h>
#include <shellapi.h>
#endif

#include "filelist/CalendarFiles.h"
#include "filelist/NativePath.h"
#include "filelist/StandardDescriptors.h"
#include "import/ImportRun.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

constexpr int kExitAllImported = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;

const char* const kUsage =
    "Usage: cal2pst [-o FILE.pst | -d DIR] [--display-name NAME] [--commit-every SECONDS] [-q] PATH...\n"
    "Imports vCalendar (.vcs) and iCalendar (.ics) files into a new Outlook personal-folders\n"
    "file (.pst), one appointment per event. Each PATH is a calendar file, taken as given, or a\n"
    "folder, whose .vcs and .ics files below it are all taken. The store's calendar folders\n"
    "mirror the folders the files lie in.\n"
    "\n"
    "  -o FILE.pst           write the store to FILE.pst, which must not exist yet\n"
    "  -d DIR                write the store into DIR under a time-stamped name\n"
    "                        (VarnelCalendars<d.m.yy H.m.ss>.pst; default: the current folder)\n"
    "      --display-name NAME  the store's display name\n"
    "                        (default: \"Varnel Calendars : Created - \" and the time stamp)\n"
    "      --commit-every SECONDS  make what was imported part of the file at least this\n"
    "                        often (default 1; 0: after every file, slower on a busy disk)\n"
    "  -q, --quiet           no progress on standard error\n"
    "  -h, --help            show this help and exit\n"
    "  -V, --version         show the version and exit\n"
    "\n"
    "Each file's progress line also gives its notes: what had to be done differently from the\n"
    "file to keep its events (a repeat rule Outlook cannot store, an unknown time zone...).\n"
    "At the end, standard output gets the store's path and the counts (notes included), then one\n"
    "line for each file that could not be imported, with the reason. An existing file is never\n"
    "overwritten.\n"
    "\n"
    "Exit status: 0 all files imported, 1 some files failed, 2 usage error or no store written.\n";

// Text as the terminal takes it: the name's own bytes on POSIX, UTF-8 on Windows (the console
// is switched to UTF-8 at start).
std::string Local(const Text& text)
{
#ifdef _WIN32
    return Utf8(text);
#else
    return NativePathFromText(text);
#endif
}

int UsageError(const Text& message)
{
    std::fprintf(stderr, "cal2pst: %s\nTry 'cal2pst --help' for more information.\n", Local(message).c_str());
    return kExitUsage;
}

std::string TwoDigits(long n)
{
    std::string text = std::to_string(n);
    if (text.size() < 2)
        text.insert(text.begin(), '0');
    return text;
}

std::string Duration(double seconds)
{
    const long s = static_cast<long>(seconds + 0.5);
    return s >= 3600 ? std::to_string(s / 3600) + ":" + TwoDigits(s / 60 % 60) + ":" + TwoDigits(s % 60)
                     : std::to_string(s / 60) + ":" + TwoDigits(s % 60);
}

// Unicode's white space, as a blank display name is judged.
bool IsSpace(char16_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A)
           || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

bool IsBlank(const Text& text)
{
    for (char16_t c : text)
        if (!IsSpace(c))
            return false;
    return true;
}

bool StandardErrorIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

// The arguments as text: the bytes given on POSIX, the UTF-16 command line on Windows (never the
// ANSI code page, which loses names outside it).
TextList Arguments(int argc, char* argv[])
{
    TextList args;
#ifdef _WIN32
    (void)argc;
    (void)argv;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; wide && i < count; ++i)
        args.emplace_back(wide[i], wide[i] + std::wcslen(wide[i]));
    if (wide)
        LocalFree(wide);
#else
    for (int i = 0; i < argc; ++i)
        args.push_back(TextFromNativePath(argv[i]));
#endif
    return args;
}

// Progress on standard error: a bar redrawn in place on a terminal, a line a file otherwise.
class TerminalProgress : public ImportObserver {
public:
    TerminalProgress(bool quiet, bool terminal)
        : m_quiet(quiet)
        , m_terminal(terminal)
    {
    }

    void StoreCreated(const Text& path, const Text&) override
    {
        m_start = std::chrono::steady_clock::now();
        if (!m_quiet && !m_terminal)
            std::fprintf(stderr, "creating %s\n", Local(path).c_str());
    }

    void FileNotes(int, int, const Text&, const TextList& notes) override
    {
        m_notes = notes;
        m_noteCount += static_cast<int>(notes.size());
    }

    void FileDone(int index, int total, const Text& path, const Text&, int appointments, const Text& reason) override
    {
        const TextList notes = std::exchange(m_notes, {});
        if (m_quiet)
            return;
        Text noteText;
        for (const Text& note : notes)
            noteText += u"; note: " + note;
        if (!m_terminal) {
            if (reason.empty())
                std::fprintf(stderr, "[%d/%d] imported %s: %d appointment(s)%s\n", index + 1, total,
                             Local(path).c_str(), appointments, Local(noteText).c_str());
            else
                std::fprintf(stderr, "[%d/%d] failed %s: %s\n", index + 1, total, Local(path).c_str(),
                             Local(reason).c_str());
            std::fflush(stderr);
            return;
        }
        // Notes scroll above the bar, which is drawn again below them.
        if (!notes.empty())
            std::fprintf(stderr, "\r\x1b[K%s: %d appointment(s)%s\n", Local(path).c_str(), appointments,
                         Local(noteText).c_str());
        const auto now = std::chrono::steady_clock::now();
        if (notes.empty() && index + 1 < total && now - m_lastDrawn < std::chrono::milliseconds(100))
            return;
        m_lastDrawn = now;
        const double elapsed = std::chrono::duration<double>(now - m_start).count();
        const double rate = elapsed > 0 ? (index + 1) / elapsed : 0;
        const double left = rate > 0 ? (total - index - 1) / rate : 0;
        constexpr int kWidth = 30;
        const int filled = static_cast<int>(static_cast<long long>(index + 1) * kWidth / total);
        const std::string bar = std::string(static_cast<std::size_t>(filled), '#') + std::string(static_cast<std::size_t>(kWidth - filled), '.');
        std::fprintf(stderr, "\r[%s] %d/%d files  %.1f files/s  %s left \x1b[K", bar.c_str(), index + 1, total,
                     rate, Duration(left).c_str());
        if (index + 1 == total)
            std::fputc('\n', stderr);
        std::fflush(stderr);
    }

    int NoteCount() const { return m_noteCount; }

private:
    bool m_quiet;
    bool m_terminal;
    TextList m_notes;
    int m_noteCount = 0;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point m_lastDrawn;
};

}  // namespace

int main(int argc, char* argv[])
{
    // Before anything opens a file: closed standard streams would hand their numbers to the store.
    OpenStandardDescriptors();
#ifdef _WIN32
    SetConsoleOutputCP(CP_UTF8);
#endif
    const TextList args = Arguments(argc, argv);
    const int count = static_cast<int>(args.size());
    Text output;
    Text directory;
    Text displayName;
    bool quiet = false;
    bool haveDisplayName = false;
    double commitEvery = 1.0;
    TextList paths;
    bool optionsDone = false;
    for (int i = 1; i < count; ++i) {
        const Text& a = args[i];
        auto value = [&]() -> std::optional<Text> {
            if (i + 1 >= count)
                return std::nullopt;
            return args[++i];
        };
        if (optionsDone || !a.starts_with(u'-') || a == u"-") {
            if (a.empty())
                return UsageError(u"an empty PATH was given");
            paths.push_back(a);
        } else if (a == u"--") {
            optionsDone = true;
        } else if (a == u"-h" || a == u"--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == u"-V" || a == u"--version") {
            std::printf("cal2pst (Varnel vCalendar\\iCalendar Importer) %s\n", VARNEL_VERSION);
            return 0;
        } else if (a == u"-q" || a == u"--quiet") {
            quiet = true;
        } else if (a == u"-o" || a == u"-d" || a == u"--display-name") {
            const auto v = value();
            if (!v || v->empty())
                return UsageError(u"option " + a + u" needs a value");
            if (a == u"-o")
                output = *v;
            else if (a == u"-d")
                directory = *v;
            else {
                displayName = *v;
                haveDisplayName = true;
            }
        } else if (a == u"--commit-every") {
            const auto v = value();
            bool ok = false;
            if (v) {
                const std::string number = Utf8(*v);
                const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), commitEvery);
                ok = error == std::errc() && end == number.data() + number.size();
            }
            if (!ok || commitEvery < 0 || commitEvery > 3600)
                return UsageError(u"--commit-every needs a number of seconds from 0 to 3600");
        } else if (a.starts_with(u"--display-name=")) {
            displayName = a.substr(15);
            haveDisplayName = true;
        } else {
            return UsageError(u"unknown option " + a);
        }
    }
    if (paths.empty())
        return UsageError(u"no calendar file or folder was given");
    if (!output.empty() && !directory.empty())
        return UsageError(u"-o and -d cannot be given together");
    if (haveDisplayName && (IsBlank(displayName) || displayName.find(u'\\') != Text::npos))
        return UsageError(u"the display name must not be empty nor hold a backslash");

    // The files: each PATH as given, or the calendar files below it.
    TextList files;
    std::vector<FailedFile> unreadable;
    for (const Text& path : paths) {
        // Names are taken as they are, so that a name that is not UTF-8 still opens.
        std::error_code ec;
        // Made absolute but never cleaned as text: "link/../a.ics" is where the kernel goes.
        const std::filesystem::path native = std::filesystem::absolute(FileSystemPath(path), ec);
        if (!std::filesystem::is_directory(native, ec)) {
            files.push_back(TextFromFileSystemPath(native));
            continue;
        }
        Text folder = TextFromFileSystemPath(native);
        if (!folder.ends_with(kPathSeparator))
            folder += kPathSeparator;
        try {
            const auto found = FilesBelow(folder, DiskFolderListing);
            int taken = 0;
            for (int i = 1; i <= found->Count(); ++i)
                if (IsCalendarFileName(found->Item(i))) {
                    files.push_back(found->Item(i));
                    ++taken;
                }
            if (taken == 0)
                std::fprintf(stderr, "cal2pst: no .vcs or .ics file below %s\n", Local(folder).c_str());
        } catch (const ListingError& e) {
            unreadable.push_back({folder, u"the folder \"" + e.folder() + u"\" could not be read: " + e.reason()});
        }
    }
    if (files.empty()) {
        for (const FailedFile& f : unreadable)
            std::fprintf(stderr, "cal2pst: %s: %s\n", Local(f.path).c_str(), Local(f.reason).c_str());
        std::fprintf(stderr, "cal2pst: there is no calendar file to import; no store was written\n");
        return kExitUsage;
    }

    ImportOptions options;
    auto absolute = [](const Text& path) {
        std::error_code ec;
        return TextFromFileSystemPath(std::filesystem::absolute(FileSystemPath(path), ec));
    };
    if (!output.empty())
        options.storePath = absolute(output);
    else
        options.saveFolder = absolute(directory.empty() ? Text(u".") : directory);
    options.displayName = displayName;
    options.commitInterval = std::chrono::milliseconds(static_cast<long long>(commitEvery * 1000));
    TerminalProgress progress(quiet, StandardErrorIsTerminal());
    ImportResult result = RunImport(files, options, progress);
    result.failed.insert(result.failed.begin(), unreadable.begin(), unreadable.end());

    if (result.status == ImportResult::Status::StoreFailed && result.storePath.empty()) {
        std::fprintf(stderr, "cal2pst: no store was written: %s\n", Local(result.error).c_str());
        return kExitUsage;
    }
    std::printf("store: %s\n", Local(result.storePath).c_str());
    std::printf("files imported: %d\nappointments written: %d\nfiles failed: %zu\nitems skipped: %d\n",
                result.filesImported, result.appointments, result.failed.size(), result.itemsSkipped);
    std::printf("notes: %d\n", progress.NoteCount());
    for (const FailedFile& f : result.failed)
        std::printf("failed: %s: %s\n", Local(f.path).c_str(), Local(f.reason).c_str());
    std::fflush(stdout);
    if (result.status == ImportResult::Status::StoreFailed) {
        std::fprintf(stderr, "cal2pst: %s\n", Local(result.error).c_str());
        return kExitUsage;
    }
    return result.failed.empty() ? kExitAllImported : kExitSomeFailed;
}
