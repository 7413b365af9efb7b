#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "job/generation_worker.h"
#include "job/tone_request.h"

// A set of files: every combination of the values given for each request
// option, each written as a file of its own, byte for byte the file the
// single request makes.

// The options as given: comma-separated lists of numbers, and for the
// frequency also the names "octaves" and "thirds".
struct ToneSetOptions {
    std::string rate = "384000";
    std::string freq = "1000";
    std::string atten = "0";
    std::string seconds = "30";
    std::string bits = "32";
    std::string out;     // a name pattern with {rate} {freq} {atten} {seconds} {bits}; empty: the default
    std::string outDir;  // a folder for the files; empty: none
};

// One file of a set: its request and the values as written in the lists.
struct ToneSetMember {
    ToneRequest request;
    std::string rate, freq, atten, seconds, bits;
};

// The octave and third-octave frequencies (ISO 266 nominal values) that the
// names "octaves" and "thirds" stand for.
inline constexpr const char* OCTAVE_FREQUENCIES[] = {"31.5", "63",   "125",  "250",  "500",
                                                     "1000", "2000", "4000", "8000", "16000"};
inline constexpr const char* THIRD_OCTAVE_FREQUENCIES[] = {
    "20",   "25",   "31.5", "40",   "50",   "63",    "80",    "100",   "125",  "160",  "200",
    "250",  "315",  "400",  "500",  "630",  "800",   "1000",  "1250",  "1600", "2000", "2500",
    "3150", "4000", "5000", "6300", "8000", "10000", "12500", "16000", "20000"};

// Expands the options into members, in the order rate, frequency,
// attenuation, duration, bit width (the last varying fastest), named by the
// pattern (or by a default that names every option with more than one
// value) in outDir. currentDir gives a single request its default path.
// Returns an empty text, or what is wrong with the options.
std::string ToneSetExpand(const ToneSetOptions& options, const std::string& currentDir,
                          std::vector<ToneSetMember>& members);

// Checks every member as "Create file" does, and more: each path is tested,
// names are not repeated, hold no character a Windows file name cannot, and
// every tone can be planned. Changes nothing on disk. Returns an empty text,
// or the first refusal, naming its member.
std::string ToneSetCheck(const std::vector<ToneSetMember>& members);

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

// Makes the members, up to jobs files at once. stop is the stop request:
// once set, the files in progress are finished with their blocks so far and
// the rest are not started; a failed file does the same to the rest.
// Returns each member's result (JobEnd::Stopped and created false for one
// not started).
std::vector<JobResult> ToneSetCreate(const std::vector<ToneSetMember>& members, unsigned jobs,
                                     const std::atomic<bool>& stop, ToneSetHost& host, const WaveIo& io = {});
