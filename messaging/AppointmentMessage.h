#pragma once

#include "calendar/Appointment.h"
#include "pst/store/MessageStore.h"

namespace messaging {

// An appointment as a store message: property values in the store's encoding, the organizer and
// attendees as recipient rows, changed occurrences as hidden embedded-message attachments.
pst::MessageContent AppointmentMessage(const cal::Appointment& appointment);
// The same into `message`, reusing the buffers it holds from the appointment before: a caller
// converting appointment after appointment into one MessageContent allocates next to nothing
// for the properties that keep their place and size from one appointment to the next.
pst::MessageContent& AppointmentMessage(const cal::Appointment& appointment, pst::MessageContent& message);

}  // namespace messaging
