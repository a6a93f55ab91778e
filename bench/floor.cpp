// The floor a read of a two-byte key cannot beat: a static program that does
// nothing but the twenty 16 us sleeps of the read's polls, with the same
// minimal timer slack.
#include <sys/prctl.h>
#include <unistd.h>

int main()
{
    (void)prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    for (int i = 0; i < 20; ++i) {
        (void)usleep(16);
    }
    return 0;
}
