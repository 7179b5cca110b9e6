// The baseline of the import benchmark: libical parsing calendar files and nothing else. Reads
// every .ics and .vcs file below each PATH (or the file itself), parses it and frees the result.
// Prints the number of files and of events parsed.
//   parse_only PATH...
#include <libical/ical.h>
// icalvcal.h declares its functions without C linkage for C++.
extern "C" {
#include <libical/icalvcal.h>
}
#include <libical/vcc.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        if (fs::is_directory(argv[i])) {
            for (const auto& e : fs::recursive_directory_iterator(argv[i])) {
                std::string ext = e.path().extension().string();
                std::transform(ext.begin(), ext.end(), ext.begin(), ::tolower);
                if (e.is_regular_file() && (ext == ".ics" || ext == ".vcs"))
                    files.push_back(e.path());
            }
        } else {
            files.emplace_back(argv[i]);
        }
    }
    long events = 0;
    for (const fs::path& path : files) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        const std::string s = text.str();
        icalcomponent* root = nullptr;
        if (s.find("VERSION:1.0") != std::string::npos) {
            if (VObject* v = Parse_MIME(s.c_str(), static_cast<unsigned long>(s.size()))) {
                root = icalvcal_convert(v);
                cleanVObjects(v);
            }
        } else {
            root = icalparser_parse_string(s.c_str());
        }
        if (root) {
            if (icalcomponent_isa(root) == ICAL_VEVENT_COMPONENT)
                ++events;
            events += icalcomponent_count_components(root, ICAL_VEVENT_COMPONENT);
            for (icalcomponent* c = icalcomponent_get_first_component(root, ICAL_VCALENDAR_COMPONENT); c;
                 c = icalcomponent_get_next_component(root, ICAL_VCALENDAR_COMPONENT))
                events += icalcomponent_count_components(c, ICAL_VEVENT_COMPONENT);
            icalcomponent_free(root);
        }
    }
    std::printf("%zu files, %ld events\n", files.size(), events);
    return 0;
}
