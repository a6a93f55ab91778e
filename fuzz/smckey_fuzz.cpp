// Runs the whole smckey command in-process on arguments and controller
// behaviour chosen by the fuzzer, and checks far more than "no crash":
// the result is a documented one, standard output is exactly what the
// device handed over, the port traffic keeps the protocol and stops dead
// after a failure, a write happens only for one or two valid values after
// both reads, and port access is asked for once, only for valid arguments.
//
// Input: byte 0 holds the argument count (low three bits) and whether
// ioperm fails (bit 3). Then each argument: a length byte (modulo 16) and
// that many bytes. The rest is the device's script: bytes at even offsets
// are the status of each poll in turn, bytes at odd offsets the data bytes
// it hands over.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "sim/audit.hpp"
#include "sim/device.hpp"
#include "smc/smc.hpp"
#include "tool/smckey.hpp"

namespace {

[[noreturn]] void finding(const char* what, const std::string& detail = "")
{
    std::fprintf(stderr, "finding: %s %s\n", what, detail.c_str());
    std::abort();
}

// Standard output and standard error go to memory files during each run.
struct capture {
    int fd[2] = {-1, -1};
    int saved[2] = {-1, -1};

    capture()
    {
        fd[0] = ::memfd_create("out", 0);
        fd[1] = ::memfd_create("err", 0);
        saved[0] = ::dup(1);
        saved[1] = ::dup(2);
    }
    void begin()
    {
        std::fflush(stdout);
        std::fflush(stderr);
        for (int i = 0; i < 2; ++i) {
            (void)::ftruncate(fd[i], 0);
            ::lseek(fd[i], 0, SEEK_SET);
            ::dup2(fd[i], i + 1);
        }
    }
    void end(std::string& out, std::string& err)
    {
        std::fflush(stdout);
        std::fflush(stderr);
        ::dup2(saved[0], 1);
        ::dup2(saved[1], 2);
        out = contents(fd[0]);
        err = contents(fd[1]);
    }
    static std::string contents(int fd)
    {
        std::string text;
        char buffer[4096];
        ssize_t n = 0;
        off_t at = 0;
        while ((n = ::pread(fd, buffer, sizeof buffer, at)) > 0) {
            text.append(buffer, static_cast<std::size_t>(n));
            at += n;
        }
        return text;
    }
};

// The rule for values, written independently of the tool: blanks, a sign,
// digits and nothing else, from -128 to 255.
bool valid_value(const char* text, std::uint8_t& byte)
{
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) {
        ++p;
    }
    const bool negative = *p == '-';
    if (*p == '+' || *p == '-') {
        ++p;
    }
    if (*p < '0' || *p > '9') {
        return false;
    }
    long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > 1000) {
            value = 1000;
        }
    }
    if (*p != '\0') {
        return false;
    }
    value = negative ? -value : value;
    if (value < -128 || value > 255) {
        return false;
    }
    byte = static_cast<std::uint8_t>(value & 0xff);
    return true;
}

std::string escaped(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t count)
{
    std::string text;
    for (std::size_t i = from; i < from + count; ++i) {
        const std::uint8_t b = bytes[i];
        if (b >= 0x20 && b <= 0x7e) {
            text.push_back(static_cast<char>(b));
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", b);
            text += hex;
        }
    }
    return text;
}

