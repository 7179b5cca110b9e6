#include "FileLayer.h"

#include "platform/Platform.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace pst {

namespace {

// The system's side: a file opened exclusively, positioned reads and writes at 64-bit offsets,
// a size, a flush to disk. Each returns false on failure, the reason in LastError().
#ifdef _WIN32
using Native = HANDLE;
const Native kClosed = INVALID_HANDLE_VALUE;

std::string LastError() { return platform::WindowsErrorText(GetLastError()); }

Native CreateNew(const std::string& path)
{
    // Never an existing file (CREATE_NEW). Others may read it meanwhile, and it may be renamed
    // while open: the finished store is moved to its name (MessageStore::Create).
    return CreateFileW(platform::WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// At most 1 GiB a call: the counts are 32-bit.
DWORD Chunk(std::size_t size) { return static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30)); }

long long WriteSome(Native file, const std::uint8_t* data, std::size_t size, std::uint64_t offset)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    return WriteFile(file, data, Chunk(size), &done, &at) ? static_cast<long long>(done) : -1;
}

long long ReadSome(Native file, std::uint8_t* data, std::size_t size, std::uint64_t offset)
{
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    if (!ReadFile(file, data, Chunk(size), &done, &at))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return static_cast<long long>(done);
}

bool SetSize(Native file, std::uint64_t size)
{
    LARGE_INTEGER to;
    to.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(file, to, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

bool FlushToDisk(Native file) { return FlushFileBuffers(file) != 0; }
bool CloseNative(Native file) { return CloseHandle(file) != 0; }
bool Interrupted() { return false; }
#else
using Native = int;
constexpr Native kClosed = -1;

std::string LastError() { return std::strerror(errno); }

Native CreateNew(const std::string& path) { return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644); }

long long WriteSome(Native fd, const std::uint8_t* data, std::size_t size, std::uint64_t offset)
{
    return ::pwrite(fd, data, size, static_cast<off_t>(offset));
}

long long ReadSome(Native fd, std::uint8_t* data, std::size_t size, std::uint64_t offset)
{
    return ::pread(fd, data, size, static_cast<off_t>(offset));
}

bool SetSize(Native fd, std::uint64_t size) { return ::ftruncate(fd, static_cast<off_t>(size)) == 0; }
// The data, and the file size when it changed; times and the like may wait.
bool FlushToDisk(Native fd) { return ::fdatasync(fd) == 0; }
bool CloseNative(Native fd) { return ::close(fd) == 0; }
bool Interrupted() { return errno == EINTR; }
#endif

// Writes that continue where the one before ended are gathered and handed to the system
// together: a store is written a block of a few hundred bytes at a time, mostly one after the
// other, and a call per block costs more than the copy. Whatever was written is in the file
// before any Resize, Sync or Close returns, in the order it was written, and reads see it.
class DiskFile : public FileLayer {
public:
    DiskFile(std::string path, Native fd)
        : m_path(std::move(path))
        , m_fd(fd)
    {
    }
    ~DiskFile() override
    {
        // Anything still gathered was written after the last Sync: no commit holds it.
        if (m_fd != kClosed)
            CloseNative(m_fd);
    }

    void Write(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override
    {
        if (!m_pending.empty() && offset == m_pendingAt + m_pending.size() && m_pending.size() + size <= kGather) {
            m_pending.insert(m_pending.end(), data, data + size);
            return;
        }
        Flush();
        if (size >= kGather) {
            WriteNow(offset, data, size);
            return;
        }
        if (m_pending.capacity() < kGather)
            m_pending.reserve(kGather);
        m_pendingAt = offset;
        m_pending.assign(data, data + size);
    }

    void Read(std::uint64_t offset, std::uint8_t* data, std::size_t size) override
    {
        // The part of the range that is still gathered comes from there, the rest from the file.
        const std::uint64_t end = offset + size;
        const std::uint64_t pendingEnd = m_pendingAt + m_pending.size();
        if (m_pending.empty() || end <= m_pendingAt || offset >= pendingEnd) {
            ReadNow(offset, data, size);
            return;
        }
        const std::uint64_t from = std::max(offset, m_pendingAt);
        const std::uint64_t to = std::min(end, pendingEnd);
        if (offset < from)
            ReadNow(offset, data, static_cast<std::size_t>(from - offset));
        std::memcpy(data + (from - offset), m_pending.data() + (from - m_pendingAt), static_cast<std::size_t>(to - from));
        if (to < end)
            ReadNow(to, data + (to - offset), static_cast<std::size_t>(end - to));
    }

    void Resize(std::uint64_t size) override
    {
        Flush();
        if (!SetSize(m_fd, size))
            fail("could not extend");
    }

    void Sync() override
    {
        Flush();
        if (!FlushToDisk(m_fd))
            fail("could not flush");
    }

    void Close() override
    {
        if (m_fd != kClosed) {
            try {
                Flush();
            } catch (...) {
                CloseNative(m_fd);
                m_fd = kClosed;
                throw;
            }
            if (!CloseNative(m_fd)) {
                m_fd = kClosed;
                fail("could not close");
            }
        }
        m_fd = kClosed;
    }

private:
    static constexpr std::size_t kGather = 512 * 1024;

    void Flush()
    {
        if (m_pending.empty())
            return;
        // Dropped first: after a failure nothing of it is written again (the database writes
        // nothing more after a failed write anyway).
        Bytes pending;
        pending.swap(m_pending);
        WriteNow(m_pendingAt, pending.data(), pending.size());
        pending.clear();
        m_pending.swap(pending);  // the buffer is kept for the next writes
    }

    void WriteNow(std::uint64_t offset, const std::uint8_t* data, std::size_t size)
    {
        while (size > 0) {
            const long long n = WriteSome(m_fd, data, size, offset);
            if (n < 0 && Interrupted())
                continue;
            if (n <= 0)
                fail("could not write to");
            data += n;
            size -= static_cast<std::size_t>(n);
            offset += static_cast<std::uint64_t>(n);
        }
    }

    void ReadNow(std::uint64_t offset, std::uint8_t* data, std::size_t size)
    {
        while (size > 0) {
            const long long n = ReadSome(m_fd, data, size, offset);
            if (n < 0 && Interrupted())
                continue;
            if (n <= 0)
                fail("could not read from");
            data += n;
            size -= static_cast<std::size_t>(n);
            offset += static_cast<std::uint64_t>(n);
        }
    }

    [[noreturn]] void fail(const char* what)
    {
        throw StoreError(std::string(what) + " " + m_path + ": " + LastError());
    }

    std::string m_path;
    Native m_fd;
    Bytes m_pending;  // written at m_pendingAt, not yet handed to the system
    std::uint64_t m_pendingAt = 0;
};

}  // namespace

std::unique_ptr<FileLayer> CreateDiskFile(const std::string& path, const std::string& nameInMessages)
{
    const Native fd = CreateNew(path);
    // Messages name the file the user asked for, not its temporary name.
    const std::string& name = nameInMessages.empty() ? path : nameInMessages;
    if (fd == kClosed)
        throw StoreError("could not create " + name + ": " + LastError());
    return std::make_unique<DiskFile>(name, fd);
}

}  // namespace pst
