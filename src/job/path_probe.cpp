#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "job/generation_worker.h"

namespace {

constexpr RequestProblem PATH_PROBLEM{MESSAGE_PATH, CAPTION_PATH};

// Steps of "Create file" after the path is in szPath; busy is set.
RequestProblem CheckPathAndNumbers(const ToneRequest& request, std::atomic<bool>& busy)
{
    RequestProblem problem;
    if (!PathCanBeCreated(request.szPath))
        problem = PATH_PROBLEM;
    else
        problem = CheckRequest(request);
    if (problem) busy.store(false);
    return problem;
}

}  // namespace

bool PathCanBeCreated(const char* path)
{
    if (path == nullptr || *path == '\0') return false;
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_type type = fs::symlink_status(fs::path(path), ec).type();
    if (type == fs::file_type::none) return false;  // cannot even look there
    if (type != fs::file_type::not_found) {
        // Something is there: it must open for writing, and it must not change.
        std::FILE* file = std::fopen(path, "r+b");
        if (!file) return false;
        std::fclose(file);
        return true;
    }
    // Appending never empties a file that appeared since the look above.
    std::FILE* file = std::fopen(path, "ab");
    if (!file) return false;
    std::fclose(file);
    std::remove(path);
    return true;
}

CreateCheck BeginCreate(ToneRequest& request, const char* pathText, std::atomic<bool>& busy)
{
    if (busy.exchange(true)) return {{}, true};
    std::memset(request.szPath, 0, sizeof request.szPath);
    size_t length = 0;
    while (length < sizeof request.szPath && pathText[length] != '\0') ++length;
    // Cutting a long path short would write somewhere the user did not ask for.
    if (length >= sizeof request.szPath) {
        busy.store(false);
        return {PATH_PROBLEM, false};
    }
    std::memcpy(request.szPath, pathText, length);
    return {CheckPathAndNumbers(request, busy), false};
}

CreateCheck BeginCreate(const ToneRequest& request, std::atomic<bool>& busy)
{
    if (busy.exchange(true)) return {{}, true};
    if (request.szPath[sizeof request.szPath - 1] != '\0') {
        busy.store(false);
        return {PATH_PROBLEM, false};
    }
    return {CheckPathAndNumbers(request, busy), false};
}
