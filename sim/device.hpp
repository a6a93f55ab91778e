// A simulated SMC behind the two ports: a protocol state machine with keys
// that can be read and written, a record of every port access and sleep,
// a virtual or real clock, and faults that can be aimed at any byte of any
// transaction. It stands in for the controller in tests, in the fuzzer and
// in smckey-sim.
//
// How the simulated controller behaves:
// - A byte written to the command port opens a transaction (unless the
//   previous command byte was refused and this is it again). The device
//   then expects four key bytes and one length byte on the data port.
// - After each byte written it shows busy (0x02) for `busy_polls` polls,
//   then accepted (0x04). A refused byte shows 0x00 (neither bit) and may be
//   written again; the device then expects the same byte position again.
// - For a read or an information read it then supplies the bytes: each is
//   announced with 0x01 on the command port (after `ready_polls` polls of
//   0x00) and handed over by the next read of the data port.
// - For a write it takes the data bytes and stores each in the key as soon
//   as it is taken.
// - An unknown command byte is refused (0x00 on every poll). A key it does
//   not have, or a length that does not fit (not 6 for an information read,
//   not the key's length for a data read, more than the key's length for a
//   write), makes it refuse the length byte. A byte written to the data port
//   while no transaction expects one is refused too.
// - Reading the data port while no byte is announced returns 0x00 and
//   changes nothing.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct key {
    char name[4];
    std::uint8_t type[4];
    std::uint8_t flags;
    std::vector<std::uint8_t> data; // the key's length is data.size(), at most 255
};

// Byte positions within a transaction: 0 the command byte, 1 to 4 the key
// name, 5 the length byte, 6 + i data byte i (written by the tool for a
// write, supplied by the device for a read). Transactions are counted from 0
// in the order their command bytes arrive.
inline constexpr unsigned POS_COMMAND = 0;
inline constexpr unsigned POS_LENGTH = 5;
inline constexpr unsigned POS_DATA = 6;

enum class fault_kind : std::uint8_t {
    refuse,   // never taken, never announced: 0x00 on every poll
    refuse_n, // a written byte refused on its first `count` writes, then taken;
              // a supplied byte shows 0x00 for `count` polls, then is announced
    busy,     // 0x02 on every poll
    busy_n,   // 0x02 for `count` polls, then taken or announced
    status,   // `status` on every poll; taken if it shows accepted and not
              // busy, announced if it shows data ready
    silent,   // a supplied byte never announced (0x00 on every poll); on a
              // written byte the same as refuse
};

struct fault {
    unsigned transaction;
    unsigned position;
    fault_kind kind;
    unsigned count = 0;
    std::uint8_t status = 0;
};

enum class clock_kind : std::uint8_t { virtual_clock, real_clock };

struct config {
    std::vector<key> keys;
    std::vector<fault> faults;
    unsigned busy_polls = 0;  // polls a written byte shows busy before it is taken
    unsigned ready_polls = 0; // polls before each supplied byte is announced
    int ioperm_errno = 0;     // nonzero: ioperm fails with this errno
    clock_kind clock = clock_kind::virtual_clock;

    // Scripted mode leaves the state machine aside: every status poll takes
    // the next byte of script_status and every data-port read the next byte
    // of script_data (0x00 once a script runs out). For the fuzzer.
    bool scripted = false;
    std::vector<std::uint8_t> script_status;
    std::vector<std::uint8_t> script_data;
};

enum class event_kind : std::uint8_t { ioperm, out, in, sleep };

struct event {
    event_kind kind;
    std::uint16_t port = 0;   // out, in; ioperm: first port
    std::uint8_t value = 0;   // out: byte written; in: byte read; ioperm: turn_on
    unsigned long amount = 0; // sleep: microseconds; ioperm: port count

    bool operator==(const event&) const = default;
};

// Starts the device anew with this configuration and an empty record.
void reset(const config& cfg);

// Every ioperm call, port write, port read and sleep since the last reset.
const std::vector<event>& trace();

// Microseconds slept since the last reset (whatever the clock).
unsigned long long slept_us();

// The device's key with this name, as it is now (writes show here).
const key* find_key(const char* name);

// One line per event, e.g. "out 0x13 0x0304", "in 0x0304 0x04", "sleep 16",
// "ioperm 0x0300 32 1".
std::string format_trace(const std::vector<event>& events);

} // namespace sim
