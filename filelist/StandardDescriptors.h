#pragma once

// Standard input, output and error, each open before a program opens anything else: a program
// started with one closed would hand that number to the next file it opens, and then write its
// messages into that file (a store, for instance). Windows hands out handles, not the lowest free
// number, so there is nothing to do there.
#ifndef _WIN32
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

inline void OpenStandardDescriptors()
{
#ifndef _WIN32
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // The lowest free number is this one: the ones below it are open.
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened != fd && opened >= 0)
            ::close(opened);
    }
#endif
}
