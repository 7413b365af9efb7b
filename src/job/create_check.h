#pragma once

#include <atomic>
#include <string>

#include "job/tone_request.h"

inline constexpr const char* MESSAGE_PATH =
    "Something wrong with the path or filename, or maybe you don't have permission to put it "
    "there.";

// The outcome of "Create file" up to the start of the job.
struct CreateCheck {
    RequestRefusal refusal;    // empty: the job may start
    bool alreadyBusy = false;  // a job was running: nothing was checked
};

// What the path test takes of a front end's path.
struct PathRules {
    size_t maxChars = std::string::npos;  // the dialog's field holds 255
    bool toStream = false;                // the file goes to an open stream: no path to test
};

// "Create file" up to the start of the job: the busy test, the path test and
// the number checks, in this order, each reported as its message. pathText
// becomes the request's path; a path longer than the rules allow is refused,
// never cut short. Busy stays set when the job may start and is cleared on a
// refusal; when a job is already running, nothing else happens.
CreateCheck RequestBeginCreate(ToneRequest& request, const std::string& pathText, std::atomic<bool>& busy,
                               PathRules rules = {});

// The path test: true when a file can be written at path. It changes
// nothing on disk: an existing regular file is opened for writing without
// being emptied, a file the test has to create to find out is removed
// again, and a pipe, a FIFO or a device is not opened at all (that would
// end its reader's stream), only looked at.
bool RequestPathCanBeCreated(const std::string& path);
