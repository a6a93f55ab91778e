// The acknowledged byte send and the status waits that every transaction is
// built on.
#pragma once

#include <cstdint>

namespace smc {

// Poll delays, in microseconds. The delay starts at SMC_MIN_WAIT and doubles
// after every poll while it stays below SMC_MAX_WAIT, which gives thirteen
// polls after 16, 32, ... 65536 us.
inline constexpr unsigned SMC_MIN_WAIT = 16;
inline constexpr unsigned SMC_MAX_WAIT = 0x20000;
// Pause before a byte the device refused is written again.
inline constexpr unsigned SMC_RETRY_WAIT = 256;

// Writes `byte` to `port` and polls the status until the device takes it,
// writing it again (after SMC_RETRY_WAIT) whenever the device shows neither
// busy nor accepted. Returns 0 when taken, -1 after printing one line.
int send_byte(std::uint8_t byte, std::uint16_t port);

// Sends the four bytes of a key name to the data port, byte 0 first, and
// stops at the first byte the device does not take. Prints nothing itself.
int send_argument(const char* key);

// Polls the status until it announces a data byte. Returns 0, or -1 after
// printing one line with the last status seen. Never writes to the device.
int wait_read();

} // namespace smc
