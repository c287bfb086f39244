#include "bho/highlighter.h"

#include <exdispid.h>
#include <gtest/gtest.h>
#include <olectl.h>

#include <atomic>
#include <chrono>
#include <cwchar>
#include <string>
#include <string_view>
#include <thread>

#include "bho/class_factory.h"
#include "bho/module.h"
#include "bho/testing/browser_doubles.h"
#include "bho/testing/pages.h"
#include "core/highlight_options.h"

namespace glintmark::bho {
namespace {

using testing::FakeBrowser;
using testing::PlainObject;
using testing::callCount;
using testing::failCall;
using testing::liveDoubles;
using testing::makeDouble;
using testing::makePage;

// Out pointers start as this, so a test sees that a failure nulls them.
void* const kPoison = reinterpret_cast<void*>(static_cast<std::uintptr_t>(0xDEADBEEF));

// Any command group: the object does not look at it.
constexpr GUID kSomeCommandGroup = {0x12345678, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}};

// An IID as its registry text, "{...}".
std::string iidText(REFIID iid) {
  wchar_t text[40] = {};
  StringFromGUID2(iid, text, 40);
  return std::string(text, text + wcslen(text));
}

// checkInterface: obj answers iid with `expected`; on failure the out pointer
// is null. Reports the caller's line and the IID.
void checkInterface(int line, IUnknown* obj, REFIID iid, HRESULT expected) {
  const std::string where = "line " + std::to_string(line) + ", " + iidText(iid);
  void* out = kPoison;
  const HRESULT result = obj->QueryInterface(iid, &out);
  EXPECT_EQ(result, expected) << where;
  if (SUCCEEDED(result)) {
    EXPECT_NE(out, nullptr) << where;
    static_cast<IUnknown*>(out)->Release();
  } else {
    EXPECT_EQ(out, nullptr) << where;
  }
}

// Watches, from a second thread, for any visible top-level window of this
// process while the test's thread calls Exec, whose dialog runs its loop on
// the calling thread. Each window that appears is noted and cancelled, so a
// test never blocks on it.
class WindowWatcher {
 public:
  WindowWatcher() : m_thread([this] { watch(); }) {}
  ~WindowWatcher() { stop(); }
  void stop() {
    m_done = true;
    if (m_thread.joinable()) m_thread.join();
  }
  bool anyShown() const { return m_anyShown; }
  bool optionsDialogShown() const { return m_optionsDialogShown; }
  bool optionsDialogOwned() const { return m_optionsDialogOwned; }

 private:
  void watch() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!m_done && std::chrono::steady_clock::now() < deadline) {
      EnumWindows(onWindow, reinterpret_cast<LPARAM>(this));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  static BOOL CALLBACK onWindow(HWND window, LPARAM self) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && IsWindowVisible(window)) {
      reinterpret_cast<WindowWatcher*>(self)->seen(window);
    }
    return TRUE;
  }
  void seen(HWND window) {
    m_anyShown = true;
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    if (std::wstring_view(title) == L"Glintmark Options") {
      m_optionsDialogShown = true;
      m_optionsDialogOwned = GetWindow(window, GW_OWNER) != nullptr;
    }
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    // One Cancel per window: a second one could outlive it and reach a later
    // window that happens to get the same handle.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (IsWindow(window) && IsWindowVisible(window) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  std::atomic<bool> m_done{false};
  std::atomic<bool> m_anyShown{false};
  std::atomic<bool> m_optionsDialogShown{false};
  std::atomic<bool> m_optionsDialogOwned{false};
  std::thread m_thread;  // last: it starts once the flags exist
};

template <typename T>
ComPtr<T> queryOrNull(IUnknown* obj) {
  ComPtr<T> result;
  if (FAILED(obj->QueryInterface(__uuidof(T), result.putVoid()))) result.reset();
  return result;
}

