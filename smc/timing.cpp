#include "smc/timing.hpp"

#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace smc::timing {
namespace {

// Sleeps from this long on end with a short wait on the clock (see sleep_us).
constexpr unsigned PRECISE_FROM_US = 256;

long long now_ns()
{
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec;
}

} // namespace

void minimise_timer_slack()
{
    // 1 ns is the smallest slack there is; 0 would mean "back to the default".
    // A refusal leaves the default slack: slower, never wrong.
    (void)::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

void sleep_us(unsigned int microseconds)
{
    if (microseconds < PRECISE_FROM_US) {
        (void)::usleep(microseconds);
        return;
    }
    // Even with minimal slack a sleep wakes late, by some 25 us plus a part
    // of its length on a virtual machine. A failing send sleeps 25 times, so
    // the longer sleeps wake a little early, by a margin that covers that
    // lateness, and wait out the rest on the clock. They still last at least
    // what was asked; the wait on the clock is under 1% of the time asked
    // for beyond the first 50 us.
    const long long deadline = now_ns() + static_cast<long long>(microseconds) * 1000;
    const long long wake = deadline - (50LL + microseconds / 512) * 1000;
    const timespec until{static_cast<time_t>(wake / 1000000000LL), static_cast<long>(wake % 1000000000LL)};
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
    while (now_ns() < deadline) {
#if defined(__x86_64__) || defined(__i386__)
        __builtin_ia32_pause();
#endif
    }
}

} // namespace smc::timing
