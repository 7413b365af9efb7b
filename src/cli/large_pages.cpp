// Memory on 2 MiB pages where Linux offers them (transparent huge pages,
// "madvise" or "always"). A response's transforms walk 200 MB: on 4 KiB
// pages a quarter of the time went to faulting them in (each fault costs
// microseconds on a virtual machine) and the transforms' strides missed
// the TLB. Blocks come from malloc and go back by free.

#include "cli/large_pages.h"

#include <cstdint>
#include <cstdlib>  // defines __GLIBC__
#include <new>

// Under AddressSanitizer its own allocator stays whole: it pairs every form
// of new with its delete.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define CALYX_OWN_NEW_OFF 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define CALYX_OWN_NEW_OFF 1
#endif

#if defined(__linux__) && defined(__GLIBC__)

#include <malloc.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr std::size_t LARGE_PAGE = std::size_t(2) << 20;

void Advise(uintptr_t from, uintptr_t to)
{
    const uintptr_t first = (from + LARGE_PAGE - 1) / LARGE_PAGE * LARGE_PAGE,
                    last = to / LARGE_PAGE * LARGE_PAGE;
    // Advice only: a kernel without huge pages leaves small ones.
    if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

}  // namespace

#if !defined(CALYX_OWN_NEW_OFF)

namespace {

// Blocks from 1 MiB on: the response's buffers, and the makers' runs of a
// file being made (one block, 1 MiB on two cores).
constexpr std::size_t LARGE_FROM = std::size_t(1) << 20;

void* Take(std::size_t size)
{
    if (size >= LARGE_FROM) {
        const std::size_t rounded = (size + LARGE_PAGE - 1) / LARGE_PAGE * LARGE_PAGE;
        if (void* p = std::aligned_alloc(LARGE_PAGE, rounded)) {
            const auto at = reinterpret_cast<uintptr_t>(p);
            Advise(at, at + rounded);
            return p;
        }
    }
    return std::malloc(size == 0 ? 1 : size);
}

}  // namespace

// Every scalar form of new and delete is here, so that no block taken by one
// allocator is given to the other's free.
void* operator new(std::size_t size)
{
    for (;;) {
        if (void* p = Take(size)) return p;
        const std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }

#endif

void LargePagesForAnalysis()
{
    // Freed buffers kept: the default file's analysis took 149 ms with
    // glibc giving each back and faulting it in anew, 129 ms kept. One
    // arena, so that the threads' blocks come from the heap advised below.
    mallopt(M_MMAP_THRESHOLD, 32 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
    mallopt(M_TOP_PAD, 64 << 20);
    mallopt(M_ARENA_MAX, 1);
    // The heap's first growth (M_TOP_PAD) on large pages too: the buffers
    // of a few hundred kB live there (2250 -> 600 page faults on the
    // default file).
    const auto from = reinterpret_cast<uintptr_t>(sbrk(0));
    void* volatile grown = std::malloc(1 << 20);  // volatile: a malloc freed unused may be left out
    std::free(grown);
    Advise(from, reinterpret_cast<uintptr_t>(sbrk(0)));
}

#else

void LargePagesForAnalysis() {}

#endif