// Every test starts from the defaults and proves at its end that each double
// got back every reference it handed out and that no object holds a module
// lock any more.
class HighlighterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::clearFailures();
    m_options = highlightOptions();
    highlightOptions() = HighlightOptions{};
    m_liveDoubles = liveDoubles();
    m_locks = moduleLockCount();
  }
  void TearDown() override {
    highlightOptions() = m_options;
    testing::clearFailures();
    EXPECT_EQ(liveDoubles(), m_liveDoubles) << "a double was not released";
    EXPECT_EQ(moduleLockCount(), m_locks) << "an object was not destroyed";
  }

  static ComPtr<IObjectWithSite> makeHighlighter() {
    ComPtr<IObjectWithSite> object;
    EXPECT_HRESULT_SUCCEEDED(createHighlighter(nullptr, IID_IObjectWithSite, object.putVoid()));
    return object;
  }

  static HRESULT invoke(IUnknown* object, DISPID dispId, DISPPARAMS* params) {
    auto dispatch = queryOrNull<IDispatch>(object);
    return dispatch->Invoke(dispId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, params, nullptr,
                            nullptr, nullptr);
  }

  HighlightOptions m_options;
  int m_liveDoubles = 0;
  LONG m_locks = 0;
};

// ------------------------------------------------------------- identity

