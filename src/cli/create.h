#pragma once

#include <string>
#include <vector>

#include "job/generation_worker.h"
#include "job/tone_request.h"
#include "job/tone_set.h"

inline constexpr int EXIT_DONE = 0;
inline constexpr int EXIT_FAILED = 1;
inline constexpr int EXIT_REFUSED = 2;
inline constexpr int EXIT_STOPPED = 130;

// The system's reason for a failed job, on the line after the designed
// message (which stays as the dialog shows it); nothing without one.
void CliPrintReason(const JobResult& result, const char* prefix);

// One request to the file at path ("-": standard output), as the dialog's
// "Create file" makes it: the checks, the job, a progress bar on a terminal
// and a summary. Returns the exit status.
int CliCreateOne(ToneRequest request, const std::string& path, bool quiet);

// A set, members checked first, up to atOnce files at once. Returns the exit status.
int CliCreateSet(const std::vector<ToneSetMember>& members, unsigned atOnce, bool quiet);
