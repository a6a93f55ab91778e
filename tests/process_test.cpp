// smckey-sim and the real smckey run as whole processes: exact standard
// output, standard error and exit status. The real smckey is only ever run
// without any privilege, so it can never reach the ports.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support.hpp"

namespace {

const std::string sim_bin = SMCKEY_SIM_BIN;

std::string read_file(const std::string& path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(SimProcess, DefaultKeysPrintExactly)
{
    const std::pair<const char*, std::string> cases[] = {
        {"DEMO", "  type=\"ab\\x00 \" length=2 flags=90\n  data=\"\\x01A\"\n"},
        {"NONE", "  type=\"void\" length=0 flags=0\n  data=\"\"\n"},
        {"HIGH", "  type=\"\\x7f\\x80\\xfe\\xff\" length=8 flags=c3\n  data=\"\\x7f\\x80\\xff\\x1f ~\"\\\"\n"},
    };
    for (const auto& [key, out] : cases) {
        SCOPED_TRACE(key);
        const test::outcome r = test::run_process(sim_bin, {key});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, out);
        EXPECT_EQ(r.err, "");
    }
}

TEST(SimProcess, UsageNamesTheProgramAsInvokedAndTouchesNoPort)
{
    const std::string trace = std::filesystem::temp_directory_path() / ("smckey-trace-" + std::to_string(::getpid()));
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"ABC"}, {"ABCDE"}}) {
        const test::outcome r = test::run_process(sim_bin, args, {"SMCKEY_SIM_TRACE=" + trace});
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "\nUsage: " + sim_bin + " <4-char-key-name>\n\n");
        EXPECT_EQ(read_file(trace), "");
    }
    std::remove(trace.c_str());
}

TEST(SimProcess, RefusedPortAccess)
{
    const test::outcome r = test::run_process(sim_bin, {"DEMO"}, {"SMCKEY_SIM_IOPERM=EPERM"});
    EXPECT_EQ(r.status, 254);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "ioperm failed: Operation not permitted\n");
}

TEST(SimProcess, FailingInformationAndDataReads)
{
    test::outcome r = test::run_process(sim_bin, {"DEMO"}, {"SMCKEY_SIM_CLOCK=virtual", "SMCKEY_SIM_FAULTS=0.0=busy"});
    EXPECT_EQ(r.status, 253);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "send_byte(0x13, 0x0304) fail: 0x02\nDEMO: read arg fail\n\nread_smc get_key_type error\n\n");

    r = test::run_process(sim_bin, {"DEMO"}, {"SMCKEY_SIM_CLOCK=virtual", "SMCKEY_SIM_FAULTS=1.6=status:0xfe"});
    EXPECT_EQ(r.status, 252);
    EXPECT_EQ(r.out, "  type=\"ab\\x00 \" length=2 flags=90\n");
    EXPECT_EQ(r.err, "wait_read() fail: 0xfe\nDEMO: read data[0] fail\n\nread_smc get_key_data error\n\n");
}

TEST(SimProcess, FailureLinesFollowTheLinesPrintedBeforeThemInOneStream)
{
    // Standard error joined to standard output, a pipe like `smckey ... 2>&1 | less`.
    const test::outcome r = test::run_process("/bin/sh", {"-c", "exec \"$0\" DEMO 7 2>&1 | cat", sim_bin},
                                              {"SMCKEY_SIM_CLOCK=virtual", "SMCKEY_SIM_FAULTS=2.6=busy"}, false);
    EXPECT_EQ(r.out, "  type=\"ab\\x00 \" length=2 flags=90\n  data=\"\\x01A\"\ntarget value: 07\n"
                     "send_byte(0x07, 0x0300) fail: 0x02\nDEMO: write data fail\n\nwrite_smc get_key_data error\n\n");
}

