// libFuzzer target: pstcheck's reader on damaged stores. Whatever the bytes, it reports problems
// and returns; it must not crash, hang or read outside the file.
#include "messaging.h"

#include <cstddef>
#include <cstdint>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    pstcheck::Report report;
    pstcheck::Ndb ndb(pstcheck::Bytes(data, data + size), report);
    if (ndb.load()) {
        pstcheck::checkMessaging(ndb, report);
        std::ostringstream listing;
        pstcheck::listNodes(ndb, listing);
    }
    return 0;
}
