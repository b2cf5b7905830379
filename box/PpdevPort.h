// Linux ppdev back-end: /dev/parport0..2 for LPT 1..3. The protocol's addresses P+0, P+1 and
// P+2 map to the data, status and control registers whatever the base address is.
#pragma once

#include "box/PortAccess.h"

#include <memory>
#include <string>

namespace box {

class PpdevPort : public PortAccess {
public:
    ~PpdevPort() override;
    void out(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t in(std::uint16_t port) override;
    void sleepMs(int ms) override;

    // Opens and claims the device; on failure returns null and a German message naming the
    // device and the system's reason.
    static std::unique_ptr<PpdevPort> open(const std::string& devicePath, std::string& error);

private:
    explicit PpdevPort(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// "/dev/parport0" for LPT 1 and so on; other values map like the base-address table (4 and
// anything unknown to the third port).
std::string ppdevPath(int parallelPort);

} // namespace box
