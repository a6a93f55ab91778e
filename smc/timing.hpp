// Short sleeps that last what they ask for. Both the real platform and the
// simulated controller's real clock sleep through here.
#pragma once

namespace smc::timing {

// Linux stretches every sleep by the thread's timer slack (50 us unless set),
// which would turn each 16 us status poll into about 70 us. Called once
// before the first port access.
void minimise_timer_slack();

// Sleeps at least `microseconds`.
void sleep_us(unsigned int microseconds);

} // namespace smc::timing
