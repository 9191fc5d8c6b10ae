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
