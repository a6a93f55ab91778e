// An independent check of a recorded run: replays the trace against the
// port protocol as the controller expects it and reports the first thing
// that breaks it. Used by the fault matrix and the fuzzer.
//
// It checks that each byte written is polled on the schedule (16 us doubling
// to 65536 us, at most thirteen polls), that busy is never answered with a
// second write, that a refused byte is written again to the same port after
// 256 us but never after the last poll, that data is only read after the
// status announced it, that every transaction is framed as command, four key
// bytes, length and data, that port access is asked for once before any
// port is touched, and that nothing at all happens after a send or a wait
// that ran out of polls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/device.hpp"

namespace sim {

struct audited_transaction {
    std::uint8_t command = 0;
    std::vector<std::uint8_t> key;  // the key bytes taken, up to four
    int length = -1;                // the length byte once taken
    std::vector<std::uint8_t> data; // data bytes written and taken, or handed over
    bool complete = false;
};

struct audit_report {
    std::string problem; // empty when the trace keeps the protocol
    int ioperm_calls = 0;
    bool ran_out = false; // a send or a wait ran out of polls
    std::vector<audited_transaction> transactions;
};

audit_report audit(const std::vector<event>& events);

} // namespace sim
