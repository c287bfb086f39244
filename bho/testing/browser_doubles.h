// COM doubles of the browser for the Highlighter's tests.
//
// - FakeBrowser: IWebBrowser2 + IConnectionPointContainer, standing for a
//   browser window or a frame; its get_Document hands out whatever document
//   the test set.
// - FakeConnectionPoint: the DWebBrowserEvents2 source; records Advise and
//   Unadvise and delivers events through each sink's IDispatch::Invoke.
// - DocumentDouble and the objects it hands out: IHTMLDocument2,
//   IHTMLElementCollection, IHTMLAnchorElement/IHTMLElement,
//   IHTMLBodyElement and IHTMLTxtRange over any core/document.h model (the
//   HTML document model in the tests), so the page pass that runs through the
//   COM adapter works on a real page.
// - PlainObject: answers IUnknown (and IDispatch) only.
//
// Every double counts its references and the number of doubles alive
// (liveDoubles()), so a test can prove that each reference handed out was
// given back. Any method can be made to fail by its name
// (failCall("IHTMLDocument2::get_URL", E_FAIL)).
#pragma once

#include <windows.h>
#include <exdisp.h>
#include <mshtml.h>
#include <ocidl.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bho/com_ptr.h"
#include "bho/testing/com_stubs.h"
#include "core/document.h"

namespace glintmark::bho::testing {

// The number of doubles alive in the process.
int liveDoubles();

// failCall: from now on the named method answers `result` and does nothing
// else. clearFailures undoes every failCall.
void failCall(const std::string& method, HRESULT result);
void clearFailures();
// How often the named method was called since the last clearFailures.
int callCount(const std::string& method);

// The reference counting and QueryInterface of every double. A derived class
// names what it answers in find().
class CountedObject {
 public:
  CountedObject();
  CountedObject(const CountedObject&) = delete;
  CountedObject& operator=(const CountedObject&) = delete;
  LONG refCount() const { return m_refCount; }

 protected:
  virtual ~CountedObject();
  // The interface pointer for iid (no reference added), or null.
  virtual IUnknown* find(REFIID iid) = 0;
  HRESULT queryDouble(REFIID iid, void** out);
  ULONG addRefDouble() { return static_cast<ULONG>(++m_refCount); }
  ULONG releaseDouble();

 private:
  LONG m_refCount = 1;  // the creator's reference
};

#define GLINTMARK_DOUBLE_IUNKNOWN                                                             \
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return queryDouble(iid, out); } \
  STDMETHODIMP_(ULONG) AddRef() override { return addRefDouble(); }                          \
  STDMETHODIMP_(ULONG) Release() override { return releaseDouble(); }

#define GLINTMARK_DOUBLE_IDISPATCH                                                                 \
  STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }                              \
  STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }                 \
  STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; } \
  STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { \
    return E_NOTIMPL;                                                                              \
  }

// Makes a double: the returned holder owns the creator's reference.
template <typename T, typename... Args>
ComPtr<T> makeDouble(Args&&... args) {
  ComPtr<T> result;
  result.attach(new T(std::forward<Args>(args)...));
  return result;
}

// An object that answers IUnknown and IDispatch only.
class PlainObject final : public CountedObject, public IDispatch {
 public:
  GLINTMARK_DOUBLE_IUNKNOWN
  GLINTMARK_DOUBLE_IDISPATCH

 private:
  IUnknown* find(REFIID iid) override;
};

class FakeConnectionPoint final : public CountedObject, public IConnectionPoint {
 public:
  GLINTMARK_DOUBLE_IUNKNOWN
  STDMETHODIMP GetConnectionInterface(IID* iid) override;
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer**) override { return E_NOTIMPL; }
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) override;
  STDMETHODIMP Unadvise(DWORD cookie) override;
  STDMETHODIMP EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

  // Calls Invoke on the IDispatch of every advised sink; the result of the
  // last call (S_OK when there is no sink).
  HRESULT fire(DISPID dispId, DISPPARAMS& params);
  // DocumentComplete(source, url), with the arguments in reverse order.
  HRESULT fireDocumentComplete(IDispatch* source, const wchar_t* url);
  HRESULT fireOnQuit();

  int adviseCalls = 0;
  int unadviseCalls = 0;
  DWORD lastUnadvisedCookie = 0;
  std::size_t connections() const { return m_sinks.size(); }
  IUnknown* sink(std::size_t i) const { return m_sinks[i].second.get(); }

 private:
  IUnknown* find(REFIID iid) override;
  std::vector<std::pair<DWORD, ComPtr<IUnknown>>> m_sinks;
  DWORD m_nextCookie = 0x100;
};

class FakeBrowser final : public CountedObject,
                          public IWebBrowser2Stubs,
                          public IConnectionPointContainer {
 public:
  // `offersEvents`: whether it answers IConnectionPointContainer.
  explicit FakeBrowser(bool offersEvents = true);
  ~FakeBrowser() override;
  GLINTMARK_DOUBLE_IUNKNOWN
  GLINTMARK_DOUBLE_IDISPATCH
  STDMETHODIMP get_Document(IDispatch** document) override;
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

  // The document get_Document hands out (null: it succeeds with none).
  void setDocument(IDispatch* document) { m_document = ComPtr<IDispatch>(document); }
  FakeConnectionPoint& events() { return *m_events.get(); }
  IDispatch* dispatch() { return static_cast<IWebBrowser2*>(this); }

 private:
  IUnknown* find(REFIID iid) override;
  bool m_offersEvents;
  ComPtr<FakeConnectionPoint> m_events;
  ComPtr<IDispatch> m_document;
};

// IHTMLDocument2 over a core/document.h Document. The model must outlive the
// double.
class DocumentDouble final : public CountedObject, public IHTMLDocument2Stubs {
 public:
  explicit DocumentDouble(std::unique_ptr<Document> model) : m_model(std::move(model)) {}
  GLINTMARK_DOUBLE_IUNKNOWN
  GLINTMARK_DOUBLE_IDISPATCH
  STDMETHODIMP get_title(BSTR* text) override;
  STDMETHODIMP get_URL(BSTR* text) override;
  STDMETHODIMP get_referrer(BSTR* text) override;
  STDMETHODIMP get_body(IHTMLElement** body) override;
  STDMETHODIMP get_all(IHTMLElementCollection** all) override;

 private:
  IUnknown* find(REFIID iid) override;
  std::unique_ptr<Document> m_model;
};

}  // namespace glintmark::bho::testing
