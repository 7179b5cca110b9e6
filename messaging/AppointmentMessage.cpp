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

// A value in the store's encoding, into `out` (its buffer reused): little-endian numbers,
// UTF-16LE strings, and multi-valued strings as a count, offsets and the strings
// (MS-PST 2.3.3.4.2).
void Encode(cal::PropType type, const cal::PropertyValue& value, pst::Bytes& out)
{
    switch (type) {
    case cal::PropType::Int32:
        out.resize(4);
        pst::Put32(out.data(), static_cast<std::uint32_t>(std::get<std::int64_t>(value)));
        break;
    case cal::PropType::Boolean: out.assign(1, std::get<bool>(value) ? 1 : 0); break;
    case cal::PropType::Int64:
    case cal::PropType::Time:
        out.resize(8);
        pst::Put64(out.data(), static_cast<std::uint64_t>(std::get<std::int64_t>(value)));
        break;
    case cal::PropType::String: pst::Utf16le(std::get<std::string>(value), out); break;
    case cal::PropType::Binary: {
        const auto& bytes = std::get<cal::Bytes>(value);
        out.assign(bytes.begin(), bytes.end());
        break;
    }
    case cal::PropType::MultiString: {
        const auto& strings = std::get<std::vector<std::string>>(value);
        std::vector<pst::Bytes> encoded;
        encoded.reserve(strings.size());
        for (const std::string& s : strings)
            encoded.push_back(pst::Utf16le(s));
        out.clear();
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
}

// The properties of `map` into `out`, each element keeping its buffers for the next appointment.
void SetProperties(const cal::PropertyMap& map, std::vector<pst::MessageProperty>& out)
{
    out.resize(map.size());
    std::size_t i = 0;
    for (const auto& [key, value] : map) {
        pst::MessageProperty& p = out[i++];
        p.type = static_cast<std::uint16_t>(key.type);
        Encode(key.type, value, p.value);
        if (key.set == cal::PropertySet::Tag) {
            p.id = static_cast<std::uint16_t>(key.id);
            p.named.reset();
        } else {
            p.id = 0;
            if (!p.named)
                p.named.emplace();
            p.named->set = SetGuid(key.set);
            p.named->lid = key.id;
            p.named->name.assign(key.name);
        }
    }
}

// A tagged property whose value the caller sets.
pst::Bytes& Tag(pst::MessageProperty& p, std::uint16_t id, std::uint16_t type)
{
    p.id = id;
    p.named.reset();
    p.type = type;
    return p.value;
}

void SetInt32(pst::Bytes& value, std::uint32_t v)
{
    value.resize(4);
    pst::Put32(value.data(), v);
}

}  // namespace

pst::MessageContent AppointmentMessage(const cal::Appointment& appointment)
{
    pst::MessageContent message;
    AppointmentMessage(appointment, message);
    return message;
}

pst::MessageContent& AppointmentMessage(const cal::Appointment& appointment, pst::MessageContent& message)
{
    SetProperties(appointment.properties, message.properties);
    // One row per organizer and attendee (MS-OXCICAL 2.1.3.1.1.20.2 and .16), each a one-off SMTP
    // address; the row's record key is its entry id, its search key "SMTP:ADDRESS".
    std::string displayTo, displayCc, displayBcc;
    message.recipients.resize(appointment.recipients.size());
    for (std::size_t i = 0; i < appointment.recipients.size(); ++i) {
        const cal::Recipient& r = appointment.recipients[i];
        const pst::Bytes entryId = cal::EncodeOneOffEntryId(r.displayName, "SMTP", r.email);
        std::vector<pst::MessageProperty>& row = message.recipients[i];
        row.resize(17);
        pst::MessageProperty* p = row.data();
        Tag(*p++, 0x3001, pst::PT_UNICODE) = pst::Utf16le(r.displayName);  // PidTagDisplayName
        Tag(*p++, 0x3002, pst::PT_UNICODE) = pst::Utf16le("SMTP");          // PidTagAddressType
        Tag(*p++, 0x3003, pst::PT_UNICODE) = pst::Utf16le(r.email);         // PidTagEmailAddress
        Tag(*p++, 0x39FE, pst::PT_UNICODE) = pst::Utf16le(r.email);         // PidTagSmtpAddress
        SetInt32(Tag(*p++, 0x0C15, pst::PT_LONG), r.recipientType);         // PidTagRecipientType
        SetInt32(Tag(*p++, 0x0FFE, pst::PT_LONG), 6);                       // PidTagObjectType: mail user
        SetInt32(Tag(*p++, 0x3900, pst::PT_LONG), 0);                       // PidTagDisplayType: mail user
        Tag(*p++, 0x39FF, pst::PT_UNICODE) = pst::Utf16le(r.displayName);   // PidTagAddressBookDisplayNamePrintable
        Tag(*p++, 0x0E0F, pst::PT_BOOLEAN).assign(1, 1);                    // PidTagResponsibility
        Tag(*p++, 0x0FFF, pst::PT_BINARY) = entryId;                        // PidTagEntryId
        Tag(*p++, 0x0FF9, pst::PT_BINARY) = entryId;                        // PidTagRecordKey
        Tag(*p++, 0x300B, pst::PT_BINARY) = cal::AddressSearchKey("SMTP", r.email);  // PidTagSearchKey
        Tag(*p++, 0x3A40, pst::PT_BOOLEAN).assign(1, 0);                    // PidTagSendRichInfo: SMTP
        Tag(*p++, 0x5FF6, pst::PT_UNICODE) = pst::Utf16le(r.displayName);   // PidTagRecipientDisplayName
        Tag(*p++, 0x5FF7, pst::PT_BINARY) = entryId;                        // PidTagRecipientEntryId
        SetInt32(Tag(*p++, 0x5FFD, pst::PT_LONG), r.recipientFlags);        // PidTagRecipientFlags
        SetInt32(Tag(*p++, 0x5FFF, pst::PT_LONG), r.trackStatus);           // PidTagRecipientTrackStatus
        std::string& list = r.recipientType == 3 ? displayBcc : r.recipientType == 2 ? displayCc : displayTo;
        list += (list.empty() ? "" : "; ") + r.displayName;
    }
    // The display lists the store derives from the recipient rows (MS-OXCMSG 2.2.1.7-2.2.1.9).
    const std::pair<std::uint16_t, const std::string*> lists[] = {{0x0E04, &displayTo}, {0x0E03, &displayCc}, {0x0E02, &displayBcc}};
    for (const auto& [id, text] : lists) {
        if (!text->empty()) {
            message.properties.emplace_back();
            Tag(message.properties.back(), id, pst::PT_UNICODE) = pst::Utf16le(*text);
        }
    }
    message.attachments.resize(appointment.exceptions.size());
    for (std::size_t i = 0; i < appointment.exceptions.size(); ++i) {
        const cal::AppointmentException& ex = appointment.exceptions[i];
        pst::AttachmentContent& attachment = message.attachments[i];
        SetProperties(ex.attachment, attachment.properties);
        if (!attachment.embedded)
            attachment.embedded = std::make_shared<pst::MessageContent>();
        SetProperties(ex.message, attachment.embedded->properties);
        attachment.embedded->recipients.clear();
        attachment.embedded->attachments.clear();
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
