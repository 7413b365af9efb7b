#include "cli/output_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <filesystem>
#include <fstream>
#include <system_error>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr const char* NOT_REGULAR =
    "it is not a regular file, and pictures are written to regular files only";

}  // namespace

#ifdef _WIN32

std::string CliWriteRegularFile(const std::string& path, const std::string& bytes)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_type type = fs::status(path, ec).type();
    if (type != fs::file_type::regular && type != fs::file_type::not_found) return NOT_REGULAR;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    out.close();
    return out ? "" : "it could not be written";
}

bool CliStdoutOpen() { return true; }

#else

std::string CliWriteRegularFile(const std::string& path, const std::string& bytes)
{
    // Not blocking: opening a FIFO for writing would wait for a reader.
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) return errno == ENXIO ? NOT_REGULAR : std::strerror(errno);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return NOT_REGULAR;
    }
    int error = ftruncate(fd, 0) == 0 ? 0 : errno;
    for (size_t done = 0; error == 0 && done < bytes.size();) {
        const ssize_t wrote = write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno != EINTR) error = errno;
        if (wrote > 0) done += size_t(wrote);
    }
    if (close(fd) != 0 && error == 0) error = errno;
    return error ? std::strerror(error) : "";
}

bool CliStdoutOpen() { return fcntl(STDOUT_FILENO, F_GETFD) != -1 || errno != EBADF; }

#endif

bool CliWriteStdout(const std::string& text)
{
    errno = 0;
    const bool wrote = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    return std::fflush(stdout) == 0 && wrote && !std::ferror(stdout);
}
