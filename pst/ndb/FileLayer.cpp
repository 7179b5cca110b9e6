#include "FileLayer.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pst {

namespace {

class DiskFile : public FileLayer {
public:
    DiskFile(std::string path, int fd)
        : m_path(std::move(path))
        , m_fd(fd)
    {
    }
    ~DiskFile() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    void Write(std::uint64_t offset, const std::uint8_t* data, std::size_t size) override
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

    void Read(std::uint64_t offset, std::uint8_t* data, std::size_t size) override
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

    void Resize(std::uint64_t size) override
    {
        if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0)
            fail("could not extend");
    }

    void Sync() override
    {
        // The data, and the file size when it changed; times and the like may wait.
        if (::fdatasync(m_fd) != 0)
            fail("could not flush");
    }

    void Close() override
    {
        if (m_fd >= 0 && ::close(m_fd) != 0) {
            m_fd = -1;
            fail("could not close");
        }
        m_fd = -1;
    }

private:
    [[noreturn]] void fail(const char* what)
    {
        throw StoreError(std::string(what) + " " + m_path + ": " + std::strerror(errno));
    }

    std::string m_path;
    int m_fd;
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
