// Writes the small stores the pstcheck fuzz target starts from: an empty store, and stores with
// a calendar folder holding a few messages (with a recipient, an attachment, a long body).
#include "pst/store/MessageStore.h"

#include <cstdio>
#include <filesystem>

namespace {

pst::MessageProperty Text(std::uint16_t id, const std::string& value)
{
    return {id, std::nullopt, 0x001F, pst::Utf16le(value)};
}

pst::MessageContent Message(int i, std::size_t bodyBytes)
{
    pst::MessageContent m;
    m.properties.push_back(Text(0x001A, "IPM.Appointment"));
    m.properties.push_back(Text(0x0037, "Seed " + std::to_string(i)));
    m.properties.push_back(Text(0x1000, std::string(bodyBytes, 'b')));
    pst::NamedKey location{{}, 0x8208, {}};
    location.set = {0x02, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
    m.properties.push_back({0, location, 0x001F, pst::Utf16le("Room " + std::to_string(i))});
    if (i % 2) {
        m.recipients.push_back({Text(0x3001, "Bob"), Text(0x3003, "bob@example.org")});
        pst::AttachmentContent a;
        a.properties.push_back(Text(0x3704, "note.txt"));
        a.properties.push_back({0x3701, std::nullopt, 0x0102, pst::Bytes(300, 'n')});
        m.attachments.push_back(a);
    }
    return m;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seed_stores FOLDER\n");
        return 2;
    }
    const std::filesystem::path dir = argv[1];
    std::filesystem::create_directories(dir);
    const std::pair<const char*, int> stores[] = {{"empty.pst", 0}, {"three.pst", 3}, {"twelve.pst", 12}};
    for (const auto& [name, messages] : stores) {
        const std::string path = (dir / name).string();
        std::filesystem::remove(path);
        auto store = pst::MessageStore::Create(path, "Seed");
        if (messages) {
            const std::uint32_t folder = store->CreateFolder(store->IpmSubtree(), "Calendar", "IPF.Appointment");
            for (int i = 0; i < messages; ++i)
                store->AddMessage(folder, Message(i, i == 5 ? 20000 : 40));
        }
        store->Commit();
        store->Close();
    }
    return 0;
}
