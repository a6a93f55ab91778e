#include <cstdio>

#include "smc/platform.hpp"
#include "smc/smc.hpp"

namespace smc {

key_info key_info_from_bytes(const std::uint8_t* raw)
{
    return key_info{raw[0], {raw[1], raw[2], raw[3], raw[4]}, raw[5]};
}

namespace {

// Both transactions open the same way: the command byte on the command port,
// then the key name and the length byte on the data port. A failure names
// the stage in the transaction's own words ("read" or "write").
int open_transaction(std::uint8_t command, const char* key, std::uint8_t length, const char* verb)
{
    // The key is printed as at most four characters: it need not be terminated.
    if (send_byte(command, SMC_CMD_PORT) != 0 || send_argument(key) != 0) {
        std::fprintf(stderr, "%.4s: %s arg fail\n", key, verb);
        return -1;
    }
    if (send_byte(length, SMC_DATA_PORT) != 0) {
        std::fprintf(stderr, "%.4s: %s len fail\n", key, verb);
        return -1;
    }
    return 0;
}

} // namespace

int read_smc(std::uint8_t command, const char* key, std::uint8_t* buffer, std::uint8_t length)
{
    if (open_transaction(command, key, length, "read") != 0) {
        return -1;
    }
    for (int i = 0; i < length; ++i) {
        if (wait_read() != 0) {
            std::fprintf(stderr, "%.4s: read data[%d] fail\n", key, i);
            return -1;
        }
        buffer[i] = platform::inb(SMC_DATA_PORT);
    }
    return 0;
}

int write_smc(std::uint8_t command, const char* key, const std::uint8_t* data, std::uint8_t length)
{
    if (open_transaction(command, key, length, "write") != 0) {
        return -1;
    }
    // Acceptance of each byte is the whole confirmation: nothing is read back.
    for (int i = 0; i < length; ++i) {
        if (send_byte(data[i], SMC_DATA_PORT) != 0) {
            std::fprintf(stderr, "%.4s: write data fail\n", key);
            return -1;
        }
    }
    return 0;
}

} // namespace smc
