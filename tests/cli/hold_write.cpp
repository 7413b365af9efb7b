// Preloaded into calyx-cli to hold a job at a known point instead of racing
// it: once CALYX_HOLD_BYTES bytes have gone through fwrite, the next fwrite
// creates the file CALYX_HOLD_SIGNAL and waits until CALYX_HOLD_RELEASE
// exists. A test stops the job while it is held, then releases it.
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<unsigned long long> written{0};

bool Exists(const char* path) { return path && access(path, F_OK) == 0; }

}  // namespace

extern "C" size_t fwrite(const void* data, size_t size, size_t count, FILE* file)
{
    using Fwrite = size_t (*)(const void*, size_t, size_t, FILE*);
    static const Fwrite real = reinterpret_cast<Fwrite>(dlsym(RTLD_NEXT, "fwrite"));
    static const char* limit = std::getenv("CALYX_HOLD_BYTES");
    if (limit && file != stdout && file != stderr &&
        written.fetch_add(size * count) >= std::strtoull(limit, nullptr, 10)) {
        const char* signal = std::getenv("CALYX_HOLD_SIGNAL");
        const char* release = std::getenv("CALYX_HOLD_RELEASE");
        if (signal && !Exists(signal)) {
            if (FILE* f = std::fopen(signal, "w")) std::fclose(f);
        }
        while (release && !Exists(release)) usleep(1000);
    }
    return real(data, size, count, file);
}
