#include "Session.h"

#include "AppointmentMessage.h"

#include <algorithm>
#include <new>

namespace messaging {

// A store attached to the profile.
struct AttachedStore {
    std::unique_ptr<pst::MessageStore> store;
    std::string path;
    std::string displayName;
    std::string entryId;
    bool attached = true;
    // One message's buffers, refilled for each appointment of every file imported into the store.
    pst::MessageContent content;

    pst::MessageStore& Open()
    {
        if (!attached || !store)
            throw Error("the store \"" + displayName + "\" is no longer attached");
        return *store;
    }
};

namespace {

// The one profile of the process: the attached stores, by display name.
struct Profile {
    std::vector<std::shared_ptr<AttachedStore>> stores;

    std::shared_ptr<AttachedStore> ByName(const std::string& name) const
    {
        for (const auto& s : stores)
            if (s->attached && s->displayName == name)
                return s;
        return nullptr;
    }
    std::shared_ptr<AttachedStore> ById(const std::string& id) const
    {
        for (const auto& s : stores)
            if (s->attached && s->entryId == id)
                return s;
        return nullptr;
    }
};

Profile& TheProfile()
{
    static Profile profile;
    return profile;
}

std::string Hex(const pst::Bytes& bytes)
{
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::vector<std::string> SplitPath(const std::string& path)
{
    std::vector<std::string> parts;
    std::size_t at = 0;
    while (at <= path.size()) {
        std::size_t end = path.find('\\', at);
        if (end == std::string::npos)
            end = path.size();
        if (end > at)
            parts.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

std::uint32_t ChildNamed(pst::MessageStore& store, std::uint32_t folder, const std::string& name)
{
    if (const std::uint32_t nid = store.SubfolderNamed(folder, name))
        return nid;
    throw Error("there is no folder \"" + name + "\" in \"" + store.FolderName(folder) + "\"");
}

// The folder that takes a full folder's further items: "<name> (2)" beside it, or (3) and on
// when that one is full too, made when it does not exist yet.
std::uint32_t ContinuationOf(pst::MessageStore& store, std::uint32_t full)
{
    std::string base = store.FolderName(full);
    int next = 2;
    // A full continuation passes on to the next number, not to "cal (2) (2)".
    if (const auto open = base.rfind(" ("); open != std::string::npos && base.back() == ')') {
        const std::string digits = base.substr(open + 2, base.size() - open - 3);
        if (!digits.empty() && digits.size() < 6 && digits.find_first_not_of("0123456789") == std::string::npos) {
            next = std::stoi(digits) + 1;
            base.resize(open);
        }
    }
    const std::uint32_t parent = store.ParentOf(full);
    const std::string name = base + " (" + std::to_string(next) + ")";
    for (const auto& [nid, child] : store.Subfolders(parent))
        if (child == name)
            return nid;
    return store.CreateFolder(parent, name, "IPF.Appointment");
}

}  // namespace

// --- items ------------------------------------------------------------------------------------

RDOAppointmentItem::RDOAppointmentItem(std::shared_ptr<AttachedStore> store, std::uint32_t folder)
    : m_store(std::move(store))
    , m_folder(folder)
{
}

void RDOAppointmentItem::Import(const std::string& path, int format)
{
    // Each appointment goes into the store as soon as it is read, so that a large file is never
    // held whole; a file that yields none writes nothing. A file of very many appointments is
    // committed on the way, to bound what waits in memory for a commit.
    pst::MessageStore& store = m_store->Open();
    m_saved = 0;
    struct StoreOutOfMemory {};
    try {
        pst::MessageContent& content = m_store->content;
        std::vector<std::string> notes;
        m_result = cal::ReadCalendarFile(path, format, [&](cal::Appointment&& a) {
            const pst::MessageContent& message = AppointmentMessage(a, content);
            for (;;) {
                try {
                    store.AddMessage(m_folder, message);
                    break;
                } catch (const pst::FolderFullError&) {
                    const std::string full = store.FolderName(m_folder);
                    try {
                        m_folder = ContinuationOf(store, m_folder);
                    } catch (const std::bad_alloc&) {
                        throw StoreOutOfMemory{};
                    }
                    notes.push_back("the folder \"" + full + "\" cannot hold more items: "
                                    + (m_saved ? "appointments after the first " + std::to_string(m_saved)
                                               : std::string("the appointments"))
                                    + " went to the folder \"" + store.FolderName(m_folder) + "\" beside it");
                } catch (const std::bad_alloc&) {
                    // Not the reader's: it would take it for its own shortage.
                    throw StoreOutOfMemory{};
                }
            }
            if (++m_saved % kAppointmentsPerCommit == 0)
                store.Commit();
        });
        m_result.warnings.insert(m_result.warnings.end(), notes.begin(), notes.end());
    } catch (const StoreOutOfMemory&) {
        // The store's own structures may be half updated: nothing more is written to it, and
        // the file keeps its last commit.
        m_store->attached = false;
        m_store->store.reset();
        throw StoreWriteError("the item could not be saved: there was not enough memory to write an appointment; the store "
                              "keeps what was committed before");
    } catch (const pst::StoreError& e) {
        // A file of very many appointments may have had some committed on the way: say so.
        const int kept = m_saved / kAppointmentsPerCommit * kAppointmentsPerCommit;
        throw StoreWriteError(std::string("the item could not be saved: ") + e.what()
                              + (kept ? "; " + std::to_string(kept) + " of its appointments were written before" : ""));
    }
    // A file that fails part of the way keeps the appointments written before: say how many.
    if (!m_result.error.empty())
        throw Error(path + ": " + m_result.error
                    + (m_saved ? "; " + std::to_string(m_saved) + " of its appointments were written before" : ""));
}

void RDOAppointmentItem::Save()
{
    Write();
    try {
        m_store->Open().Commit();
    } catch (const pst::StoreError& e) {
        throw StoreWriteError(std::string("the item could not be saved: ") + e.what());
    }
}

void RDOAppointmentItem::Write()
{
    // Import wrote the appointments already; they are part of the file with the next commit.
    m_store->Open();
}

RDOItems::RDOItems(std::shared_ptr<AttachedStore> store, std::uint32_t folder)
    : m_store(std::move(store))
    , m_folder(folder)
{
}

std::shared_ptr<RDOAppointmentItem> RDOItems::Add(int kind)
{
    if (kind != olAppointmentItem)
        throw Error("only appointment items (kind 1) can be added, not kind " + std::to_string(kind));
    m_store->Open();
    return std::make_shared<RDOAppointmentItem>(m_store, m_folder);
}

// --- folders ----------------------------------------------------------------------------------

RDOFolders::RDOFolders(std::shared_ptr<AttachedStore> store, std::uint32_t folder)
    : m_store(std::move(store))
    , m_folder(folder)
{
}

int RDOFolders::Count() const { return static_cast<int>(m_store->Open().Subfolders(m_folder).size()); }

std::vector<std::shared_ptr<RDOFolder>> RDOFolders::All() const
{
    std::vector<std::shared_ptr<RDOFolder>> out;
    for (const auto& [nid, name] : m_store->Open().Subfolders(m_folder))
        out.push_back(std::make_shared<RDOFolder>(m_store, nid));
    return out;
}

std::shared_ptr<RDOFolder> RDOFolders::Item(int index) const
{
    const auto all = All();
    if (index < 1 || index > static_cast<int>(all.size()))
        throw Error("there is no folder number " + std::to_string(index));
    return all[static_cast<std::size_t>(index - 1)];
}

std::shared_ptr<RDOFolder> RDOFolders::operator()(const std::string& name) const
{
    return std::make_shared<RDOFolder>(m_store, ChildNamed(m_store->Open(), m_folder, name));
}

std::shared_ptr<RDOFolder> RDOFolders::Add(const std::string& name, int kind)
{
    if (name.empty())
        throw Error("a folder needs a name");
    try {
        const std::uint32_t nid =
            m_store->Open().CreateFolder(m_folder, name, kind == olFolderCalendar ? "IPF.Appointment" : "IPF.Note");
        return std::make_shared<RDOFolder>(m_store, nid);
    } catch (const pst::StoreError& e) {
        throw Error(e.what());
    }
}

RDOFolder::RDOFolder(std::shared_ptr<AttachedStore> store, std::uint32_t nid)
    : m_store(std::move(store))
    , m_nid(nid)
{
}

std::string RDOFolder::Name() const { return m_store->Open().FolderName(m_nid); }

// --- stores -----------------------------------------------------------------------------------

RDOStore::RDOStore(std::shared_ptr<AttachedStore> store)
    : m_store(std::move(store))
{
}

std::string RDOStore::EntryID() const { return m_store->entryId; }

std::shared_ptr<RDOFolder> RDOStore::IPMRootFolder() const
{
    return std::make_shared<RDOFolder>(m_store, m_store->Open().IpmSubtree());
}

void RDOStore::Commit()
{
    pst::MessageStore& store = m_store->Open();
    try {
        store.Commit();
    } catch (const pst::StoreError& e) {
        throw StoreWriteError(e.what());
    }
}

void CommitAttachedStores() noexcept
{
    for (const auto& s : TheProfile().stores) {
        try {
            if (s->attached && s->store)
                s->store->Commit();
        } catch (const std::exception&) {
            // The store keeps its last commit.
        }
    }
}

void RDOStore::Remove()
{
    pst::MessageStore& store = m_store->Open();
    try {
        store.Commit();
        store.Close();
    } catch (const pst::StoreError& e) {
        m_store->attached = false;
        throw StoreWriteError(e.what());
    }
    m_store->attached = false;
    m_store->store.reset();
}

std::shared_ptr<RDOStore> RDOStores::AddPSTStore(const std::string& path, int format, const std::string& displayName)
{
    if (format != olStoreUnicode)
        throw Error("only Unicode personal-folders files (format 1) can be created");
    if (TheProfile().ByName(displayName))
        throw Error("a store named \"" + displayName + "\" is already attached");
    auto attached = std::make_shared<AttachedStore>();
    try {
        attached->store = pst::MessageStore::Create(path, displayName);
    } catch (const pst::StoreError& e) {
        throw Error(e.what());
    }
    attached->path = path;
    attached->displayName = displayName;
    attached->entryId = Hex(attached->store->EntryId(0));
    TheProfile().stores.push_back(attached);
    return std::make_shared<RDOStore>(attached);
}

std::shared_ptr<RDOStore> RDOStores::GetStoreFromID(const std::string& entryId)
{
    auto store = TheProfile().ById(entryId);
    if (!store)
        throw Error("no attached store has that entry ID");
    return std::make_shared<RDOStore>(store);
}

// --- session ----------------------------------------------------------------------------------

void RDOSession::Logon() { m_loggedOn = true; }

RDOStores& RDOSession::Stores()
{
    if (!m_loggedOn)
        throw Error("the session is not logged on");
    return m_stores;
}

std::shared_ptr<RDOFolder> RDOSession::GetFolderFromPath(const std::string& path)
{
    if (!m_loggedOn)
        throw Error("the session is not logged on");
    if (path.rfind("\\\\", 0) != 0)
        throw Error("a folder path starts with two backslashes and the store's name: " + path);
    // The store's display name may itself hold backslashes: take the longest attached name
    // that the path starts with.
    const std::string rest = path.substr(2);
    std::shared_ptr<AttachedStore> store;
    for (const auto& s : TheProfile().stores)
        if (s->attached && rest.rfind(s->displayName, 0) == 0
            && (rest.size() == s->displayName.size() || rest[s->displayName.size()] == '\\')
            && (!store || s->displayName.size() > store->displayName.size()))
            store = s;
    if (!store)
        throw Error("no attached store is named at the start of " + path);
    std::uint32_t folder = store->Open().IpmSubtree();
    for (const std::string& part : SplitPath(rest.substr(store->displayName.size())))
        folder = ChildNamed(*store->store, folder, part);
    return std::make_shared<RDOFolder>(store, folder);
}

void RDOSession::Logoff() { m_loggedOn = false; }

std::shared_ptr<RDOFolder> MAPINamespace::Folders(const std::string& displayName)
{
    auto store = TheProfile().ByName(displayName);
    if (!store)
        throw Error("no attached store is named \"" + displayName + "\"");
    return std::make_shared<RDOFolder>(store, store->Open().IpmSubtree());
}

std::shared_ptr<MAPINamespace> OutlookApplication::GetNamespace(const std::string& type)
{
    if (type != "MAPI")
        throw Error("only the MAPI namespace exists, not \"" + type + "\"");
    return std::make_shared<MAPINamespace>();
}

AutomationObject CreateObject(const std::string& progId)
{
    if (progId == "Redemption.RDOSession")
        return std::make_shared<RDOSession>();
    if (progId == "Outlook.Application")
        return std::make_shared<OutlookApplication>();
    throw Error("no object is registered as \"" + progId + "\"");
}

}  // namespace messaging
