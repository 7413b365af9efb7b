#include "job/create_check.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

bool RequestPathCanBeCreated(const std::string& path)
{
    if (path.empty()) return false;
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(fs::path(path), ec);
    if (status.type() == fs::file_type::none) return false;  // cannot even look there
    if (status.type() == fs::file_type::regular) {
        // It must open for writing, and it must not change.
        std::FILE* file = std::fopen(path.c_str(), "r+b");
        if (!file) return false;
        std::fclose(file);
        return true;
    }
    if (status.type() != fs::file_type::not_found) {
        // A stream or a device: one that allows writing at all (the system
        // has the last word when the job opens it); never a directory.
        constexpr auto WRITE = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
        return status.type() != fs::file_type::directory && (status.permissions() & WRITE) != fs::perms::none;
    }
    // Nothing there yet. The file a dangling link leads to is the one the
    // job would make, and the one to remove again (not the link).
    fs::path made = path;
    for (int hops = 0; fs::is_symlink(fs::symlink_status(made, ec)); ++hops) {
        const fs::path target = fs::read_symlink(made, ec);
        if (ec || hops == 40) return false;  // the system's own limit on links in a row
        made = target.is_absolute() ? target : made.parent_path() / target;
    }
    // Appending never empties a file that appeared since the look above.
    std::FILE* file = std::fopen(made.string().c_str(), "ab");
    if (!file) return false;
    std::fclose(file);
    fs::remove(made, ec);
    return true;
}

CreateCheck RequestBeginCreate(ToneRequest& request, const std::string& pathText, std::atomic<bool>& busy,
                               PathRules rules)
{
    if (busy.exchange(true)) return {{}, true};
    request.path = pathText;
    const bool pathFits = pathText.size() <= rules.maxChars;
    const RequestRefusal refusal = pathFits && (rules.toStream || RequestPathCanBeCreated(pathText))
                                       ? RequestCheck(request)
                                       : RequestRefusal{MESSAGE_PATH, CAPTION_PATH};
    if (refusal) busy.store(false);
    return {refusal, false};
}
