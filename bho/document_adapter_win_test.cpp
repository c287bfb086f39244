#include "bho/document_adapter.h"

#include <gtest/gtest.h>

#include "bho/testing/browser_doubles.h"
#include "bho/testing/pages.h"
#include "core/code_page.h"
#include "core/page_pass.h"
#include "core/testing/fake_document.h"

namespace glintmark::bho {
namespace {

using testing::FakeBrowser;
using testing::PlainObject;
using testing::failCall;
using testing::liveDoubles;
using testing::makeDouble;
using testing::makePage;

class DocumentAdapterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::clearFailures();
    m_liveDoubles = liveDoubles();
  }
  void TearDown() override {
    testing::clearFailures();
    EXPECT_EQ(liveDoubles(), m_liveDoubles) << "a double was not released";
  }
  int m_liveDoubles = 0;
};

ComPtr<IWebBrowser2> asBrowser(FakeBrowser* browser) {
  return ComPtr<IWebBrowser2>(static_cast<IWebBrowser2*>(browser));
}

TEST_F(DocumentAdapterTest, DocumentIsNoneWithoutABrowserOrAnHtmlDocument) {
  std::unique_ptr<Document> document;
  EXPECT_EQ(ComBrowser(nullptr).document(&document), S_OK);
  EXPECT_EQ(document, nullptr);

  auto browser = makeDouble<FakeBrowser>();
  ComBrowser adapter(asBrowser(browser.get()));
  EXPECT_EQ(adapter.document(&document), S_OK) << "get_Document succeeded with none";
  EXPECT_EQ(document, nullptr);

  auto plain = makeDouble<PlainObject>();
  browser->setDocument(plain.get());
  EXPECT_EQ(adapter.document(&document), S_OK) << "a document without IHTMLDocument2";
  EXPECT_EQ(document, nullptr);

  failCall("IWebBrowser2::get_Document", E_ACCESSDENIED);
  EXPECT_EQ(adapter.document(&document), E_ACCESSDENIED);
  browser->setDocument(nullptr);
  EXPECT_EQ(plain->refCount(), 1);
}

TEST_F(DocumentAdapterTest, StringsKeepNullApartFromEmpty) {
  auto page = makePage("<p>x</p>", u"http://example.com/a?q=1", u"");
  page.model->setTitle(u"T\u00e9");
  auto browser = makeDouble<FakeBrowser>();
  browser->setDocument(page.com.get());
  std::unique_ptr<Document> document;
  ASSERT_EQ(ComBrowser(asBrowser(browser.get())).document(&document), S_OK);
  ASSERT_NE(document, nullptr);
  WideText text;
  EXPECT_EQ(document->title(&text), S_OK);
  EXPECT_EQ(text, std::u16string(u"T\u00e9"));
  EXPECT_EQ(document->url(&text), S_OK);
  EXPECT_EQ(text, std::u16string(u"http://example.com/a?q=1"));
  EXPECT_EQ(document->referrer(&text), S_OK);
  EXPECT_EQ(text, std::u16string()) << "an empty BSTR is an empty text";
  failCall("IHTMLDocument2::get_URL", E_FAIL);
  text = u"stale";
  EXPECT_EQ(document->url(&text), E_FAIL);
  EXPECT_FALSE(text.has_value());
  browser->setDocument(nullptr);
}

TEST_F(DocumentAdapterTest, FramesetBodyIsNotABodyElement) {
  auto page = makePage("<html><frameset><frame src='a.html'></frameset></html>", u"http://f.example/");
  auto browser = makeDouble<FakeBrowser>();
  browser->setDocument(page.com.get());
  std::unique_ptr<Document> document;
  ASSERT_EQ(ComBrowser(asBrowser(browser.get())).document(&document), S_OK);
  std::unique_ptr<BodyElement> body;
  EXPECT_EQ(document->body(&body), S_OK);
  EXPECT_EQ(body, nullptr);
  browser->setDocument(nullptr);
}

