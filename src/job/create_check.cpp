#include "job/create_check.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

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
    size_t length = 0;
    while (length <= PATH_FIELD_CHARS && pathText[length] != '\0')
        ++length;
    const bool fits = length <= PATH_FIELD_CHARS;
    std::memset(request.szPath, 0, sizeof request.szPath);
    if (fits) std::memcpy(request.szPath, pathText, length);
    const RequestProblem problem = fits && PathCanBeCreated(request.szPath)
                                       ? CheckRequest(request)
                                       : RequestProblem{MESSAGE_PATH, CAPTION_PATH};
    if (problem) busy.store(false);
    return {problem, false};
}
