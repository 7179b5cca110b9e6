// Fuzzes the path-list routines and the folder rule: the input's lines become a list of paths,
// which is sorted, freed of duplicates and mapped to store folders. Checks what must hold for
// any list rather than only that nothing crashes.
#include "import/PathList.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const Text text = FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    const TextList lines = Split(text, u'\n');
    PathArray list(lines.begin(), lines.end());

    // A range inside the list, taken from the first byte.
    const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(list.size());
    const std::ptrdiff_t first = size ? data[0] % n : 0;
    PathArray ranged = list;
    SortPaths(ranged, first, n - 1);
    if (!std::is_sorted(ranged.begin() + first, ranged.end()) || !std::equal(list.begin(), list.begin() + first, ranged.begin()))
        std::abort();

    SortPaths(list, 0, n - 1);
    if (!std::is_sorted(list.begin(), list.end()))
        std::abort();
    const bool anyText = std::any_of(list.begin(), list.end(), [](const Text& s) { return !s.empty(); });
    try {
        RemoveDuplicatePaths(list);
        for (std::size_t i = 0; i < list.size(); ++i)
            if (list[i].empty() || (i > 0 && !(list[i - 1] < list[i])))
                std::abort();
    } catch (const PathListError&) {
        if (anyText)
            std::abort();
    }

    for (const Text& line : lines) {
        try {
            const Text parent = ParentFolderOf(line);
            if (!line.starts_with(parent))
                std::abort();
        } catch (const PathListError&) {
            if (!line.empty())
                std::abort();
        }
        try {
            const Text folder = RelativeFolderOf(line);
            // A store folder path: components joined by single backslashes, none empty.
            if (folder.empty() || folder.starts_with(u'\\') || folder.ends_with(u'\\')
                || folder.find(u"\\\\") != Text::npos)
                std::abort();
        } catch (const PathListError&) {
        }
    }
    return 0;
}
