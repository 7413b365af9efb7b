#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/stop.h"
#include "job/generation_worker.h"
#include "job/tone_set.h"

// How a set reaches its starter; calls come from the set's job threads.
class ToneSetHost {
public:
    // A member's job made another block (bytes of samples so far in its file).
    virtual void MemberProgress(size_t member, uint64_t bytes) = 0;
    // A member's job ended.
    virtual void MemberEnded(size_t member, const JobResult& result) = 0;
    virtual void ShowMessage(size_t member, const char* text, const char* caption) = 0;

protected:
    ~ToneSetHost() = default;
};

// Makes the members, up to atOnce files at once (all on the calling thread
// where no other can start). Once stop is requested, the files in progress
// are finished with their blocks so far and the rest are not started; a
// failed file does the same to the rest. Returns each member's result
// (JobEnd::Stopped and created false for one not started).
std::vector<JobResult> ToneSetCreate(const std::vector<ToneSetMember>& members, unsigned atOnce,
                                     const Stop& stop, ToneSetHost& host, const WaveIo& io = {});
