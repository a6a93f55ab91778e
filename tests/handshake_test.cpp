// The acknowledged byte send, the key-name send and the data wait, checked
// against the simulated controller by the exact port traffic and sleeps.
#include <gtest/gtest.h>

#include "smc/handshake.hpp"
#include "smc/smc.hpp"
#include "support.hpp"

namespace {

using smc::SMC_CMD_PORT;
using smc::SMC_DATA_PORT;

// The thirteen poll delays of one send or one wait.
constexpr unsigned long schedule[] = {16, 32, 64, 128, 256, 512, 1024, 2048, 4096, 8192, 16384, 32768, 65536};

sim::config device_with(std::vector<sim::fault> faults)
{
    sim::config cfg = test::default_device();
    cfg.faults = std::move(faults);
    return cfg;
}

test::outcome send(std::uint8_t byte, std::uint16_t port, const sim::config& cfg)
{
    sim::reset(cfg);
    return test::capture([&] { return smc::send_byte(byte, port); });
}

// Thirteen polls that all show `status`, with no write in between.
test::traffic polled_without_resend(std::uint8_t byte, std::uint16_t port, std::uint8_t status)
{
    test::traffic t;
    t.out(byte, port);
    for (const unsigned long delay : schedule) {
        t.poll(delay, status);
    }
    return t;
}

TEST(SendByte, AcceptedOnFirstPollCostsOneWriteOneSleepOneRead)
{
    const test::outcome r = send(0x13, SMC_CMD_PORT, test::default_device());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(test::recorded(), test::traffic().sent(0x13, SMC_CMD_PORT).text());
    EXPECT_EQ(sim::slept_us(), 16u);
}

TEST(SendByte, BusyThenAcceptedKeepsDoublingWithoutResending)
{
    const test::outcome r = send(0x13, SMC_CMD_PORT, device_with({{0, 0, sim::fault_kind::busy_n, 3}}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(
        test::recorded(),
        test::traffic().out(0x13, SMC_CMD_PORT).poll(16, 0x02).poll(32, 0x02).poll(64, 0x02).poll(128, 0x04).text());
}

TEST(SendByte, BusyAndAcceptedTogetherCountAsBusy)
{
    const test::outcome r = send(0x13, SMC_CMD_PORT, device_with({{0, 0, sim::fault_kind::status, 0, 0x06}}));
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.err, "send_byte(0x13, 0x0304) fail: 0x06\n");
    EXPECT_EQ(test::recorded(), polled_without_resend(0x13, SMC_CMD_PORT, 0x06).text());
}

TEST(SendByte, AllBitsSetOnEveryPollFailsAfterThirteenPollsWithoutResend)
{
    const test::outcome r = send(0x13, SMC_CMD_PORT, device_with({{0, 0, sim::fault_kind::status, 0, 0xff}}));
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.err, "send_byte(0x13, 0x0304) fail: 0xff\n");
    EXPECT_EQ(test::recorded(), polled_without_resend(0x13, SMC_CMD_PORT, 0xff).text());
}

TEST(SendByte, BusyForeverFailsWithTheBusyStatus)
{
    const test::outcome r = send(0x10, SMC_CMD_PORT, device_with({{0, 0, sim::fault_kind::busy}}));
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.err, "send_byte(0x10, 0x0304) fail: 0x02\n");
    EXPECT_EQ(test::recorded(), polled_without_resend(0x10, SMC_CMD_PORT, 0x02).text());
    EXPECT_EQ(sim::slept_us(), 131056u);
}

TEST(SendByte, NeitherBitResendsTwelveTimesButNeverAfterTheLastPoll)
{
    const test::outcome r = send(0x13, SMC_CMD_PORT, device_with({{0, 0, sim::fault_kind::refuse}}));
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.err, "send_byte(0x13, 0x0304) fail: 0x00\n");
    test::traffic expected;
    expected.out(0x13, SMC_CMD_PORT);
    for (const unsigned long delay : schedule) {
        expected.poll(delay, 0x00);
        if (delay != 65536) {
            expected.resent(0x13, SMC_CMD_PORT);
        }
    }
    EXPECT_EQ(test::recorded(), expected.text());
    EXPECT_EQ(test::port_writes(), 13);
    EXPECT_EQ(sim::slept_us(), 131056u + 12 * 256u);
}

