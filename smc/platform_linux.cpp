// The platform for real hardware: port access through ioperm and the
// processor's in and out instructions.
#include <sys/io.h>

#include "smc/platform.hpp"
#include "smc/timing.hpp"

namespace smc::platform {

int ioperm(unsigned long from, unsigned long count, int turn_on)
{
    const int result = ::ioperm(from, count, turn_on);
    if (result == 0) {
        // From here on the run is a sequence of short polls.
        timing::minimise_timer_slack();
    }
    return result;
}

std::uint8_t inb(std::uint16_t port)
{
    return ::inb(port);
}

void outb(std::uint8_t value, std::uint16_t port)
{
    ::outb(value, port);
}

void usleep(unsigned int microseconds)
{
    timing::sleep_us(microseconds);
}

} // namespace smc::platform
