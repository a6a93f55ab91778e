#include "tool/smckey.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "smc/platform.hpp"
#include "smc/smc.hpp"

namespace smckey {
namespace {

constexpr int MAX_VALUES = 2;

void print_usage(const char* program)
{
    std::fprintf(stderr, "\nUsage: %s <4-char-key-name>\n\n", program);
}

// A value is a whole decimal number from -128 to 255, as strtol reads it in
// base 10: leading blanks and a sign are fine, trailing characters are not.
// Negative values stand for their two's-complement byte.
bool parse_value(const char* text, std::uint8_t& byte)
{
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || errno == ERANGE || value < -128 || value > 255) {
        return false;
    }
    byte = static_cast<std::uint8_t>(value & 0xff);
    return true;
}

// Bytes the POSIX locale calls printable (0x20 to 0x7e) go out as they are,
// the quote and the backslash included; every other byte as \xNN.
void print_escaped(const std::uint8_t* bytes, int count)
{
    for (int i = 0; i < count; ++i) {
        const unsigned byte = bytes[i];
        if (byte >= 0x20 && byte <= 0x7e) {
            std::putchar(static_cast<int>(byte));
        } else {
            std::printf("\\x%02x", byte);
        }
    }
}

} // namespace

int run(int argc, const char* const* argv)
{
    // A program started with an empty argument list still gets a usage text.
    const char* program = (argc > 0 && argv[0] != nullptr) ? argv[0] : "smckey";
    if (argc < 2 || std::strlen(argv[1]) != 4) {
        print_usage(program);
        return RUN_USAGE;
    }
    const char* key = argv[1];

    // Every value is checked before the controller is touched: a byte the
    // user did not clearly ask for is never written.
    const int value_count = argc - 2;
    if (value_count > MAX_VALUES) {
        std::fputs("\ntoo many values: at most 2 can be written\n\n", stderr);
        return RUN_USAGE;
    }
    std::uint8_t values[MAX_VALUES] = {};
    for (int i = 0; i < value_count; ++i) {
        if (!parse_value(argv[2 + i], values[i])) {
            std::fprintf(stderr, "\ninvalid value \"%s\": expected a decimal number from -128 to 255\n\n", argv[2 + i]);
            return RUN_USAGE;
        }
    }

    if (smc::platform::ioperm(smc::SMC_PORT_BASE, smc::SMC_PORT_COUNT, 1) != 0) {
        std::perror("ioperm failed");
        return RUN_NO_ACCESS;
    }

    std::uint8_t raw_info[smc::SMC_KEY_INFO_SIZE] = {};
    if (smc::read_smc(smc::SMC_GET_KEY_TYPE_CMD, key, raw_info, smc::SMC_KEY_INFO_SIZE) != 0) {
        std::fputs("\nread_smc get_key_type error\n\n", stderr);
        return RUN_INFO_FAIL;
    }
    const smc::key_info info = smc::key_info_from_bytes(raw_info);
    std::fputs("  type=\"", stdout);
    print_escaped(info.type, 4);
    std::printf("\" length=%u flags=%x\n", static_cast<unsigned>(info.length), static_cast<unsigned>(info.flags));
    // Each line goes out before the next transaction, so that when standard
    // output and standard error share a file or a pipe, a failure's lines
    // follow the lines printed before it.
    std::fflush(stdout);

    // Room for the longest length the information can report.
    std::uint8_t data[255] = {};
    if (smc::read_smc(smc::SMC_READ_CMD, key, data, info.length) != 0) {
        std::fputs("\nread_smc get_key_data error\n\n", stderr);
        return RUN_DATA_FAIL;
    }
    std::fputs("  data=\"", stdout);
    print_escaped(data, info.length);
    std::fputs("\"\n", stdout);
    std::fflush(stdout);

    if (value_count == 0) {
        return RUN_OK;
    }
    // One byte per value given, whatever length the key reports.
    if (value_count == 1) {
        std::printf("target value: %02x\n", static_cast<unsigned>(values[0]));
    } else {
        std::printf("target value: %02x%02x\n", static_cast<unsigned>(values[0]), static_cast<unsigned>(values[1]));
    }
    std::fflush(stdout);
    if (smc::write_smc(smc::SMC_WRITE_CMD, key, values, static_cast<std::uint8_t>(value_count)) != 0) {
        std::fputs("\nwrite_smc get_key_data error\n\n", stderr);
        return RUN_WRITE_FAIL;
    }
    return RUN_OK;
}

} // namespace smckey
