#include "FileLayer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pst {

namespace {

// Writes that continue where the one before ended are gathered and handed to the system
// together: a store is written a block of a few hundred bytes at a time, mostly one after the
// other, and a call per block costs more than the copy. Whatever was written is in the file
// before any Resize, Sync or Close returns, in the order it was written, and reads see it.
class DiskFile : public FileLayer {
public:
    DiskFile(std::string path, int fd)
        : m_path(std::move(path))
        , m_fd(fd)
    {
    }
    ~DiskFile() override
    {
        // Anything still gathered was written after the last Sync: no commit holds it.
        if (m_fd >= 0)
            ::close(m_fd);
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
        if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0)
            fail("could not extend");
    }

    void Sync() override
    {
        Flush();
        // The data, and the file size when it changed; times and the like may wait.
        if (::fdatasync(m_fd) != 0)
            fail("could not flush");
    }

    void Close() override
    {
        if (m_fd >= 0) {
            try {
                Flush();
            } catch (...) {
                ::close(m_fd);
                m_fd = -1;
                throw;
            }
            if (::close(m_fd) != 0) {
                m_fd = -1;
                fail("could not close");
            }
        }
        m_fd = -1;
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
            const ssize_t n = ::pwrite(m_fd, data, size, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR)
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
            const ssize_t n = ::pread(m_fd, data, size, static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR)
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
        throw StoreError(std::string(what) + " " + m_path + ": " + std::strerror(errno));
    }

    std::string m_path;
    int m_fd;
    Bytes m_pending;  // written at m_pendingAt, not yet handed to the system
    std::uint64_t m_pendingAt = 0;
};

}  // namespace

std::unique_ptr<FileLayer> CreateDiskFile(const std::string& path, const std::string& nameInMessages)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    // Messages name the file the user asked for, not its temporary name.
    const std::string& name = nameInMessages.empty() ? path : nameInMessages;
    if (fd < 0)
        throw StoreError("could not create " + name + ": " + std::strerror(errno));
    return std::make_unique<DiskFile>(name, fd);
}

}  // namespace pst
