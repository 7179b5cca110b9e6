#include "MessageStore.h"

#include "pst/ltp/BTreeOnHeap.h"
#include "platform/Platform.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pst {

namespace {

// Message store properties (MS-PST 2.4.3.1) and folder properties (MS-PST 2.4.4.1).
constexpr std::uint16_t PidTagRecordKey = 0x0FF9;
constexpr std::uint16_t PidTagDisplayName = 0x3001;
constexpr std::uint16_t PidTagIpmSubTreeEntryId = 0x35E0;
constexpr std::uint16_t PidTagIpmWastebasketEntryId = 0x35E3;
constexpr std::uint16_t PidTagFinderEntryId = 0x35E7;
constexpr std::uint16_t PidTagCommonViewsEntryId = 0x35E6;
constexpr std::uint16_t PidTagReplVersionHistory = 0x0E34;
constexpr std::uint16_t PidTagReplFlags = 0x0E38;
constexpr std::uint16_t PidTagComment = 0x3004;
constexpr std::uint16_t PidTagValidFolderMask = 0x35DF;
constexpr std::uint16_t PidTagPstPassword = 0x67FF;
constexpr std::uint16_t PidTagContentCount = 0x3602;
constexpr std::uint16_t PidTagContentUnreadCount = 0x3603;
constexpr std::uint16_t PidTagSubfolders = 0x360A;
constexpr std::uint16_t PidTagSearchFolderId = 0x660B;
constexpr std::uint16_t PidTagContainerClass = 0x3613;

// PidTagValidFolderMask bits: the IPM subtree, Deleted Items, the common views and the search
// root are valid.
constexpr std::uint32_t FOLDER_IPM_SUBTREE_VALID = 0x01;
constexpr std::uint32_t FOLDER_IPM_WASTEBASKET_VALID = 0x08;
constexpr std::uint32_t FOLDER_COMMON_VIEWS_VALID = 0x40;
constexpr std::uint32_t FOLDER_FINDER_VALID = 0x80;

// The receive folder table's column naming the folder a message class is delivered to (PST
// internal, as Outlook's stores have it).
constexpr std::uint32_t kTagReceiveFolderNid = 0x66050003;


// Internal nodes of the spam search folder, as a new Outlook store has them.
constexpr std::uint32_t NID_SPAM_SEARCH_UPDATE_QUEUE = MakeNid(NID_SPAM_SEARCH_FOLDER >> 5, NID_TYPE_SEARCH_UPDATE_QUEUE);
constexpr std::uint32_t NID_SPAM_SEARCH_CRITERIA = MakeNid(NID_SPAM_SEARCH_FOLDER >> 5, NID_TYPE_SEARCH_CRITERIA_OBJECT);
constexpr std::uint32_t NID_SPAM_SEARCH_CONTENTS = MakeNid(NID_SPAM_SEARCH_FOLDER >> 5, NID_TYPE_SEARCH_CONTENTS_TABLE);

constexpr std::uint32_t TableNid(std::uint32_t folder, NidType type) { return (folder & ~0x1Fu) | type; }

Bytes Int32Bytes(std::uint32_t v)
{
    Bytes b(4);
    Put32(b.data(), v);
    return b;
}

// The index from folders' PidTagReplItemid to their NIDs (NID_REPLICATION_ITEM_INDEX) as a new
// Outlook store has it: a heap of client signature 0x9C whose root item holds the HID of a
// BTree-on-heap with 16-byte keys (the GUIDs) and 4-byte data (the NIDs), here empty, for no
// folder of ours carries a PidTagReplItemid.
NodeImage EmptyReplicationItemIndex()
{
    constexpr std::uint8_t kClientSig = 0x9C;
    constexpr std::uint32_t kSecondItem = 0x40;  // HIDs are handed out in order: 0x20, 0x40, ...
    HeapOnNode heap(kClientSig);
    const std::uint32_t root = heap.Allocate(Int32Bytes(kSecondItem));
    if (BuildBTreeOnHeap(heap, 16, 4, {}) != kSecondItem)
        throw StoreError("the replication index's B-tree is not the heap's second item");
    heap.SetUserRoot(root);
    NodeImage image;
    image.blocks = heap.Blocks();
    return image;
}

// A temporary name beside the store's: its name with ".partial-NNNNNN", shortened where that
// would pass the longest name a folder holds (a store may have a name of that length itself).
std::string TempPathFor(const std::string& path)
{
    std::random_device random;
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".partial-%06u", static_cast<unsigned>(random() % 1000000));
#ifdef _WIN32
    // A name has at most 255 UTF-16 units; as many bytes of UTF-8 are fewer units, and the cut
    // falls between two characters.
    const std::size_t slash = path.find_last_of("/\\");
    constexpr std::size_t kNameMax = 255;
#else
    const std::size_t slash = path.find_last_of('/');
    constexpr std::size_t kNameMax = NAME_MAX;
#endif
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t room = kNameMax - std::strlen(suffix);
    std::size_t nameLength = std::min(path.size() - nameStart, room);
#ifdef _WIN32
    while (nameLength > 0 && nameLength < path.size() - nameStart
           && (static_cast<unsigned char>(path[nameStart + nameLength]) & 0xC0) == 0x80)
        --nameLength;
#endif
    return path.substr(0, nameStart + nameLength) + suffix;
}

