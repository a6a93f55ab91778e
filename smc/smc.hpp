// The SMC access layer: ports, status bits, command codes and the two
// transactions (read a key, write a key) that the tool runs against the
// controller. Plain functions over caller-owned byte buffers; nothing here
// allocates or keeps state between calls.
#pragma once

#include <cstdint>

#include "smc/handshake.hpp"

namespace smc {

// The two I/O ports the controller listens on. Key names, lengths and data
// go through the data port; the command byte that opens a transaction goes
// to the command port, and the status byte is always read back from it.
inline constexpr std::uint16_t SMC_DATA_PORT = 0x300;
inline constexpr std::uint16_t SMC_CMD_PORT = 0x304;

// The range handed to ioperm: 0x300 to 0x31f covers both ports.
inline constexpr unsigned long SMC_PORT_BASE = 0x300;
inline constexpr unsigned long SMC_PORT_COUNT = 32;

// Bits of the status byte; every other bit is ignored.
inline constexpr std::uint8_t SMC_STATUS_DATA_READY = 0x01; // a byte waits at the data port
inline constexpr std::uint8_t SMC_STATUS_BUSY = 0x02;       // still taking the byte just written
inline constexpr std::uint8_t SMC_STATUS_ACCEPTED = 0x04;   // the byte just written was taken

// Command codes: the first byte of every transaction.
inline constexpr std::uint8_t SMC_READ_CMD = 0x10;
inline constexpr std::uint8_t SMC_WRITE_CMD = 0x11;
inline constexpr std::uint8_t SMC_GET_KEY_TYPE_CMD = 0x13;

// What SMC_GET_KEY_TYPE_CMD returns, six bytes in this order.
struct key_info {
    std::uint8_t length;  // number of data bytes the key holds
    std::uint8_t type[4]; // type code, as the controller stores it
    std::uint8_t flags;
};
inline constexpr std::uint8_t SMC_KEY_INFO_SIZE = 6;
static_assert(sizeof(key_info) == SMC_KEY_INFO_SIZE, "key_info must match the wire layout");

// Decodes the six bytes of an information read.
key_info key_info_from_bytes(const std::uint8_t* raw);

// One read transaction: command byte, the four key bytes, the length byte,
// then `length` bytes collected from the device into buffer[0..length-1].
// `key` points to four bytes and need not be terminated. Returns 0, or -1
// after printing the failing stage on standard error.
int read_smc(std::uint8_t command, const char* key, std::uint8_t* buffer, std::uint8_t length);

// One write transaction: command byte, the four key bytes, the length byte,
// then data[0..length-1], each byte acknowledged. Nothing is read back.
// Returns 0, or -1 after printing the failing stage on standard error.
int write_smc(std::uint8_t command, const char* key, const std::uint8_t* data, std::uint8_t length);

} // namespace smc
