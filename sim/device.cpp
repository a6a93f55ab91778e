#include "sim/device.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "smc/platform.hpp"
#include "smc/smc.hpp"
#include "smc/timing.hpp"

namespace sim {
namespace {

constexpr std::uint8_t STATUS_NONE = 0x00;
constexpr unsigned POS_CLOSED = 0xffff; // the transaction is over or was abandoned

struct device {
    config cfg;
    std::vector<event> events;
    unsigned long long slept = 0;
    std::size_t script_status_next = 0;
    std::size_t script_data_next = 0;

    // The transaction in progress.
    bool open = false;
    unsigned transaction = 0;
    unsigned position = POS_CLOSED; // the byte position the device expects next
    std::uint8_t command = 0;
    char name[4] = {};
    unsigned length = 0;
    key* target = nullptr;

    // The byte written last, until it is taken or given up on.
    bool write_pending = false;
    bool write_acceptable = false;
    const fault* write_fault = nullptr;
    std::uint8_t written = 0;
    unsigned write_polls = 0;
    unsigned attempts = 0; // writes of the byte at `position` so far

    // Bytes the device hands over in a read.
    bool supplying = false;
    std::uint8_t info[smc::SMC_KEY_INFO_SIZE] = {};
    const std::uint8_t* supply = nullptr;
    unsigned supplied = 0;
    bool announced = false;
    unsigned supply_polls = 0;

