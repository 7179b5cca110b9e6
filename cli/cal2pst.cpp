// cal2pst: imports calendar files into a new personal-folders file from the command line, with
// the same import run as the window.
#include "filelist/CalendarFiles.h"
#include "filelist/NativePath.h"
#include "filelist/StandardDescriptors.h"
#include "import/ImportRun.h"

#include <QCoreApplication>
#include <QDir>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <utility>
#include <unistd.h>

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

QString Arg(const char* text) { return TextFromNativePath(text); }
QByteArray Local(const QString& text) { return QByteArray::fromStdString(NativePathFromText(text)); }

int UsageError(const QString& message)
{
    std::fprintf(stderr, "cal2pst: %s\nTry 'cal2pst --help' for more information.\n", Local(message).constData());
    return kExitUsage;
}

QString Duration(double seconds)
{
    const long s = static_cast<long>(seconds + 0.5);
    return s >= 3600 ? QStringLiteral("%1:%2:%3").arg(s / 3600).arg(s / 60 % 60, 2, 10, QLatin1Char('0')).arg(s % 60, 2, 10, QLatin1Char('0'))
                     : QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

// Progress on standard error: a bar redrawn in place on a terminal, a line a file otherwise.
class TerminalProgress : public ImportObserver {
public:
    TerminalProgress(bool quiet, bool terminal)
        : m_quiet(quiet)
        , m_terminal(terminal)
    {
    }

    void StoreCreated(const QString& path, const QString&) override
    {
        m_start = std::chrono::steady_clock::now();
        if (!m_quiet && !m_terminal)
            std::fprintf(stderr, "creating %s\n", Local(path).constData());
    }

    void FileNotes(int, int, const QString&, const QStringList& notes) override
    {
        m_notes = notes;
        m_noteCount += static_cast<int>(notes.size());
    }

    void FileDone(int index, int total, const QString& path, const QString&, int appointments, const QString& reason) override
    {
        const QStringList notes = std::exchange(m_notes, {});
        if (m_quiet)
            return;
        QString noteText;
        for (const QString& note : notes)
            noteText += QStringLiteral("; note: ") + note;
        if (!m_terminal) {
            if (reason.isEmpty())
                std::fprintf(stderr, "[%d/%d] imported %s: %d appointment(s)%s\n", index + 1, total,
                             Local(path).constData(), appointments, Local(noteText).constData());
            else
                std::fprintf(stderr, "[%d/%d] failed %s: %s\n", index + 1, total, Local(path).constData(),
                             Local(reason).constData());
            std::fflush(stderr);
            return;
        }
        // Notes scroll above the bar, which is drawn again below them.
        if (!notes.isEmpty())
            std::fprintf(stderr, "\r\x1b[K%s: %d appointment(s)%s\n", Local(path).constData(), appointments,
                         Local(noteText).constData());
        const auto now = std::chrono::steady_clock::now();
        if (notes.isEmpty() && index + 1 < total && now - m_lastDrawn < std::chrono::milliseconds(100))
            return;
        m_lastDrawn = now;
        const double elapsed = std::chrono::duration<double>(now - m_start).count();
        const double rate = elapsed > 0 ? (index + 1) / elapsed : 0;
        const double left = rate > 0 ? (total - index - 1) / rate : 0;
        constexpr int kWidth = 30;
        const int filled = static_cast<int>(static_cast<long long>(index + 1) * kWidth / total);
        const QString bar = QString(filled, QLatin1Char('#')) + QString(kWidth - filled, QLatin1Char('.'));
        std::fprintf(stderr, "\r[%s] %d/%d files  %.1f files/s  %s left \x1b[K", Local(bar).constData(), index + 1, total,
                     rate, Local(Duration(left)).constData());
        if (index + 1 == total)
            std::fputc('\n', stderr);
        std::fflush(stderr);
    }

    int NoteCount() const { return m_noteCount; }

private:
    bool m_quiet;
    bool m_terminal;
    QStringList m_notes;
    int m_noteCount = 0;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point m_lastDrawn;
};

}  // namespace

