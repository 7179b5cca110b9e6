#include "AppointmentMessage.h"

namespace messaging {

namespace {

pst::Guid SetGuid(cal::PropertySet set)
{
    switch (set) {
    case cal::PropertySet::Appointment: return pst::PSETID_Appointment;
    case cal::PropertySet::Common: return pst::PSETID_Common;
    case cal::PropertySet::Meeting: return pst::PSETID_Meeting;
    case cal::PropertySet::PublicStrings: return pst::PS_PUBLIC_STRINGS;
    case cal::PropertySet::Tag: break;
    }
    return {};
}

// A value in the store's encoding: little-endian numbers, UTF-16LE strings, and multi-valued
// strings as a count, offsets and the strings (MS-PST 2.3.3.4.2).
pst::Bytes Encode(cal::PropType type, const cal::PropertyValue& value)
{
    pst::Bytes out;
    switch (type) {
    case cal::PropType::Int32: {
        out.resize(4);
        pst::Put32(out.data(), static_cast<std::uint32_t>(std::get<std::int64_t>(value)));
        break;
    }
    case cal::PropType::Boolean: out.push_back(std::get<bool>(value) ? 1 : 0); break;
    case cal::PropType::Int64:
    case cal::PropType::Time: {
        out.resize(8);
        pst::Put64(out.data(), static_cast<std::uint64_t>(std::get<std::int64_t>(value)));
        break;
    }
    case cal::PropType::String: out = pst::Utf16le(std::get<std::string>(value)); break;
    case cal::PropType::Binary: out = std::get<cal::Bytes>(value); break;
    case cal::PropType::MultiString: {
        const auto& strings = std::get<std::vector<std::string>>(value);
        std::vector<pst::Bytes> encoded;
        for (const std::string& s : strings)
            encoded.push_back(pst::Utf16le(s));
        pst::ByteWriter w(out);
        w.u32(static_cast<std::uint32_t>(encoded.size()));
        std::uint32_t offset = static_cast<std::uint32_t>(4 + 4 * encoded.size());
        for (const pst::Bytes& e : encoded) {
            w.u32(offset);
            offset += static_cast<std::uint32_t>(e.size());
        }
        for (const pst::Bytes& e : encoded)
            w.bytes(e);
        break;
    }
    }
    return out;
}

std::vector<pst::MessageProperty> Properties(const cal::PropertyMap& map)
{
    std::vector<pst::MessageProperty> out;
    for (const auto& [key, value] : map) {
        pst::MessageProperty p;
        p.type = static_cast<std::uint16_t>(key.type);
        p.value = Encode(key.type, value);
        if (key.set == cal::PropertySet::Tag)
            p.id = static_cast<std::uint16_t>(key.id);
        else
            p.named = pst::NamedKey{SetGuid(key.set), key.id, key.name};
        out.push_back(std::move(p));
    }
    return out;
}

pst::MessageProperty Tag(std::uint16_t id, std::uint16_t type, pst::Bytes value)
{
    pst::MessageProperty p;
    p.id = id;
    p.type = type;
    p.value = std::move(value);
    return p;
}

pst::Bytes Int32(std::uint32_t v)
{
    pst::Bytes b(4);
    pst::Put32(b.data(), v);
    return b;
}

}  // namespace

pst::MessageContent AppointmentMessage(const cal::Appointment& appointment)
{
    pst::MessageContent message;
    message.properties = Properties(appointment.properties);
    // One row per organizer and attendee (MS-OXCICAL 2.1.3.1.1.20.2 and .16), each a one-off SMTP
    // address; the row's record key is its entry id, its search key "SMTP:ADDRESS".
    std::string displayTo, displayCc, displayBcc;
    for (const cal::Recipient& r : appointment.recipients) {
        const pst::Bytes entryId = cal::EncodeOneOffEntryId(r.displayName, "SMTP", r.email);
        std::vector<pst::MessageProperty> row;
        row.push_back(Tag(0x3001, pst::PT_UNICODE, pst::Utf16le(r.displayName)));  // PidTagDisplayName
        row.push_back(Tag(0x3002, pst::PT_UNICODE, pst::Utf16le("SMTP")));          // PidTagAddressType
        row.push_back(Tag(0x3003, pst::PT_UNICODE, pst::Utf16le(r.email)));         // PidTagEmailAddress
        row.push_back(Tag(0x39FE, pst::PT_UNICODE, pst::Utf16le(r.email)));         // PidTagSmtpAddress
        row.push_back(Tag(0x0C15, pst::PT_LONG, Int32(r.recipientType)));           // PidTagRecipientType
        row.push_back(Tag(0x0FFE, pst::PT_LONG, Int32(6)));                         // PidTagObjectType: mail user
        row.push_back(Tag(0x3900, pst::PT_LONG, Int32(0)));                         // PidTagDisplayType: mail user
        row.push_back(Tag(0x39FF, pst::PT_UNICODE, pst::Utf16le(r.displayName)));   // PidTagAddressBookDisplayNamePrintable
        row.push_back(Tag(0x0E0F, pst::PT_BOOLEAN, pst::Bytes{1}));                 // PidTagResponsibility
        row.push_back(Tag(0x0FFF, pst::PT_BINARY, entryId));                        // PidTagEntryId
        row.push_back(Tag(0x0FF9, pst::PT_BINARY, entryId));                        // PidTagRecordKey
        row.push_back(Tag(0x300B, pst::PT_BINARY, cal::AddressSearchKey("SMTP", r.email)));  // PidTagSearchKey
        row.push_back(Tag(0x3A40, pst::PT_BOOLEAN, pst::Bytes{0}));                 // PidTagSendRichInfo: SMTP
        row.push_back(Tag(0x5FF6, pst::PT_UNICODE, pst::Utf16le(r.displayName)));   // PidTagRecipientDisplayName
        row.push_back(Tag(0x5FF7, pst::PT_BINARY, entryId));                        // PidTagRecipientEntryId
        row.push_back(Tag(0x5FFD, pst::PT_LONG, Int32(r.recipientFlags)));          // PidTagRecipientFlags
        row.push_back(Tag(0x5FFF, pst::PT_LONG, Int32(r.trackStatus)));             // PidTagRecipientTrackStatus
        message.recipients.push_back(std::move(row));
        std::string& list = r.recipientType == 3 ? displayBcc : r.recipientType == 2 ? displayCc : displayTo;
        list += (list.empty() ? "" : "; ") + r.displayName;
    }
    // The display lists the store derives from the recipient rows (MS-OXCMSG 2.2.1.7-2.2.1.9).
    const std::pair<std::uint16_t, const std::string*> lists[] = {{0x0E04, &displayTo}, {0x0E03, &displayCc}, {0x0E02, &displayBcc}};
    for (const auto& [id, text] : lists)
        if (!text->empty())
            message.properties.push_back(Tag(id, pst::PT_UNICODE, pst::Utf16le(*text)));
    for (const cal::AppointmentException& ex : appointment.exceptions) {
        pst::AttachmentContent attachment;
        attachment.properties = Properties(ex.attachment);
        attachment.embedded = std::make_shared<pst::MessageContent>();
        attachment.embedded->properties = Properties(ex.message);
        message.attachments.push_back(std::move(attachment));
    }
    if (!message.attachments.empty()) {
        // MSGFLAG_HASATTACH alongside the flags the appointment carries.
        for (pst::MessageProperty& p : message.properties)
            if (!p.named && p.id == 0x0E07 && p.value.size() == 4)
                pst::Put32(p.value.data(), pst::Get32(p.value.data()) | 0x10);
    }
    return message;
}

}  // namespace messaging
