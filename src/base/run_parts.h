#pragma once

#include <thread>
#include <vector>

// Runs part(0) ... part(count - 1), part 0 on the calling thread and each
// other part on a thread of its own. A part whose thread cannot be started
// runs on the calling thread after part 0, so every part runs whatever the
// system allows; returns when all have ended.
template <class Part>
void RunParts(unsigned count, Part&& part)
{
    std::vector<std::thread> threads;
    unsigned started = 1;
    try {
        threads.reserve(count);
        for (; started < count; ++started)
            threads.emplace_back([&part, p = started] { part(p); });
    } catch (...) {
        // No more threads: the parts left run below.
    }
    part(0u);
    for (unsigned p = started; p < count; ++p)
        part(p);
    for (std::thread& t : threads)
        t.join();
}