TEST_F(HighlighterTest, QueryInterfaceAnswersItsTableAndNothingElse) {
  auto object = makeHighlighter();
  const struct {
    const IID* iid;
    HRESULT expected;
  } rows[] = {
      {&kIidIHighlighter, S_OK},
      {&IID_IDispatch, S_OK},
      {&IID_IObjectWithSite, S_OK},
      {&IID_IOleCommandTarget, S_OK},
      {&IID_IUnknown, S_OK},
      {&DIID_DWebBrowserEvents2, E_NOINTERFACE},
      {&IID_IConnectionPointContainer, E_NOINTERFACE},
      {&IID_IClassFactory, E_NOINTERFACE},
      {&IID_IPersist, E_NOINTERFACE},
      {&IID_IWebBrowser2, E_NOINTERFACE},
  };
  for (const auto& row : rows) checkInterface(__LINE__, object.get(), *row.iid, row.expected);
  EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(HighlighterTest, IUnknownIsTheDispatchPointerFromEveryInterface) {
  auto object = makeHighlighter();
  auto identity = queryOrNull<IUnknown>(object.get());
  auto highlighter = queryOrNull<IHighlighter>(object.get());
  auto dispatch = queryOrNull<IDispatch>(object.get());
  auto command = queryOrNull<IOleCommandTarget>(object.get());
  EXPECT_EQ(static_cast<void*>(identity.get()), static_cast<void*>(highlighter.get()));
  EXPECT_EQ(static_cast<void*>(dispatch.get()), static_cast<void*>(highlighter.get()));
  EXPECT_NE(static_cast<void*>(object.get()), static_cast<void*>(identity.get()));
  for (IUnknown* from : {static_cast<IUnknown*>(object.get()), static_cast<IUnknown*>(command.get()),
                         static_cast<IUnknown*>(dispatch.get())}) {
    EXPECT_EQ(queryOrNull<IUnknown>(from).get(), identity.get());
    EXPECT_EQ(queryOrNull<IObjectWithSite>(from).get(), object.get());
  }
}

TEST_F(HighlighterTest, PlainReferenceCountHoldsOneModuleLock) {
  IObjectWithSite* object = nullptr;
  ASSERT_EQ(createHighlighter(nullptr, IID_IObjectWithSite, reinterpret_cast<void**>(&object)), S_OK);
  EXPECT_EQ(moduleLockCount(), m_locks + 1);
  EXPECT_EQ(object->AddRef(), 2u);
  EXPECT_EQ(object->Release(), 1u);
  EXPECT_EQ(object->Release(), 0u);
  EXPECT_EQ(moduleLockCount(), m_locks);
}

TEST_F(HighlighterTest, CreateFailuresNullTheOutPointerAndLeaveNoObject) {
  auto outer = makeDouble<PlainObject>();
  const struct {
    IUnknown* outer;
    const IID* iid;
    HRESULT expected;
  } rows[] = {
      {nullptr, &IID_IClassFactory, E_NOINTERFACE},
      {nullptr, &DIID_DWebBrowserEvents2, E_NOINTERFACE},
      {outer.get(), &IID_IDispatch, CLASS_E_NOAGGREGATION},
      {outer.get(), &IID_IObjectWithSite, CLASS_E_NOAGGREGATION},
  };
  for (const auto& row : rows) {
    void* out = kPoison;
    EXPECT_EQ(createHighlighter(row.outer, *row.iid, &out), row.expected);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(moduleLockCount(), m_locks);
  }
  EXPECT_EQ(createHighlighter(nullptr, IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(outer->refCount(), 1);
}

// An outer object that counts its references and, like an aggregating
// object does, answers IUnknown itself and optionally IPersist; it forwards
// nothing to the inner object, so what the inner tables answer beyond that
// comes from their own table.
class CountingOuter final : public testing::CountedObject, public IPersist {
 public:
  GLINTMARK_DOUBLE_IUNKNOWN
  STDMETHODIMP GetClassID(CLSID*) override { return E_NOTIMPL; }
  int queries = 0;

 private:
  IUnknown* find(REFIID iid) override {
    ++queries;
    return iid == IID_IUnknown || iid == IID_IPersist ? static_cast<IPersist*>(this) : nullptr;
  }
};

TEST_F(HighlighterTest, AggregatedTablesDelegateToTheOuterObject) {
  auto outer = makeDouble<CountingOuter>();
  IUnknown* inner = nullptr;
  ASSERT_EQ(createHighlighter(outer.get(), IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
  EXPECT_EQ(moduleLockCount(), m_locks + 1);
  EXPECT_EQ(outer->refCount(), 1) << "creating the inner object must not count on the outer one";

  // The inner IUnknown answers IUnknown with itself and keeps its own count.
  EXPECT_EQ(queryOrNull<IUnknown>(inner).get(), inner);
  EXPECT_EQ(inner->AddRef(), 2u);
  EXPECT_EQ(inner->Release(), 1u);

  // Its table answers from the inner object; the reference goes to the outer one.
  IObjectWithSite* site = nullptr;
  ASSERT_EQ(inner->QueryInterface(IID_IObjectWithSite, reinterpret_cast<void**>(&site)), S_OK);
  EXPECT_EQ(outer->refCount(), 2);
  checkInterface(__LINE__, inner, DIID_DWebBrowserEvents2, E_NOINTERFACE);

  // The tables ask the outer object first: IUnknown and IPersist are its own.
  EXPECT_EQ(queryOrNull<IUnknown>(site).get(), static_cast<IUnknown*>(outer.get()));
  EXPECT_NE(queryOrNull<IPersist>(site).get(), nullptr);
  // What the outer object does not answer comes from the table.
  const int queries = outer->queries;
  auto command = queryOrNull<IOleCommandTarget>(site);
  ASSERT_NE(command.get(), nullptr);
  EXPECT_EQ(outer->queries, queries + 1);
  EXPECT_EQ(outer->refCount(), 3);
  EXPECT_EQ(command->AddRef(), 4u) << "AddRef of a table answers the outer object's count";
  command->Release();
  command.reset();
  checkInterface(__LINE__, site, IID_IClassFactory, E_NOINTERFACE);

  EXPECT_EQ(site->Release(), 1u);
  EXPECT_EQ(outer->refCount(), 1);
  EXPECT_EQ(inner->Release(), 0u);
  EXPECT_EQ(moduleLockCount(), m_locks);
}

// ----------------------------------------------------------- the site

TEST_F(HighlighterTest, SetSiteFailureTable) {
  enum class Site { none, plain, browserWithoutEvents, browser };
  const struct {
    const char* name;
    Site site;
    const char* failingCall;
    HRESULT failure;
    HRESULT expected;
    bool connected;
  } rows[] = {
      {"null site", Site::none, nullptr, S_OK, E_INVALIDARG, false},
      {"site without IWebBrowser2", Site::plain, nullptr, S_OK, E_INVALIDARG, false},
      {"browser without events", Site::browserWithoutEvents, nullptr, S_OK, E_POINTER, false},
      {"FindConnectionPoint fails", Site::browser, "IConnectionPointContainer::FindConnectionPoint",
       CONNECT_E_NOCONNECTION, CONNECT_E_NOCONNECTION, false},
      {"Advise fails", Site::browser, "IConnectionPoint::Advise", CONNECT_E_ADVISELIMIT,
       CONNECT_E_ADVISELIMIT, false},
      {"connects", Site::browser, nullptr, S_OK, S_OK, true},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    testing::clearFailures();
    if (row.failingCall != nullptr) failCall(row.failingCall, row.failure);
    auto browser = makeDouble<FakeBrowser>(row.site != Site::browserWithoutEvents);
    auto plain = makeDouble<PlainObject>();
    IUnknown* site = row.site == Site::none    ? nullptr
                     : row.site == Site::plain ? static_cast<IUnknown*>(plain.get())
                                               : static_cast<IUnknown*>(browser->dispatch());
    {
      auto object = makeHighlighter();
      EXPECT_EQ(object->SetSite(site), row.expected);
      EXPECT_EQ(browser->events().connections(), row.connected ? 1u : 0u);
      if (row.connected) {
        EXPECT_EQ(browser->events().sink(0), static_cast<IUnknown*>(object.get()))
            << "the sink is the primary interface";
      }
      // GetSite answers from whatever SetSite was given.
      void* out = kPoison;
      EXPECT_EQ(object->GetSite(IID_IUnknown, &out), site != nullptr ? S_OK : E_FAIL);
      if (out != nullptr) static_cast<IUnknown*>(out)->Release();
      EXPECT_EQ(out == nullptr, site == nullptr);
      if (row.connected) {
        EXPECT_HRESULT_SUCCEEDED(browser->events().fireOnQuit());
      }
    }
    EXPECT_EQ(browser->refCount(), 1);
    EXPECT_EQ(plain->refCount(), 1);
  }
}

TEST_F(HighlighterTest, GetSiteAnswersFromTheSite) {
  auto browser = makeDouble<FakeBrowser>();
  auto object = makeHighlighter();
  EXPECT_EQ(object->GetSite(IID_IUnknown, nullptr), E_POINTER);
  void* out = kPoison;
  EXPECT_EQ(object->GetSite(IID_IWebBrowser2, &out), E_FAIL);
  EXPECT_EQ(out, nullptr);

  ASSERT_EQ(object->SetSite(browser->dispatch()), S_OK);
  ComPtr<IWebBrowser2> fromSite;
  EXPECT_EQ(object->GetSite(IID_IWebBrowser2, fromSite.putVoid()), S_OK);
  EXPECT_EQ(fromSite.get(), static_cast<IWebBrowser2*>(browser.get()));
  fromSite.reset();
  out = kPoison;
  EXPECT_EQ(object->GetSite(IID_IHTMLDocument2, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);

  // SetSite(NULL) drops the site but leaves the connection until OnQuit.
  EXPECT_EQ(object->SetSite(nullptr), E_INVALIDARG);
  EXPECT_EQ(object->GetSite(IID_IUnknown, &out), E_FAIL);
  EXPECT_EQ(browser->events().connections(), 1u);
  EXPECT_HRESULT_SUCCEEDED(browser->events().fireOnQuit());
  EXPECT_EQ(browser->events().connections(), 0u);
}

TEST_F(HighlighterTest, SecondSetSiteConnectsAgainAndOnQuitEndsTheNewerConnection) {
  auto browser = makeDouble<FakeBrowser>();
  auto object = makeHighlighter();
  ASSERT_EQ(object->SetSite(browser->dispatch()), S_OK);
  ASSERT_EQ(object->SetSite(browser->dispatch()), S_OK);
  auto& events = browser->events();
  EXPECT_EQ(events.adviseCalls, 2);
  EXPECT_EQ(events.connections(), 2u);
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  EXPECT_HRESULT_SUCCEEDED(invoke(object.get(), DISPID_ONQUIT, &none));
  EXPECT_EQ(events.unadviseCalls, 1);
  EXPECT_EQ(events.connections(), 1u);
  // The first connection stays in place; the browser would end it at exit.
  EXPECT_EQ(events.Unadvise(events.lastUnadvisedCookie - 1), S_OK);
  EXPECT_EQ(object->SetSite(nullptr), E_INVALIDARG);
}

TEST_F(HighlighterTest, OnQuitWithoutAnEventSourceDoesNothing) {
  auto object = makeHighlighter();
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  EXPECT_EQ(invoke(object.get(), DISPID_ONQUIT, &none), S_OK);
}

// --------------------------------------------------------------- Invoke

TEST_F(HighlighterTest, InvokeWithoutParametersIsInvalidWhateverTheDispId) {
  auto object = makeHighlighter();
  for (DISPID dispId : {DISPID_DOCUMENTCOMPLETE, DISPID_ONQUIT, DISPID_BEFORENAVIGATE2, 0, -1}) {
    EXPECT_EQ(invoke(object.get(), dispId, nullptr), E_INVALIDARG) << dispId;
  }
}

TEST_F(HighlighterTest, InvokeIgnoresOtherEventsAndWritesNoOutParameter) {
  auto browser = makeDouble<FakeBrowser>();
  auto object = makeHighlighter();
  ASSERT_EQ(object->SetSite(browser->dispatch()), S_OK);
  auto dispatch = queryOrNull<IDispatch>(object.get());
  VARIANT argument;
  VariantInit(&argument);
  argument.vt = VT_DISPATCH;
  argument.pdispVal = browser->dispatch();
  VARIANTARG arguments[2] = {argument, argument};
  DISPPARAMS params = {arguments, nullptr, 2, 0};
  for (DISPID dispId : {DISPID_BEFORENAVIGATE2, DISPID_NAVIGATECOMPLETE2, DISPID_TITLECHANGE, 1, 0}) {
    auto* result = reinterpret_cast<VARIANT*>(kPoison);
    auto* exception = reinterpret_cast<EXCEPINFO*>(kPoison);
    auto* argumentError = reinterpret_cast<UINT*>(kPoison);
    EXPECT_EQ(dispatch->Invoke(dispId, IID_NULL, 0, DISPATCH_METHOD, &params, result, exception,
                               argumentError),
              S_OK);
  }
  EXPECT_EQ(callCount("IWebBrowser2::get_Document"), 0);
  EXPECT_EQ(browser->events().unadviseCalls, 0);
  EXPECT_EQ(browser->refCount(), 4) << "the test's, the site, the browser and the event source";
  EXPECT_HRESULT_SUCCEEDED(browser->events().fireOnQuit());
}

// A DocumentComplete that does not carry a dispatch pointer as its second
// array element did not come from the browser: it is ignored, and nothing
// beyond the array is read.
TEST_F(HighlighterTest, DocumentCompleteWithoutTheBrowsersArgumentsIsIgnored) {
  auto browser = makeDouble<FakeBrowser>();
  auto object = makeHighlighter();
  ASSERT_EQ(object->SetSite(browser->dispatch()), S_OK);
  VARIANT dispatchArgument;
  VariantInit(&dispatchArgument);
  dispatchArgument.vt = VT_DISPATCH;
  dispatchArgument.pdispVal = browser->dispatch();
  VARIANT number;
  VariantInit(&number);
  number.vt = VT_I4;
  number.lVal = 0x1234;
  // One element only: [1] would lie beyond the array.
  VARIANTARG one[1] = {dispatchArgument};
  VARIANTARG numberSecond[2] = {dispatchArgument, number};
  const struct {
    const char* name;
    DISPPARAMS params;
  } rows[] = {
      {"no arguments", {nullptr, nullptr, 0, 0}},
      {"one argument", {one, nullptr, 1, 0}},
      {"a count without an array", {nullptr, nullptr, 2, 0}},
      {"a number where the browser stands", {numberSecond, nullptr, 2, 0}},
  };
  for (auto row : rows) {
    EXPECT_EQ(invoke(object.get(), DISPID_DOCUMENTCOMPLETE, &row.params), S_OK) << row.name;
  }
  EXPECT_EQ(callCount("IWebBrowser2::get_Document"), 0);
  EXPECT_HRESULT_SUCCEEDED(browser->events().fireOnQuit());
}

TEST_F(HighlighterTest, DocumentCompleteRunsThePassOnTheBrowserItNames) {
  auto browser = makeDouble<FakeBrowser>();
  auto frame = makeDouble<FakeBrowser>();
  auto plain = makeDouble<PlainObject>();
  auto object = makeHighlighter();
  ASSERT_EQ(object->SetSite(browser->dispatch()), S_OK);
  auto& events = browser->events();

  // VT_DISPATCH by reference works like VT_DISPATCH.
  IDispatch* frameDispatch = frame->dispatch();
  VARIANTARG byReference[2];
  VariantInit(&byReference[0]);
  VariantInit(&byReference[1]);
  byReference[1].vt = VT_DISPATCH | VT_BYREF;
  byReference[1].ppdispVal = &frameDispatch;
  DISPPARAMS params = {byReference, nullptr, 2, 0};
  EXPECT_EQ(invoke(object.get(), DISPID_DOCUMENTCOMPLETE, &params), S_OK);
  EXPECT_EQ(callCount("IWebBrowser2::get_Document"), 1);

  EXPECT_EQ(events.fireDocumentComplete(browser->dispatch(), L"http://example.com/"), S_OK);
  EXPECT_EQ(callCount("IWebBrowser2::get_Document"), 2);
  EXPECT_EQ(frame->refCount(), 1) << "the frame was replaced by the browser";

  // A source that is not a browser leaves none: the pass does nothing.
  EXPECT_EQ(events.fireDocumentComplete(plain.get(), L"http://example.com/"), S_OK);
  EXPECT_EQ(events.fireDocumentComplete(nullptr, L"http://example.com/"), S_OK);
  EXPECT_EQ(callCount("IWebBrowser2::get_Document"), 2);
  EXPECT_EQ(browser->refCount(), 3) << "site and event source; the browser member is null";
  EXPECT_HRESULT_SUCCEEDED(events.fireOnQuit());
}

// ------------------------------------------------------ command target

TEST_F(HighlighterTest, QueryStatusMarksEveryCommandSupportedAndEnabled) {
  auto object = makeHighlighter();
  auto command = queryOrNull<IOleCommandTarget>(object.get());
  EXPECT_EQ(command->QueryStatus(nullptr, 1, nullptr, nullptr), E_POINTER);
  OLECMD commands[3] = {{0, 0xFFFF0000u}, {7, 0}, {0x7FFFFFFF, 123}};
  EXPECT_EQ(command->QueryStatus(&kSomeCommandGroup, 0, commands, nullptr), S_OK);
  EXPECT_EQ(commands[0].cmdf, 0xFFFF0000u) << "a count of 0 writes nothing";
  OLECMDTEXT text = {OLECMDTEXTF_NAME, 5, 1, {L'x'}};
  EXPECT_EQ(command->QueryStatus(nullptr, 3, commands, &text), S_OK);
  for (const OLECMD& entry : commands) EXPECT_EQ(entry.cmdf, 3u) << entry.cmdID;
  EXPECT_EQ(text.cmdtextf, static_cast<DWORD>(OLECMDTEXTF_NAME));
  EXPECT_EQ(text.cwActual, 5u);
  EXPECT_EQ(commands[2].cmdID, 0x7FFFFFFFu);
}

TEST_F(HighlighterTest, ExecWithAnyOtherOptionShowsNothing) {
  auto object = makeHighlighter();
  auto command = queryOrNull<IOleCommandTarget>(object.get());
  WindowWatcher watcher;
  for (DWORD option : {DWORD{OLECMDEXECOPT_PROMPTUSER}, DWORD{OLECMDEXECOPT_DONTPROMPTUSER},
                       DWORD{OLECMDEXECOPT_SHOWHELP}, DWORD{0x7FFF}}) {
    EXPECT_EQ(command->Exec(nullptr, 0, option, nullptr, nullptr), S_OK) << option;
  }
  watcher.stop();
  EXPECT_FALSE(watcher.anyShown()) << "a window appeared";
}

TEST_F(HighlighterTest, ExecWithTheDefaultOptionShowsTheOptionsDialogModally) {
  auto object = makeHighlighter();
  auto command = queryOrNull<IOleCommandTarget>(object.get());
  // The watcher presses Cancel.
  WindowWatcher watcher;
  const HighlightOptions before = highlightOptions();
  EXPECT_EQ(command->Exec(&kSomeCommandGroup, 12, OLECMDEXECOPT_DODEFAULT, nullptr, nullptr), S_OK);
  watcher.stop();
  EXPECT_TRUE(watcher.optionsDialogShown()) << "no dialog appeared";
  EXPECT_FALSE(watcher.optionsDialogOwned());
  EXPECT_EQ(wordFromOptions(highlightOptions()), wordFromOptions(before)) << "Cancel changes nothing";
}

// -------------------------------------------------- type information

TEST_F(HighlighterTest, TypeInformationComesFromTheRegisteredLibrary) {
  auto object = makeHighlighter();
  auto dispatch = queryOrNull<IDispatch>(object.get());
  EXPECT_EQ(dispatch->GetTypeInfoCount(nullptr), E_POINTER);
  UINT count = 0;
  EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, nullptr), E_POINTER);
  for (UINT index : {0u, 1u, 99u}) {  // the index is not examined
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(dispatch->GetTypeInfo(index, LOCALE_USER_DEFAULT, info.put()), S_OK);
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, kIidIHighlighter));
    info->ReleaseTypeAttr(attributes);
  }
  // IHighlighter has no members of its own; IDispatch's are not dispatchable names.
  wchar_t name[] = L"Refresh";
  LPOLESTR names[] = {name};
  DISPID id = 42;
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id),
            DISP_E_UNKNOWNNAME);
  EXPECT_EQ(id, DISPID_UNKNOWN);
}

