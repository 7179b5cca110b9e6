// Messaging layer (MS-PST 2.4) checks and the node listing.
#pragma once

#include "ltp.h"

#include <ostream>

namespace pstcheck {

// Reads every node's PC or TC (checking the LTP layer on the way) and cross-checks store, folders,
// messages and the name-to-ID map.
void checkMessaging(const Ndb& ndb, Report& report);

// One line per NBT node, sorted by NID: "0x%08x parent=0x%08x <PC|TC|DATA> <details>".
void listNodes(const Ndb& ndb, std::ostream& out);

// The command line: returns the exit status (0 sound, 1 problems, 2 usage or unreadable).
int runPstcheck(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace pstcheck
