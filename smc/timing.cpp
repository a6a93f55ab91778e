#include "smc/timing.hpp"

#include <sys/prctl.h>
#include <unistd.h>

namespace smc::timing {

void minimise_timer_slack()
{
    // 1 ns is the smallest slack there is; 0 would mean "back to the default".
    // A refusal leaves the default slack: slower, never wrong.
    (void)::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

void sleep_us(unsigned int microseconds)
{
    (void)::usleep(microseconds);
}

} // namespace smc::timing
