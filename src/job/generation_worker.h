#pragma once

#include <atomic>

#include "job/job_host.h"
#include "job/tone_request.h"
#include "wave/wave_writer.h"

inline constexpr const char* MESSAGE_CREATE_FAILED = "Sorry, can't do this. Something's wrong";
inline constexpr const char* MESSAGE_TOO_SHORT =
    "The tone is too short: it needs at least two whole cycles and more than one block "
    "of 512 samples.";
inline constexpr const char* MESSAGE_WRITE_FAILED =
    "Writing the file failed. It holds only the part written before the failure.";

// Runs one job for a request that passed BeginCreate, on the calling thread.
// The request is copied first thing, so the caller may change it afterwards.
// busy is the stop request: clearing it stops the job after its current block.
// The worker clears busy itself when the job ends without a stop request.
// The thread's entry should restore the default floating-point state first
// (_fpreset on Windows) so that every job computes alike. write, when given,
// replaces the file's block write (a test seam).
JobEnd GenerationWorker(const ToneRequest& request, std::atomic<bool>& busy, JobHost& host,
                        const WaveBlockWrite& write = {});

// For a front end whose worker thread could not be started: reports it, clears
// busy and tells the host that "Create file" may be used again.
void JobStartFailed(std::atomic<bool>& busy, JobHost& host);
