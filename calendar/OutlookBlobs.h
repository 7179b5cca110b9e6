#pragma once

// Binary structures Outlook keeps for an appointment (MS-OXOCAL): the recurrence blob, the time
// zone structures and the global object id. Pure encoders: no calendar parsing here.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace cal {

using Bytes = std::vector<std::uint8_t>;

// Minutes since 1601-01-01 00:00, in the series' local time: the recurrence blob's time unit.
std::uint32_t LocalMinutes(int year, int month, int day, int hour = 0, int minute = 0);

enum class RecurFrequency : std::uint16_t { Daily = 0x200A, Weekly = 0x200B, Monthly = 0x200C, Yearly = 0x200D };
enum class PatternType : std::uint16_t { Day = 0, Week = 1, Month = 2, MonthNth = 3, MonthEnd = 4 };
enum class EndType : std::uint32_t { AfterDate = 0x2021, AfterN = 0x2022, Never = 0x2023 };

// Day-of-week mask bits of a weekly or Nth-weekday pattern.
enum DayMask : std::uint32_t { Su = 0x01, Mo = 0x02, Tu = 0x04, We = 0x08, Th = 0x10, Fr = 0x20, Sa = 0x40 };

// ExceptionInfo (MS-OXOCAL 2.2.1.44.2): one modified instance. Times in local minutes; a field
// that is set is written with its OverrideFlags bit.
struct ExceptionInfo {
    std::uint32_t startDateTime = 0;
    std::uint32_t endDateTime = 0;
    std::uint32_t originalStartDate = 0;
    std::optional<std::string> subject;  // UTF-8
    std::optional<std::uint32_t> meetingType;
    std::optional<std::uint32_t> reminderDelta;
    std::optional<bool> reminderSet;
    std::optional<std::string> location;  // UTF-8
    std::optional<std::uint32_t> busyStatus;
    std::optional<bool> attachment;
    std::optional<bool> subType;
    std::optional<std::uint32_t> appointmentColor;
};

// AppointmentRecurrencePattern (MS-OXOCAL 2.2.1.44.5): a RecurrencePattern (2.2.1.44.1) followed by
// the appointment part. FirstDateTime is computed from the other fields.
struct AppointmentRecurrence {
    RecurFrequency frequency = RecurFrequency::Daily;
    PatternType patternType = PatternType::Day;
    std::uint32_t period = 0;           // as stored: minutes for daily, weeks, or months
    std::uint32_t dayMask = 0;          // Week and MonthNth
    std::uint32_t dayOfMonth = 0;       // Month and MonthEnd
    std::uint32_t nthWeek = 0;          // MonthNth: 1-4, 5 = last
    EndType endType = EndType::Never;
    std::uint32_t occurrenceCount = 10;
    std::uint32_t firstDOW = 0;         // 0 Sunday ... 6 Saturday
    std::vector<std::uint32_t> deletedInstanceDates;   // local midnights, ascending
    std::vector<std::uint32_t> modifiedInstanceDates;  // local midnights, ascending
    std::uint32_t startDate = 0;        // local midnight of the first instance
    std::uint32_t endDate = 0;          // local midnight of the last; 0x5AE980DF when never-ending
    std::uint32_t startTimeOffset = 0;  // minutes after midnight
    std::uint32_t endTimeOffset = 0;
    std::vector<ExceptionInfo> exceptions;  // one per modified instance, ascending
};

inline constexpr std::uint32_t kNeverEndDate = 0x5AE980DF;

// FirstDateTime (MS-OXOCAL 2.2.1.44.1.1) of a pattern.
std::uint32_t FirstDateTime(const AppointmentRecurrence& r);
// The PidLidAppointmentRecur blob, with WriterVersion2 0x3009.
Bytes EncodeAppointmentRecurrence(const AppointmentRecurrence& r);

// SYSTEMTIME as the time zone structures use it (a rule's month, weekday, week and time).
struct SystemTime {
    std::uint16_t year = 0, month = 0, dayOfWeek = 0, day = 0, hour = 0, minute = 0, second = 0, milliseconds = 0;
};

// One era of a zone's rules: biases in minutes as Windows keeps them (UTC = local + bias).
struct TimeZoneRule {
    std::uint16_t year = 1601;  // first year the rule applies
    std::int32_t bias = 0;
    std::int32_t standardBias = 0;
    std::int32_t daylightBias = 0;
    SystemTime standardDate;    // month 0: no daylight saving time
    SystemTime daylightDate;
};

// The bias (UTC minus local time, in minutes) a rule gives a local wall-clock time: its standard
// bias, or its daylight bias between the switch dates. Outlook applies the rule of the series'
// zone to any year this way, even to 4500 for a series without end.
std::int32_t BiasAt(const TimeZoneRule& rule, int year, int month, int day, int hour, int minute);

// PidLidTimeZoneStruct (MS-OXOCAL 2.2.1.39), 48 bytes.
Bytes EncodeTimeZoneStruct(const TimeZoneRule& rule);
// TZDEFINITION (MS-OXOCAL 2.2.1.41) with the rules oldest first; `effective` is the index of the
// rule in force. For PidLidAppointmentTimeZoneDefinitionRecur (`recur` true) the effective rule
// also carries the flag that marks it as the one in PidLidTimeZoneStruct.
Bytes EncodeTimeZoneDefinition(const std::string& keyName, const std::vector<TimeZoneRule>& rules,
                               std::size_t effective, bool recur);

// PidLidGlobalObjectId / PidLidCleanGlobalObjectId (MS-OXOCAL 2.2.1.27, MS-OXCICAL 2.1.3.1.1.20.26)
// from an iCalendar UID. `instance` (year, month, day) marks an exception; the clean id never
// carries it. A UID that is itself an Outlook id in hex is decoded instead of wrapped.
struct InstanceDate {
    int year = 0, month = 0, day = 0;
};
Bytes EncodeGlobalObjectId(const std::string& uid, std::optional<InstanceDate> instance, bool clean);

// PidTagSearchKey of an appointment or exception, 16 bytes, from its global object id. Outlook uses
// the id's 16-byte Data field, so an id it made keeps its key; a wrapped UID gets a hash of the id.
Bytes ItemSearchKey(const Bytes& globalObjectId);

// A one-off EntryID (MS-OXCDATA 2.2.5.1): an address outside any address book, with Unicode strings
// and no rich text (MAPI_ONE_OFF_UNICODE | MAPI_ONE_OFF_NO_RICH_INFO), as Outlook writes for SMTP.
Bytes EncodeOneOffEntryId(const std::string& displayName, const std::string& addressType, const std::string& address);

// The search key of an address: "TYPE:ADDRESS" in upper case, 8-bit, with a terminating NUL.
Bytes AddressSearchKey(const std::string& addressType, const std::string& address);

}  // namespace cal
