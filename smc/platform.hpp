// The only way the access layer and the tool reach the machine. Real
// hardware and the simulated controller each define these four functions;
// which one a program gets is decided when it is linked.
#pragma once

#include <cstdint>

namespace smc::platform {

// Asks for (turn_on != 0) or gives up access to `count` I/O ports starting
// at `from`. 0 means granted; otherwise errno holds the reason.
int ioperm(unsigned long from, unsigned long count, int turn_on);

// One byte from an I/O port.
std::uint8_t inb(std::uint16_t port);

// One byte to an I/O port.
void outb(std::uint8_t value, std::uint16_t port);

// Sleeps at least that many microseconds.
void usleep(unsigned int microseconds);

} // namespace smc::platform
