#pragma once

#include <atomic>
#include <cstdint>

#include "job/tone_request.h"

// How a job reaches whoever started it: the dialog, the command-line tool or a
// test double. Calls come from the worker's thread.
class JobHost {
public:
    virtual void SetProgressRange(uint32_t upper) = 0;  // range 0 ... upper
    virtual void SetProgressPos(uint32_t pos) = 0;
    virtual void ShowMessage(const char* text, const char* caption) = 0;
    // The job ended without a stop request: "Create file" may be used again.
    virtual void JobEnded() = 0;

protected:
    ~JobHost() = default;
};

enum class JobEnd { Done, Stopped, CreateFailed, PlanRefused, WriteFailed };

// Runs one job for a request that passed BeginCreate, on the calling thread.
// busy is the stop request: clearing it stops the job after its current block.
// The worker clears busy itself when the job ends without a stop request.
JobEnd GenerationWorker(const ToneRequest& request, std::atomic<bool>& busy, JobHost& host);

// "Create file" up to the start of the worker: the busy test, the path test
// and the number checks, in order. On a failure busy is left clear.
// Returns an empty problem when the job may start (busy then stays set), and
// {nullptr, nullptr} with busy untouched when a job is already running: check
// alreadyBusy for that case.
struct CreateCheck {
    RequestProblem problem;
    bool alreadyBusy = false;
};
CreateCheck BeginCreate(const ToneRequest& request, std::atomic<bool>& busy);
