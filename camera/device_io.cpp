#include "device_io.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

DeviceIo DeviceIo::System()
{
    return {[](const char *path, int flags) { return ::open(path, flags); },
            [](int fd, unsigned long request, void *arg) { return ::ioctl(fd, request, arg); },
            [](int fd, const void *data, size_t size) { return ::write(fd, data, size); },
            [](int fd) { return ::close(fd); }};
}
