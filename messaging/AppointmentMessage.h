#pragma once

#include "calendar/Appointment.h"
#include "pst/store/MessageStore.h"

namespace messaging {

// An appointment as a store message: property values in the store's encoding, the organizer and
// attendees as recipient rows, changed occurrences as hidden embedded-message attachments.
pst::MessageContent AppointmentMessage(const cal::Appointment& appointment);

}  // namespace messaging
