// Every way the controller can misbehave, aimed at every byte of a run that
// reads DEMO and writes two bytes to it: the exact output, the result, and a
// trace that keeps the protocol and stops dead at the failure.
#include <gtest/gtest.h>

#include <cstdio>

#include "sim/audit.hpp"
#include "support.hpp"
#include "tool/smckey.hpp"

namespace {

struct fault_case {
    const char* name;
    sim::fault_kind kind;
    unsigned count;
    std::uint8_t status;
    bool written_fails;  // fails when aimed at a byte the tool writes
    bool supplied_fails; // fails when aimed at a byte the device hands over
    std::uint8_t seen;   // the last status the failure line shows
};

const fault_case kinds[] = {
    {"never accepted", sim::fault_kind::refuse, 0, 0, true, true, 0x00},
    {"busy forever", sim::fault_kind::busy, 0, 0, true, true, 0x02},
    {"0xff forever", sim::fault_kind::status, 0, 0xff, true, false, 0xff},
    {"refused 12 times", sim::fault_kind::refuse_n, 12, 0, false, false, 0x00},
    {"refused 13 times", sim::fault_kind::refuse_n, 13, 0, true, true, 0x00},
    {"never announced", sim::fault_kind::silent, 0, 0, true, true, 0x00},
};

struct transaction {
    std::vector<std::uint8_t> written; // command, key, length, and a write's data
    unsigned supplied;                 // bytes the device hands over
    const char* verb;
    const char* block;
    int result;
};

const std::string type_line = "  type=\"ab\\x00 \" length=2 flags=90\n";
const std::string all_lines = type_line + "  data=\"\\x01A\"\ntarget value: 0102\n";

const transaction run_transactions[] = {
    {{0x13, 'D', 'E', 'M', 'O', 6}, 6, "read", "\nread_smc get_key_type error\n\n", smckey::RUN_INFO_FAIL},
    {{0x10, 'D', 'E', 'M', 'O', 2}, 2, "read", "\nread_smc get_key_data error\n\n", smckey::RUN_DATA_FAIL},
    {{0x11, 'D', 'E', 'M', 'O', 2, 1, 2}, 0, "write", "\nwrite_smc get_key_data error\n\n", smckey::RUN_WRITE_FAIL},
};

std::string failure_chain(const transaction& t, unsigned position, std::uint8_t seen)
{
    char text[128];
    if (position >= t.written.size()) {
        std::snprintf(text, sizeof text, "wait_read() fail: 0x%02x\nDEMO: read data[%u] fail\n", seen,
                      position - sim::POS_DATA);
        return text + std::string(t.block);
    }
    const char* stage = position < sim::POS_LENGTH ? "arg" : position == sim::POS_LENGTH ? "len" : "data";
    std::snprintf(text, sizeof text, "send_byte(0x%02x, 0x%04x) fail: 0x%02x\nDEMO: %s %s fail\n", t.written[position],
                  position == 0 ? 0x304U : 0x300U, seen, t.verb, stage);
    return text + std::string(t.block);
}

TEST(FaultMatrix, EveryFaultAtEveryByteOfAReadAndTwoByteWrite)
{
    int cases = 0;
    for (unsigned tx = 0; tx < 3; ++tx) {
        const transaction& t = run_transactions[tx];
        const unsigned positions = static_cast<unsigned>(t.written.size()) + t.supplied;
        for (unsigned position = 0; position < positions; ++position) {
            for (const fault_case& k : kinds) {
                SCOPED_TRACE(std::string(k.name) + " at transaction " + std::to_string(tx) + " byte " +
                             std::to_string(position));
                ++cases;
                sim::config cfg = test::default_device();
                cfg.faults = {{tx, position, k.kind, k.count, k.status}};
                const test::outcome r = test::run_command({"smckey", "DEMO", "1", "2"}, cfg);
                const sim::audit_report report = sim::audit(sim::trace());
                EXPECT_EQ(report.problem, "");

                const bool fails = position < t.written.size() ? k.written_fails : k.supplied_fails;
                EXPECT_EQ(report.ran_out, fails);
                if (!fails) {
                    EXPECT_EQ(r.status, smckey::RUN_OK);
                    EXPECT_EQ(r.out, all_lines);
                    EXPECT_EQ(r.err, "");
                    EXPECT_EQ(report.transactions.size(), 3U);
                    EXPECT_EQ(sim::find_key("DEMO")->data, (std::vector<std::uint8_t>{1, 2}));
                    continue;
                }
                EXPECT_EQ(r.status, t.result);
                EXPECT_EQ(r.out, tx == 0 ? "" : tx == 1 ? type_line : all_lines);
                EXPECT_EQ(r.err, failure_chain(t, position, k.seen));
                // The failing transaction is the last one that began.
                EXPECT_EQ(report.transactions.size(), position == 0 ? tx : tx + 1);
            }
        }
    }
    EXPECT_EQ(cases, 6 * (12 + 8 + 8));
}

} // namespace
