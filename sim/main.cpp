// smckey-sim: the smckey command against the simulated controller, so that
// it can be tried, and tested as a whole process, with no SMC at hand.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "sim/device.hpp"
#include "sim/settings.hpp"
#include "tool/smckey.hpp"

namespace {

// Exit status for a malformed SMCKEY_SIM_* setting; smckey itself never
// exits with it.
constexpr int BAD_SETTING = 2;

} // namespace

int main(int argc, char** argv)
{
    sim::config cfg;
    cfg.keys = sim::default_keys();
    cfg.clock = sim::clock_kind::real_clock;
    std::string error;
    if (!sim::configure_from_environment(cfg, error)) {
        std::fprintf(stderr, "smckey-sim: %s\n", error.c_str());
        return BAD_SETTING;
    }
    sim::reset(cfg);

    const int result = smckey::run(argc, argv);

    // The record of every port access and sleep, for whoever asked for it.
    if (const char* path = std::getenv("SMCKEY_SIM_TRACE"); path != nullptr) {
        std::FILE* file = std::fopen(path, "w");
        const std::string text = sim::format_trace(sim::trace());
        if (file == nullptr || std::fputs(text.c_str(), file) < 0 || std::fclose(file) != 0) {
            std::fprintf(stderr, "smckey-sim: SMCKEY_SIM_TRACE: cannot write \"%s\"\n", path);
            return BAD_SETTING;
        }
    }
    return result;
}
