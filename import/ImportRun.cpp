#ifdef _WIN32
#include <windows.h>
#endif

#include "ImportRun.h"

#include "PathList.h"
#include "calendar/EventLimits.h"
#include "filelist/NativePath.h"

#include <chrono>
#include <ctime>
#include <exception>
#include <filesystem>
#include <new>

namespace {

const Text kStoreBaseName = u"VarnelCalendars";
const Text kDisplayNamePrefix = u"Varnel Calendars : Created - ";

LocalTime Now(const ImportOptions& options) { return options.clock ? options.clock() : LocalNow(); }

// Every leading run of a folder path's components: "a\b\c" gives "a", "a\b" and "a\b\c".
void AppendLeadingPaths(PathArray& list, const Text& path)
{
    Text joined;
    for (const Text& part : Split(path, u'\\')) {
        joined = joined.empty() ? part : joined + u'\\' + part;
        list.push_back(joined);
    }
}

// The store folder paths the files need, each once, parents before their children.
PathArray FolderList(const std::vector<Text>& relativeFolders, ImportObserver& observer)
{
    PathArray list;
    for (const Text& folder : relativeFolders)
        if (!folder.empty())
            list.push_back(folder);
    if (list.empty())
        return list;
    SortPaths(list, 0, static_cast<std::ptrdiff_t>(list.size()) - 1);
    observer.Yield();
    RemoveDuplicatePaths(list);
    const std::size_t distinct = list.size();
    for (std::size_t i = 0; i < distinct; ++i)
        AppendLeadingPaths(list, Text(list[i]));
    observer.Yield();
    SortPaths(list, 0, static_cast<std::ptrdiff_t>(list.size()) - 1);
    observer.Yield();
    RemoveDuplicatePaths(list);
    return list;
}

// Creates the folders of the list; one that cannot be created is passed over (the files meant
// for it then fail with the reason).
void CreateFolders(messaging::RDOSession& session, const std::string& storeEntryId, const Text& displayName,
                   const PathArray& folders, ImportObserver& observer)
{
    for (const Text& path : folders) {
        try {
            const std::size_t slash = path.rfind(u'\\');
            if (slash == Text::npos) {
                auto store = session.Stores().GetStoreFromID(storeEntryId);
                auto root = store->IPMRootFolder();
                bool exists = false;
                for (const auto& folder : root->Folders().All())
                    if (folder->Name() == Utf8(path))
                        exists = true;
                if (!exists)
                    root->Folders().Add(Utf8(path), messaging::olFolderCalendar);
                observer.Yield();
            } else {
                auto parent = OpenMAPIFolder(u'\\' + displayName + u'\\' + path.substr(0, slash));
                observer.Yield();
                if (parent)
                    parent->Folders().Add(Utf8(path.substr(slash + 1)), messaging::olFolderCalendar);
                observer.Yield();
            }
        } catch (const messaging::Error&) {
            // Passed over; the items of this folder report the missing folder.
        }
    }
}

// The import format a file's name asks for: 7 vCalendar, 8 iCalendar, 0 neither.
int ImportFormat(const Text& path)
{
    const Text trimmed = TrimSpaces(path);
    const Text ending = AsciiLower(trimmed.substr(trimmed.size() < 3 ? 0 : trimmed.size() - 3));
    if (ending == u"vcs")
        return cal::kFormatVCalendar;
    if (ending == u"ics")
        return cal::kFormatICalendar;
    return 0;
}

}  // namespace

LocalTime LocalNow()
{
    LocalTime now;
#ifdef _WIN32
    SYSTEMTIME st{};
    GetLocalTime(&st);
    now = {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond};
#else
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    now = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
#endif
    return now;
}

Text TimeStamp(const LocalTime& when)
{
    const auto twoDigits = [](int n) {
        Text text = Number(n);
        if (text.size() < 2)
            text.insert(text.begin(), u'0');
        return text;
    };
    Text stamp = Number(when.day);
    stamp += u'.';
    stamp += Number(when.month);
    stamp += u'.';
    stamp += twoDigits(when.year % 100);
    stamp += u' ';
    stamp += Number(when.hour);
    stamp += u'.';
    stamp += Number(when.minute);
    stamp += u'.';
    stamp += twoDigits(when.second);
    return stamp;
}

Text ImportingCaption(int done, int total)
{
    Text caption = u"Details : Importing - (";
    caption += Number(done);
    caption += u" of ";
    caption += Number(total);
    caption += u") file(s)";
    return caption;
}

Text CurrentFolderCaption(const Text& relativeFolder)
{
    return u"Importing Calendars... from (" + relativeFolder + u')';
}

