// Writes an empty store: make_store FILE.pst DISPLAY-NAME. Used by the reader tests.
#include "pst/store/MessageStore.h"

#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FILE.pst DISPLAY-NAME\n", argv[0]);
        return 2;
    }
    try {
        auto store = pst::MessageStore::Create(argv[1], argv[2]);
        store->Close();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
