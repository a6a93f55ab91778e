// Writing to a key: the write transaction's traffic and failures, and the
// command's value checking, target line and exit status.
#include <gtest/gtest.h>

#include <cstring>

#include "smc/smc.hpp"
#include "support.hpp"
#include "tool/smckey.hpp"

namespace {

using smc::SMC_CMD_PORT;
using smc::SMC_DATA_PORT;

sim::config device_with(std::vector<sim::fault> faults)
{
    sim::config cfg = test::default_device();
    cfg.faults = std::move(faults);
    return cfg;
}

test::outcome write(const char* key, std::vector<std::uint8_t> data, std::vector<sim::fault> faults = {})
{
    sim::reset(device_with(std::move(faults)));
    return test::capture(
        [&] { return smc::write_smc(smc::SMC_WRITE_CMD, key, data.data(), static_cast<std::uint8_t>(data.size())); });
}

std::vector<std::uint8_t> key_data(const char* name)
{
    return sim::find_key(name)->data;
}

TEST(WriteSmc, OneByteIsSevenAcknowledgedBytes)
{
    const test::outcome r = write("FANX", {0x07});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(test::recorded(), test::traffic()
                                    .sent(0x11, SMC_CMD_PORT)
                                    .sent('F', SMC_DATA_PORT)
                                    .sent('A', SMC_DATA_PORT)
                                    .sent('N', SMC_DATA_PORT)
                                    .sent('X', SMC_DATA_PORT)
                                    .sent(0x01, SMC_DATA_PORT)
                                    .sent(0x07, SMC_DATA_PORT)
                                    .text());
    EXPECT_EQ(key_data("FANX"), std::vector<std::uint8_t>{0x07});
}

TEST(WriteSmc, TwoBytesGoFirstByteFirst)
{
    const test::outcome r = write("DEMO", {0xab, 0xcd});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(test::recorded(),
              test::traffic().opening(0x11, "DEMO", 2).sent(0xab, SMC_DATA_PORT).sent(0xcd, SMC_DATA_PORT).text());
    EXPECT_EQ(key_data("DEMO"), (std::vector<std::uint8_t>{0xab, 0xcd}));
}

TEST(WriteSmc, LengthZeroEndsAfterTheLengthByte)
{
    EXPECT_EQ(write("WIDE", {}).status, 0);
    EXPECT_EQ(test::recorded(), test::traffic().opening(0x11, "WIDE", 0).text());
}

struct write_failure {
    const char* name;
    unsigned position;
    const char* err;
    int writes; // port writes in all, none after the failing byte
};

TEST(WriteSmc, EachFailingStageNamesItselfAndSendsNothingMore)
{
    const write_failure cases[] = {
        {"command byte", 0, "send_byte(0x11, 0x0304) fail: 0x02\nDEMO: write arg fail\n", 1},
        {"third key byte", 3, "send_byte(0x4d, 0x0300) fail: 0x02\nDEMO: write arg fail\n", 4},
        {"length byte", 5, "send_byte(0x02, 0x0300) fail: 0x02\nDEMO: write len fail\n", 6},
        {"second data byte", 7, "send_byte(0x22, 0x0300) fail: 0x02\nDEMO: write data fail\n", 8},
    };
    for (const write_failure& c : cases) {
        SCOPED_TRACE(c.name);
        const test::outcome r = write("DEMO", {0x11, 0x22}, {{0, c.position, sim::fault_kind::busy}});
        EXPECT_EQ(r.status, -1);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(test::port_writes(), c.writes);
    }
    // The first data byte was taken before the second failed, and stays.
    EXPECT_EQ(key_data("DEMO"), (std::vector<std::uint8_t>{0x11, 0x41}));
}

TEST(WriteSmc, UnterminatedKeyIsPrintedAsFourCharacters)
{
    const char memory[8] = {'D', 'E', 'M', 'O', '!', '!', '!', '!'};
    const test::outcome r = write(memory, {0x01}, {{0, 6, sim::fault_kind::refuse}});
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.err, "send_byte(0x01, 0x0300) fail: 0x00\nDEMO: write data fail\n");
}

const std::string demo_lines = "  type=\"ab\\x00 \" length=2 flags=90\n  data=\"\\x01A\"\n";

TEST(WriteOption, TargetLineShowsTheBytesWritten)
{
    struct accepted {
        std::vector<std::string> values;
        std::string target;
        std::vector<std::uint8_t> stored;
    };
    const accepted cases[] = {
        {{"255"}, "ff", {0xff, 0x41}},      {{"-1"}, "ff", {0xff, 0x41}},   {{"-128"}, "80", {0x80, 0x41}},
        {{"+7"}, "07", {0x07, 0x41}},       {{"  12"}, "0c", {0x0c, 0x41}}, {{"0"}, "00", {0x00, 0x41}},
        {{"1", "2"}, "0102", {0x01, 0x02}},
    };
    for (const accepted& c : cases) {
        SCOPED_TRACE(c.values.front());
        std::vector<std::string> args = {"smckey", "DEMO"};
        args.insert(args.end(), c.values.begin(), c.values.end());
        const test::outcome r = test::run_command(args, test::default_device());
        EXPECT_EQ(r.status, smckey::RUN_OK);
        EXPECT_EQ(r.out, demo_lines + "target value: " + c.target + "\n");
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(key_data("DEMO"), c.stored);
    }
}

