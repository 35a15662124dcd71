#pragma once

#include <cstddef>
#include <functional>
#include <sys/types.h>

// The system calls the camera makes on its device. Tests put a fake device
// behind them to check the V4L2 sequence and its failures.
struct DeviceIo {
    std::function<int(const char *path, int flags)> open;
    std::function<int(int fd, unsigned long request, void *arg)> ioctl;
    std::function<ssize_t(int fd, const void *data, size_t size)> write;
    std::function<int(int fd)> close;

    static DeviceIo System();
};
