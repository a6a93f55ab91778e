// Helpers shared by the tests: running the command in-process or as a real
// process with its output captured, and writing down expected port traffic.
#pragma once

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "sim/device.hpp"
#include "smc/smc.hpp"

namespace test {

struct outcome {
    int status = 0; // run()'s result in-process; the exit status of a process
    std::string out;
    std::string err;
};

// Runs `body` with standard output and standard error redirected to files,
// and returns what was written to each. `status` is body's result.
outcome capture(const std::function<int()>& body);

// Runs the command in this process against the simulated device, which is
// reset to `cfg` first. args[0] is the program name.
outcome run_command(const std::vector<std::string>& args, const sim::config& cfg);

// A device with the default keys and the virtual clock.
sim::config default_device();

// The words of SMCKEY_TEST_WRAPPER (e.g. a valgrind command line), under
// which the process tests run the programs they test.
std::vector<std::string> wrapper();

// Runs a program as a real process with only PATH and `env` in its
// environment, under wrapper() unless `wrapped` is false.
outcome run_process(const std::string& program, const std::vector<std::string>& args,
                    const std::vector<std::string>& env = {}, bool wrapped = true);

// The words that make the real smckey run with no capabilities and no way to
// gain any, so that its ioperm is refused on any machine. Empty when this
// cannot be arranged and checked here.
std::vector<std::string> unprivileged_prefix();

// Expected port traffic, written down event by event.
class traffic {
  public:
    traffic& ioperm();
    traffic& out(std::uint8_t value, std::uint16_t port);
    traffic& in(std::uint16_t port, std::uint8_t value);
    traffic& sleep(unsigned long us);
    // A status poll after `delay` us that shows `status`.
    traffic& poll(unsigned long delay, std::uint8_t status);
    // The pause before a refused byte and the byte written again.
    traffic& resent(std::uint8_t value, std::uint16_t port);
    // out, then one poll after 16 us that shows `status` (accepted by default).
    traffic& sent(std::uint8_t value, std::uint16_t port, std::uint8_t status = smc::SMC_STATUS_ACCEPTED);
    // A whole read transaction opening: command, the key and the length.
    traffic& opening(std::uint8_t command, const char* key, std::uint8_t length);
    // One data byte announced on the first poll and handed over.
    traffic& handed(std::uint8_t value);
    traffic& handed(std::initializer_list<std::uint8_t> values);
    std::string text() const { return sim::format_trace(events_); }

  private:
    std::vector<sim::event> events_;
};

// The device's trace as text, to compare with traffic::text().
std::string recorded();

// How many writes to any port the last run made.
int port_writes();

} // namespace test
