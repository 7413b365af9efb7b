#pragma once

#include <cstdint>

// How a job reaches whoever started it: the dialog, the command-line tool or a
// test double. Calls come from the job's thread.
class JobHost {
public:
    virtual void SetProgressRange(uint32_t upper) = 0;  // range 0 ... upper
    virtual void SetProgressPos(uint32_t pos) = 0;
    virtual void ShowMessage(const char* text, const char* caption) = 0;
    // The job ended without a stop request: the starter clears its busy
    // flag, and "Create file" may be used again.
    virtual void JobEnded() = 0;

protected:
    ~JobHost() = default;
};

enum class JobEnd { Done, Stopped, CreateFailed, PlanRefused, WriteFailed };
