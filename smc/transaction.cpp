#include <cstdio>

#include "smc/platform.hpp"
#include "smc/smc.hpp"

namespace smc {

key_info key_info_from_bytes(const std::uint8_t* raw)
{
    return key_info{raw[0], {raw[1], raw[2], raw[3], raw[4]}, raw[5]};
}

// Both transactions open the same way: the command byte on the command port,
// then the key name and the length byte on the data port. Returns the stage
// that failed (0 none) so that each caller can name it in its own words.
namespace {

enum class opening { ok, arg, len };

opening open_transaction(std::uint8_t command, const char* key, std::uint8_t length)
{
    if (send_byte(command, SMC_CMD_PORT) != 0 || send_argument(key) != 0) {
        return opening::arg;
    }
    if (send_byte(length, SMC_DATA_PORT) != 0) {
        return opening::len;
    }
    return opening::ok;
}

} // namespace

int read_smc(std::uint8_t command, const char* key, std::uint8_t* buffer, std::uint8_t length)
{
    switch (open_transaction(command, key, length)) {
    case opening::arg:
        std::fprintf(stderr, "%.4s: read arg fail\n", key);
        return -1;
    case opening::len:
        std::fprintf(stderr, "%.4s: read len fail\n", key);
        return -1;
    case opening::ok:
        break;
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
    switch (open_transaction(command, key, length)) {
    case opening::arg:
        std::fprintf(stderr, "%.4s: write arg fail\n", key);
        return -1;
    case opening::len:
        std::fprintf(stderr, "%.4s: write len fail\n", key);
        return -1;
    case opening::ok:
        break;
    }
    // Acceptance of each byte is the whole confirmation: nothing is read back.
    for (int i = 0; i < length; ++i) {
        if (send_byte(data[i], SMC_DATA_PORT) != 0) {
            // At most four characters: the key need not be terminated.
            std::fprintf(stderr, "%.4s: write data fail\n", key);
            return -1;
        }
    }
    return 0;
}

} // namespace smc
