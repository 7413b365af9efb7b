#pragma once

#include <atomic>

// A stop request: once requested it stays requested. One may be chained to
// another (a set's stop to the user's, a member's to its set's), and then
// it is also requested when any stop it is chained to is, without a thread
// copying one flag into another. Requesting is a lock-free store, so a
// signal handler may request a stop in static storage.
class Stop {
public:
    Stop() = default;
    explicit Stop(const Stop* outer) : outer(outer) {}
    Stop(const Stop&) = delete;
    Stop& operator=(const Stop&) = delete;

    void Request() noexcept { requested.store(true, std::memory_order_release); }
    bool Requested() const noexcept
    {
        for (const Stop* s = this; s; s = s->outer)
            if (s->requested.load(std::memory_order_acquire)) return true;
        return false;
    }

private:
    std::atomic<bool> requested{false};
    const Stop* outer = nullptr;
};
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler may only use a lock-free flag");
