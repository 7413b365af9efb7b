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

inline constexpr const char* MESSAGE_CREATE_FAILED = "Sorry, can't do this. Something's wrong";
inline constexpr const char* MESSAGE_TOO_SHORT =
    "The tone is too short: it needs at least two whole cycles and more than one block "
    "of 512 samples.";
inline constexpr const char* MESSAGE_WRITE_FAILED =
    "Writing the file failed. It holds only the part written before the failure.";
inline constexpr const char* MESSAGE_PATH =
    "Something wrong with the path or filename, or maybe you don't have permission to put it "
    "there.";

// Runs one job for a request that passed BeginCreate, on the calling thread.
// The request is copied first thing, so the caller may change it afterwards.
// busy is the stop request: clearing it stops the job after its current block.
// The worker clears busy itself when the job ends without a stop request.
// The thread's entry should restore the default floating-point state first
// (_fpreset on Windows) so that every job computes alike.
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
// pathText is the path as the user typed it; it is copied into szPath, and a
// path too long for szPath fails the path test rather than being cut short.
CreateCheck BeginCreate(ToneRequest& request, const char* pathText, std::atomic<bool>& busy);
// The same with the path already in request.szPath.
CreateCheck BeginCreate(const ToneRequest& request, std::atomic<bool>& busy);

// For a front end whose worker thread could not be started: reports it, clears
// busy and tells the host that "Create file" may be used again.
void JobStartFailed(std::atomic<bool>& busy, JobHost& host);

// The creatability test: true when a file can be created at path. An existing
// file is opened without truncating and left as it was; a file the test made
// itself is removed again.
bool PathCanBeCreated(const char* path);
