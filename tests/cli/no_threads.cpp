// Preloaded into calyx-cli to make every thread start fail, as on a machine
// out of threads.
#include <pthread.h>

#include <cerrno>

extern "C" int pthread_create(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return EAGAIN; }
