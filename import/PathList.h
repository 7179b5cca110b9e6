#pragma once

// The routines that turn listed file paths into the set of folders an import creates. Texts are
// compared ordinally, UTF-16 code unit by code unit and case-sensitively; the empty text sorts
// first.
#include "Text.h"

#include <stdexcept>
#include <vector>

using PathArray = std::vector<Text>;

class PathListError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Sorts the entries first..last (both included) in ascending order, in place: a quicksort with a
// middle pivot (half indices rounded to the even neighbour). A range of one entry or none is left
// as it is. Depth stays logarithmic whatever the order of the entries.
void SortPaths(PathArray& list, std::ptrdiff_t first, std::ptrdiff_t last);

// On a sorted list: keeps each distinct non-empty entry once, in order, and shrinks the list to
// them. A list with no non-empty entry is an error.
void RemoveDuplicatePaths(PathArray& list);

// The folder part of a backslash path, trailing backslash included ("a\b\c.ics" gives "a\b\",
// "c.ics" gives ""). An empty path is an error.
Text ParentFolderOf(const Text& path);

// The store folder path (components joined by "\") of the folder holding a listed file: the path
// below the root, without drive letter or server. Files directly in a root folder go into the
// folder "Calendar". Fails (PathListError) for a path that names no folder it can place.
Text RelativeFolderOf(const Text& listedPath);
