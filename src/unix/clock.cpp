// The monotonic clock and the pause of the waits.
#include <time.h>

#include <cerrno>

#include "internal.h"

namespace platform {

long long clock_ms() {
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void sleep_ms(int ms) {
    struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
    while (::nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

}  // namespace platform
