#include "PickedFiles.h"

namespace {

// "C:\x", "\\server\share\x" and "\x" are full paths already.
bool IsFullPath(const Text& name)
{
    return (name.size() >= 2 && name[1] == u':') || (!name.empty() && (name[0] == u'\\' || name[0] == u'/'));
}

}  // namespace

TextList PickedFiles(std::u16string_view buffer)
{
    TextList parts;
    std::size_t start = 0;
    while (start < buffer.size()) {
        const std::size_t end = buffer.find(u'\0', start);
        const std::size_t stop = end == std::u16string_view::npos ? buffer.size() : end;
        if (stop == start)
            break;  // the second NUL: the end of the list
        parts.emplace_back(buffer.substr(start, stop - start));
        start = stop + 1;
    }
    if (parts.size() <= 1)
        return parts;

    Text folder = parts.front();
    if (folder.back() != u'\\')
        folder += u'\\';
    TextList files;
    files.reserve(parts.size() - 1);
    for (std::size_t i = 1; i < parts.size(); ++i)
        files.push_back(IsFullPath(parts[i]) ? parts[i] : folder + parts[i]);
    return files;
}
