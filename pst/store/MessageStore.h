#pragma once

#include "NameToIdMap.h"
#include "pst/ltp/TableContext.h"
#include "pst/ndb/NodeDatabase.h"

#include <array>
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
};

// Columns of the template tables, in Outlook's column order.
struct TableTemplates {
    static const std::vector<std::uint32_t>& Hierarchy();
    static const std::vector<std::uint32_t>& Contents();
    static const std::vector<std::uint32_t>& AssocContents();
    static const std::vector<std::uint32_t>& SearchContents();
    static const std::vector<std::uint32_t>& Attachment();
    static const std::vector<std::uint32_t>& Recipient();
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

    ~MessageStore();

    void Commit() { m_db->Commit(); }
    void Close();

    NodeDatabase& Database() { return *m_db; }
    const std::array<std::uint8_t, 16>& RecordKey() const { return m_recordKey; }
    // ENTRYID (MS-PST 2.4.3.2) of a folder or message of this store.
    Bytes EntryId(std::uint32_t nid) const;

    // Named properties in use; WriteNameToIdMap stores the map after additions.
    NameToIdMap& NamedProperties() { return m_names; }
    void WriteNameToIdMap();

private:
    MessageStore(std::unique_ptr<NodeDatabase> db, std::array<std::uint8_t, 16> recordKey);
    void WriteEmptyStore(const std::string& displayName);
    void WriteFolder(std::uint32_t nid, std::uint32_t parent, const std::string& name,
                     const std::vector<TableRow>& hierarchyRows);
    TableRow HierarchyRow(std::uint32_t nid, const std::string& name, bool hasSubfolders);

    std::unique_ptr<NodeDatabase> m_db;
    std::array<std::uint8_t, 16> m_recordKey;
    NameToIdMap m_names;
};

}  // namespace pst
