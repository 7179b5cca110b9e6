#pragma once

// Where the store writer and the calendar reader meet the operating system. File names in our
// interfaces are std::string: the bytes the system uses on POSIX, UTF-8 on Windows, where a lone
// UTF-16 surrogate (which Windows allows in a name) is kept as its 3-byte sequence (WTF-8), so
// that every Windows file name comes back unchanged. Windows is always called through its wide
// (UTF-16) functions, never through the ANSI code page.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

#ifdef _WIN32
std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);

// The errno value of the same kind as a Windows error code (ERROR_ACCESS_DENIED: EACCES, ...),
// EIO when there is none.
int ErrnoFromWindows(unsigned long code);
// A Windows error code in the words strerror gives its kind ("No space left on device", ...),
// else the system's own text.
std::string WindowsErrorText(unsigned long code);
#endif

// What a path names, without following nothing more than the system itself follows.
struct FileStatus {
    bool regular = false;
    bool directory = false;
    std::uint64_t size = 0;
};
// False, with errno set, when the path cannot be examined (or does not exist).
bool StatusOf(const std::string& path, FileStatus& status);

// An existing file opened for reading only, not inherited by programs started later (binary
// on Windows); -1 with errno set on failure.
int OpenForReading(const std::string& path);
void CloseFile(int fd);
// `size` bytes at `offset`; false, with errno set (0 at the end of the file), when not all came.
bool ReadAt(int fd, void* data, std::size_t size, std::uint64_t offset);

// A new temporary file for reading and writing, binary, removed when closed; nullptr with errno
// set on failure.
std::FILE* TemporaryFile();

// The folder holding the running program, as a path in our form.
std::string ProgramFolder();

}  // namespace platform
