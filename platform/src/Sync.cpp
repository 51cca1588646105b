// Critical sections (a recursive pthread mutex in the caller's opaque storage)
// and the interlocked counters.
#include <pthread.h>

#include <windows.h>

namespace {

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::opaque),
              "a pthread mutex must fit in CRITICAL_SECTION");
static_assert(alignof(pthread_mutex_t) <= alignof(CRITICAL_SECTION),
              "CRITICAL_SECTION must be aligned for a pthread mutex");

pthread_mutex_t* mutexOf(LPCRITICAL_SECTION section) {
  return reinterpret_cast<pthread_mutex_t*>(section->opaque);
}

}  // namespace

extern "C" {

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  if (lpCriticalSection == nullptr) return;
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(mutexOf(lpCriticalSection), &attributes);
  pthread_mutexattr_destroy(&attributes);
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  if (lpCriticalSection == nullptr) return;
  pthread_mutex_lock(mutexOf(lpCriticalSection));
}

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  if (lpCriticalSection == nullptr) return;
  pthread_mutex_unlock(mutexOf(lpCriticalSection));
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
  if (lpCriticalSection == nullptr) return;
  pthread_mutex_destroy(mutexOf(lpCriticalSection));
}

}  // extern "C"
