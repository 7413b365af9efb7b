#pragma once

#include <cstdio>
#include <filesystem>

// Opens a regular file for writing in place of the one at path, keeping the
// old file's owner, group, mode and extended attributes. The old file is
// removed and a new one made (which spares ext4 the flush of a file emptied
// and written again); where the system would not let the new file keep all
// of them, the old file is emptied and written in place instead. Null on
// failure. POSIX systems only: on Windows the writer's own replacement
// serves.
#ifndef _WIN32
std::FILE* ReplaceKeepingOwner(const std::filesystem::path& path);
#endif
