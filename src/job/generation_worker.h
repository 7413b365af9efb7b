#pragma once

#include <cstdint>
#include <memory>

#include "base/stop.h"
#include "job/job_host.h"
#include "job/tone_request.h"
#include "synth/multitone.h"
#include "synth/sweep.h"
#include "wave/wave_writer.h"

inline constexpr const char* MESSAGE_CREATE_FAILED = "Sorry, can't do this. Something's wrong";
inline constexpr const char* MESSAGE_TOO_SHORT =
    "The tone is too short: it needs at least two whole cycles and more than one block "
    "of 512 samples.";
inline constexpr const char* MESSAGE_WRITE_FAILED =
    "Writing the file failed. It holds only the part written before the failure.";
inline constexpr const char* MESSAGE_STREAM_FAILED =
    "Writing the stream failed. Its data is shorter than its header announces.";

// What became of a job's file.
struct JobResult {
    JobEnd end = JobEnd::Done;
    uint32_t dataBytes = 0;     // of samples, in whole blocks, in the file or stream
    uint32_t plannedBytes = 0;  // of the whole tone
    bool stream = false;        // a stream (pipe, FIFO, device): its header announced plannedBytes
    bool created = false;       // a file was made
    int error = 0;              // the system's error code of a failed creation or write, or 0
    // What was planned, for a summary: a sweep's or periodic signal's plan.
    std::shared_ptr<const ToneSweep> sweep;
    std::shared_ptr<const ToneMultitone> multitone;
};

// Runs one job for a request that passed RequestBeginCreate, on the calling thread.
// The request is copied first thing, so the caller may change it afterwards.
// A request of stop ends the job after the runs of blocks under way (or its
// planning); a job that ends without one calls host.JobEnded, where the
// starter clears its busy flag. The thread's entry should restore the default
// floating-point state first (_fpreset on Windows) so that every job
// computes alike. io is how the file is reached (see WaveIo); up to
// `makers` threads make the blocks, the calling one among them (the host
// hears from that one only), with the bytes of one.
JobResult JobGenerate(const ToneRequest& request, const Stop& stop, JobHost& host, const WaveIo& io = {},
                      unsigned makers = 1);

// For a front end whose worker thread could not be started: reports it and
// tells the host that "Create file" may be used again.
void JobStartFailed(JobHost& host);
