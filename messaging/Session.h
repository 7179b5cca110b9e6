#pragma once

// The messaging objects the import run calls: a session with its stores, folders and items, and
// the mail client's application and namespace. They work over one process-wide profile in which
// attached stores are found by their display name. Every failure raises Error with a reason.
#include "calendar/Appointment.h"
#include "pst/store/MessageStore.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace messaging {

class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The store file could not be written (disk full, write error): later saves cannot succeed either.
class StoreWriteError : public Error {
public:
    using Error::Error;
};

// Folder kinds for Folders.Add, and item kinds for Items.Add.
inline constexpr int olFolderCalendar = 9;
inline constexpr int olAppointmentItem = 1;
// Store format for AddPSTStore: a Unicode personal-folders file.
inline constexpr int olStoreUnicode = 1;

struct AttachedStore;
class RDOFolder;
class RDOStore;

class RDOAppointmentItem {
public:
    explicit RDOAppointmentItem(std::shared_ptr<AttachedStore> store, std::uint32_t folder);

    // Reads a calendar file (7 vCalendar, 8 iCalendar) into the item: its first event series,
    // and every further series as appointments of their own. Each is written into the store as
    // it is read (a file is never held whole); a file that yields none writes nothing.
    void Import(const std::string& path, int format);
    // Writes what the import read and commits it. An item that imported nothing writes nothing.
    void Save();
    // Writes what the import read without a commit: it is part of the file with the store's next
    // commit (RDOStore::Commit or Remove), so that many items can share one.
    void Write();

    // What the last import reported: file-level and per-appointment warnings, skipped tasks.
    const cal::CalendarFile& ImportResult() const { return m_result; }
    int AppointmentsSaved() const { return m_saved; }

private:
    // A file of more appointments than this is committed on the way.
    static constexpr int kAppointmentsPerCommit = 20000;

    std::shared_ptr<AttachedStore> m_store;
    std::uint32_t m_folder;
    cal::CalendarFile m_result;
    int m_saved = 0;
};

class RDOItems {
public:
    RDOItems(std::shared_ptr<AttachedStore> store, std::uint32_t folder);
    std::shared_ptr<RDOAppointmentItem> Add(int kind);

private:
    std::shared_ptr<AttachedStore> m_store;
    std::uint32_t m_folder;
};

class RDOFolders {
public:
    RDOFolders(std::shared_ptr<AttachedStore> store, std::uint32_t folder);

    int Count() const;
    // 1-based, as the collection is enumerated.
    std::shared_ptr<RDOFolder> Item(int index) const;
    // The child folder of that name; Error when there is none.
    std::shared_ptr<RDOFolder> operator()(const std::string& name) const;
    // A new child folder; kind 9 makes a calendar folder. Error when the name is taken.
    std::shared_ptr<RDOFolder> Add(const std::string& name, int kind);

    std::vector<std::shared_ptr<RDOFolder>> All() const;

private:
    std::shared_ptr<AttachedStore> m_store;
    std::uint32_t m_folder;
};

class RDOFolder {
public:
    RDOFolder(std::shared_ptr<AttachedStore> store, std::uint32_t nid);
    std::string Name() const;
    RDOFolders Folders() const { return RDOFolders(m_store, m_nid); }
    RDOItems Items() const { return RDOItems(m_store, m_nid); }
    std::uint32_t Nid() const { return m_nid; }

private:
    std::shared_ptr<AttachedStore> m_store;
    std::uint32_t m_nid;
};

class RDOStore {
public:
    explicit RDOStore(std::shared_ptr<AttachedStore> store);
    // An opaque value naming the store, only handed back to GetStoreFromID.
    std::string EntryID() const;
    std::shared_ptr<RDOFolder> IPMRootFolder() const;
    // Makes everything saved so far part of the file, in one crash-safe commit.
    void Commit();
    // Writes everything, closes the file and detaches the store; the file stays.
    void Remove();

private:
    std::shared_ptr<AttachedStore> m_store;
};

// Commits every attached store, for a program about to end in the middle of an import; a store
// that cannot be written keeps its last commit. Never throws.
void CommitAttachedStores() noexcept;

class RDOStores {
public:
    // Creates a new store file at `path` (never an existing one) and attaches it under the
    // display name.
    std::shared_ptr<RDOStore> AddPSTStore(const std::string& path, int format, const std::string& displayName);
    std::shared_ptr<RDOStore> GetStoreFromID(const std::string& entryId);
};

class RDOSession {
public:
    void Logon();
    RDOStores& Stores();
    // "\\" + display name + "\" + folder path: the folder at that path in the attached store.
    std::shared_ptr<RDOFolder> GetFolderFromPath(const std::string& path);
    void Logoff();

private:
    bool m_loggedOn = false;
    RDOStores m_stores;
};

class MAPINamespace {
public:
    // The root folder of the attached store with that display name.
    std::shared_ptr<RDOFolder> Folders(const std::string& displayName);
};

class OutlookApplication {
public:
    std::shared_ptr<MAPINamespace> GetNamespace(const std::string& type);
};

// Objects by name: "Redemption.RDOSession" and "Outlook.Application". Error for any other name.
using AutomationObject = std::variant<std::shared_ptr<RDOSession>, std::shared_ptr<OutlookApplication>>;
AutomationObject CreateObject(const std::string& progId);

}  // namespace messaging
