// The read transaction against the simulated controller: framing, the data
// phase, and where each failure stops the traffic.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "smc/smc.hpp"
#include "support.hpp"

namespace {

using smc::SMC_DATA_PORT;

constexpr std::uint8_t UNTOUCHED = 0xa5;

struct read_outcome {
    test::outcome run;
    std::array<std::uint8_t, 8> buffer;
};

read_outcome read(std::uint8_t command, const char* key, std::uint8_t length, std::vector<sim::fault> faults = {})
{
    sim::config cfg = test::default_device();
    cfg.faults = std::move(faults);
    sim::reset(cfg);
    read_outcome r;
    r.buffer.fill(UNTOUCHED);
    r.run = test::capture([&] { return smc::read_smc(command, key, r.buffer.data(), length); });
    return r;
}

TEST(ReadSmc, InformationReadFillsExactlySixBytes)
{
    const read_outcome r = read(smc::SMC_GET_KEY_TYPE_CMD, "DEMO", 6);
    EXPECT_EQ(r.run.status, 0);
    EXPECT_EQ(r.run.err, "");
    const std::array<std::uint8_t, 8> expected = {2, 'a', 'b', 0x00, ' ', 0x90, UNTOUCHED, UNTOUCHED};
    EXPECT_EQ(r.buffer, expected);
    test::traffic t;
    t.opening(0x13, "DEMO", 6);
    t.handed({2, 'a', 'b', 0x00, ' ', 0x90});
    EXPECT_EQ(test::recorded(), t.text());

    const smc::key_info info = smc::key_info_from_bytes(r.buffer.data());
    EXPECT_EQ(info.length, 2);
    EXPECT_EQ(std::memcmp(info.type, "ab\0 ", 4), 0);
    EXPECT_EQ(info.flags, 0x90);
}

TEST(ReadSmc, LengthZeroSendsTheLengthByteAndPollsNoMore)
{
    const read_outcome r = read(smc::SMC_READ_CMD, "NONE", 0);
    EXPECT_EQ(r.run.status, 0);
    EXPECT_EQ(r.run.err, "");
    EXPECT_EQ(r.buffer[0], UNTOUCHED);
    EXPECT_EQ(test::recorded(), test::traffic().opening(0x10, "NONE", 0).text());
}

TEST(ReadSmc, MissingThirdByteNamesIndexTwoAndKeepsTheFirstTwo)
{
    // Position 6 + 2: the third byte the device should hand over.
    const read_outcome r = read(smc::SMC_GET_KEY_TYPE_CMD, "DEMO", 6, {{0, 8, sim::fault_kind::silent}});
    EXPECT_EQ(r.run.status, -1);
    EXPECT_EQ(r.run.err, "wait_read() fail: 0x00\nDEMO: read data[2] fail\n");
    EXPECT_EQ(r.buffer[0], 2);
    EXPECT_EQ(r.buffer[1], 'a');
    EXPECT_EQ(r.buffer[2], UNTOUCHED);
    test::traffic t;
    t.opening(0x13, "DEMO", 6).handed(2).handed('a');
    for (unsigned long delay = 16; delay <= 65536; delay *= 2) {
        t.poll(delay, 0x00);
    }
    EXPECT_EQ(test::recorded(), t.text());
}

TEST(ReadSmc, RefusedCommandByteSendsNoKeyByte)
{
    const read_outcome r = read(smc::SMC_GET_KEY_TYPE_CMD, "DEMO", 6, {{0, 0, sim::fault_kind::refuse}});
    EXPECT_EQ(r.run.status, -1);
    EXPECT_EQ(r.run.err, "send_byte(0x13, 0x0304) fail: 0x00\nDEMO: read arg fail\n");
    for (const sim::event& e : sim::trace()) {
        EXPECT_FALSE(e.kind == sim::event_kind::out && e.port == SMC_DATA_PORT);
    }
}

TEST(ReadSmc, RefusedKeyByteIsAnArgFailureAndTheRestIsNotSent)
{
    const read_outcome r = read(smc::SMC_READ_CMD, "DEMO", 2, {{0, 3, sim::fault_kind::busy}});
    EXPECT_EQ(r.run.status, -1);
    EXPECT_EQ(r.run.err, "send_byte(0x4d, 0x0300) fail: 0x02\nDEMO: read arg fail\n");
    EXPECT_EQ(test::port_writes(), 4);
}

TEST(ReadSmc, UnknownKeyIsRefusedAtTheLengthByte)
{
    const read_outcome r = read(smc::SMC_GET_KEY_TYPE_CMD, "NOPE", 6);
    EXPECT_EQ(r.run.status, -1);
    EXPECT_EQ(r.run.err, "send_byte(0x06, 0x0300) fail: 0x00\nNOPE: read len fail\n");
    EXPECT_EQ(r.buffer[0], UNTOUCHED);
}

TEST(ReadSmc, KeyNameIsPrintedAsAtMostFourCharacters)
{
    // Only four bytes belong to the key; what follows in memory must not show.
    const char memory[8] = {'D', 'E', 'M', 'O', 'T', 'A', 'I', 'L'};
    const read_outcome r = read(smc::SMC_GET_KEY_TYPE_CMD, memory, 6, {{0, 5, sim::fault_kind::refuse}});
    EXPECT_EQ(r.run.err, "send_byte(0x06, 0x0300) fail: 0x00\nDEMO: read len fail\n");
}

} // namespace
