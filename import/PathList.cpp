#include "PathList.h"

#include "filelist/NativePath.h"

#include <algorithm>
#include <filesystem>
#include <utility>

namespace {

// Where files lying directly in a root folder go: a root has no name of its own to mirror.
const Text kRootFilesFolder = u"Calendar";

// A POSIX path as a tidy list of names: no empty names, no ".", and ".." taking away the name
// before it (at the root it stays, as there is nothing to take away).
TextList CleanPathNames(const Text& path)
{
    TextList names;
    for (Text& name : Split(path, u'/', true)) {
        if (name == u".")
            continue;
        if (name == u".." && !names.empty() && names.back() != u"..")
            names.pop_back();
        else
            names.push_back(std::move(name));
    }
    return names;
}

}  // namespace

namespace {

// (first + last) / 2, a half going to the even neighbour.
std::ptrdiff_t MiddleIndex(std::ptrdiff_t first, std::ptrdiff_t last)
{
    const std::ptrdiff_t sum = first + last;
    std::ptrdiff_t low = sum >= 0 ? sum / 2 : -((1 - sum) / 2);  // floor
    if (sum % 2 != 0 && low % 2 != 0)
        ++low;
    return low;
}

}  // namespace

void SortPaths(PathArray& list, std::ptrdiff_t first, std::ptrdiff_t last)
{
    // Each pass partitions first..last; the smaller side is sorted by a nested call and the larger
    // one by the next pass, so nesting never goes deeper than log2 of the range.
    while (first < last) {
        std::ptrdiff_t i = first;
        std::ptrdiff_t j = last;
        const Text pivot = list[MiddleIndex(first, last)];
        do {
            while (list[i] < pivot && i < last)
                ++i;
            while (pivot < list[j] && j > first)
                --j;
            if (i > j)
                break;
            std::swap(list[i], list[j]);
            ++i;
            --j;
        } while (i <= j);

        if (j - first < last - i) {
            if (first < j)
                SortPaths(list, first, j);
            first = i;
        } else {
            if (i < last)
                SortPaths(list, i, last);
            last = j;
        }
    }
}

void RemoveDuplicatePaths(PathArray& list)
{
    const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(list.size()) - 1;
    std::ptrdiff_t d = 1;
    std::ptrdiff_t j = 0;
    while (j <= n) {
        if (j + d > n)
            break;
        if (list[j].empty()) {
            ++j;
        } else if (list[j + d] == list[j]) {
            list[j + d].clear();
            ++d;
        } else {
            d = 1;
            ++j;
        }
    }
    std::size_t k = 0;
    for (std::size_t at = 0; at < list.size(); ++at) {
        if (list[at].empty())
            continue;
        if (at != k)
            list[k] = std::move(list[at]);
        ++k;
    }
    if (k == 0)
        throw PathListError("the list holds no path");
    list.resize(k);
}

Text ParentFolderOf(const Text& path)
{
    if (path.empty())
        throw PathListError("an empty path has no folder");
    const std::size_t slash = path.rfind(u'\\');
    return slash == Text::npos ? Text() : path.substr(0, slash + 1);
}

Text RelativeFolderOf(const Text& listedPath)
{
    const Text text = TrimSpaces(listedPath);
    if (text.empty())
        throw PathListError("the entry is empty");
    TextList parts;
    if (text.starts_with(u'/')) {
        // A POSIX path: its folders below "/". A backslash is an ordinary character there, but
        // separates folders in the store, so it is replaced.
        if (text.ends_with(u'/'))
            throw PathListError("the path names a folder, not a file");
        // "." and ".." name no folder of their own. ".." is the parent of where the kernel is
        // after the folder before it, a link's target's parent for a link: the folder is the real
        // one where it exists, and only read as text where it does not.
        const std::size_t lastSlash = text.rfind(u'/');
        const Text name = text.substr(lastSlash + 1);
        if (name == u"." || name == u"..")
            throw PathListError("the path names a folder, not a file");
        Text folderText = text.substr(0, lastSlash + 1);
        const TextList written = Split(folderText, u'/');
        if (std::find(written.begin(), written.end(), Text(u"..")) != written.end()) {
            std::error_code ec;
            const std::filesystem::path real = std::filesystem::canonical(FileSystemPath(folderText), ec);
            if (!ec)
                folderText = TextFromFileSystemPath(real) + u'/';
        }
        parts = CleanPathNames(folderText);
        for (Text& part : parts)
            std::replace(part.begin(), part.end(), u'\\', u'_');
    } else {
        Text folder;
        if (text.size() >= 2 && text[1] == u':') {
            // A drive path: the folder below the drive's root.
            const TextList pieces = Split(text, u':');
            const Text piece = TrimSpaces(pieces[1]);
            folder = ParentFolderOf(piece.size() > 1 ? piece.substr(1) : Text());
        } else if (text.starts_with(u"\\\\")) {
            // A network path: the server, the share and the folders below it.
            folder = ParentFolderOf(text.substr(2));
        } else {
            throw PathListError("the path is not a full path");
        }
        parts = Split(folder, u'\\', true);
    }
    if (parts.empty())
        return kRootFilesFolder;
    return Join(parts, u'\\');
}
