#pragma once

#include <atomic>

#include "job/tone_request.h"

inline constexpr const char* MESSAGE_PATH =
    "Something wrong with the path or filename, or maybe you don't have permission to put it "
    "there.";

// The outcome of "Create file" up to the start of the job.
struct CreateCheck {
    RequestProblem problem;    // empty: the job may start
    bool alreadyBusy = false;  // a job was running: nothing was checked
};

// "Create file" up to the start of the job: the busy test, the path test and
// the number checks, in this order, each reported as its message. pathText
// is copied into szPath; a path longer than the field is refused, never cut
// short. Busy stays set when the job may start and is cleared on a refusal;
// when a job is already running, nothing else happens.
CreateCheck BeginCreate(ToneRequest& request, const char* pathText, std::atomic<bool>& busy);

// The path test: true when a file can be written at path. It changes
// nothing on disk: an existing file is opened for writing without being
// emptied, and a file the test has to create to find out is removed again.
bool PathCanBeCreated(const char* path);
