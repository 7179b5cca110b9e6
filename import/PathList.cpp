#include "PathList.h"

#include "filelist/NativePath.h"

#include <QDir>
#include <QStringList>

#include <filesystem>
#include <utility>

namespace {

// Where files lying directly in a root folder go: a root has no name of its own to mirror.
const QString kRootFilesFolder = QStringLiteral("Calendar");

}  // namespace

QString TrimSpaces(const QString& text)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && text[from] == QLatin1Char(' '))
        ++from;
    while (to > from && text[to - 1] == QLatin1Char(' '))
        --to;
    return text.mid(from, to - from);
}

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
        const QString pivot = list[MiddleIndex(first, last)];
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
        if (list[j].isEmpty()) {
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
        if (list[at].isEmpty())
            continue;
        if (at != k)
            list[k] = std::move(list[at]);
        ++k;
    }
    if (k == 0)
        throw PathListError("the list holds no path");
    list.resize(k);
}

QString ParentFolderOf(const QString& path)
{
    if (path.isEmpty())
        throw PathListError("an empty path has no folder");
    const qsizetype slash = path.lastIndexOf(QLatin1Char('\\'));
    return slash < 0 ? QString() : path.left(slash + 1);
}

QString RelativeFolderOf(const QString& listedPath)
{
    const QString text = TrimSpaces(listedPath);
    if (text.isEmpty())
        throw PathListError("the entry is empty");
    QStringList parts;
    if (text.startsWith(QLatin1Char('/'))) {
        // A POSIX path: its folders below "/". A backslash is an ordinary character there, but
        // separates folders in the store, so it is replaced.
        if (text.endsWith(QLatin1Char('/')))
            throw PathListError("the path names a folder, not a file");
        // "." and ".." name no folder of their own. ".." is the parent of where the kernel is
        // after the folder before it, a link's target's parent for a link: the folder is the real
        // one where it exists, and only read as text where it does not.
        const QString name = text.mid(text.lastIndexOf(QLatin1Char('/')) + 1);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            throw PathListError("the path names a folder, not a file");
        QString folderText = text.left(text.lastIndexOf(QLatin1Char('/')) + 1);
        if (folderText.split(QLatin1Char('/')).contains(QStringLiteral(".."))) {
            std::error_code ec;
            const std::filesystem::path real = std::filesystem::canonical(NativePathFromText(folderText), ec);
            if (!ec)
                folderText = TextFromNativePath(real.string()) + QLatin1Char('/');
        }
        parts = QDir::cleanPath(folderText + QStringLiteral("x")).split(QLatin1Char('/'), Qt::SkipEmptyParts);
        if (parts.isEmpty())
            throw PathListError("the path names a folder, not a file");
        parts.removeLast();
        for (QString& part : parts)
            part.replace(QLatin1Char('\\'), QLatin1Char('_'));
    } else {
        QString folder;
        if (text.size() >= 2 && text[1] == QLatin1Char(':')) {
            // A drive path: the folder below the drive's root.
            const QString piece = TrimSpaces(text.split(QLatin1Char(':')).value(1));
            folder = ParentFolderOf(piece.mid(1));
        } else if (text.startsWith(QLatin1String("\\\\"))) {
            // A network path: the server, the share and the folders below it.
            folder = ParentFolderOf(text.mid(2));
        } else {
            throw PathListError("the path is not a full path");
        }
        parts = folder.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    }
    if (parts.isEmpty())
        return kRootFilesFolder;
    return parts.join(QLatin1Char('\\'));
}