TEST(SimProcess, KeysFromTheEnvironmentReplaceTheDefaults)
{
    const test::outcome r =
        test::run_process(sim_bin, {"\x7fz9!"}, {"SMCKEY_SIM_KEYS=ABCD:abcd:1:;0x7f7a3921:0x00ff2022:0a:5c22ff"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "  type=\"\\x00\\xff \"\" length=3 flags=a\n  data=\"\\\"\\xff\"\n");
    EXPECT_EQ(test::run_process(sim_bin, {"DEMO"}, {"SMCKEY_SIM_KEYS=ABCD:abcd:1:"}).status, 253);
}

TEST(SimProcess, TraceRecordsEveryPortAccessAndSleep)
{
    const std::string trace = std::filesystem::temp_directory_path() / ("smckey-trace-" + std::to_string(::getpid()));
    const test::outcome r = test::run_process(sim_bin, {"NONE"}, {"SMCKEY_SIM_TRACE=" + trace});
    EXPECT_EQ(r.status, 0);
    test::traffic t;
    t.ioperm().opening(0x13, "NONE", 6);
    t.handed({0, 'v', 'o', 'i', 'd', 0});
    t.opening(0x10, "NONE", 0);
    EXPECT_EQ(read_file(trace), t.text());
    std::remove(trace.c_str());
}

TEST(SimProcess, MalformedSettingsAreRefusedBeforeAnything)
{
    struct bad {
        std::string setting;
        std::string message;
    };
    const bad cases[] = {
        {"SMCKEY_SIM_FAULTS=0.0=refuse:x", "SMCKEY_SIM_FAULTS: fault \"0.0=refuse:x\": the kind must be refuse, "
                                           "refuse:N, busy, busy:N, status:0xNN or silent"},
        {"SMCKEY_SIM_FAULTS=0-0=busy", "SMCKEY_SIM_FAULTS: fault \"0-0=busy\": expected TRANSACTION.POSITION=KIND"},
        {"SMCKEY_SIM_FAULTS=0.262=busy", "SMCKEY_SIM_FAULTS: fault \"0.262=busy\": expected TRANSACTION.POSITION=KIND"},
        {"SMCKEY_SIM_FAULTS=0.1=busy,0.1=refuse",
         "SMCKEY_SIM_FAULTS: fault \"0.1=refuse\": this byte already has a fault"},
        {"SMCKEY_SIM_KEYS=DEMO:ab:90:0141",
         "SMCKEY_SIM_KEYS: key \"DEMO:ab:90:0141\": the type must be 4 characters or 0x and 8 hex digits"},
        {"SMCKEY_SIM_KEYS=DEMO:abcd:90:014",
         "SMCKEY_SIM_KEYS: key \"DEMO:abcd:90:014\": the data must be an even number of hex digits, at most 255 bytes"},
        {"SMCKEY_SIM_KEYS=DEMO:abcd:190:",
         "SMCKEY_SIM_KEYS: key \"DEMO:abcd:190:\": the flags must be one or two hex digits"},
        {"SMCKEY_SIM_KEYS=DEMO:abcd:90:;DEMO:abcd:90:",
         "SMCKEY_SIM_KEYS: key \"DEMO:abcd:90:\": this name is given twice"},
        {"SMCKEY_SIM_KEYS=DEMO:abcd:90", "SMCKEY_SIM_KEYS: key \"DEMO:abcd:90\": expected NAME:TYPE:FLAGS:DATA"},
        {"SMCKEY_SIM_IOPERM=EWHAT",
         "SMCKEY_SIM_IOPERM: \"EWHAT\": expected EPERM, EACCES, EINVAL, EIO, ENOSYS or a positive number"},
        {"SMCKEY_SIM_CLOCK=fast", "SMCKEY_SIM_CLOCK: \"fast\": expected real or virtual"},
        {"SMCKEY_SIM_BUSY=-1", "SMCKEY_SIM_BUSY: \"-1\": expected a number of polls from 0 to 100"},
    };
    for (const bad& c : cases) {
        SCOPED_TRACE(c.setting);
        const test::outcome r = test::run_process(sim_bin, {"DEMO"}, {c.setting});
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "smckey-sim: " + c.message + "\n");
    }
}

#ifdef SMCKEY_BIN
// The real binary, copied where an unprivileged user can run it.
class RealSmckey : public ::testing::Test {
  protected:
    void SetUp() override
    {
        prefix_ = test::unprivileged_prefix();
        if (prefix_.empty()) {
            GTEST_SKIP() << "cannot run smckey with every privilege dropped here";
        }
        char dir[] = "/tmp/smckey-real-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        dir_ = dir;
        ::chmod(dir, 0755);
        binary_ = dir_ + "/smckey";
        std::filesystem::copy_file(SMCKEY_BIN, binary_);
        ::chmod(binary_.c_str(), 0755);
    }
    void TearDown() override
    {
        if (!dir_.empty()) {
            std::filesystem::remove_all(dir_);
        }
    }
    test::outcome run(const std::vector<std::string>& args)
    {
        // Any wrapper goes inside setpriv, so that it too runs unprivileged.
        std::vector<std::string> all(prefix_.begin() + 1, prefix_.end());
        const std::vector<std::string> wrapper = test::wrapper();
        all.insert(all.end(), wrapper.begin(), wrapper.end());
        all.push_back(binary_);
        all.insert(all.end(), args.begin(), args.end());
        return test::run_process(prefix_.front(), all, {}, false);
    }
    std::vector<std::string> prefix_;
    std::string dir_;
    std::string binary_;
};

TEST_F(RealSmckey, UsageErrors)
{
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"ABC"}, {"ABCDE"}}) {
        const test::outcome r = run(args);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "\nUsage: " + binary_ + " <4-char-key-name>\n\n");
    }
}

TEST_F(RealSmckey, PortAccessIsRefusedWithoutPrivilege)
{
    const test::outcome r = run({"DEMO"});
    EXPECT_EQ(r.status, 254);
    EXPECT_EQ(r.out, "");
    // Without CAP_SYS_RAWIO the kernel says EPERM; a kernel or sandbox with
    // no port access at all says ENOSYS.
    EXPECT_THAT(r.err, ::testing::AnyOf("ioperm failed: Operation not permitted\n",
                                        "ioperm failed: Function not implemented\n"));
}
#endif

} // namespace