TEST(SendByte, RefusedTwiceThenTakenOnTheThirdWrite)
{
    const test::outcome r = send(0x11, SMC_CMD_PORT, device_with({{0, 0, sim::fault_kind::refuse_n, 2}}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(test::recorded(), test::traffic()
                                    .out(0x11, SMC_CMD_PORT)
                                    .poll(16, 0x00)
                                    .resent(0x11, SMC_CMD_PORT)
                                    .poll(32, 0x00)
                                    .resent(0x11, SMC_CMD_PORT)
                                    .poll(64, 0x04)
                                    .text());
}

TEST(SendByte, RefusedTwelveTimesIsTakenOnTheLastPollButThirteenTimesFails)
{
    EXPECT_EQ(send(0x13, SMC_CMD_PORT, device_with({{0, 0, sim::fault_kind::refuse_n, 12}})).status, 0);
    EXPECT_EQ(test::port_writes(), 13);

    const test::outcome r = send(0x13, SMC_CMD_PORT, device_with({{0, 0, sim::fault_kind::refuse_n, 13}}));
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.err, "send_byte(0x13, 0x0304) fail: 0x00\n");
    EXPECT_EQ(test::port_writes(), 13);
}

TEST(SendArgument, StopsAtTheFirstRefusedKeyByte)
{
    // Position 2 of the transaction is the second key byte.
    sim::reset(device_with({{0, 2, sim::fault_kind::busy}}));
    const test::outcome r = test::capture([] {
        if (smc::send_byte(0x13, SMC_CMD_PORT) != 0) {
            return 99;
        }
        return smc::send_argument("KE\x01Y");
    });
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.err, "send_byte(0x45, 0x0300) fail: 0x02\n");
    const test::traffic expected = [] {
        test::traffic t;
        t.sent(0x13, SMC_CMD_PORT).sent('K', SMC_DATA_PORT).out('E', SMC_DATA_PORT);
        for (const unsigned long delay : schedule) {
            t.poll(delay, 0x02);
        }
        return t;
    }();
    EXPECT_EQ(test::recorded(), expected.text());
}

TEST(SendArgument, SendsTheFourBytesAsTheyAreWithoutATerminator)
{
    sim::reset(test::default_device());
    const char key[4] = {'\xff', ' ', '\0', '7'};
    const test::outcome r =
        test::capture([&key] { return smc::send_byte(0x13, SMC_CMD_PORT) == 0 ? smc::send_argument(key) : 99; });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(test::recorded(), test::traffic()
                                    .sent(0x13, SMC_CMD_PORT)
                                    .sent(0xff, SMC_DATA_PORT)
                                    .sent(0x20, SMC_DATA_PORT)
                                    .sent(0x00, SMC_DATA_PORT)
                                    .sent(0x37, SMC_DATA_PORT)
                                    .text());
}

TEST(WaitRead, LooksAtTheDataReadyBitOnlyAndNeverWrites)
{
    sim::config cfg = test::default_device();
    cfg.scripted = true;
    // Busy and accepted mean nothing here; the fourth poll shows data ready.
    cfg.script_status = {0x02, 0x04, 0xfe, 0x07};
    sim::reset(cfg);
    const test::outcome r = test::capture([] { return smc::wait_read(); });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(test::recorded(), test::traffic().poll(16, 0x02).poll(32, 0x04).poll(64, 0xfe).poll(128, 0x07).text());
}

TEST(WaitRead, FailsAfterThirteenPollsWithTheLastStatus)
{
    sim::config cfg = test::default_device();
    cfg.scripted = true;
    cfg.script_status = std::vector<std::uint8_t>(12, 0x02);
    cfg.script_status.push_back(0xfe);
    sim::reset(cfg);
    const test::outcome r = test::capture([] { return smc::wait_read(); });
    EXPECT_EQ(r.status, -1);
    EXPECT_EQ(r.err, "wait_read() fail: 0xfe\n");
    EXPECT_EQ(test::port_writes(), 0);
    EXPECT_EQ(sim::slept_us(), 131056u);
}

} // namespace
