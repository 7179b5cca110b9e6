// An appointment converted into a MessageContent reused from the appointments before must come
// out as a fresh conversion does: nothing left over from a longer or differently shaped one
// (properties, recipient rows, display lists, changed occurrences and their embedded messages).
#include "calendar/Appointment.h"
#include "messaging/AppointmentMessage.h"

#include <gtest/gtest.h>

namespace {

const std::string kExamples = VARNEL_EXAMPLES;

bool SameProperties(const std::vector<pst::MessageProperty>& a, const std::vector<pst::MessageProperty>& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const pst::MessageProperty& x = a[i];
        const pst::MessageProperty& y = b[i];
        if (x.id != y.id || x.type != y.type || x.value != y.value || x.named.has_value() != y.named.has_value())
            return false;
        if (x.named && (x.named->set != y.named->set || x.named->lid != y.named->lid || x.named->name != y.named->name))
            return false;
    }
    return true;
}

bool Same(const pst::MessageContent& a, const pst::MessageContent& b)
{
    if (!SameProperties(a.properties, b.properties) || a.recipients.size() != b.recipients.size()
        || a.attachments.size() != b.attachments.size())
        return false;
    for (std::size_t i = 0; i < a.recipients.size(); ++i)
        if (!SameProperties(a.recipients[i], b.recipients[i]))
            return false;
    for (std::size_t i = 0; i < a.attachments.size(); ++i) {
        const pst::AttachmentContent& x = a.attachments[i];
        const pst::AttachmentContent& y = b.attachments[i];
        if (!SameProperties(x.properties, y.properties) || !x.embedded != !y.embedded
            || (x.embedded && !Same(*x.embedded, *y.embedded)))
            return false;
    }
    return true;
}

}  // namespace

TEST(AppointmentMessage, AReusedMessageHoldsOnlyTheAppointmentConvertedLast)
{
    std::vector<cal::Appointment> all;
    for (const auto& [file, format] : {std::pair{"/office/team.ics", 8}, {"/home/birthdays.ics", 8}, {"/office/review.vcs", 7}}) {
        cal::CalendarFile read = cal::ReadCalendarFile(kExamples + file, format);
        ASSERT_TRUE(read.error.empty()) << file << ": " << read.error;
        for (cal::Appointment& a : read.appointments)
            all.push_back(std::move(a));
    }
    // The examples must hold each shape: with and without attendees, with a changed occurrence.
    auto any = [&](auto test) { return std::any_of(all.begin(), all.end(), test); };
    ASSERT_TRUE(any([](const cal::Appointment& a) { return !a.recipients.empty(); }));
    ASSERT_TRUE(any([](const cal::Appointment& a) { return a.recipients.empty(); }));
    ASSERT_TRUE(any([](const cal::Appointment& a) { return !a.exceptions.empty(); }));

    // Every appointment after every other, each into the content the one before left.
    pst::MessageContent reused;
    for (std::size_t before = 0; before < all.size(); ++before) {
        for (std::size_t after = 0; after < all.size(); ++after) {
            messaging::AppointmentMessage(all[before], reused);
            messaging::AppointmentMessage(all[after], reused);
            EXPECT_TRUE(Same(reused, messaging::AppointmentMessage(all[after])))
                << "appointment " << after << " converted after appointment " << before;
        }
    }
}
