// ClassFactory: the class factory of a class of the server's class table (for
// this library, the Highlighter class factory).
//
// It answers IUnknown and IClassFactory with the same pointer. The class
// table keeps the first reference for the life of the library; every further
// reference belongs to a client, so the count reaching 2 takes a module lock
// and falling back to 1 gives it back. CreateInstance hands the actual
// building to the class's object maker.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace glintmark::bho {

// Builds one object of the class, standalone when outer is null, aggregated
// inside outer otherwise, and answers its QueryInterface for iid into *out.
// The object takes its own module lock; on failure it is destroyed again.
using ObjectMaker = HRESULT (*)(IUnknown* outer, REFIID iid, void** out);

class ClassFactory final : public IClassFactory {
 public:
  // makeClassFactory: a new factory for `maker`, with a reference count of 1
  // held by *factory (the class table's reference). E_POINTER for a null out
  // pointer, E_OUTOFMEMORY when it cannot be allocated.
  static HRESULT create(ObjectMaker maker, IUnknown** factory);

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IClassFactory
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;

 private:
  explicit ClassFactory(ObjectMaker maker);
  ~ClassFactory();
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  ObjectMaker m_maker;
  LONG m_refCount = 0;
  CRITICAL_SECTION m_lock;
};

}  // namespace glintmark::bho
