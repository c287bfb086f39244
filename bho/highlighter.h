// Highlighter: the library's one COM class. The browser creates one per
// window as a Browser Helper Object, hands it the window's site and sends it
// the window's DWebBrowserEvents2; the toolbar button reaches an instance of
// the same class through IOleCommandTarget.
//
// Interface tables, in this order:
//   1. IObjectWithSite (primary): QueryInterface, AddRef, Release, SetSite,
//      GetSite, then the class's own OnQuit, Connect, Disconnect, HighlightPage.
//   2. IOleCommandTarget: QueryStatus, Exec.
//   3. IHighlighter (dual, over IDispatch): GetTypeInfoCount, GetTypeInfo,
//      GetIDsOfNames, Invoke. Invoke receives the browser's events.
// QueryInterface answers IHighlighter, IDispatch (both table 3), IObjectWithSite
// and IOleCommandTarget, in that order; IUnknown is the IHighlighter pointer,
// the object's identity. Everything else, DWebBrowserEvents2 included, is
// E_NOINTERFACE: the sink given to Advise is the primary pointer, and the
// event source reaches Invoke through the IDispatch it asks that pointer for.
//
// The object is apartment-threaded: the browser calls it on its window's
// thread only, so the reference count is a plain integer and no lock is taken.
// Each live object holds one count of the module lock.
#pragma once

#include <windows.h>
#include <docobj.h>
#include <exdisp.h>
#include <ocidl.h>

#include <cstddef>

#include "bho/com/highlighter_interface.h"
#include "bho/com_ptr.h"
#include "core/page_pass.h"

namespace glintmark::bho {

// createHighlighter: what the class factory's CreateInstance builds. With no
// outer object, a standalone Highlighter asked for `iid`; with one, an
// aggregated Highlighter whose inner IUnknown is returned (only IID_IUnknown
// may be asked for then: CLASS_E_NOAGGREGATION otherwise). E_POINTER for a
// null `out`, E_OUTOFMEMORY when the object cannot be allocated, else the new
// object's QueryInterface result; on any failure *out is null and no object
// is left behind.
HRESULT createHighlighter(IUnknown* outer, REFIID iid, void** out);

class Highlighter final : public IObjectWithSite, public IOleCommandTarget, public IHighlighter {
 public:
  // IUnknown, shared by the three tables. When aggregated, AddRef and Release
  // go to the outer object and QueryInterface asks it first.
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // IObjectWithSite.
  STDMETHODIMP SetSite(IUnknown* site) override;
  STDMETHODIMP GetSite(REFIID iid, void** out) override;

  // The class's own operations, appended to the primary table in this order.
  virtual HRESULT OnQuit();
  virtual HRESULT Connect();
  virtual HRESULT Disconnect();
  virtual HRESULT HighlightPage();

  // IOleCommandTarget.
  STDMETHODIMP QueryStatus(const GUID* group, ULONG count, OLECMD commands[],
                           OLECMDTEXT* text) override;
  STDMETHODIMP Exec(const GUID* group, DWORD command, DWORD option, VARIANT* in,
                    VARIANT* out) override;

  // IDispatch, through IHighlighter.
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** typeInfo) override;
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                             DISPID* dispIds) override;
  STDMETHODIMP Invoke(DISPID dispId, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                      VARIANT* result, EXCEPINFO* exception, UINT* argumentError) override;

 private:
  friend HRESULT createHighlighter(IUnknown* outer, REFIID iid, void** out);

  // The IUnknown that an outer object holds when this one is aggregated. It
  // keeps its own count, answers IUnknown with itself and every other IID
  // from the table; the last Release destroys the object.
  class InnerUnknown final : public IUnknown {
   public:
    explicit InnerUnknown(Highlighter& owner) : m_owner(owner) {}
    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

   private:
    Highlighter& m_owner;
    LONG m_refCount = 0;
  };

  // One row of the interface table: the IID and where its table sits in the
  // object.
  struct InterfaceEntry {
    const IID* iid;
    std::ptrdiff_t offset;
  };
  static const InterfaceEntry s_interfaces[];

  explicit Highlighter(IUnknown* outer);
  ~Highlighter();

  // The table lookup without the outer object: adds a reference through the
  // pointer handed out.
  HRESULT queryTable(REFIID iid, void** out);
  // The DWebBrowserEvents2 connection point of m_eventSource; whatever a
  // failing FindConnectionPoint handed out is released.
  HRESULT findEventPoint(ComPtr<IConnectionPoint>* point);

  IUnknown* m_outer;  // the controlling outer object, not counted; null when standalone
  InnerUnknown m_inner{*this};
  LONG m_refCount = 0;  // plain: apartment-threaded

  ComPtr<IUnknown> m_site;
  ComPtr<IWebBrowser2> m_browser;
  ComPtr<IConnectionPointContainer> m_eventSource;
  DWORD m_adviseCookie = 0;
  // Holds m_savedSearchText, the search text kept from page to page.
  PageSession m_session;
};

}  // namespace glintmark::bho
