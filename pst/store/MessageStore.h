#pragma once

#include "NameToIdMap.h"
#include "pst/ltp/AppendableTable.h"
#include "pst/ltp/TableContext.h"
#include "pst/ndb/NodeDatabase.h"

#include <array>
#include <map>
#include <optional>
#include <memory>
#include <string>

namespace pst {

// Well-known NIDs of a store (MS-PST 2.4.1) and of the folders every store holds.
enum KnownNid : std::uint32_t {
    NID_MESSAGE_STORE = 0x21,
    NID_NAME_TO_ID_MAP = 0x61,
    NID_NORMAL_FOLDER_TEMPLATE = 0xA1,
    NID_SEARCH_FOLDER_TEMPLATE = 0xC1,
    NID_ROOT_FOLDER = 0x122,
    NID_SEARCH_MANAGEMENT_QUEUE = 0x1E1,
    NID_SEARCH_ACTIVITY_LIST = 0x201,
    NID_SEARCH_DOMAIN_OBJECT = 0x261,
    NID_HIERARCHY_TABLE_TEMPLATE = 0x60D,
    NID_CONTENTS_TABLE_TEMPLATE = 0x60E,
    NID_ASSOC_CONTENTS_TABLE_TEMPLATE = 0x60F,
    NID_SEARCH_CONTENTS_TABLE_TEMPLATE = 0x610,
    NID_ATTACHMENT_TABLE = 0x671,
    NID_RECIPIENT_TABLE = 0x692,
    NID_IPM_SUBTREE = 0x8022,
    NID_SEARCH_ROOT = 0x8042,
    NID_DELETED_ITEMS = 0x8062,
    NID_SPAM_SEARCH_FOLDER = 0x2223,
    // Nodes every store Outlook creates also holds. The receive folder table (nidType 0x0B) and
    // the outgoing queue (0x0C) are the store's, as MAPI's IMsgStore knows them (MS-PST 2.2.2.1).
    NID_RECEIVE_FOLDER_TABLE = 0x62B,
    NID_OUTGOING_QUEUE_TABLE = 0x64C,
    // Tables of nidType 0x16, 0x17 and 0x18 (types MS-PST does not name) whose columns are the
    // replication properties (0x0E30-0x0E3E), and the index from a folder's PidTagReplItemid
    // (0x0E30, a GUID) to its NID. Stores made by Outlook 2013 and later hold them.
    NID_REPLICATION_TABLE_16 = 0x6B6,
    NID_REPLICATION_TABLE_17 = 0x6D7,
    NID_REPLICATION_TABLE_18 = 0x6F8,
    NID_REPLICATION_ITEM_INDEX = 0xC01,
    // IPM_COMMON_VIEWS, the folder of the views shared by all folders (PidTagCommonViewsEntryId).
    NID_COMMON_VIEWS = 0x8082,
};

// Columns of the template tables, in Outlook's column order.
struct TableTemplates {
    static const std::vector<std::uint32_t>& Hierarchy();
    static const std::vector<std::uint32_t>& Contents();
    static const std::vector<std::uint32_t>& AssocContents();
    static const std::vector<std::uint32_t>& SearchContents();
    static const std::vector<std::uint32_t>& Attachment();
    static const std::vector<std::uint32_t>& Recipient();
    // The store's receive folder table and outgoing queue.
    static const std::vector<std::uint32_t>& ReceiveFolder();
    static const std::vector<std::uint32_t>& OutgoingQueue();
    // The FAI contents table of IPM_COMMON_VIEWS: the template's columns and those of the views
    // and navigation shortcuts Outlook keeps there.
    static const std::vector<std::uint32_t>& CommonViewsAssocContents();
};

// A named property: a property set with a numeric LID, or with a string name.
struct NamedKey {
    Guid set{};
    std::uint32_t lid = 0;
    std::string name;  // set for string names
};

// One property of a message, attachment or recipient, its value already in the format's
// encoding (see Property). Named properties get their ID from the store's name-to-ID map.
struct MessageProperty {
    std::uint16_t id = 0;  // for tagged properties
    std::optional<NamedKey> named;
    std::uint16_t type = 0;
    Bytes value;
};

struct MessageContent;

// An attachment: its properties, and for an embedded message (method 5) that message.
struct AttachmentContent {
    std::vector<MessageProperty> properties;
    std::shared_ptr<MessageContent> embedded;
};

// Everything a message holds: properties, recipient rows, attachments.
struct MessageContent {
    std::vector<MessageProperty> properties;
    std::vector<std::vector<MessageProperty>> recipients;  // tagged properties only
    std::vector<AttachmentContent> attachments;
};

// A PST message store (MS-PST 2.4): the message store object, the name-to-ID map, the root
// folder with the top of the personal folders, Deleted Items and the search folders, and the
// template tables, over one node database.
class MessageStore {
public:
    // Creates a new store at `path` under the display name given, committed and ready for
    // folders. The file is built under a temporary name beside `path` and appears under its own
    // name only when complete; an existing file is never overwritten (StoreError).
    static std::unique_ptr<MessageStore> Create(const std::string& path, const std::string& displayName);
    // The same over a file layer the caller provides (tests record or fail its writes there);
    // the store is written and committed into it as it stands.
    static std::unique_ptr<MessageStore> Create(std::unique_ptr<FileLayer> file, const std::string& displayName);

