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

// The cells of a table row taken from properties: every column the properties have a value for.
TableRow RowFrom(std::uint32_t rowId, std::uint32_t version, const std::vector<std::uint32_t>& columns,
                 const std::vector<Property>& properties)
{
    TableRow row;
    row.rowId = rowId;
    row.version = version;
    for (std::uint32_t tag : columns) {
        if (tag == kTagLtpRowId || tag == kTagLtpRowVer)
            continue;
        for (const Property& p : properties) {
            if (p.tag() == tag) {
                row.cells[tag] = p.value;
                break;
            }
        }
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

NodeImage MessageStore::MessageImage(const MessageContent& message, std::vector<Property>& properties)
{
    properties.clear();
    for (const MessageProperty& p : message.properties)
        if (p.id != PidTagMessageSize || p.named)
            properties.push_back(Property{PropertyId(p), p.type, p.value});

    std::vector<NodeImage::Subnode> tables;
    // The recipient table, always present (empty for an appointment without attendees).
    std::vector<TableRow> recipients;
    for (std::size_t i = 0; i < message.recipients.size(); ++i) {
        std::vector<Property> cells;
        for (const MessageProperty& p : message.recipients[i])
            cells.push_back(Property{p.id, p.type, p.value});
        recipients.push_back(RowFrom(static_cast<std::uint32_t>(i), m_db->NextUnique(), RecipientColumns(), cells));
    }
    tables.push_back(AsSubnode(NID_RECIPIENT_TABLE,
                               BuildTableContext(TableLayout::ForColumns(RecipientColumns()), recipients)));

    // Attachments: one property context each, listed in the attachment table.
    if (!message.attachments.empty()) {
        std::vector<TableRow> rows;
        for (std::size_t i = 0; i < message.attachments.size(); ++i) {
            const AttachmentContent& a = message.attachments[i];
            const std::uint32_t nid = MakeNid(kFirstAttachment + static_cast<std::uint32_t>(i), NID_TYPE_ATTACHMENT);
            std::vector<Property> attachment;
            for (const MessageProperty& p : a.properties)
                attachment.push_back(Property{PropertyId(p), p.type, p.value});
            std::vector<NodeImage::Subnode> own;
            if (a.embedded) {
                // An embedded message lives in a subnode of its attachment; the attachment names
                // it with a {NID, size} object reference (MS-PST 2.4.6.2.1).
                std::vector<Property> inner;
                NodeImage embedded = MessageImage(*a.embedded, inner);
                Bytes ref(8);
                Put32(ref.data(), kEmbeddedMessage);
                Put32(ref.data() + 4, static_cast<std::uint32_t>(ImageSize(embedded)));
                attachment.push_back(Property{PidTagAttachDataObject, PT_OBJECT, ref});
                own.push_back(AsSubnode(kEmbeddedMessage, std::move(embedded)));
            }
            attachment.push_back(Int32Property(PidTagAttachSize, 0));
            NodeImage image = BuildPropertyContext(attachment);
            attachment.back() = Int32Property(PidTagAttachSize, static_cast<std::uint32_t>(ImageSize(image)));
            image = BuildPropertyContext(attachment);
            for (NodeImage::Subnode& s : own)
                image.subnodes.push_back(std::move(s));
            rows.push_back(RowFrom(nid, m_db->NextUnique(), TableTemplates::Attachment(), attachment));
            tables.push_back(AsSubnode(nid, std::move(image)));
        }
        tables.push_back(AsSubnode(NID_ATTACHMENT_TABLE,
                                   BuildTableContext(TableLayout::ForColumns(TableTemplates::Attachment()), rows)));
    }

    // PidTagMessageSize counts every byte of the node and its subnodes; the value sits inline,
    // so writing it does not change the size it gives.
    properties.push_back(Int32Property(PidTagMessageSize, 0));
    NodeImage image = BuildPropertyContext(properties);
    std::size_t total = ImageSize(image);
    for (const NodeImage::Subnode& t : tables) {
        NodeImage part;
        part.blocks = t.blocks;
        part.subnodes = t.children;
        total += ImageSize(part);
    }
    properties.back() = Int32Property(PidTagMessageSize, static_cast<std::uint32_t>(total));
    image = BuildPropertyContext(properties);
    for (NodeImage::Subnode& t : tables)
        image.subnodes.push_back(std::move(t));
    return image;
}

std::uint32_t MessageStore::AddMessage(std::uint32_t folder, const MessageContent& message)
{
    Folder& f = FolderAt(folder);
    const std::uint32_t nid = m_db->NewNid(NID_TYPE_NORMAL_MESSAGE);
    std::vector<Property> properties;
    const NodeImage image = MessageImage(message, properties);
    if (!f.contents->Append(RowFrom(nid, m_db->NextUnique(), f.contentsColumns, properties)))
        throw StoreError("the folder \"" + f.name + "\" cannot hold more items");
    StoreNode(*m_db, nid, folder, image);
    WriteContents(f);
    WriteFolderProperties(f);
    // The parent's row of this folder carries its content count.
    if (f.parent != f.nid && m_folders.count(f.parent))
        WriteHierarchy(m_folders.at(f.parent));
    return nid;
}

}  // namespace pst
