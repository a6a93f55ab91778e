// The whole command run in-process against the simulated controller: exact
// standard output, standard error, result and port traffic.
#include <gtest/gtest.h>

#include <cerrno>

#include "support.hpp"
#include "tool/smckey.hpp"

namespace {

sim::config device_with(std::vector<sim::fault> faults)
{
    sim::config cfg = test::default_device();
    cfg.faults = std::move(faults);
    return cfg;
}

sim::config device_with_key(const sim::key& k)
{
    sim::config cfg;
    cfg.keys = {k};
    return cfg;
}

void expect_usage(const std::vector<std::string>& args, const std::string& program)
{
    SCOPED_TRACE(args.size() > 1 ? args[1] : "(no key)");
    const test::outcome r = test::run_command(args, test::default_device());
    EXPECT_EQ(r.status, smckey::RUN_USAGE);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "\nUsage: " + program + " <4-char-key-name>\n\n");
    EXPECT_TRUE(sim::trace().empty()) << "port access was requested";
}

TEST(Usage, MissingOrWrongLengthKeyTouchesNothing)
{
    expect_usage({"smckey"}, "smckey");
    expect_usage({"/usr/sbin/smckey", "ABC"}, "/usr/sbin/smckey");
    expect_usage({"./smckey", "ABCDE"}, "./smckey");
    expect_usage({"smckey", ""}, "smckey");
    // Four characters of two bytes each are eight bytes, not four.
    expect_usage({"smckey", "\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9"}, "smckey");
}

TEST(Usage, EmptyArgumentListStillGetsAProgramName)
{
    sim::reset(test::default_device());
    const char* argv[] = {nullptr};
    const test::outcome r = test::capture([&argv] { return smckey::run(0, argv); });
    EXPECT_EQ(r.status, smckey::RUN_USAGE);
    EXPECT_EQ(r.err, "\nUsage: smckey <4-char-key-name>\n\n");
    EXPECT_TRUE(sim::trace().empty());
}

TEST(PortAccess, RefusedIoperm)
{
    sim::config cfg = test::default_device();
    cfg.ioperm_errno = EPERM;
    const test::outcome r = test::run_command({"smckey", "DEMO"}, cfg);
    EXPECT_EQ(r.status, smckey::RUN_NO_ACCESS);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "ioperm failed: Operation not permitted\n");
    EXPECT_EQ(test::recorded(), test::traffic().ioperm().text());
}

TEST(Display, DemoKeyPrintsBothLinesAfterTheExactTraffic)
{
    const test::outcome r = test::run_command({"smckey", "DEMO"}, test::default_device());
    EXPECT_EQ(r.status, smckey::RUN_OK);
    EXPECT_EQ(r.out, "  type=\"ab\\x00 \" length=2 flags=90\n  data=\"\\x01A\"\n");
    EXPECT_EQ(r.err, "");
    test::traffic t;
    t.ioperm().opening(0x13, "DEMO", 6);
    t.handed({2, 'a', 'b', 0x00, ' ', 0x90});
    t.opening(0x10, "DEMO", 2).handed(0x01).handed(0x41);
    EXPECT_EQ(test::recorded(), t.text());
    EXPECT_EQ(sim::slept_us(), 20u * 16u);
}

TEST(Display, LengthZeroKeyHasAnEmptyDataLine)
{
    const test::outcome r = test::run_command({"smckey", "NONE"}, test::default_device());
    EXPECT_EQ(r.status, smckey::RUN_OK);
    EXPECT_EQ(r.out, "  type=\"void\" length=0 flags=0\n  data=\"\"\n");
}

TEST(Display, EscapesEverythingOutsideSpaceToTilde)
{
    const test::outcome r = test::run_command({"smckey", "HIGH"}, test::default_device());
    EXPECT_EQ(r.status, smckey::RUN_OK);
    EXPECT_EQ(r.out, "  type=\"\\x7f\\x80\\xfe\\xff\" length=8 flags=c3\n"
                     "  data=\"\\x7f\\x80\\xff\\x1f ~\"\\\"\n");
}

TEST(Display, KeyNameOfDigitsAndPunctuationIsSentUnchanged)
{
    const test::outcome r = test::run_command(
        {"smckey", "1 .?"}, device_with_key({{'1', ' ', '.', '?'}, {'x', 'y', 'z', 'w'}, 0x01, {0x00}}));
    EXPECT_EQ(r.status, smckey::RUN_OK);
    EXPECT_EQ(r.out, "  type=\"xyzw\" length=1 flags=1\n  data=\"\\x00\"\n");
}

TEST(Display, LongestKeyFillsAllTwoHundredFiftyFiveBytes)
{
    sim::key k{{'F', 'U', 'L', 'L'}, {'b', 'l', 'o', 'b'}, 0xff, std::vector<std::uint8_t>(255, 'z')};
    k.data.back() = 0xee;
    const test::outcome r = test::run_command({"smckey", "FULL"}, device_with_key(k));
    EXPECT_EQ(r.status, smckey::RUN_OK);
    EXPECT_EQ(r.out, "  type=\"blob\" length=255 flags=ff\n  data=\"" + std::string(254, 'z') + "\\xee\"\n");
}

TEST(Failure, FirstByteNeverAcceptedEndsTheRunWithTheChainInnermostFirst)
{
    const test::outcome r = test::run_command({"smckey", "DEMO"}, device_with({{0, 0, sim::fault_kind::refuse}}));
    EXPECT_EQ(r.status, smckey::RUN_INFO_FAIL);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "send_byte(0x13, 0x0304) fail: 0x00\nDEMO: read arg fail\n\nread_smc get_key_type error\n\n");
}

TEST(Failure, UnknownKeyFailsTheInformationRead)
{
    const test::outcome r = test::run_command({"smckey", "NOPE"}, test::default_device());
    EXPECT_EQ(r.status, smckey::RUN_INFO_FAIL);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "send_byte(0x06, 0x0300) fail: 0x00\nNOPE: read len fail\n\nread_smc get_key_type error\n\n");
}

TEST(Failure, DataReadFailureKeepsTheTypeLine)
{
    const test::outcome r = test::run_command({"smckey", "DEMO"}, device_with({{1, 7, sim::fault_kind::silent}}));
    EXPECT_EQ(r.status, smckey::RUN_DATA_FAIL);
    EXPECT_EQ(r.out, "  type=\"ab\\x00 \" length=2 flags=90\n");
    EXPECT_EQ(r.err, "wait_read() fail: 0x00\nDEMO: read data[1] fail\n\nread_smc get_key_data error\n\n");
    // Nothing is sent after the failure: the last write is the length byte.
    EXPECT_EQ(sim::trace().back().kind, sim::event_kind::in);
}

} // namespace