    ~MessageStore();

    // Writes what changed since the last commit (the folders messages went to, their rows in
    // their parents' hierarchy tables, the name map) and commits it.
    void Commit();
    void Close();

    NodeDatabase& Database() { return *m_db; }
    const std::array<std::uint8_t, 16>& RecordKey() const { return m_recordKey; }
    // ENTRYID (MS-PST 2.4.3.2) of a folder or message of this store.
    Bytes EntryId(std::uint32_t nid) const;

    // Named properties in use; WriteNameToIdMap stores the map after additions.
    NameToIdMap& NamedProperties() { return m_names; }
    void WriteNameToIdMap();

    // The top of the personal folders, where a user's folders go.
    std::uint32_t IpmSubtree() const { return NID_IPM_SUBTREE; }
    // A new folder under `parent`; `containerClass` (such as "IPF.Appointment") may be empty.
    // Fails (StoreError) when the parent does not exist or already has a folder of that name.
    std::uint32_t CreateFolder(std::uint32_t parent, const std::string& name, const std::string& containerClass);
    // The folders directly below a folder: NID and name, in creation order.
    std::vector<std::pair<std::uint32_t, std::string>> Subfolders(std::uint32_t folder) const;
    std::string FolderName(std::uint32_t folder) const;
    // The folder a folder is in (the root folder is its own parent); 0 for no folder.
    std::uint32_t ParentOf(std::uint32_t folder) const;
    // Stores a message in a folder and returns its NID. Nothing is on disk for readers until the
    // next Commit, which also brings the folder's contents table, content count and row in its
    // parent's hierarchy table up to date, once for all the messages added since. A full folder
    // raises FolderFullError and is left as it was.
    std::uint32_t AddMessage(std::uint32_t folder, const MessageContent& message);
    std::uint32_t ContentCount(std::uint32_t folder) const;

private:
    struct Folder {
        std::uint32_t nid = 0;
        std::uint32_t parent = 0;
        std::string name;
        std::string containerClass;
        std::optional<std::string> comment;  // PidTagComment
        const std::vector<std::uint32_t>* assocColumns = &TableTemplates::AssocContents();
        std::vector<std::uint32_t> children;
        std::vector<TableRow> otherRows;  // hierarchy rows of search folders
        std::vector<std::uint32_t> contentsColumns;  // in column order
        std::shared_ptr<AppendableTable> contents;   // grows by one row a message
        std::uint32_t rowVersion = 0;
        // What the next commit writes anew: the property context, the hierarchy table, the
        // contents table; and whether the folder is in m_dirty.
        bool propertiesDirty = false;
        bool hierarchyDirty = false;
        bool contentsDirty = false;
        bool listed = false;
    };
    enum Change : unsigned { kProperties = 1, kHierarchy = 2, kContents = 4 };
    // The contents-table columns of a new folder: the template's, and for a calendar folder the
    // appointment columns a calendar view reads.
    std::vector<std::uint32_t> ContentsColumns(const std::string& containerClass);
    TableRow HierarchyRowOf(const Folder& f) const;
    void WriteFolderProperties(const Folder& f);
    void WriteHierarchy(const Folder& f);
    void WriteContents(const Folder& f);
    void WriteAssocContents(const Folder& f);
    Folder& FolderAt(std::uint32_t nid);
    // Marks parts of a folder for the next commit to write.
    void MarkDirty(Folder& f, unsigned changes);
    void WriteDirtyFolders();
    std::uint16_t PropertyId(const MessageProperty& p);
    // A message's node into `image`: its property context, recipient and attachment tables and
    // attachments. Nested messages go `depth` levels down, each level with its own builders.
    // At depth 0 the recipient table is left out of the image and named in `recipients`.
    void MessageImage(const MessageContent& message, std::size_t depth, NodeImage& image,
                      const NodeImage::Subnode** recipients);
    PropertyContextBuilder& Builder(std::size_t index);
    const NodeImage::Subnode& RecipientTable(const MessageContent& message, NodeImage::Subnode& built);

private:
    MessageStore(std::unique_ptr<NodeDatabase> db, std::array<std::uint8_t, 16> recordKey);
    void WriteEmptyStore(const std::string& displayName);
    TableRow HierarchyRow(std::uint32_t nid, const std::string& name, bool hasSubfolders);

    std::unique_ptr<NodeDatabase> m_db;
    std::array<std::uint8_t, 16> m_recordKey;
    NameToIdMap m_names;
    std::size_t m_namesWritten = 0;
    std::map<std::uint32_t, Folder> m_folders;
    std::vector<std::uint32_t> m_dirty;  // folders with changes the next commit writes

    // Buffers reused from one message to the next.
    std::vector<std::unique_ptr<PropertyContextBuilder>> m_builders;
    NodeImage m_image;
    NodeImage::Subnode m_recipients;
    PropertyContextBuilder m_folderProperties;
    NodeImage m_folderImage;
    std::optional<NodeImage::Subnode> m_noRecipients;  // the empty recipient table
};

}  // namespace pst