// The collection double accepts only the argument types the browser
// documents (a VT_BSTR tag name; a VT_I4 index and an empty variant), so
// tooltips that arrive prove the adapter builds its variants right.
TEST_F(DocumentAdapterTest, LinkTooltipsGoThroughTagsAndItem) {
  auto page = makePage(
      "<p><a href='http://a.example/' title='old'>a</a> <span title='keep'>s</span> "
      "<a name='anchor'>n</a></p>",
      u"http://example.com/");
  auto browser = makeDouble<FakeBrowser>();
  browser->setDocument(page.com.get());
  std::unique_ptr<Document> document;
  ASSERT_EQ(ComBrowser(asBrowser(browser.get())).document(&document), S_OK);
  std::int32_t applied = 0;
  EXPECT_EQ(ApplyLinkTooltips(*document, &applied), S_OK);
  EXPECT_EQ(applied, 2);
  EXPECT_EQ(page.body(),
            "<p><a href=\"http://a.example/\" title=\"http://a.example/\">a</a> "
            "<span title=\"keep\">s</span> <a name=\"anchor\" title=\"\">n</a></p>");
  browser->setDocument(nullptr);
}

// The COM document double over a FakePage of core/, the model that offers
// every operation (duplicate and compareEndPoints included) and can misbehave.
ComPtr<IDispatch> fakeDocument(fake::FakePage& page) {
  std::unique_ptr<Document> model;
  page.browser()->document(&model);
  ComPtr<IDispatch> document;
  document.attach(static_cast<IHTMLDocument2*>(new testing::DocumentDouble(std::move(model))));
  return document;
}

// Whichever browser call fails, the pass ends or goes on as it decides, and
// every interface, BSTR and double handed out on the way is released.
TEST_F(DocumentAdapterTest, EveryFailureReleasesWhatThePassObtained) {
  const char* const calls[] = {
      "IWebBrowser2::get_Document",        "IHTMLDocument2::get_title",
      "IHTMLDocument2::get_URL",           "IHTMLDocument2::get_referrer",
      "IHTMLDocument2::get_body",          "IHTMLDocument2::get_all",
      "IHTMLElementCollection::tags",      "IHTMLElementCollection::get_length",
      "IHTMLElementCollection::item",      "IHTMLAnchorElement::get_href",
      "IHTMLElement::put_title",           "IHTMLBodyElement::createTextRange",
      "IHTMLTxtRange::findText",           "IHTMLTxtRange::get_htmlText",
      "IHTMLTxtRange::pasteHTML",          "IHTMLTxtRange::moveStart",
      "IHTMLTxtRange::moveEnd",            "IHTMLTxtRange::duplicate",
      "IHTMLTxtRange::compareEndPoints",
  };
  HighlightOptions options;
  options.highlightSearchResults = 1;
  for (const char* call : calls) {
    SCOPED_TRACE(call);
    const int live = liveDoubles();
    {
      fake::FakePage page;
      page.url = u"http://s.example/find?q=alpha+beta";
      page.referrer = u"http://s.example/";
      page.text = u"alpha beta alpha beta";
      page.links = {{u"http://a.example/", u"old"}, {u"http://b.example/", std::nullopt}};
      auto browser = makeDouble<FakeBrowser>();
      browser->setDocument(fakeDocument(page).get());
      testing::clearFailures();
      failCall(call, E_FAIL);
      PageSession session;
      ComBrowser adapter(asBrowser(browser.get()));
      HighlightPage(&adapter, options, session, ansiCodePage());
      EXPECT_GE(testing::callCount(call), 1) << "the failure was never reached";
      browser->setDocument(nullptr);
      EXPECT_EQ(browser->refCount(), 2) << "the adapter's reference only";
    }
    EXPECT_EQ(liveDoubles(), live);
  }
}

// The BSTR maker of the out-of-memory test: it refuses the one text named
// in g_refusedText and makes every other.
std::u16string g_refusedText;
bool g_refused = false;
BSTR STDAPICALLTYPE refusingBstrMaker(const OLECHAR* text, UINT length) {
  if (std::u16string_view(reinterpret_cast<const char16_t*>(text), length) == g_refusedText) {
    g_refused = true;
    return nullptr;
  }
  return SysAllocStringLen(text, length);
}

