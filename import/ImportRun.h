#pragma once

// The import run: a list of calendar file paths becomes one new store whose calendar folders
// mirror the folders the files lie in, one or more appointments a file. The window and cal2pst
// both run it and only present what it reports.
#include "PathList.h"
#include "messaging/Session.h"

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

// Windows' <winbase.h> has an old macro Yield(), which would take the observer's member below:
// files that need <windows.h> include it before this header.
#ifdef Yield
#undef Yield
#endif

// A date and time on the machine's clock, as its user reads it.
struct LocalTime {
    int year = 0, month = 0, day = 0;  // month and day from 1
    int hour = 0, minute = 0, second = 0;
};

// Now, in the machine's zone.
LocalTime LocalNow();

// How a run reports while it goes. Every member has a default that does nothing.
class ImportObserver {
public:
    virtual ~ImportObserver() = default;
    // Lets the caller's event loop run once.
    virtual void Yield() {}
    // The store file was created (its path and display name); folders and files come next.
    virtual void StoreCreated(const Text& /*path*/, const Text& /*displayName*/) {}
    // File `index` (0-based) of `total` is about to be imported.
    virtual void FileStarting(int /*index*/, int /*total*/) {}
    // What had to be worked around in file `index` (each note a sentence about the user's events);
    // called before FileDone, only for a file that imported with notes.
    virtual void FileNotes(int /*index*/, int /*total*/, const Text& /*path*/, const TextList& /*notes*/) {}
    // File `index` is done: imported, or failed with `reason`. `folder` is its store folder.
    virtual void FileDone(int /*index*/, int /*total*/, const Text& /*path*/, const Text& /*folder*/,
                          int /*appointments*/, const Text& /*reason*/)
    {
    }
};

struct FailedFile {
    Text path;
    Text reason;
};

struct ImportResult {
    enum class Status {
        Done,             // the store was written (some files may have failed)
        NothingToImport,  // no listed file: no store was created
        StoreFailed,      // the session or the store could not be set up; `error` says why
    };
    Status status = Status::Done;
    Text error;
    Text storePath;
    Text displayName;
    std::vector<Text> folders;  // the store folder paths created, parents first
    int filesImported = 0;
    int appointments = 0;
    int itemsSkipped = 0;  // tasks and journal entries, which are not appointments
    std::vector<FailedFile> failed;
    TextList warnings;  // "path: warning" for files that imported with something worked around
};

struct ImportOptions {
    // The folder the store goes into, under the time-stamped name; or, when `storePath` is set,
    // that exact file (which must not exist yet).
    Text saveFolder;
    Text storePath;
    Text displayName;  // empty: "Varnel Calendars : Created - " + time stamp
    // Local date and time for the stamps; the system clock unless set.
    std::function<LocalTime()> clock;
    // Files are committed together once this much time has passed since the last commit (and at
    // the end); zero commits after every file.
    std::chrono::milliseconds commitInterval{1000};
};

// The stamp in store names: day.month.two-digit-year hour.minute.seconds, only the seconds with a
// leading zero (9:05:07 on 7 December 2026 gives "7.12.26 9.5.07").
Text TimeStamp(const LocalTime& when);

// Captions of the window's progress frame and label.
Text ImportingCaption(int done, int total);
Text CurrentFolderCaption(const Text& relativeFolder);

// The folder at a backslash path "\" + display name + "\" + folder path, found through the mail
// client's namespace; a name that is not found is passed over. Null when nothing was found.
std::shared_ptr<messaging::RDOFolder> OpenMAPIFolder(const Text& path);

// Runs the import of `files` (full paths) as described above.
ImportResult RunImport(const TextList& files, const ImportOptions& options, ImportObserver& observer);
