// Preloaded into calyx-cli analyze to hold it at a known read instead of
// racing it: the CALYX_HOLD_READS-th read of 64 KiB or more creates the file
// CALYX_HOLD_SIGNAL and waits until CALYX_HOLD_RELEASE exists.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<unsigned long> reads{0};

bool Exists(const char* path) { return path && access(path, F_OK) == 0; }

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t size)
{
    using Read = ssize_t (*)(int, void*, size_t);
    static const Read real = reinterpret_cast<Read>(dlsym(RTLD_NEXT, "read"));
    static const char* hold = std::getenv("CALYX_HOLD_READS");
    if (hold && size >= 65536 && reads.fetch_add(1) + 1 == std::strtoul(hold, nullptr, 10)) {
        const char* signal = std::getenv("CALYX_HOLD_SIGNAL");
        const char* release = std::getenv("CALYX_HOLD_RELEASE");
        if (signal) {
            if (FILE* f = std::fopen(signal, "w")) std::fclose(f);
        }
        while (release && !Exists(release))
            usleep(1000);
    }
    return real(fd, buffer, size);
}
