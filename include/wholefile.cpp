#include "wholefile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

bool readWholeFile(const std::string& path, std::string* text)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::string content;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) != 0) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        content.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    if (n < 0)
        return false;
    *text = std::move(content);
    return true;
}

bool writeWholeFile(const std::string& path, const std::string& text)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    const char* p = text.data();
    size_t left = text.size();
    while (left > 0) {
        const ssize_t n = write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int why = n < 0 ? errno : ENOSPC;
            close(fd);
            errno = why;
            return false;
        }
        p += n;
        left -= static_cast<size_t>(n);
    }
    // A full disk or a network file system may tell only here; after EINTR
    // the descriptor is closed all the same.
    return close(fd) == 0 || errno == EINTR;
}
