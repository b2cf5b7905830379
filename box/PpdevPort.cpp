#include "box/PpdevPort.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#if defined(__linux__)
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace box {

std::string ppdevPath(int parallelPort)
{
    int n = 2;
    if (parallelPort == 1)
        n = 0;
    else if (parallelPort == 2)
        n = 1;
    return "/dev/parport" + std::to_string(n);
}

void PpdevPort::sleepMs(int ms)
{
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

#if defined(__linux__)

PpdevPort::~PpdevPort()
{
    if (fd_ >= 0) {
        ioctl(fd_, PPRELEASE);
        ::close(fd_);
    }
}

std::unique_ptr<PpdevPort> PpdevPort::open(const std::string& devicePath, std::string& error)
{
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        error = "Parallelport " + devicePath + " kann nicht geöffnet werden: " +
                std::strerror(errno);
        return nullptr;
    }
    if (ioctl(fd, PPCLAIM) != 0) {
        error = "Parallelport " + devicePath + " kann nicht belegt werden: " +
                std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    error.clear();
    return std::unique_ptr<PpdevPort>(new PpdevPort(fd));
}

// Base addresses are multiples of four, so the low two bits select the register.
void PpdevPort::out(std::uint16_t port, std::uint8_t value)
{
    unsigned char v = value;
    if ((port & 3) == 0)
        ioctl(fd_, PPWDATA, &v);
    else if ((port & 3) == 2)
        ioctl(fd_, PPWCONTROL, &v);
}

std::uint8_t PpdevPort::in(std::uint16_t port)
{
    unsigned char v = 0xFF;
    if ((port & 3) == 1)
        ioctl(fd_, PPRSTATUS, &v);
    else if ((port & 3) == 0)
        ioctl(fd_, PPRDATA, &v);
    else if ((port & 3) == 2)
        ioctl(fd_, PPRCONTROL, &v);
    return v;
}

#else

PpdevPort::~PpdevPort() = default;

std::unique_ptr<PpdevPort> PpdevPort::open(const std::string& devicePath, std::string& error)
{
    error = "Parallelport " + devicePath + ": ppdev gibt es nur unter Linux";
    return nullptr;
}

void PpdevPort::out(std::uint16_t, std::uint8_t) {}
std::uint8_t PpdevPort::in(std::uint16_t) { return 0xFF; }

#endif

} // namespace box