int main(int argc, char* argv[])
{
    // Before anything opens a file: closed standard streams would hand their numbers to the store.
    OpenStandardDescriptors();
    QCoreApplication app(argc, argv);
    QString output;
    QString directory;
    QString displayName;
    bool quiet = false;
    bool haveDisplayName = false;
    double commitEvery = 1.0;
    QStringList paths;
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const QString a = Arg(argv[i]);
        auto value = [&]() -> std::optional<QString> {
            if (i + 1 >= argc)
                return std::nullopt;
            return Arg(argv[++i]);
        };
        if (optionsDone || !a.startsWith(QLatin1Char('-')) || a == QLatin1String("-")) {
            if (a.isEmpty())
                return UsageError(QStringLiteral("an empty PATH was given"));
            paths << a;
        } else if (a == QLatin1String("--")) {
            optionsDone = true;
        } else if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == QLatin1String("-V") || a == QLatin1String("--version")) {
            std::printf("cal2pst (Varnel vCalendar\\iCalendar Importer) %s\n", VARNEL_VERSION);
            return 0;
        } else if (a == QLatin1String("-q") || a == QLatin1String("--quiet")) {
            quiet = true;
        } else if (a == QLatin1String("-o") || a == QLatin1String("-d") || a == QLatin1String("--display-name")) {
            const auto v = value();
            if (!v || v->isEmpty())
                return UsageError(QStringLiteral("option %1 needs a value").arg(a));
            if (a == QLatin1String("-o"))
                output = *v;
            else if (a == QLatin1String("-d"))
                directory = *v;
            else {
                displayName = *v;
                haveDisplayName = true;
            }
        } else if (a == QLatin1String("--commit-every")) {
            const auto v = value();
            bool ok = false;
            commitEvery = v ? v->toDouble(&ok) : 0;
            if (!v || !ok || commitEvery < 0 || commitEvery > 3600)
                return UsageError(QStringLiteral("--commit-every needs a number of seconds from 0 to 3600"));
        } else if (a.startsWith(QLatin1String("--display-name="))) {
            displayName = a.mid(15);
            haveDisplayName = true;
        } else {
            return UsageError(QStringLiteral("unknown option %1").arg(a));
        }
    }
    if (paths.isEmpty())
        return UsageError(QStringLiteral("no calendar file or folder was given"));
    if (!output.isEmpty() && !directory.isEmpty())
        return UsageError(QStringLiteral("-o and -d cannot be given together"));
    if (haveDisplayName && (displayName.trimmed().isEmpty() || displayName.contains(QLatin1Char('\\'))))
        return UsageError(QStringLiteral("the display name must not be empty nor hold a backslash"));

    // The files: each PATH as given, or the calendar files below it.
    QStringList files;
    std::vector<FailedFile> unreadable;
    for (const QString& path : paths) {
        // Names are taken as bytes, so that a name that is not UTF-8 still opens.
        std::error_code ec;
        // Made absolute but never cleaned as text: "link/../a.ics" is where the kernel goes.
        const std::filesystem::path native = std::filesystem::absolute(NativePathFromText(path), ec);
        if (!std::filesystem::is_directory(native, ec)) {
            files << TextFromNativePath(native.string());
            continue;
        }
        QString folder = TextFromNativePath(native.string());
        if (!folder.endsWith(QLatin1Char('/')))
            folder += QLatin1Char('/');
        try {
            const auto found = FilesBelow(folder, DiskFolderListing);
            int taken = 0;
            for (int i = 1; i <= found->Count(); ++i)
                if (IsCalendarFileName(found->Item(i))) {
                    files << found->Item(i);
                    ++taken;
                }
            if (taken == 0)
                std::fprintf(stderr, "cal2pst: no .vcs or .ics file below %s\n", Local(folder).constData());
        } catch (const ListingError& e) {
            unreadable.push_back({folder, QStringLiteral("the folder \"%1\" could not be read: %2").arg(e.folder(), e.reason())});
        }
    }
    if (files.isEmpty()) {
        for (const FailedFile& f : unreadable)
            std::fprintf(stderr, "cal2pst: %s: %s\n", Local(f.path).constData(), Local(f.reason).constData());
        std::fprintf(stderr, "cal2pst: there is no calendar file to import; no store was written\n");
        return kExitUsage;
    }

    ImportOptions options;
    auto absolute = [](const QString& path) {
        std::error_code ec;
        return TextFromNativePath(std::filesystem::absolute(NativePathFromText(path), ec).string());
    };
    if (!output.isEmpty())
        options.storePath = absolute(output);
    else
        options.saveFolder = absolute(directory.isEmpty() ? QStringLiteral(".") : directory);
    options.displayName = displayName;
    options.commitInterval = std::chrono::milliseconds(static_cast<long long>(commitEvery * 1000));
    TerminalProgress progress(quiet, isatty(STDERR_FILENO) != 0);
    ImportResult result = RunImport(files, options, progress);
    result.failed.insert(result.failed.begin(), unreadable.begin(), unreadable.end());

    if (result.status == ImportResult::Status::StoreFailed && result.storePath.isEmpty()) {
        std::fprintf(stderr, "cal2pst: no store was written: %s\n", Local(result.error).constData());
        return kExitUsage;
    }
    std::printf("store: %s\n", Local(result.storePath).constData());
    std::printf("files imported: %d\nappointments written: %d\nfiles failed: %zu\nitems skipped: %d\n",
                result.filesImported, result.appointments, result.failed.size(), result.itemsSkipped);
    std::printf("notes: %d\n", progress.NoteCount());
    for (const FailedFile& f : result.failed)
        std::printf("failed: %s: %s\n", Local(f.path).constData(), Local(f.reason).constData());
    std::fflush(stdout);
    if (result.status == ImportResult::Status::StoreFailed) {
        std::fprintf(stderr, "cal2pst: %s\n", Local(result.error).constData());
        return kExitUsage;
    }
    return result.failed.empty() ? kExitAllImported : kExitSomeFailed;
}