    std::uint8_t last_status = STATUS_NONE;
};

device dev;

const fault* find_fault(unsigned transaction, unsigned position)
{
    for (const fault& f : dev.cfg.faults) {
        if (f.transaction == transaction && f.position == position) {
            return &f;
        }
    }
    return nullptr;
}

key* lookup(const char* name)
{
    for (key& k : dev.cfg.keys) {
        if (std::memcmp(k.name, name, 4) == 0) {
            return &k;
        }
    }
    return nullptr;
}

bool known_command(std::uint8_t command)
{
    return command == smc::SMC_READ_CMD || command == smc::SMC_WRITE_CMD || command == smc::SMC_GET_KEY_TYPE_CMD;
}

// Whether the device, left to itself, takes this byte at this position.
bool acceptable(std::uint8_t value, unsigned position)
{
    if (position == POS_COMMAND) {
        return known_command(value);
    }
    if (position < POS_LENGTH) {
        return true;
    }
    if (position == POS_LENGTH) {
        const key* k = lookup(dev.name);
        if (k == nullptr) {
            return false;
        }
        switch (dev.command) {
        case smc::SMC_GET_KEY_TYPE_CMD:
            return value == smc::SMC_KEY_INFO_SIZE;
        case smc::SMC_READ_CMD:
            return value == k->data.size();
        default:
            return value <= k->data.size();
        }
    }
    return position != POS_CLOSED && dev.command == smc::SMC_WRITE_CMD && !dev.supplying;
}

void close_transaction()
{
    dev.position = POS_CLOSED;
    dev.supplying = false;
}

void start_supply(const std::uint8_t* bytes)
{
    dev.supplying = true;
    dev.supply = bytes;
    dev.supplied = 0;
    dev.announced = false;
    dev.supply_polls = 0;
}

// The byte at the expected position was taken: store it and move on.
void take(std::uint8_t value)
{
    const unsigned position = dev.position;
    dev.attempts = 0;
    if (position == POS_CLOSED) {
        return;
    }
    if (position == POS_COMMAND) {
        dev.command = value;
        dev.position = 1;
        return;
    }
    if (position < POS_LENGTH) {
        dev.name[position - 1] = static_cast<char>(value);
        ++dev.position;
        return;
    }
    if (position == POS_LENGTH) {
        dev.length = value;
        dev.target = lookup(dev.name);
        // A byte forced through by a fault for a key the device lacks ends it.
        if (dev.target == nullptr || dev.length == 0) {
            close_transaction();
            return;
        }
        dev.position = POS_DATA;
        if (dev.command == smc::SMC_GET_KEY_TYPE_CMD) {
            const key& k = *dev.target;
            dev.info[0] = static_cast<std::uint8_t>(k.data.size());
            std::memcpy(dev.info + 1, k.type, 4);
            dev.info[5] = k.flags;
            start_supply(dev.info);
        } else if (dev.command == smc::SMC_READ_CMD) {
            start_supply(dev.target->data.data());
        }
        return;
    }
    // A data byte of a write: stored at once, it stays even if a later one fails.
    const unsigned index = position - POS_DATA;
    if (dev.target != nullptr && index < dev.target->data.size()) {
        dev.target->data[index] = value;
    }
    if (index + 1 >= dev.length) {
        close_transaction();
    } else {
        ++dev.position;
    }
}

void on_out(std::uint8_t value, std::uint16_t port)
{
    dev.events.push_back({event_kind::out, port, value, 0});
    if (dev.cfg.scripted) {
        return;
    }
    if (port == smc::SMC_CMD_PORT) {
        // A command byte opens a new transaction, unless the last one was
        // refused and this is it written again.
        if (!(dev.open && dev.position == POS_COMMAND)) {
            if (dev.open) {
                ++dev.transaction;
            }
            dev.open = true;
            dev.attempts = 0;
        }
        dev.position = POS_COMMAND;
        dev.supplying = false;
    } else if (port != smc::SMC_DATA_PORT) {
        return;
    }
    // A command byte always has a place; a data-port byte only where the
    // transaction expects one from the tool.
    const bool placed = port == smc::SMC_CMD_PORT ||
                        (dev.open && dev.position != POS_COMMAND && !dev.supplying && dev.position != POS_CLOSED);
    ++dev.attempts;
    dev.write_pending = true;
    dev.written = value;
    dev.write_polls = 0;
    dev.write_acceptable = placed && acceptable(value, dev.position);
    dev.write_fault = placed ? find_fault(dev.transaction, dev.position) : nullptr;
}

// The status a fault shows instead of `normal`. `tries` counts the writes of
// a written byte so far, or the polls of a supplied one; `polls` counts the
// polls since the last write or handover.
std::uint8_t faulted(const fault* f, std::uint8_t normal, unsigned tries, unsigned polls)
{
    if (f == nullptr) {
        return normal;
    }
    switch (f->kind) {
    case fault_kind::refuse:
    case fault_kind::silent:
        return STATUS_NONE;
    case fault_kind::refuse_n:
        return tries <= f->count ? STATUS_NONE : normal;
    case fault_kind::busy:
        return smc::SMC_STATUS_BUSY;
    case fault_kind::busy_n:
        return polls <= f->count ? smc::SMC_STATUS_BUSY : normal;
    case fault_kind::status:
        return f->status;
    }
    return normal;
}

std::uint8_t poll_write()
{
    const unsigned polls = ++dev.write_polls;
    std::uint8_t normal = polls <= dev.cfg.busy_polls ? smc::SMC_STATUS_BUSY : smc::SMC_STATUS_ACCEPTED;
    if (!dev.write_acceptable) {
        normal = STATUS_NONE;
    }
    const std::uint8_t status = faulted(dev.write_fault, normal, dev.attempts, polls);
    const bool taken = (status & smc::SMC_STATUS_BUSY) == 0 && (status & smc::SMC_STATUS_ACCEPTED) != 0;
    const bool refused = (status & (smc::SMC_STATUS_BUSY | smc::SMC_STATUS_ACCEPTED)) == 0;
    if (taken) {
        dev.write_pending = false;
        take(dev.written);
    } else if (refused) {
        // Dropped: the device waits for the same position to be written again.
        dev.write_pending = false;
    }
    return status;
}

std::uint8_t poll_supply()
{
    if (dev.announced) {
        return smc::SMC_STATUS_DATA_READY;
    }
    const unsigned polls = ++dev.supply_polls;
    const std::uint8_t normal = polls <= dev.cfg.ready_polls ? STATUS_NONE : smc::SMC_STATUS_DATA_READY;
    const std::uint8_t status = faulted(find_fault(dev.transaction, POS_DATA + dev.supplied), normal, polls, polls);
    dev.announced = (status & smc::SMC_STATUS_DATA_READY) != 0;
    return status;
}

std::uint8_t next_script_byte(const std::vector<std::uint8_t>& script, std::size_t& next)
{
    return next < script.size() ? script[next++] : STATUS_NONE;
}

std::uint8_t on_in(std::uint16_t port)
{
    std::uint8_t value = 0;
    if (dev.cfg.scripted) {
        value = port == smc::SMC_CMD_PORT    ? next_script_byte(dev.cfg.script_status, dev.script_status_next)
                : port == smc::SMC_DATA_PORT ? next_script_byte(dev.cfg.script_data, dev.script_data_next)
                                             : 0;
    } else if (port == smc::SMC_CMD_PORT) {
        if (dev.write_pending) {
            dev.last_status = poll_write();
        } else if (dev.supplying) {
            dev.last_status = poll_supply();
        }
        value = dev.last_status;
    } else if (port == smc::SMC_DATA_PORT && dev.supplying && dev.announced) {
        value = dev.supply[dev.supplied++];
        dev.announced = false;
        dev.supply_polls = 0;
        dev.last_status = STATUS_NONE;
        if (dev.supplied == dev.length) {
            close_transaction();
        }
    }
    dev.events.push_back({event_kind::in, port, value, 0});
    return value;
}

} // namespace

void reset(const config& cfg)
{
    dev = device{};
    dev.cfg = cfg;
}

const std::vector<event>& trace()
{
    return dev.events;
}

unsigned long long slept_us()
{
    return dev.slept;
}

const key* find_key(const char* name)
{
    return lookup(name);
}

std::string format_trace(const std::vector<event>& events)
{
    std::string text;
    char line[64];
    for (const event& e : events) {
        switch (e.kind) {
        case event_kind::ioperm:
            std::snprintf(line, sizeof line, "ioperm 0x%04x %lu %u\n", unsigned{e.port}, e.amount, unsigned{e.value});
            break;
        case event_kind::out:
            std::snprintf(line, sizeof line, "out 0x%02x 0x%04x\n", unsigned{e.value}, unsigned{e.port});
            break;
        case event_kind::in:
            std::snprintf(line, sizeof line, "in 0x%04x 0x%02x\n", unsigned{e.port}, unsigned{e.value});
            break;
        case event_kind::sleep:
            std::snprintf(line, sizeof line, "sleep %lu\n", e.amount);
            break;
        }
        text += line;
    }
    return text;
}

} // namespace sim

// The simulated controller as the platform: what the tool and the access
// layer call when linked against it.
namespace smc::platform {

int ioperm(unsigned long from, unsigned long count, int turn_on)
{
    sim::dev.events.push_back(
        {sim::event_kind::ioperm, static_cast<std::uint16_t>(from), static_cast<std::uint8_t>(turn_on != 0), count});
    if (sim::dev.cfg.ioperm_errno != 0) {
        errno = sim::dev.cfg.ioperm_errno;
        return -1;
    }
    if (sim::dev.cfg.clock == sim::clock_kind::real_clock) {
        timing::minimise_timer_slack();
    }
    return 0;
}

std::uint8_t inb(std::uint16_t port)
{
    return sim::on_in(port);
}

void outb(std::uint8_t value, std::uint16_t port)
{
    sim::on_out(value, port);
}

void usleep(unsigned int microseconds)
{
    sim::dev.events.push_back({sim::event_kind::sleep, 0, 0, microseconds});
    sim::dev.slept += microseconds;
    if (sim::dev.cfg.clock == sim::clock_kind::real_clock) {
        timing::sleep_us(microseconds);
    }
}

} // namespace smc::platform
