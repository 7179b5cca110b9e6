// Writes a store of calendar folders filled from calendar files:
//   make_calendar_store OUT.pst DISPLAY-NAME FOLDER\PATH=FILE...
// Folder paths are below the top of the personal folders, parts joined with '\'. Prints one line
// per file: its path, the appointments written, or the reason it failed.
#include "calendar/Appointment.h"
#include "messaging/AppointmentMessage.h"
#include "pst/store/MessageStore.h"

#include <cstdio>
#include <string>

int main(int argc, char* argv[])
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s OUT.pst DISPLAY-NAME FOLDER=FILE...\n", argv[0]);
        return 2;
    }
    try {
        auto store = pst::MessageStore::Create(argv[1], argv[2]);
        pst::MessageContent message;  // reused from one appointment to the next
        for (int i = 3; i < argc; ++i) {
            const std::string arg = argv[i];
            const auto eq = arg.find('=');
            const std::string path = arg.substr(0, eq);
            const std::string file = arg.substr(eq + 1);
            std::uint32_t folder = store->IpmSubtree();
            std::size_t at = 0;
            while (at <= path.size()) {
                std::size_t end = path.find('\\', at);
                if (end == std::string::npos)
                    end = path.size();
                const std::string part = path.substr(at, end - at);
                std::uint32_t next = 0;
                for (const auto& [nid, name] : store->Subfolders(folder))
                    if (name == part)
                        next = nid;
                folder = next ? next : store->CreateFolder(folder, part, "IPF.Appointment");
                at = end + 1;
            }
            const bool vcs = file.size() > 4 && (file.substr(file.size() - 4) == ".vcs" || file.substr(file.size() - 4) == ".VCS");
            int written = 0;
            const cal::CalendarFile result = cal::ReadCalendarFile(file, vcs ? 7 : 8, [&](cal::Appointment&& a) {
                store->AddMessage(folder, messaging::AppointmentMessage(a, message));
                ++written;
            });
            store->Commit();
            if (written)
                std::printf("%s: %d\n", file.c_str(), written);
            else
                std::printf("%s: failed: %s\n", file.c_str(), result.error.c_str());
        }
        store->Close();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