#ifdef _WIN32
bool Exists(const std::string& path)
{
    return GetFileAttributesW(platform::WideFromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES
        || GetLastError() == ERROR_SHARING_VIOLATION || GetLastError() == ERROR_ACCESS_DENIED;
}

void RemoveFile(const std::string& path) { DeleteFileW(platform::WideFromUtf8(path).c_str()); }

// The finished file put under its name, failing rather than replace a file that appeared
// meanwhile (no MOVEFILE_REPLACE_EXISTING); the rename is on disk when this returns.
void Publish(const std::string& temp, const std::string& path)
{
    if (!MoveFileExW(platform::WideFromUtf8(temp).c_str(), platform::WideFromUtf8(path).c_str(), MOVEFILE_WRITE_THROUGH))
        throw StoreError("could not create " + path + ": " + platform::WindowsErrorText(GetLastError()));
}
#else
bool Exists(const std::string& path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

void RemoveFile(const std::string& path) { ::unlink(path.c_str()); }

// A hard link puts the finished file under its name, and fails rather than replace a file that
// appeared meanwhile.
void Publish(const std::string& temp, const std::string& path)
{
    if (::link(temp.c_str(), path.c_str()) != 0)
        throw StoreError("could not create " + path + ": " + std::strerror(errno));
    ::unlink(temp.c_str());
}
#endif

}  // namespace

const std::vector<std::uint32_t>& TableTemplates::Hierarchy()
{
    static const std::vector<std::uint32_t> tags = {0x67F20003, 0x67F30003, 0x3001001F, 0x36020003, 0x36030003,
                                                    0x360A000B, 0x0E300102, 0x0E330014, 0x0E340102, 0x0E380003,
                                                    0x3613001F, 0x66350003, 0x66360003};
    return tags;
}

const std::vector<std::uint32_t>& TableTemplates::Contents()
{
    static const std::vector<std::uint32_t> tags = {
        0x67F20003, 0x67F30003, 0x0E170003, 0x001A001F, 0x0E070003, 0x00170003, 0x0042001F,
        0x0037001F, 0x0E060040, 0x00390040, 0x0E080003, 0x0E04001F, 0x0E03001F, 0x0057000B,
        0x0058000B, 0x00360003, 0x10970003, 0x0070001F, 0x00710102, 0x30130102, 0x65C60003,
        0x30080040, 0x0E300102, 0x0E330014, 0x0E340102, 0x0E3D0102, 0x0E3C0102, 0x0E380003};
    return tags;
}

const std::vector<std::uint32_t>& TableTemplates::AssocContents()
{
    static const std::vector<std::uint32_t> tags = {0x67F20003, 0x67F30003, 0x0E170003, 0x001A001F, 0x0E070003,
                                                    0x3001001F, 0x70030003, 0x70040102, 0x70050102, 0x7006001F,
                                                    0x70070003, 0x6800001F, 0x6803000B, 0x68051003, 0x682F001F};
    return tags;
}

const std::vector<std::uint32_t>& TableTemplates::SearchContents()
{
    static const std::vector<std::uint32_t> tags = {
        0x67F20003, 0x67F30003, 0x67F10003, 0x0E05001F, 0x0E170003, 0x001A001F, 0x0E070003,
        0x00170003, 0x0042001F, 0x0037001F, 0x0E060040, 0x0E080003, 0x0E04001F, 0x0E03001F,
        0x0057000B, 0x0058000B, 0x00360003, 0x0E2A000B, 0x30080040};
    return tags;
}

const std::vector<std::uint32_t>& TableTemplates::Attachment()
{
    static const std::vector<std::uint32_t> tags = {0x67F20003, 0x67F30003, 0x370B0003,
                                                    0x0E200003, 0x37050003, 0x3704001F};
    return tags;
}

const std::vector<std::uint32_t>& TableTemplates::Recipient()
{
    static const std::vector<std::uint32_t> tags = {0x67F20003, 0x67F30003, 0x0E0F000B, 0x3002001F, 0x3003001F,
                                                    0x0FFF0102, 0x3001001F, 0x0C150003, 0x300B0102, 0x0FF90102,
                                                    0x0FFE0003, 0x39000003, 0x3A40000B, 0x39FF001F};
    return tags;
}

const std::vector<std::uint32_t>& TableTemplates::ReceiveFolder()
{
    static const std::vector<std::uint32_t> tags = {0x67F20003, 0x67F30003, kTagReceiveFolderNid, 0x001A001F};
    return tags;
}

const std::vector<std::uint32_t>& TableTemplates::OutgoingQueue()
{
    static const std::vector<std::uint32_t> tags = {0x67F20003, 0x67F30003, 0x0E140003, 0x0E100003, 0x00390040};
    return tags;
}

const std::vector<std::uint32_t>& TableTemplates::CommonViewsAssocContents()
{
    static const std::vector<std::uint32_t> tags = [] {
        std::vector<std::uint32_t> t = AssocContents();
        for (std::uint32_t tag : {0x30080040u, 0x68340003u, 0x683A0003u, 0x68410003u, 0x68460003u, 0x68420102u,
                                  0x68430102u, 0x68470003u, 0x68480003u, 0x68530003u})
            t.push_back(tag);
        return t;
    }();
    return tags;
}

MessageStore::MessageStore(std::unique_ptr<NodeDatabase> db, std::array<std::uint8_t, 16> recordKey)
    : m_db(std::move(db))
    , m_recordKey(recordKey)
{
}

MessageStore::~MessageStore() = default;

std::unique_ptr<MessageStore> MessageStore::Create(const std::string& path, const std::string& displayName)
{
    if (Exists(path))
        throw StoreError(path + " already exists; it is left as it is");

    const std::string temp = TempPathFor(path);
    // The temporary name is gone once the store is in place: failures name the store's file.
    std::unique_ptr<FileLayer> file = CreateDiskFile(temp, path);
    std::unique_ptr<MessageStore> store;
    try {
        store = Create(std::move(file), displayName);
        Publish(temp, path);
    } catch (...) {
        RemoveFile(temp);
        throw;
    }
    return store;
}

std::unique_ptr<MessageStore> MessageStore::Create(std::unique_ptr<FileLayer> file, const std::string& displayName)
{
    std::array<std::uint8_t, 16> key{};
    std::random_device random;
    for (std::size_t i = 0; i < key.size(); i += 4)
        Put32(key.data() + i, random());

    std::unique_ptr<MessageStore> store(new MessageStore(std::make_unique<NodeDatabase>(std::move(file)), key));
    store->WriteEmptyStore(displayName);
    store->Commit();
    return store;
}

void MessageStore::Close() { m_db->Close(); }

Bytes MessageStore::EntryId(std::uint32_t nid) const
{
    Bytes id(4 + m_recordKey.size() + 4, 0);  // rgbFlags 0, the store's record key, the NID
    std::copy(m_recordKey.begin(), m_recordKey.end(), id.begin() + 4);
    Put32(id.data() + 4 + m_recordKey.size(), nid);
    return id;
}

void MessageStore::WriteNameToIdMap()
{
    StoreNode(*m_db, NID_NAME_TO_ID_MAP, 0, BuildPropertyContext(m_names.Properties()));
    m_namesWritten = m_names.size();
}

TableRow MessageStore::HierarchyRow(std::uint32_t nid, const std::string& name, bool hasSubfolders)
{
    TableRow row;
    row.rowId = nid;
    row.version = m_db->NextUnique();
    row.cells[0x3001001F] = Utf16le(name);
    row.cells[0x36020003] = Int32Bytes(0);
    row.cells[0x36030003] = Int32Bytes(0);
    row.cells[0x360A000B] = Bytes{static_cast<std::uint8_t>(hasSubfolders ? 1 : 0)};
    return row;
}

TableRow MessageStore::HierarchyRowOf(const Folder& f) const
{
    TableRow row;
    row.rowId = f.nid;
    row.version = f.rowVersion;
    row.cells[0x3001001F] = Utf16le(f.name);
    row.cells[0x36020003] = Int32Bytes(static_cast<std::uint32_t>(f.contents ? f.contents->RowCount() : 0));
    row.cells[0x36030003] = Int32Bytes(0);
    row.cells[0x360A000B] = Bytes{static_cast<std::uint8_t>(f.children.empty() ? 0 : 1)};
    if (!f.containerClass.empty())
        row.cells[0x3613001F] = Utf16le(f.containerClass);
    return row;
}

void MessageStore::WriteFolderProperties(const Folder& f)
{
    PropertyContextBuilder& pc = m_folderProperties;
    pc.Clear();
    pc.Add(StringProperty(PidTagDisplayName, f.name));
    pc.Add(Int32Property(PidTagContentCount, static_cast<std::uint32_t>(f.contents ? f.contents->RowCount() : 0)));
    pc.Add(Int32Property(PidTagContentUnreadCount, 0));
    pc.Add(BoolProperty(PidTagSubfolders, !f.children.empty() || !f.otherRows.empty()));
    if (!f.containerClass.empty())
        pc.Add(StringProperty(PidTagContainerClass, f.containerClass));
    if (f.comment)
        pc.Add(StringProperty(PidTagComment, *f.comment));
    pc.Lay();
    pc.Write(m_folderImage);
    StoreNode(*m_db, f.nid, f.parent, m_folderImage);
}

void MessageStore::WriteHierarchy(const Folder& f)
{
    static const TableLayout layout = TableLayout::ForColumns(TableTemplates::Hierarchy());
    std::vector<TableRow> rows = f.otherRows;
    rows.reserve(rows.size() + f.children.size());
    for (std::uint32_t child : f.children)
        rows.push_back(HierarchyRowOf(m_folders.at(child)));
    StoreNode(*m_db, TableNid(f.nid, NID_TYPE_HIERARCHY_TABLE), 0, BuildTableContext(layout, rows));
}

void MessageStore::WriteContents(const Folder& f)
{
    f.contents->Store(*m_db, TableNid(f.nid, NID_TYPE_CONTENTS_TABLE));
}

void MessageStore::WriteAssocContents(const Folder& f)
{
    StoreNode(*m_db, TableNid(f.nid, NID_TYPE_ASSOC_CONTENTS_TABLE), 0,
              BuildTableContext(TableLayout::ForColumns(*f.assocColumns), {}));
}

std::vector<std::uint32_t> MessageStore::ContentsColumns(const std::string& containerClass)
{
    std::vector<std::uint32_t> columns = TableTemplates::Contents();
    if (containerClass != "IPF.Appointment")
        return columns;
    // Outlook's own calendar folders add these: the appointment's times, place, state, recurrence
    // and reminder, the categories, and a few message properties.
    struct Named {
        const Guid* set;
        std::uint32_t lid;
        std::uint16_t type;
    };
    const Named named[] = {
        {&PSETID_Appointment, 0x820D, PT_SYSTIME}, {&PSETID_Appointment, 0x820E, PT_SYSTIME},
        {&PSETID_Appointment, 0x8205, PT_LONG},    {&PSETID_Appointment, 0x8208, PT_UNICODE},
        {&PSETID_Appointment, 0x8215, PT_BOOLEAN}, {&PSETID_Appointment, 0x8223, PT_BOOLEAN},
        {&PSETID_Appointment, 0x8216, PT_BINARY},  {&PSETID_Appointment, 0x8233, PT_BINARY},
        {&PSETID_Appointment, 0x8234, PT_UNICODE}, {&PSETID_Appointment, 0x8235, PT_SYSTIME},
        {&PSETID_Appointment, 0x8236, PT_SYSTIME}, {&PSETID_Appointment, 0x8214, PT_LONG},
        {&PSETID_Appointment, 0x8217, PT_LONG},    {&PSETID_Appointment, 0x8218, PT_LONG},
        {&PSETID_Appointment, 0x8229, PT_BOOLEAN}, {&PSETID_Appointment, 0x825E, PT_BINARY},
        {&PSETID_Common, 0x8503, PT_BOOLEAN},      {&PSETID_Common, 0x8501, PT_LONG},
        {&PSETID_Common, 0x8502, PT_SYSTIME},      {&PSETID_Common, 0x8510, PT_LONG},
    };
    for (const Named& n : named)
        columns.push_back(static_cast<std::uint32_t>(m_names.Numeric(*n.set, n.lid)) << 16 | n.type);
    columns.push_back(static_cast<std::uint32_t>(m_names.String(PS_PUBLIC_STRINGS, "Keywords")) << 16 | PT_MV_UNICODE);
    for (std::uint32_t tag : {0x10800003u /* icon index */, 0x30070040u /* creation time */, 0x300B0102u /* search key */})
        columns.push_back(tag);
    return columns;
}

MessageStore::Folder& MessageStore::FolderAt(std::uint32_t nid)
{
    auto it = m_folders.find(nid);
    if (it == m_folders.end())
        throw StoreError("the store has no folder " + std::to_string(nid));
    return it->second;
}

std::uint32_t MessageStore::CreateFolder(std::uint32_t parent, const std::string& name, const std::string& containerClass)
{
    Folder& up = FolderAt(parent);
    for (std::uint32_t child : up.children)
        if (m_folders.at(child).name == name)
            throw StoreError("a folder named \"" + name + "\" already exists there");
    Folder f;
    f.nid = m_db->NewNid(NID_TYPE_NORMAL_FOLDER);
    for (NidType type : {NID_TYPE_HIERARCHY_TABLE, NID_TYPE_CONTENTS_TABLE, NID_TYPE_ASSOC_CONTENTS_TABLE})
        m_db->ReserveNidIndex(type, f.nid >> 5);
    f.parent = parent;
    f.name = name;
    f.containerClass = containerClass;
    f.contentsColumns = ContentsColumns(containerClass);
    f.contents = std::make_shared<AppendableTable>(TableLayout::ForColumns(f.contentsColumns));
    f.rowVersion = m_db->NextUnique();
    const std::uint32_t nid = f.nid;
    Folder& added = m_folders.emplace(nid, std::move(f)).first->second;
    // The FAI contents table never changes; the rest is written at the next commit.
    WriteAssocContents(added);
    MarkDirty(added, kProperties | kHierarchy | kContents);

    // The parent lists the new folder, and says it has subfolders; so does its row above it.
    Folder& p = FolderAt(parent);
    const bool first = p.children.empty();
    p.children.push_back(nid);
    MarkDirty(p, kHierarchy);
    if (first) {
        p.rowVersion = m_db->NextUnique();
        MarkDirty(p, kProperties);
        if (p.parent != p.nid && m_folders.count(p.parent))
            MarkDirty(m_folders.at(p.parent), kHierarchy);
    }
    return nid;
}

std::vector<std::pair<std::uint32_t, std::string>> MessageStore::Subfolders(std::uint32_t folder) const
{
    std::vector<std::pair<std::uint32_t, std::string>> out;
    auto it = m_folders.find(folder);
    if (it == m_folders.end())
        return out;
    for (std::uint32_t child : it->second.children)
        out.emplace_back(child, m_folders.at(child).name);
    return out;
}

std::uint32_t MessageStore::SubfolderNamed(std::uint32_t folder, const std::string& name) const
{
    auto it = m_folders.find(folder);
    if (it == m_folders.end())
        return 0;
    for (std::uint32_t child : it->second.children)
        if (m_folders.at(child).name == name)
            return child;
    return 0;
}

std::string MessageStore::FolderName(std::uint32_t folder) const
{
    auto it = m_folders.find(folder);
    return it == m_folders.end() ? std::string() : it->second.name;
}

std::uint32_t MessageStore::ParentOf(std::uint32_t folder) const
{
    auto it = m_folders.find(folder);
    return it == m_folders.end() ? 0 : it->second.parent;
}

std::uint32_t MessageStore::ContentCount(std::uint32_t folder) const
{
    auto it = m_folders.find(folder);
    return it == m_folders.end() || !it->second.contents ? 0 : static_cast<std::uint32_t>(it->second.contents->RowCount());
}

void MessageStore::MarkDirty(Folder& f, unsigned changes)
{
    f.propertiesDirty |= (changes & kProperties) != 0;
    f.hierarchyDirty |= (changes & kHierarchy) != 0;
    f.contentsDirty |= (changes & kContents) != 0;
    if (!f.listed) {
        f.listed = true;
        m_dirty.push_back(f.nid);
    }
}

void MessageStore::WriteDirtyFolders()
{
    // Each part is marked clean once written: after a failed write the next commit writes what
    // is left. Contents first, so that the counts written next match the tables.
    for (std::uint32_t nid : m_dirty) {
        Folder& f = m_folders.at(nid);
        if (f.contentsDirty) {
            WriteContents(f);
            f.contentsDirty = false;
        }
    }
    for (std::uint32_t nid : m_dirty) {
        Folder& f = m_folders.at(nid);
        if (f.propertiesDirty) {
            WriteFolderProperties(f);
            f.propertiesDirty = false;
        }
        if (f.hierarchyDirty) {
            WriteHierarchy(f);
            f.hierarchyDirty = false;
        }
    }
    for (std::uint32_t nid : m_dirty)
        m_folders.at(nid).listed = false;
    m_dirty.clear();
}

void MessageStore::Commit()
{
    WriteDirtyFolders();
    if (m_names.size() != m_namesWritten)
        WriteNameToIdMap();
    m_db->Commit();
}

void MessageStore::WriteEmptyStore(const std::string& displayName)
{
    NodeDatabase& db = *m_db;
    const Bytes recordKey(m_recordKey.begin(), m_recordKey.end());

    // The store's replication version history, as a new Outlook store starts it: one entry, a
    // GUID of the store's own, at version 1. Replication flags 0: nothing is replicated.
    Bytes versionHistory;
    {
        ByteWriter w(versionHistory);
        w.u32(1);
        std::random_device random;
        for (int i = 0; i < 4; ++i)
            w.u32(random());
        w.u32(1);
    }
    StoreNode(db, NID_MESSAGE_STORE, 0,
              BuildPropertyContext({BinaryProperty(PidTagReplVersionHistory, versionHistory),
                                    Int32Property(PidTagReplFlags, 0),
                                    BinaryProperty(PidTagRecordKey, recordKey),
                                    StringProperty(PidTagDisplayName, displayName),
                                    BinaryProperty(PidTagIpmSubTreeEntryId, EntryId(NID_IPM_SUBTREE)),
                                    BinaryProperty(PidTagIpmWastebasketEntryId, EntryId(NID_DELETED_ITEMS)),
                                    BinaryProperty(PidTagCommonViewsEntryId, EntryId(NID_COMMON_VIEWS)),
                                    BinaryProperty(PidTagFinderEntryId, EntryId(NID_SEARCH_ROOT)),
                                    Int32Property(PidTagValidFolderMask,
                                                  FOLDER_IPM_SUBTREE_VALID | FOLDER_IPM_WASTEBASKET_VALID
                                                      | FOLDER_COMMON_VIEWS_VALID | FOLDER_FINDER_VALID),
                                    Int32Property(PidTagPstPassword, 0)}));

    // The named properties of an appointment are entered from the start, so that the map is
    // never empty (libpff refuses a store whose map has no entries) and stays in one order.
    for (std::uint32_t lid : {0x8201u, 0x8205u, 0x8208u, 0x820Du, 0x820Eu, 0x8213u, 0x8214u, 0x8215u, 0x8216u,
                              0x8217u, 0x8218u, 0x8223u, 0x8229u, 0x8231u, 0x8232u, 0x8233u, 0x8234u, 0x8235u,
                              0x8236u, 0x825Eu, 0x825Fu, 0x8260u})
        m_names.Numeric(PSETID_Appointment, lid);
    for (std::uint32_t lid : {0x8501u, 0x8502u, 0x8503u, 0x8506u, 0x8510u, 0x8516u, 0x8517u, 0x8560u})
        m_names.Numeric(PSETID_Common, lid);
    for (std::uint32_t lid : {0x0003u, 0x0023u})
        m_names.Numeric(PSETID_Meeting, lid);
    m_names.String(PS_PUBLIC_STRINGS, "Keywords");
    WriteNameToIdMap();

    // Search bookkeeping: an empty queue, the activity list naming the spam folder, no domains.
    db.SetNode({NID_SEARCH_MANAGEMENT_QUEUE, 0, 0, 0});
    const Bytes activity = Int32Bytes(NID_SPAM_SEARCH_FOLDER);
    db.SetNode({NID_SEARCH_ACTIVITY_LIST, db.WriteData(activity), 0, 0});
    db.SetNode({NID_SEARCH_DOMAIN_OBJECT, 0, 0, 0});

    // The template tables new folders and messages copy their columns from.
    const std::pair<std::uint32_t, const std::vector<std::uint32_t>*> templates[] = {
        {NID_HIERARCHY_TABLE_TEMPLATE, &TableTemplates::Hierarchy()},
        {NID_CONTENTS_TABLE_TEMPLATE, &TableTemplates::Contents()},
        {NID_ASSOC_CONTENTS_TABLE_TEMPLATE, &TableTemplates::AssocContents()},
        {NID_SEARCH_CONTENTS_TABLE_TEMPLATE, &TableTemplates::SearchContents()},
        {NID_ATTACHMENT_TABLE, &TableTemplates::Attachment()},
        {NID_RECIPIENT_TABLE, &TableTemplates::Recipient()},
    };
    for (const auto& [nid, tags] : templates)
        StoreNode(db, nid, 0, BuildTableContext(TableLayout::ForColumns(*tags), {}));

    // The store's receive folder table: messages of every class ("") go to the root folder, as
    // in a new Outlook data file, which has no Inbox. The outgoing queue is empty.
    TableRow receive;
    receive.rowId = 1;
    receive.version = db.NextUnique();
    receive.cells[0x001A001F] = Bytes{};
    receive.cells[kTagReceiveFolderNid] = Int32Bytes(NID_ROOT_FOLDER);
    StoreNode(db, NID_RECEIVE_FOLDER_TABLE, 0,
              BuildTableContext(TableLayout::ForColumns(TableTemplates::ReceiveFolder()), {receive}));
    StoreNode(db, NID_OUTGOING_QUEUE_TABLE, 0,
              BuildTableContext(TableLayout::ForColumns(TableTemplates::OutgoingQueue()), {}));

    // Replication bookkeeping as a new Outlook store has it: the three tables, empty, with
    // Outlook's columns, and the empty index of replicated folders.
    const std::pair<std::uint32_t, std::vector<std::uint32_t>> replication[] = {
        {NID_REPLICATION_TABLE_16, {0x67F20003, 0x67F30003, 0x0E330014, 0x0E370102, 0x0E380003}},
        {NID_REPLICATION_TABLE_17,
         {0x67F20003, 0x67F30003, 0x0E3E0102, 0x0E310102, 0x0E300102, 0x0E380003, 0x0E340102, 0x0E330014,
          0x001A001F}},
        {NID_REPLICATION_TABLE_18, {0x67F20003, 0x67F30003, 0x30070040, 0x0E330014}},
    };
    for (const auto& [nid, tags] : replication)
        StoreNode(db, nid, 0, BuildTableContext(TableLayout::ForColumns(tags), {}));
    StoreNode(db, NID_REPLICATION_ITEM_INDEX, 0, EmptyReplicationItemIndex());

    // Folders: the root holds the top of the personal folders (which holds Deleted Items), the
    // search root, the common views and the spam search folder.
    auto add = [&](std::uint32_t nid, std::uint32_t parent, const std::string& name) {
        Folder f;
        f.nid = nid;
        f.parent = parent;
        f.name = name;
        f.rowVersion = db.NextUnique();
        f.contentsColumns = TableTemplates::Contents();
        f.contents = std::make_shared<AppendableTable>(TableLayout::ForColumns(f.contentsColumns));
        m_folders.emplace(nid, std::move(f));
        if (parent != nid)
            m_folders.at(parent).children.push_back(nid);
    };
    add(NID_ROOT_FOLDER, NID_ROOT_FOLDER, std::string());
    m_folders.at(NID_ROOT_FOLDER).otherRows.push_back(HierarchyRow(NID_SPAM_SEARCH_FOLDER, "SPAM Search Folder 2", false));
    add(NID_IPM_SUBTREE, NID_ROOT_FOLDER, displayName);
    add(NID_SEARCH_ROOT, NID_ROOT_FOLDER, "Search Root");
    add(NID_DELETED_ITEMS, NID_IPM_SUBTREE, "Deleted Items");
    add(NID_COMMON_VIEWS, NID_ROOT_FOLDER, "IPM_COMMON_VIEWS");
    m_folders.at(NID_COMMON_VIEWS).comment = std::string();
    m_folders.at(NID_COMMON_VIEWS).assocColumns = &TableTemplates::CommonViewsAssocContents();
    for (const auto& [nid, f] : m_folders) {
        WriteFolderProperties(f);
        WriteHierarchy(f);
        WriteContents(f);
        WriteAssocContents(f);
    }
    for (NidType type : {NID_TYPE_NORMAL_FOLDER, NID_TYPE_HIERARCHY_TABLE, NID_TYPE_CONTENTS_TABLE,
                         NID_TYPE_ASSOC_CONTENTS_TABLE})
        db.ReserveNidIndex(type, NID_COMMON_VIEWS >> 5);

    // The spam search folder and its companions, as Outlook creates them.
    StoreNode(db, NID_SPAM_SEARCH_FOLDER, NID_ROOT_FOLDER,
              BuildPropertyContext({StringProperty(PidTagDisplayName, "SPAM Search Folder 2"),
                                    Int32Property(PidTagContentCount, 0), Int32Property(PidTagContentUnreadCount, 0),
                                    BoolProperty(PidTagSubfolders, false)}));
    db.SetNode({NID_SPAM_SEARCH_UPDATE_QUEUE, 0, 0, 0});
    StoreNode(db, NID_SPAM_SEARCH_CRITERIA, 0, BuildPropertyContext({Int32Property(PidTagSearchFolderId, 0)}));
    StoreNode(db, NID_SPAM_SEARCH_CONTENTS, 0,
              BuildTableContext(TableLayout::ForColumns(TableTemplates::SearchContents()), {}));
}

}  // namespace pst
