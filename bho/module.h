// The in-process server's process-wide state, as the COM objects see it.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace glintmark::bho {

// The library's own module handle (set at process attach).
HINSTANCE moduleInstance();

// The module lock count: every live object, every LockServer(TRUE) not yet
// matched, and the class factory while a client holds it. Interlocked.
void lockModule();
void unlockModule();
LONG moduleLockCount();

// highlighterTypeInfo: the IHighlighter type information from the registered
// type library (LIBID {5A7D3C10-4E2B-11D5-9F31-0050DA2B7E10} 1.0, locale lcid),
// loaded on first use under the server's type-information lock, cached for the
// life of the library and released at unload. Adds a reference to *typeInfo.
HRESULT highlighterTypeInfo(LCID lcid, ITypeInfo** typeInfo);

// The server state's life: process attach sets it up (module handle, lock
// count 0, the type-information and class-table locks, an empty clean-up
// list); process detach tears it down. A test program that links the server's
// objects into itself, with no DLL entry point, calls these itself; until
// startServerState has run, highlighterTypeInfo answers E_UNEXPECTED.
void startServerState(HINSTANCE instance);
// Deletes both locks, then runs the clean-up list newest first (releasing the
// cached type information). Does nothing unless the state is set up.
void stopServerState();
bool serverStateStarted();

// The lock that serialises the creation of a class factory.
CRITICAL_SECTION& classTableLock();

// Enters a critical section for one scope, so that no early return leaves it held.
class LockGuard {
 public:
  explicit LockGuard(CRITICAL_SECTION& lock) : m_lock(lock) { EnterCriticalSection(&m_lock); }
  ~LockGuard() { LeaveCriticalSection(&m_lock); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  CRITICAL_SECTION& m_lock;
};

// addCleanup: fn(arg) runs at stopServerState, newest entry first.
// E_OUTOFMEMORY when the entry cannot be allocated.
HRESULT addCleanup(void (*fn)(void*), void* arg);

}  // namespace glintmark::bho
