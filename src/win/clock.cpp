// The performance counter as the clock of the waits, and the pause.
#include "internal.h"

namespace platform {

// The performance counter, not GetTickCount64: its 15.6 ms ticks would let a
// wait of "about a second" end early by a tick.
long long clock_ms() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER count;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    return count.QuadPart / frequency.QuadPart * 1000 +
           count.QuadPart % frequency.QuadPart * 1000 / frequency.QuadPart;
}

void sleep_ms(int ms) {
    Sleep(static_cast<DWORD>(ms));
}

}  // namespace platform
