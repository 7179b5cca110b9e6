#pragma once

#include "Appointment.h"
#include "TimeZones.h"

#include <libical/ical.h>

namespace cal {

// How a file's values are to be read: vCalendar gives PRIORITY another meaning than iCalendar.
struct MappingContext {
    bool vcalendar = false;
    std::int64_t importTime = 0;  // FILETIME used for creation and modification times
    // vCalendar only: the raw EXDATE lists of each event (libical keeps only single values), by UID.
    std::map<std::string, std::vector<std::string>> rawExdates;
};

// Maps one event series, the master VEVENT and the VEVENTs overriding its instances, to
// appointments, each handed to `emit` as it is made: one with Outlook's recurrence pattern where
// the series fits one, else one for each occurrence. The master may be null when only overrides
// are present.
void MapSeries(icalcomponent* master, const std::vector<icalcomponent*>& overrides, ZoneResolver& zones,
               const MappingContext& context, const AppointmentSink& emit);

// Named properties used by the mapping.
namespace lid {
inline constexpr std::uint32_t AppointmentSequence = 0x8201;
inline constexpr std::uint32_t BusyStatus = 0x8205;
inline constexpr std::uint32_t Location = 0x8208;
inline constexpr std::uint32_t AppointmentStartWhole = 0x820D;
inline constexpr std::uint32_t AppointmentEndWhole = 0x820E;
inline constexpr std::uint32_t AppointmentDuration = 0x8213;
inline constexpr std::uint32_t AppointmentColor = 0x8214;
inline constexpr std::uint32_t AppointmentSubType = 0x8215;
inline constexpr std::uint32_t AppointmentRecur = 0x8216;
inline constexpr std::uint32_t AppointmentStateFlags = 0x8217;
inline constexpr std::uint32_t ResponseStatus = 0x8218;
inline constexpr std::uint32_t Recurring = 0x8223;
inline constexpr std::uint32_t IntendedBusyStatus = 0x8224;
inline constexpr std::uint32_t ExceptionReplaceTime = 0x8228;
inline constexpr std::uint32_t FInvited = 0x8229;
inline constexpr std::uint32_t RecurrenceType = 0x8231;
inline constexpr std::uint32_t RecurrencePattern = 0x8232;
inline constexpr std::uint32_t TimeZoneStruct = 0x8233;
inline constexpr std::uint32_t TimeZoneDescription = 0x8234;
inline constexpr std::uint32_t ClipStart = 0x8235;
inline constexpr std::uint32_t ClipEnd = 0x8236;
inline constexpr std::uint32_t TimeZoneDefinitionStartDisplay = 0x825E;
inline constexpr std::uint32_t TimeZoneDefinitionEndDisplay = 0x825F;
inline constexpr std::uint32_t TimeZoneDefinitionRecur = 0x8260;
inline constexpr std::uint32_t ReminderDelta = 0x8501;
inline constexpr std::uint32_t ReminderTime = 0x8502;
inline constexpr std::uint32_t ReminderSet = 0x8503;
inline constexpr std::uint32_t Private = 0x8506;
inline constexpr std::uint32_t SideEffects = 0x8510;
inline constexpr std::uint32_t CommonStart = 0x8516;
inline constexpr std::uint32_t CommonEnd = 0x8517;
inline constexpr std::uint32_t ReminderSignalTime = 0x8560;
inline constexpr std::uint32_t GlobalObjectId = 0x0003;
inline constexpr std::uint32_t IsRecurring = 0x0005;
inline constexpr std::uint32_t CleanGlobalObjectId = 0x0023;
}  // namespace lid

// MAPI property IDs used by the mapping.
namespace tag {
inline constexpr std::uint32_t Importance = 0x0017;
inline constexpr std::uint32_t MessageClass = 0x001A;
inline constexpr std::uint32_t Sensitivity = 0x0036;
inline constexpr std::uint32_t Subject = 0x0037;
inline constexpr std::uint32_t ClientSubmitTime = 0x0039;
inline constexpr std::uint32_t SentRepresentingSearchKey = 0x003B;
inline constexpr std::uint32_t SentRepresentingEntryId = 0x0041;
inline constexpr std::uint32_t SentRepresentingName = 0x0042;
inline constexpr std::uint32_t StartDate = 0x0060;
inline constexpr std::uint32_t EndDate = 0x0061;
inline constexpr std::uint32_t ResponseRequested = 0x0063;
inline constexpr std::uint32_t SentRepresentingAddressType = 0x0064;
inline constexpr std::uint32_t SentRepresentingEmailAddress = 0x0065;
inline constexpr std::uint32_t ConversationTopic = 0x0070;
inline constexpr std::uint32_t ReplyRequested = 0x0C17;
inline constexpr std::uint32_t SenderEntryId = 0x0C19;
inline constexpr std::uint32_t SenderName = 0x0C1A;
inline constexpr std::uint32_t SenderSearchKey = 0x0C1D;
inline constexpr std::uint32_t SenderAddressType = 0x0C1E;
inline constexpr std::uint32_t SenderEmailAddress = 0x0C1F;
inline constexpr std::uint32_t MessageDeliveryTime = 0x0E06;
inline constexpr std::uint32_t MessageFlags = 0x0E07;
inline constexpr std::uint32_t MessageStatus = 0x0E17;
inline constexpr std::uint32_t NormalizedSubject = 0x0E1D;
inline constexpr std::uint32_t Body = 0x1000;
inline constexpr std::uint32_t IconIndex = 0x1080;
inline constexpr std::uint32_t DisplayName = 0x3001;
inline constexpr std::uint32_t CreationTime = 0x3007;
inline constexpr std::uint32_t LastModificationTime = 0x3008;
inline constexpr std::uint32_t SearchKey = 0x300B;
inline constexpr std::uint32_t InternetCodepage = 0x3FDE;
inline constexpr std::uint32_t MessageLocaleId = 0x3FF1;
inline constexpr std::uint32_t AttachMethod = 0x3705;
inline constexpr std::uint32_t RenderingPosition = 0x370B;
inline constexpr std::uint32_t ExceptionReplaceTime = 0x7FF9;
inline constexpr std::uint32_t ExceptionStartTime = 0x7FFB;
inline constexpr std::uint32_t ExceptionEndTime = 0x7FFC;
inline constexpr std::uint32_t AttachmentFlags = 0x7FFD;
inline constexpr std::uint32_t AttachmentHidden = 0x7FFE;
}  // namespace tag

}  // namespace cal
