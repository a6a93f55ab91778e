#include "smc/handshake.hpp"

#include <cstdio>

#include "smc/platform.hpp"
#include "smc/smc.hpp"

namespace smc {

int send_byte(std::uint8_t byte, std::uint16_t port)
{
    platform::outb(byte, port);
    std::uint8_t status = 0;
    for (unsigned delay = SMC_MIN_WAIT; delay < SMC_MAX_WAIT; delay *= 2) {
        platform::usleep(delay);
        // The status lives on the command port whichever port took the byte.
        status = platform::inb(SMC_CMD_PORT);
        // Busy wins over accepted: the device may still be working on it.
        if ((status & SMC_STATUS_BUSY) != 0) {
            continue;
        }
        if ((status & SMC_STATUS_ACCEPTED) != 0) {
            return 0;
        }
        // Neither bit: the byte was dropped and may be written again, but
        // not after the last poll, whose answer is final.
        if (delay * 2 == SMC_MAX_WAIT) {
            break;
        }
        platform::usleep(SMC_RETRY_WAIT);
        platform::outb(byte, port);
    }
    std::fprintf(stderr, "send_byte(0x%02x, 0x%04x) fail: 0x%02x\n", static_cast<unsigned>(byte),
                 static_cast<unsigned>(port), static_cast<unsigned>(status));
    return -1;
}

int send_argument(const char* key)
{
    for (int i = 0; i < 4; ++i) {
        if (send_byte(static_cast<std::uint8_t>(key[i]), SMC_DATA_PORT) != 0) {
            return -1;
        }
    }
    return 0;
}

int wait_read()
{
    std::uint8_t status = 0;
    for (unsigned delay = SMC_MIN_WAIT; delay < SMC_MAX_WAIT; delay *= 2) {
        platform::usleep(delay);
        status = platform::inb(SMC_CMD_PORT);
        if ((status & SMC_STATUS_DATA_READY) != 0) {
            return 0;
        }
    }
    std::fprintf(stderr, "wait_read() fail: 0x%02x\n", static_cast<unsigned>(status));
    return -1;
}

} // namespace smc
