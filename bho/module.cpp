// The in-process server's process-wide state: module handle, module lock
// count, the two locks, the clean-up list and the cached IHighlighter type
// information.
#include "bho/module.h"

#include <atomic>
#include <new>

#include "bho/com/highlighter_interface.h"
#include "bho/com_ptr.h"
#include "core/hresult.h"

namespace glintmark::bho {
namespace {

constexpr WORD kLibraryMajor = 1;
constexpr WORD kLibraryMinor = 0;

struct CleanupEntry {
  void (*fn)(void*);
  void* arg;
  CleanupEntry* next;
};

struct ServerState {
  HINSTANCE instance = nullptr;
  bool started = false;
  CRITICAL_SECTION typeInfoLock;
  CRITICAL_SECTION classTableLock;
  CleanupEntry* cleanup = nullptr;  // newest first
};

ServerState g_state;
volatile LONG g_lockCount = 0;
// Read without the lock by every caller after the first load; written once
// under the type-information lock, cleared at unload.
std::atomic<ITypeInfo*> g_typeInfo{nullptr};

void releaseTypeInfo(void*) {
  if (ITypeInfo* info = g_typeInfo.exchange(nullptr)) info->Release();
}

HRESULT loadTypeInfo(LCID lcid) {
  ComPtr<ITypeLib> library;
  GLINTMARK_RETURN_IF_FAILED(LoadRegTypeLib(kLibidSheenpad, kLibraryMajor, kLibraryMinor, lcid, library.put()));
  ComPtr<ITypeInfo> info;
  GLINTMARK_RETURN_IF_FAILED(library->GetTypeInfoOfGuid(kIidIHighlighter, info.put()));
  GLINTMARK_RETURN_IF_FAILED(addCleanup(releaseTypeInfo, nullptr));
  g_typeInfo.store(info.detach());
  return S_OK;
}

}  // namespace

HINSTANCE moduleInstance() { return g_state.instance; }

void lockModule() { InterlockedIncrement(&g_lockCount); }
void unlockModule() { InterlockedDecrement(&g_lockCount); }
LONG moduleLockCount() { return InterlockedCompareExchange(&g_lockCount, 0, 0); }

HRESULT highlighterTypeInfo(LCID lcid, ITypeInfo** typeInfo) {
  if (typeInfo == nullptr) return E_POINTER;
  *typeInfo = nullptr;
  if (!g_state.started) return E_UNEXPECTED;
  if (g_typeInfo.load() == nullptr) {
    LockGuard guard(g_state.typeInfoLock);
    // A second check: another thread may have loaded it while this one waited.
    if (g_typeInfo.load() == nullptr) {
      const HRESULT result = loadTypeInfo(lcid);
      if (FAILED(result)) return result;
    }
  }
  ITypeInfo* info = g_typeInfo.load();
  info->AddRef();
  *typeInfo = info;
  return S_OK;
}

void startServerState(HINSTANCE instance) {
  if (g_state.started) return;
  g_state.instance = instance;
  InterlockedExchange(&g_lockCount, 0);
  InitializeCriticalSection(&g_state.typeInfoLock);
  InitializeCriticalSection(&g_state.classTableLock);
  g_state.cleanup = nullptr;
  g_state.started = true;
}

void stopServerState() {
  if (!g_state.started) return;
  g_state.started = false;
  DeleteCriticalSection(&g_state.typeInfoLock);
  DeleteCriticalSection(&g_state.classTableLock);
  CleanupEntry* entry = g_state.cleanup;
  g_state.cleanup = nullptr;
  while (entry != nullptr) {
    CleanupEntry* next = entry->next;
    entry->fn(entry->arg);
    delete entry;
    entry = next;
  }
}

bool serverStateStarted() { return g_state.started; }

CRITICAL_SECTION& classTableLock() { return g_state.classTableLock; }

HRESULT addCleanup(void (*fn)(void*), void* arg) {
  auto* entry = new (std::nothrow) CleanupEntry{fn, arg, nullptr};
  if (entry == nullptr) return E_OUTOFMEMORY;
  // The type-information lock is re-entrant, so the first-load path that holds
  // it can add its entry here too.
  if (g_state.started) EnterCriticalSection(&g_state.typeInfoLock);
  entry->next = g_state.cleanup;
  g_state.cleanup = entry;
  if (g_state.started) LeaveCriticalSection(&g_state.typeInfoLock);
  return S_OK;
}

}  // namespace glintmark::bho