bool ends_with(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void check_transaction(const sim::audited_transaction& t, std::uint8_t command, const char* key, int length)
{
    // A transaction cut short by a failure has only the key bytes taken so far.
    if (t.command != command || t.key.size() > 4 || (t.complete && t.key.size() != 4) ||
        !std::equal(t.key.begin(), t.key.end(), reinterpret_cast<const std::uint8_t*>(key)) ||
        (t.length >= 0 && t.length != length)) {
        finding("a transaction with the wrong command, key or length");
    }
}

capture* output = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    output = new capture();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) {
        return 0;
    }
    const int argc = data[0] & 0x07;
    const bool ioperm_fails = (data[0] & 0x08) != 0;
    std::size_t at = 1;
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) {
        const std::size_t length = at < size ? data[at++] % 16 : 0;
        const std::size_t n = length < size - at ? length : size - at;
        // An argument ends at its first zero byte, as on a real command line.
        args.emplace_back(reinterpret_cast<const char*>(data + at), n);
        args.back().resize(std::strlen(args.back().c_str()));
        at += n;
    }
    sim::config cfg;
    cfg.scripted = true;
    cfg.ioperm_errno = ioperm_fails ? EPERM : 0;
    for (std::size_t i = at; i < size; ++i) {
        ((i - at) % 2 == 0 ? cfg.script_status : cfg.script_data).push_back(data[i]);
    }
    std::vector<const char*> argv;
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    argv.push_back(nullptr);

    sim::reset(cfg);
    std::string out;
    std::string err;
    output->begin();
    const int result = smckey::run(argc, argv.data());
    output->end(out, err);

    // What the arguments ask for, judged independently.
    const bool key_ok = argc >= 2 && args[1].size() == 4;
    const int value_count = argc - 2;
    std::uint8_t values[2] = {};
    bool values_ok = key_ok && value_count <= 2;
    for (int i = 0; values_ok && i < value_count; ++i) {
        values_ok = valid_value(args[2 + static_cast<std::size_t>(i)].c_str(), values[i]);
    }

    const sim::audit_report report = sim::audit(sim::trace());
    if (!report.problem.empty()) {
        finding("protocol broken:", report.problem);
    }
    if (!values_ok) {
        if (result != smckey::RUN_USAGE || !sim::trace().empty() || !out.empty()) {
            finding("bad arguments were not refused before port access");
        }
        return 0;
    }
    if (report.ioperm_calls != 1) {
        finding("port access not asked for exactly once");
    }
    if (ioperm_fails) {
        if (result != smckey::RUN_NO_ACCESS || sim::trace().size() != 1 || !out.empty() ||
            err != "ioperm failed: Operation not permitted\n") {
            finding("refused port access mishandled");
        }
        return 0;
    }

    const char* key = args[1].c_str();
    const auto& tx = report.transactions;
    if (tx.size() > 3 || (tx.size() == 3 && value_count == 0)) {
        finding("too many transactions");
    }
    if (!tx.empty()) {
        check_transaction(tx[0], smc::SMC_GET_KEY_TYPE_CMD, key, smc::SMC_KEY_INFO_SIZE);
    }
    const bool info_read = !tx.empty() && tx[0].complete;
    const int length = info_read ? tx[0].data[0] : -1;
    if (tx.size() > 1) {
        if (!info_read) {
            finding("data read after a failed information read");
        }
        check_transaction(tx[1], smc::SMC_READ_CMD, key, length);
    }
    const bool data_read = tx.size() > 1 && tx[1].complete;
    if (tx.size() > 2) {
        if (!data_read) {
            finding("write after a failed data read");
        }
        check_transaction(tx[2], smc::SMC_WRITE_CMD, key, value_count);
        for (std::size_t i = 0; i < tx[2].data.size(); ++i) {
            if (tx[2].data[i] != values[i]) {
                finding("a byte written that was not asked for");
            }
        }
    }
    const bool written = tx.size() > 2 && tx[2].complete;

    // Standard output is exactly what the device handed over, and the
    // result names the stage that failed.
    std::string expected;
    if (info_read) {
        char tail[64];
        std::snprintf(tail, sizeof tail, "\" length=%d flags=%x\n", length, tx[0].data[5]);
        expected = "  type=\"" + escaped(tx[0].data, 1, 4) + tail;
    }
    if (data_read) {
        expected += "  data=\"" + escaped(tx[1].data, 0, tx[1].data.size()) + "\"\n";
        if (value_count == 1) {
            char line[32];
            std::snprintf(line, sizeof line, "target value: %02x\n", values[0]);
            expected += line;
        } else if (value_count == 2) {
            char line[32];
            std::snprintf(line, sizeof line, "target value: %02x%02x\n", values[0], values[1]);
            expected += line;
        }
    }
    if (out != expected) {
        finding("standard output differs:", out);
    }
    int expected_result = smckey::RUN_OK;
    const char* block = "";
    if (!info_read) {
        expected_result = smckey::RUN_INFO_FAIL;
        block = "\nread_smc get_key_type error\n\n";
    } else if (!data_read) {
        expected_result = smckey::RUN_DATA_FAIL;
        block = "\nread_smc get_key_data error\n\n";
    } else if (value_count > 0 && !written) {
        expected_result = smckey::RUN_WRITE_FAIL;
        block = "\nwrite_smc get_key_data error\n\n";
    }
    if (result != expected_result) {
        finding("wrong result", std::to_string(result));
    }
    if (report.ran_out != (expected_result != smckey::RUN_OK)) {
        finding("a failure without a send or wait that ran out, or the reverse");
    }
    if (expected_result == smckey::RUN_OK ? !err.empty() : !ends_with(err, block)) {
        finding("standard error does not end as it should:", err);
    }
    return 0;
}
