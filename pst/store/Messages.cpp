// Messages in folders (MS-PST 2.4.5): the message's property context, its recipient and
// attachment tables and attachment objects as subnodes, and its row in the folder's contents table.
#include "MessageStore.h"

namespace pst {

namespace {

constexpr std::uint16_t PidTagMessageSize = 0x0E08;
constexpr std::uint16_t PidTagAttachDataObject = 0x3701;
constexpr std::uint16_t PidTagAttachSize = 0x0E20;
constexpr std::uint16_t PT_OBJECT = 0x000D;
constexpr std::uint32_t kFirstAttachment = 0x400;
constexpr std::uint32_t kEmbeddedMessage = MakeNid(0x400, NID_TYPE_NORMAL_MESSAGE);
// Bytes of a contents table's rows and pages a folder holds in memory between commits before
// they are written out.
constexpr std::size_t kMaxPendingContents = 256 * 1024;

// A message's recipient table: the template's columns (MS-PST 2.4.4.5.2) and those a meeting's rows
// carry besides, as Outlook adds them: PidTagSmtpAddress, PidTagRecipientDisplayName,
// PidTagRecipientEntryId, PidTagRecipientFlags and PidTagRecipientTrackStatus.
const std::vector<std::uint32_t>& RecipientColumns()
{
    static const std::vector<std::uint32_t> tags = [] {
        std::vector<std::uint32_t> t = TableTemplates::Recipient();
        for (std::uint32_t tag : {0x39FE001Fu, 0x5FF6001Fu, 0x5FF70102u, 0x5FFD0003u, 0x5FFF0003u})
            t.push_back(tag);
        return t;
    }();
    return tags;
}

// The recipient table's layout, the same for every message.
const TableLayout& RecipientLayout()
{
    static const TableLayout layout = TableLayout::ForColumns(RecipientColumns());
    return layout;
}

// The cells of a table row taken from properties: every column the properties have a value for.
TableRow RowFrom(std::uint32_t rowId, std::uint32_t version, const std::vector<std::uint32_t>& columns,
                 const PropertyContextBuilder& properties)
{
    TableRow row;
    row.rowId = rowId;
    row.version = version;
    for (std::uint32_t tag : columns) {
        if (tag == kTagLtpRowId || tag == kTagLtpRowVer)
            continue;
        std::size_t size = 0;
        if (const std::uint8_t* value = properties.Find(tag, &size))
            row.cells[tag] = Bytes(value, value + size);
    }
    return row;
}

NodeImage::Subnode AsSubnode(std::uint32_t nid, NodeImage image)
{
    return NodeImage::Subnode{nid, std::move(image.blocks), std::move(image.subnodes)};
}

}  // namespace

std::uint16_t MessageStore::PropertyId(const MessageProperty& p)
{
    if (!p.named)
        return p.id;
    return p.named->name.empty() ? m_names.Numeric(p.named->set, p.named->lid) : m_names.String(p.named->set, p.named->name);
}

PropertyContextBuilder& MessageStore::Builder(std::size_t index)
{
    while (m_builders.size() <= index)
        m_builders.push_back(std::make_unique<PropertyContextBuilder>());
    return *m_builders[index];
}

const NodeImage::Subnode& MessageStore::RecipientTable(const MessageContent& message, NodeImage::Subnode& built)
{
    // Always present, empty for an appointment without attendees: that one is built once.
    if (message.recipients.empty()) {
        if (!m_noRecipients)
            m_noRecipients = AsSubnode(NID_RECIPIENT_TABLE, BuildTableContext(RecipientLayout(), {}));
        return *m_noRecipients;
    }
    std::vector<TableRow> rows;
    rows.reserve(message.recipients.size());
    for (std::size_t i = 0; i < message.recipients.size(); ++i) {
        TableRow row;
        row.rowId = static_cast<std::uint32_t>(i);
        row.version = m_db->NextUnique();
        for (std::uint32_t tag : RecipientColumns()) {
            if (tag == kTagLtpRowId || tag == kTagLtpRowVer)
                continue;
            for (const MessageProperty& p : message.recipients[i]) {
                if ((static_cast<std::uint32_t>(p.id) << 16 | p.type) == tag) {
                    row.cells[tag] = p.value;
                    break;
                }
            }
        }
        rows.push_back(std::move(row));
    }
    built = AsSubnode(NID_RECIPIENT_TABLE, BuildTableContext(RecipientLayout(), rows));
    return built;
}

void MessageStore::MessageImage(const MessageContent& message, std::size_t depth, NodeImage& image,
                                const NodeImage::Subnode** recipients)
{
    // The message's own properties first: their named IDs are entered in the order they come.
    PropertyContextBuilder& pc = Builder(2 * depth);
    pc.Clear();
    for (const MessageProperty& p : message.properties)
        if (p.id != PidTagMessageSize || p.named)
            pc.Add(PropertyId(p), p.type, p.value.data(), p.value.size());

    std::vector<NodeImage::Subnode> tables;
    NodeImage::Subnode nestedRecipients;
    const NodeImage::Subnode& recipientTable = RecipientTable(message, recipients ? m_recipients : nestedRecipients);
    std::size_t tableBytes = SubnodeSize(recipientTable);
    if (recipients)
        *recipients = &recipientTable;
    else
        tables.push_back(recipientTable);

    // Attachments: one property context each, listed in the attachment table.
    if (!message.attachments.empty()) {
        PropertyContextBuilder& attachment = Builder(2 * depth + 1);
        std::vector<TableRow> rows;
        for (std::size_t i = 0; i < message.attachments.size(); ++i) {
            const AttachmentContent& a = message.attachments[i];
            const std::uint32_t nid = MakeNid(kFirstAttachment + static_cast<std::uint32_t>(i), NID_TYPE_ATTACHMENT);
            attachment.Clear();
            for (const MessageProperty& p : a.properties)
                attachment.Add(PropertyId(p), p.type, p.value.data(), p.value.size());
            std::optional<NodeImage::Subnode> embedded;
            if (a.embedded) {
                // An embedded message lives in a subnode of its attachment; the attachment names
                // it with a {NID, size} object reference (MS-PST 2.4.6.2.1).
                NodeImage inner;
                MessageImage(*a.embedded, depth + 1, inner, nullptr);
                std::uint8_t ref[8];
                Put32(ref, kEmbeddedMessage);
                Put32(ref + 4, static_cast<std::uint32_t>(ImageSize(inner)));
                attachment.Add(PidTagAttachDataObject, PT_OBJECT, ref, sizeof ref);
                embedded = AsSubnode(kEmbeddedMessage, std::move(inner));
            }
            // PidTagAttachSize counts the attachment's own node; the value sits inline.
            const std::uint8_t zero[4] = {};
            attachment.Add(PidTagAttachSize, PT_LONG, zero, sizeof zero);
            attachment.Lay();
            attachment.SetInline(PidTagAttachSize, static_cast<std::uint32_t>(attachment.ImageBytes()));
            NodeImage image;
            attachment.Write(image);
            if (embedded)
                image.subnodes.push_back(std::move(*embedded));
            rows.push_back(RowFrom(nid, m_db->NextUnique(), TableTemplates::Attachment(), attachment));
            tables.push_back(AsSubnode(nid, std::move(image)));
            tableBytes += SubnodeSize(tables.back());
        }
        tables.push_back(AsSubnode(NID_ATTACHMENT_TABLE,
                                   BuildTableContext(TableLayout::ForColumns(TableTemplates::Attachment()), rows)));
        tableBytes += SubnodeSize(tables.back());
    }

    // PidTagMessageSize counts every byte of the node and its subnodes; the value sits inline,
    // so setting it once the layout is known does not change the size it gives.
    const std::uint8_t zero[4] = {};
    pc.Add(PidTagMessageSize, PT_LONG, zero, sizeof zero);
    pc.Lay();
    pc.SetInline(PidTagMessageSize, static_cast<std::uint32_t>(pc.ImageBytes() + tableBytes));
    pc.Write(image);
    for (NodeImage::Subnode& t : tables)
        image.subnodes.push_back(std::move(t));
}

std::uint32_t MessageStore::AddMessage(std::uint32_t folder, const MessageContent& message)
{
    Folder& f = FolderAt(folder);
    const std::uint32_t nid = m_db->NewNid(NID_TYPE_NORMAL_MESSAGE);
    const NodeImage::Subnode* recipients = nullptr;
    MessageImage(message, 0, m_image, &recipients);
    // The contents-table row straight from the message's properties.
    const PropertyContextBuilder& properties = Builder(0);
    if (!f.contents->Append(nid, m_db->NextUnique(), [&](std::uint32_t tag, std::size_t* size) {
            return properties.Find(tag, size);
        }))
        throw FolderFullError("the folder \"" + f.name + "\" cannot hold more items");
    StoreNode(*m_db, nid, folder, m_image, {recipients});
    // The folder's contents table, its content count and its row in the parent's hierarchy
    // table are written at the next commit, once for all the messages added till then. A table
    // that has gathered many rows is written out now, so that only its open pages stay in memory.
    MarkDirty(f, kProperties | kContents);
    if (f.parent != f.nid && m_folders.count(f.parent))
        MarkDirty(m_folders.at(f.parent), kHierarchy);
    if (f.contents->PendingBytes() > kMaxPendingContents) {
        WriteContents(f);
        f.contentsDirty = false;
    }
    return nid;
}

}  // namespace pst