// ----------------------------------------------------------- lifecycle

// The browser's whole drive of one window: search, follow a result, follow a
// link on it, a frame, quit.
TEST_F(HighlighterTest, LifecycleAsTheBrowserDrivesIt) {
  highlightOptions().highlightSearchResults = 0;
  auto browser = makeDouble<FakeBrowser>();
  auto frame = makeDouble<FakeBrowser>();
  auto results = makePage("<p>New York results: <a href='http://nyc.example/'>New York</a></p>",
                          u"http://search.example/search?hl=en&q=new+york",
                          u"http://search.example/");
  auto result = makePage("<p>Visit new york, the big apple.</p><p>News</p>", u"http://nyc.example/",
                         u"http://search.example/search?hl=en&q=new+york");
  auto further = makePage("<p>York minster</p>", u"http://nyc.example/more",
                          u"http://nyc.example/");
  auto framed = makePage("<p>A new frame</p>", u"http://nyc.example/frame", u"http://nyc.example/");
  {
    // Created as the browser creates it: through the class factory.
    ComPtr<IUnknown> factoryObject;
    ASSERT_EQ(ClassFactory::create(createHighlighter, factoryObject.put()), S_OK);
    auto factory = queryOrNull<IClassFactory>(factoryObject.get());
    ComPtr<IObjectWithSite> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IObjectWithSite, object.putVoid()), S_OK);
    factory.reset();
    factoryObject.reset();

    ASSERT_EQ(object->SetSite(browser->dispatch()), S_OK);
    auto& events = browser->events();
    ASSERT_EQ(events.connections(), 1u);

    // The results page: its search text is saved, the page itself stays as it is
    // (highlightSearchResults is off); its link gets its target as tooltip.
    browser->setDocument(results.com.get());
    EXPECT_EQ(events.fireDocumentComplete(browser->dispatch(), L"results"), S_OK);
    EXPECT_EQ(results.body(),
              "<p>New York results: <a href=\"http://nyc.example/\" "
              "title=\"http://nyc.example/\">New York</a></p>");

    // A result reached from it: the referrer's words.
    browser->setDocument(result.com.get());
    EXPECT_EQ(events.fireDocumentComplete(browser->dispatch(), L"result"), S_OK);
    EXPECT_EQ(result.body(),
              "<p>Visit <span style=\"color:black;background-color:#ffff66\">new</span> "
              "<span style=\"color:black;background-color:#a0ffff\">york</span>, the big apple.</p>"
              "<p><span style=\"color:black;background-color:#ffff66\">New</span>s</p>");

    // One link further: the referrer carries no search, the saved text is used.
    browser->setDocument(further.com.get());
    EXPECT_EQ(events.fireDocumentComplete(browser->dispatch(), L"further"), S_OK);
    EXPECT_EQ(further.body(),
              "<p><span style=\"color:black;background-color:#a0ffff\">York</span> minster</p>");

    // A frame completes: the pass runs on the frame's document, not the window's.
    frame->setDocument(framed.com.get());
    const std::string before = further.body();
    EXPECT_EQ(events.fireDocumentComplete(frame->dispatch(), L"frame"), S_OK);
    EXPECT_EQ(framed.body(),
              "<p>A <span style=\"color:black;background-color:#ffff66\">new</span> frame</p>");
    EXPECT_EQ(further.body(), before);

    EXPECT_EQ(events.fireOnQuit(), S_OK);
    EXPECT_EQ(events.connections(), 0u);
    EXPECT_EQ(events.lastUnadvisedCookie, 0x100u);
    EXPECT_EQ(object->SetSite(nullptr), E_INVALIDARG);
    EXPECT_EQ(browser->refCount(), 2) << "the event source stays until the object goes";
    EXPECT_EQ(frame->refCount(), 1) << "SetSite(NULL) dropped the frame, the last browser member";
  }
  browser->setDocument(nullptr);
  frame->setDocument(nullptr);
  EXPECT_EQ(browser->refCount(), 1);
  EXPECT_EQ(frame->refCount(), 1);
}

}  // namespace
}  // namespace glintmark::bho
