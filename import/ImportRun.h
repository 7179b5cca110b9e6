#pragma once

// The import run: a list of calendar file paths becomes one new store whose calendar folders
// mirror the folders the files lie in, one or more appointments a file. The window and cal2pst
// both run it and only present what it reports.
#include "PathList.h"
#include "messaging/Session.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

// How a run reports while it goes. Every member has a default that does nothing.
class ImportObserver {
public:
    virtual ~ImportObserver() = default;
    // Lets the caller's event loop run once.
    virtual void Yield() {}
    // The store file was created (its path and display name); folders and files come next.
    virtual void StoreCreated(const QString& /*path*/, const QString& /*displayName*/) {}
    // File `index` (0-based) of `total` is about to be imported.
    virtual void FileStarting(int /*index*/, int /*total*/) {}
    // What had to be worked around in file `index` (each note a sentence about the user's events);
    // called before FileDone, only for a file that imported with notes.
    virtual void FileNotes(int /*index*/, int /*total*/, const QString& /*path*/, const QStringList& /*notes*/) {}
    // File `index` is done: imported, or failed with `reason`. `folder` is its store folder.
    virtual void FileDone(int /*index*/, int /*total*/, const QString& /*path*/, const QString& /*folder*/,
                          int /*appointments*/, const QString& /*reason*/)
    {
    }
};

struct FailedFile {
    QString path;
    QString reason;
};

struct ImportResult {
    enum class Status {
        Done,             // the store was written (some files may have failed)
        NothingToImport,  // no listed file: no store was created
        StoreFailed,      // the session or the store could not be set up; `error` says why
    };
    Status status = Status::Done;
    QString error;
    QString storePath;
    QString displayName;
    std::vector<QString> folders;  // the store folder paths created, parents first
    int filesImported = 0;
    int appointments = 0;
    int itemsSkipped = 0;  // tasks and journal entries, which are not appointments
    std::vector<FailedFile> failed;
    QStringList warnings;  // "path: warning" for files that imported with something worked around
};

struct ImportOptions {
    // The folder the store goes into, under the time-stamped name; or, when `storePath` is set,
    // that exact file (which must not exist yet).
    QString saveFolder;
    QString storePath;
    QString displayName;  // empty: "Varnel Calendars : Created - " + time stamp
    // Local date and time for the stamps; the system clock unless set.
    std::function<QDateTime()> clock;
    // Files are committed together once this much time has passed since the last commit (and at
    // the end); zero commits after every file.
    std::chrono::milliseconds commitInterval{1000};
};

// The stamp in store names: day.month.two-digit-year hour.minute.seconds, only the seconds with a
// leading zero (9:05:07 on 7 December 2026 gives "7.12.26 9.5.07").
QString TimeStamp(const QDateTime& when);

// Captions of the window's progress frame and label.
QString ImportingCaption(int done, int total);
QString CurrentFolderCaption(const QString& relativeFolder);

// The folder at a backslash path "\" + display name + "\" + folder path, found through the mail
// client's namespace; a name that is not found is passed over. Null when nothing was found.
std::shared_ptr<messaging::RDOFolder> OpenMAPIFolder(const QString& path);

// Runs the import of `files` (full paths) as described above.
ImportResult RunImport(const QStringList& files, const ImportOptions& options, ImportObserver& observer);
