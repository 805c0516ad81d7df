// Waiting for a file that another process holds for a moment: a load meeting
// a save, a save meeting another save or a virus scanner.
#ifndef QUENDRAL_HOSTS_PATIENCE_H
#define QUENDRAL_HOSTS_PATIENCE_H

#include "platform.h"

// How long, in all, a load or a save waits for other programs holding the
// file open for a moment (virus scanners, the search indexer, a save).
constexpr int k_holder_wait_ms = 1000;

// Pauses that grow from 2 ms until a budget, counted from the first pause,
// is spent; nothing is timed when nothing has to wait.
class patience {
public:
    patience(const qh_system *os, int budget_ms) : os_(os), budget_ms_(budget_ms) {}

    // Pauses and returns true, or returns false once the budget is spent.
    bool wait() {
        const long long now = os_->clock_ms();
        if (deadline_ < 0)
            deadline_ = now + budget_ms_;
        if (now >= deadline_)
            return false;
        const long long left = deadline_ - now;
        os_->sleep_ms(left < pause_ms_ ? static_cast<int>(left) : pause_ms_);
        pause_ms_ = pause_ms_ * 2 < k_longest_pause_ms ? pause_ms_ * 2 : k_longest_pause_ms;
        return true;
    }

private:
    static constexpr int k_longest_pause_ms = 50;

    const qh_system *os_;
    int budget_ms_;
    long long deadline_ = -1;
    int pause_ms_ = 2;
};

// Repeats `step` while another process holds the file and patience lasts.
template <typename Step>
file_status while_busy(patience &wait, Step step) {
    file_status status;
    while ((status = step()) == FILE_BUSY && wait.wait()) {
    }
    return status;
}

#endif