std::shared_ptr<messaging::RDOFolder> OpenMAPIFolder(const Text& path)
{
    std::shared_ptr<messaging::RDOFolder> current;
    std::shared_ptr<messaging::OutlookApplication> application;
    try {
        application = std::get<std::shared_ptr<messaging::OutlookApplication>>(messaging::CreateObject("Outlook.Application"));
    } catch (const std::exception&) {
    }
    Text rest = path.substr(path.empty() ? 0 : 1);
    while (!rest.empty()) {
        const std::size_t slash = rest.find(u'\\');
        const Text name = slash == Text::npos ? rest : rest.substr(0, slash);
        rest = slash == Text::npos ? Text() : rest.substr(slash + 1);
        try {
            if (!current) {
                if (application)
                    current = application->GetNamespace("MAPI")->Folders(Utf8(name));
            } else {
                current = current->Folders()(Utf8(name));
            }
        } catch (const messaging::Error&) {
            // Not found: the walk goes on with the next name.
        }
    }
    return current;
}

namespace {

// A commit sooner than the interval when this many appointments wait for one.
constexpr int kCommitBudget = 20000;

}  // namespace

ImportResult RunImport(const TextList& files, const ImportOptions& options, ImportObserver& observer)
{
    ImportResult result;
    std::vector<Text> paths;
    // Blanks around a name only matter for recognising its ending: the file opened is the one
    // listed, byte for byte ("a.ics " is not "a.ics").
    for (const Text& file : files)
        if (!TrimSpaces(file).empty())
            paths.push_back(file);
    if (paths.empty()) {
        result.status = ImportResult::Status::NothingToImport;
        return result;
    }
    const int total = static_cast<int>(paths.size());

    // The session and the new store.
    std::shared_ptr<messaging::RDOSession> session;
    std::shared_ptr<messaging::RDOStore> store;
    std::string storeEntryId;
    try {
        session = std::get<std::shared_ptr<messaging::RDOSession>>(messaging::CreateObject("Redemption.RDOSession"));
        session->Logon();
        Text storePath = options.storePath;
        bool numbered = false;
        if (storePath.empty()) {
            Text folder = options.saveFolder;
            if (!folder.ends_with(kPathSeparator) && !folder.ends_with(u'/'))
                folder += kPathSeparator;
            storePath = folder + kStoreBaseName + TimeStamp(Now(options)) + u".pst";
            numbered = true;
        }
        result.displayName = options.displayName.empty() ? kDisplayNamePrefix + TimeStamp(Now(options)) : options.displayName;
        // A store made in the same second by an earlier run keeps its file: this one takes the
        // next free number.
        const Text stem = storePath.substr(0, storePath.size() < 4 ? 0 : storePath.size() - 4);
        for (int n = 2;; ++n) {
            try {
                store = session->Stores().AddPSTStore(NativePathFromText(storePath), messaging::olStoreUnicode, Utf8(result.displayName));
                break;
            } catch (const messaging::Error&) {
                std::error_code ec;
                if (!numbered || !std::filesystem::exists(FileSystemPath(storePath), ec) || n > 1000)
                    throw;
                storePath = stem + u" (" + Number(n) + u").pst";
            }
        }
        result.storePath = storePath;
        storeEntryId = store->EntryID();
    } catch (const std::exception& e) {
        result.status = ImportResult::Status::StoreFailed;
        result.error = FromUtf8(e.what());
        return result;
    }
    observer.StoreCreated(result.storePath, result.displayName);

    // Where each file goes, and the folders that takes.
    std::vector<Text> relativeFolders(paths.size());
    std::vector<Text> placeErrors(paths.size());
    for (std::size_t r = 0; r < paths.size(); ++r) {
        try {
            // Files of one folder come together: they share one copy of its name.
            Text folder = RelativeFolderOf(paths[r]);
            relativeFolders[r] = r > 0 && folder == relativeFolders[r - 1] ? relativeFolders[r - 1] : std::move(folder);
        } catch (const PathListError& e) {
            placeErrors[r] = FromUtf8(e.what());
        }
    }
    const PathArray folders = FolderList(relativeFolders, observer);
    result.folders = folders;
    CreateFolders(*session, storeEntryId, result.displayName, folders, observer);

    // One item a file. Files are committed together, about once a second, and each is told
    // done only once the commit that holds it is on disk: a run that is killed keeps every file
    // it reported imported, and the disk is flushed once a second instead of once a file.
    struct Done {
        int index = 0;
        Text path, relative, reason;
        int saved = 0;
        int skipped = 0;
        TextList notes;
    };
    std::vector<Done> waiting;
    int waitingAppointments = 0;
    auto lastCommit = std::chrono::steady_clock::now();
    auto tell = [&](const Done& d) {
        if (d.reason.empty()) {
            ++result.filesImported;
            result.appointments += d.saved;
            result.itemsSkipped += d.skipped;
            for (const Text& note : d.notes)
                result.warnings.push_back(d.path + u": " + note);
            if (!d.notes.empty())
                observer.FileNotes(d.index, total, d.path, d.notes);
        } else {
            result.failed.push_back({d.path, d.reason});
        }
        observer.FileDone(d.index, total, d.path, d.relative, d.saved, d.reason);
    };
    // What was saved since the last commit is lost with a store that cannot be written: those
    // files are told failed with the reason, and the run ends.
    auto storeFailed = [&](const Text& reason) {
        result.status = ImportResult::Status::StoreFailed;
        result.error = u"The store " + result.storePath + u" could not be written: " + reason;
        for (Done& d : waiting) {
            if (d.reason.empty()) {
                d.reason = reason;
                d.saved = 0;
                d.notes.clear();
            }
            tell(d);
        }
        waiting.clear();
    };
    // Files the run does not reach once the store cannot be written are told not imported too,
    // so that the summary accounts for every file listed.
    auto notReached = [&](int from) {
        for (int k = from; k < total; ++k) {
            Done d;
            d.index = k;
            d.path = paths[k];
            d.relative = relativeFolders[k];
            d.reason = u"not imported: the import stopped when the store could not be written";
            tell(d);
        }
    };
    // Ends the run once the store cannot be written: the files after `r` are told, the store is
    // detached keeping its last commit.
    auto stopAfter = [&](int r) {
        notReached(r + 1);
        try {
            store->Remove();
        } catch (const std::exception&) {
        }
        session->Logoff();
        return result;
    };
    auto commit = [&]() -> bool {
        try {
            store->Commit();
        } catch (const std::exception& e) {
            storeFailed(FromUtf8(e.what()));
            return false;
        }
        for (const Done& d : waiting)
            tell(d);
        waiting.clear();
        waitingAppointments = 0;
        lastCommit = std::chrono::steady_clock::now();
        return true;
    };

    Text openFolderPath;
    std::shared_ptr<messaging::RDOFolder> openFolder;
    for (int r = 0; r < total; ++r) {
        Done done;
        done.index = r;
        done.path = paths[r];
        done.relative = relativeFolders[r];
        const Text& path = done.path;
        const Text& relative = done.relative;
        observer.FileStarting(r, total);
        observer.Yield();
        done.reason = placeErrors[r];
        if (done.reason.empty()) {
            try {
                if (!openFolder || openFolderPath != relative) {
                    openFolder.reset();
                    openFolder = session->GetFolderFromPath(
                        Utf8(u"\\\\" + result.displayName + u'\\' + relative));
                    openFolderPath = relative;
                }
                auto item = openFolder->Items().Add(messaging::olAppointmentItem);
                const int format = ImportFormat(path);
                if (format == 0)
                    throw messaging::Error("the name ends neither in .vcs nor in .ics");
                item->Import(NativePathFromText(path), format);
                item->Write();
                done.saved = item->AppointmentsSaved();
                const cal::CalendarFile& read = item->ImportResult();
                done.skipped = read.skippedTodos + read.skippedJournals;
                for (const std::string& warning : read.warnings)
                    done.notes.push_back(FromUtf8(warning));
            } catch (const messaging::StoreWriteError& e) {
                // Nothing more can be written: the store keeps what the last commit held.
                done.reason = FromUtf8(e.what());
                done.saved = 0;
                waiting.push_back(done);
                storeFailed(done.reason);
                return stopAfter(r);
            } catch (const std::bad_alloc&) {
                // Never the bare "std::bad_alloc": the file needed more memory than there was.
                done.reason = FromUtf8(cal::MemoryBudgetReason());
                done.saved = 0;
            } catch (const std::exception& e) {
                done.reason = FromUtf8(e.what());
                // The reader names the file itself; the list names it already.
                const Text prefix = path + u": ";
                if (done.reason.starts_with(prefix))
                    done.reason = done.reason.substr(prefix.size());
                done.saved = 0;
            }
        }
        waitingAppointments += done.saved;
        if (waiting.empty() && !done.reason.empty()) {
            tell(done);  // nothing of it waits for a commit
            continue;
        }
        waiting.push_back(std::move(done));
        if (std::chrono::steady_clock::now() - lastCommit >= options.commitInterval || waitingAppointments >= kCommitBudget) {
            if (!commit())
                return stopAfter(r);
        }
    }

    observer.Yield();
    try {
        store->Remove();
        for (const Done& d : waiting)
            tell(d);
        waiting.clear();
    } catch (const std::exception& e) {
        storeFailed(FromUtf8(e.what()));
    }
    observer.Yield();
    session->Logoff();
    return result;
}