// A string for the browser that cannot be made ends the pass with
// E_OUTOFMEMORY, though the pass ignores the browser's own failures of the
// same calls; whatever was obtained is released.
TEST_F(DocumentAdapterTest, AStringForTheBrowserThatCannotBeMadeEndsThePassOutOfMemory) {
  const std::u16string refused[] = {
      u"a",                  // the tag name of the links
      u"http://a.example/",  // a link's title
      u"alpha",              // a word to find
      u"<span style='color:black;background-color:#ffff66'>alpha</span>",
      u"Character",
      u"Textedit",
      u"StartToStart",
  };
  HighlightOptions options;
  options.highlightSearchResults = 1;
  for (const std::u16string& text : refused) {
    SCOPED_TRACE(std::string(text.begin(), text.end()));
    fake::FakePage page;
    page.url = u"http://s.example/find?q=alpha";
    page.referrer = u"http://s.example/";
    page.text = u"alpha beta alpha";
    page.links = {{u"http://a.example/", u"old"}};
    auto browser = makeDouble<FakeBrowser>();
    browser->setDocument(fakeDocument(page).get());
    g_refusedText = text;
    g_refused = false;
    PageSession session;
    ComBrowser adapter(asBrowser(browser.get()), refusingBstrMaker);
    EXPECT_EQ(HighlightPage(&adapter, options, session, ansiCodePage()), E_OUTOFMEMORY);
    EXPECT_TRUE(g_refused) << "the text was never asked for";
    browser->setDocument(nullptr);
    EXPECT_EQ(browser->refCount(), 2) << "the adapter's reference only";
  }
}

// A document whose findText keeps answering the same match: the pass stops
// because duplicate and compareEndPoints reach the browser's range through
// the adapter (without them this loop would not end).
TEST_F(DocumentAdapterTest, RangeComparisonStopsARangeThatMakesNoProgress) {
  fake::FakePage page;
  page.url = u"http://s.example/find?q=cat";
  page.referrer = u"http://s.example/";
  page.text = u"a cat and a cat";
  page.findFromBodyStart = true;
  HighlightOptions options;
  options.highlightSearchResults = 1;
  options.linkTooltips = 0;
  auto browser = makeDouble<FakeBrowser>();
  browser->setDocument(fakeDocument(page).get());
  PageSession session;
  ComBrowser adapter(asBrowser(browser.get()));
  EXPECT_EQ(HighlightPage(&adapter, options, session, ansiCodePage()), S_OK);
  EXPECT_EQ(page.pastes.size(), 1u);
  EXPECT_GE(testing::callCount("IHTMLTxtRange::compareEndPoints"), 1);
  browser->setDocument(nullptr);
}

TEST_F(DocumentAdapterTest, ThePassHighlightsThroughTheAdapter) {
  HighlightOptions options;
  options.highlightSearchResults = 1;
  auto page = makePage("<p>Alpha, beta and alphabet</p>", u"http://s.example/find?q=alpha+beta",
                       u"http://s.example/");
  auto browser = makeDouble<FakeBrowser>();
  browser->setDocument(page.com.get());
  PageSession session;
  ComBrowser adapter(asBrowser(browser.get()));
  EXPECT_EQ(HighlightPage(&adapter, options, session, ansiCodePage()), S_OK);
  EXPECT_EQ(page.body(),
            "<p><span style=\"color:black;background-color:#ffff66\">Alpha</span>, "
            "<span style=\"color:black;background-color:#a0ffff\">beta</span> and "
            "<span style=\"color:black;background-color:#ffff66\">alpha</span>bet</p>");
  EXPECT_EQ(session.m_savedSearchText, std::string("alpha+beta"));
  browser->setDocument(nullptr);
}

}  // namespace
}  // namespace glintmark::bho
