// libFuzzer target: any bytes through parse -> find -> paste -> serialise.
//
// The input is a page; its first bytes also serve as the keyword and its tail
// as a fragment pasted over a range, so the fragment parser sees arbitrary
// markup too. Checks that highlighting keeps the body text and that the
// output parses again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "html/html_document.h"
#include "html/testing/highlight.h"

namespace {

using namespace glintmark;
using namespace glintmark::html;

void check(bool condition) {
  if (!condition) std::abort();
}

void exercise(HtmlDocument& document, std::string_view bytes) {
  std::unique_ptr<Document> view = document.document();
  std::unique_ptr<BodyElement> body;
  check(succeeded(view->body(&body)));
  std::unique_ptr<ElementCollection> all;
  check(succeeded(view->all(&all)));
  std::unique_ptr<ElementCollection> links;
  check(succeeded(all->tags(u"a", &links)));
  std::int32_t count = 0;
  check(succeeded(links->length(&count)));
  for (std::int32_t i = 0; i < count && i < 100; ++i) {
    std::unique_ptr<LinkElement> link;
    check(succeeded(links->item(i, &link)) && link);
    WideText href;
    check(succeeded(link->href(&href)) && href);
    check(succeeded(link->putTitle(*href)));
  }
  if (!body) return;

  const std::u16string text = document.bodyText();
  const std::u16string keyword = toUtf16(bytes.substr(0, 1 + bytes.size() % 4));
  check(testing::highlightWord(*body, keyword, "#ffff66", bytes.size() % 3 == 0 ? 2 : 0) >= 0);
  check(document.bodyText() == text);

  // An arbitrary paste over a range somewhere in the middle.
  std::unique_ptr<TextRange> range;
  check(succeeded(body->createTextRange(&range)) && range);
  std::int32_t moved = 0;
  check(succeeded(range->moveStart(u"Character", static_cast<std::int32_t>(bytes.size() % 17), &moved)));
  check(succeeded(range->moveEnd(u"Character", -static_cast<std::int32_t>(bytes.size() % 13), &moved)));
  WideText html;
  check(succeeded(range->htmlText(&html)) && html);
  check(succeeded(range->pasteHtml(toUtf16(bytes.substr(bytes.size() / 2)))));
  bool found = false;
  check(succeeded(range->moveEnd(u"Textedit", 1, &moved)));
  check(succeeded(range->findText(keyword, 0, 0, &found)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::unique_ptr<HtmlDocument> document = parseHtml(bytes);
  check(document != nullptr);
  document->setUrl(u"http://example.com/dir/page.html?q=1");
  exercise(*document, bytes);
  const std::string out = document->serialize();
  check(parseHtml(out) != nullptr);

  std::unique_ptr<HtmlDocument> simple = parseSimpleHtml(bytes);
  exercise(*simple, bytes);
  (void)simple->serialize();
  return 0;
}
