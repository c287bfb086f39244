// The class factory of the server's class table.
#include "bho/class_factory.h"

#include <new>

#include "bho/module.h"

namespace glintmark::bho {
namespace {

// The interfaces the factory answers, all with its one pointer.
constexpr const IID* kFactoryInterfaces[] = {&IID_IUnknown, &IID_IClassFactory};

}  // namespace

ClassFactory::ClassFactory(ObjectMaker maker) : m_maker(maker) { InitializeCriticalSection(&m_lock); }

ClassFactory::~ClassFactory() { DeleteCriticalSection(&m_lock); }

HRESULT ClassFactory::create(ObjectMaker maker, IUnknown** factory) {
  if (factory == nullptr) return E_POINTER;
  *factory = nullptr;
  auto* made = new (std::nothrow) ClassFactory(maker);
  if (made == nullptr) return E_OUTOFMEMORY;
  made->AddRef();  // the class table's reference: no module lock for it
  *factory = made;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE ClassFactory::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  for (const IID* known : kFactoryInterfaces) {
    if (IsEqualIID(iid, *known)) {
      AddRef();
      *out = static_cast<IClassFactory*>(this);
      return S_OK;
    }
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ClassFactory::AddRef() {
  EnterCriticalSection(&m_lock);
  const LONG count = InterlockedIncrement(&m_refCount);
  // The first client reference beside the class table's keeps the library.
  if (count == 2) lockModule();
  LeaveCriticalSection(&m_lock);
  return static_cast<ULONG>(count);
}

ULONG STDMETHODCALLTYPE ClassFactory::Release() {
  EnterCriticalSection(&m_lock);
  const LONG count = InterlockedDecrement(&m_refCount);
  // Only the class table's reference is left: no client holds the factory.
  if (count == 1) unlockModule();
  LeaveCriticalSection(&m_lock);
  if (count == 0) delete this;
  return static_cast<ULONG>(count);
}

HRESULT STDMETHODCALLTYPE ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  // An aggregated object is handed out only through its inner IUnknown.
  if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  return m_maker(outer, iid, out);
}

HRESULT STDMETHODCALLTYPE ClassFactory::LockServer(BOOL lock) {
  if (lock) {
    lockModule();
  } else {
    unlockModule();
  }
  return S_OK;
}

}  // namespace glintmark::bho