TEST(WriteOption, OneValueWritesOneByteWhateverTheKeyLength)
{
    const test::outcome r = test::run_command({"smckey", "WIDE", "9"}, test::default_device());
    EXPECT_EQ(r.status, smckey::RUN_OK);
    EXPECT_EQ(r.out, "  type=\"uw32\" length=4 flags=90\n  data=\"\\x00\\x01\\x02\\x03\"\ntarget value: 09\n");
    EXPECT_EQ(key_data("WIDE"), (std::vector<std::uint8_t>{0x09, 0x01, 0x02, 0x03}));
    // The write transaction, the third one, carries length 1 and one byte.
    const std::string trace = test::recorded();
    const std::string write_part = test::traffic().opening(0x11, "WIDE", 1).sent(0x09, SMC_DATA_PORT).text();
    EXPECT_EQ(trace.substr(trace.size() - write_part.size()), write_part);
}

TEST(WriteOption, BadValuesAreRefusedBeforeAnyPortAccess)
{
    const std::vector<std::string> bad = {"0x20",
                                          "12abc",
                                          "",
                                          "abc",
                                          "7 ",
                                          "256",
                                          "300",
                                          "-129",
                                          "-",
                                          "+",
                                          " ",
                                          "1.5",
                                          "99999999999999999999999",
                                          "-99999999999999999999999"};
    for (const std::string& value : bad) {
        for (const bool first : {true, false}) {
            SCOPED_TRACE("\"" + value + (first ? "\" first" : "\" second"));
            const std::vector<std::string> args = first ? std::vector<std::string>{"smckey", "DEMO", value}
                                                        : std::vector<std::string>{"smckey", "DEMO", "5", value};
            const test::outcome r = test::run_command(args, test::default_device());
            EXPECT_EQ(r.status, smckey::RUN_USAGE);
            EXPECT_EQ(r.out, "");
            EXPECT_EQ(r.err, "\ninvalid value \"" + value + "\": expected a decimal number from -128 to 255\n\n");
            EXPECT_TRUE(sim::trace().empty());
        }
    }
}

TEST(WriteOption, ThreeOrMoreValuesAreRefusedBeforeAnyPortAccess)
{
    for (const std::vector<std::string>& args : {std::vector<std::string>{"smckey", "DEMO", "1", "2", "3"},
                                                 {"smckey", "DEMO", "1", "2", "3", "4"},
                                                 {"smckey", "DEMO", "x", "y", "z"}}) {
        const test::outcome r = test::run_command(args, test::default_device());
        EXPECT_EQ(r.status, smckey::RUN_USAGE);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "\ntoo many values: at most 2 can be written\n\n");
        EXPECT_TRUE(sim::trace().empty());
    }
}

TEST(WriteOption, KeyLengthIsCheckedBeforeTheValues)
{
    const test::outcome r = test::run_command({"smckey", "DEM", "0x20"}, test::default_device());
    EXPECT_EQ(r.err, "\nUsage: smckey <4-char-key-name>\n\n");
}

TEST(WriteOption, FailedWriteIsExitStatus251AfterTheTargetLine)
{
    // Transaction 2 is the write; position 7 its second data byte.
    const test::outcome r =
        test::run_command({"smckey", "DEMO", "1", "2"}, device_with({{2, 7, sim::fault_kind::refuse}}));
    EXPECT_EQ(r.status, smckey::RUN_WRITE_FAIL);
    EXPECT_EQ(r.status & 0xff, 251);
    EXPECT_EQ(r.out, demo_lines + "target value: 0102\n");
    EXPECT_EQ(r.err, "send_byte(0x02, 0x0300) fail: 0x00\nDEMO: write data fail\n\nwrite_smc get_key_data error\n\n");
    EXPECT_EQ(key_data("DEMO"), (std::vector<std::uint8_t>{0x01, 0x41}));
}

TEST(WriteOption, FailedReadMeansNoWrite)
{
    const test::outcome r = test::run_command({"smckey", "DEMO", "1"}, device_with({{1, 6, sim::fault_kind::busy}}));
    EXPECT_EQ(r.status, smckey::RUN_DATA_FAIL);
    EXPECT_EQ(r.out, "  type=\"ab\\x00 \" length=2 flags=90\n");
    for (const sim::event& e : sim::trace()) {
        EXPECT_FALSE(e.kind == sim::event_kind::out && e.value == smc::SMC_WRITE_CMD && e.port == SMC_CMD_PORT);
    }
}

TEST(WriteProcess, SimulatedWriteAndItsFailure)
{
    test::outcome r = test::run_process(SMCKEY_SIM_BIN, {"DEMO", "-1"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, demo_lines + "target value: ff\n");
    EXPECT_EQ(r.err, "");

    r = test::run_process(SMCKEY_SIM_BIN, {"DEMO", "3"}, {"SMCKEY_SIM_CLOCK=virtual", "SMCKEY_SIM_FAULTS=2.5=busy"});
    EXPECT_EQ(r.status, 251);
    EXPECT_EQ(r.out, demo_lines + "target value: 03\n");
    EXPECT_EQ(r.err, "send_byte(0x01, 0x0300) fail: 0x02\nDEMO: write len fail\n\nwrite_smc get_key_data error\n\n");

    r = test::run_process(SMCKEY_SIM_BIN, {"DEMO", "0x20"});
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "\ninvalid value \"0x20\": expected a decimal number from -128 to 255\n\n");
}

} // namespace
