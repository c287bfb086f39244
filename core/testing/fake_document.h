// Test doubles of the document model: FakePage, an in-memory page with
// scriptable misbehaviour, and Faults, a wrapper around any document model that
// injects failures, counts calls and counts the objects it hands out that are
// still alive (so a test proves the page pass released everything).
//
//   FakePage page;
//   page.url = u"https://example.org/?q=cat";
//   page.text = u"a cat and a catalogue";
//   Faults faults;
//   faults.failOn(Op::referrer, hr::fail);
//   auto browser = faults.wrap(page.browser());
//   HighlightPage(browser.get(), options, session, codePage);
//   EXPECT_EQ(faults.live(), 0);
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "core/ascii.h"
#include "core/document.h"

namespace glintmark::fake {

// ---------------------------------------------------------------- FakePage

struct FakeLink {
  WideText href;
  WideText title;
  bool isAnchor = true;  // false: item() succeeds with none for it
};

// One pasteHTML call: the range it replaced and the markup given.
struct Paste {
  std::size_t start;
  std::size_t end;
  std::u16string markup;
  friend bool operator==(const Paste&, const Paste&) = default;
};

// The page: its strings, its links and its body text. The "HTML" of a range
// is its text; pasting records the paste and leaves the text as it is (as
// highlighting leaves a real page's text), so offsets stay comparable.
struct FakePage {
  WideText title = u"";
  WideText url = u"";
  WideText referrer = u"";
  std::u16string text;
  bool frameset = false;
  std::vector<FakeLink> links;
  std::vector<Paste> pastes;

  // Misbehaviour of a broken document model.
  bool findFromBodyStart = false;  // findText ignores the range's start
  bool pasteKeepsRange = false;    // pasteHTML leaves the range over the match
  bool moveStartIgnored = false;   // moveStart succeeds without moving
  bool offersCompare = true;       // duplicate and compareEndPoints are offered

  std::unique_ptr<Browser> browser();
};

namespace detail {

inline bool isWordChar(char16_t c) { return isAsciiAlnum(c) || c >= 0xC0; }

class Range : public TextRange {
 public:
  Range(FakePage& page, std::size_t start, std::size_t end) : m_page(page), m_start(start), m_end(end) {}

  HResult findText(std::u16string_view text, std::int32_t, std::int32_t flags,
                   bool* found) override {
    *found = false;
    const std::u16string& body = m_page.text;
    const std::size_t from = m_page.findFromBodyStart ? 0 : m_start;
    if (text.empty() || m_end < text.size()) return hr::ok;
    for (std::size_t at = from; at + text.size() <= m_end; ++at) {
      bool same = true;
      for (std::size_t i = 0; i < text.size() && same; ++i) {
        same = lowerAscii(body[at + i]) == lowerAscii(text[i]);
      }
      if (!same) continue;
      if ((flags & 2) != 0 && ((at > 0 && isWordChar(body[at - 1])) ||
                               (at + text.size() < body.size() && isWordChar(body[at + text.size()])))) {
        continue;
      }
      m_start = at;
      m_end = at + text.size();
      *found = true;
      return hr::ok;
    }
    return hr::ok;
  }
  HResult htmlText(WideText* html) override {
    *html = m_page.text.substr(m_start, m_end - m_start);
    return hr::ok;
  }
  HResult pasteHtml(std::u16string_view html) override {
    m_page.pastes.push_back({m_start, m_end, std::u16string(html)});
    if (!m_page.pasteKeepsRange) m_start = m_end;
    return hr::ok;
  }
  HResult moveStart(std::u16string_view unit, std::int32_t count, std::int32_t* moved) override {
    *moved = 0;
    if (m_page.moveStartIgnored) return hr::ok;
    const std::size_t target = unit == u"Textedit" ? m_page.text.size()
                                                   : std::min(m_page.text.size(), m_start + count);
    *moved = static_cast<std::int32_t>(target - m_start);
    m_start = target;
    m_end = std::max(m_end, m_start);
    return hr::ok;
  }
  HResult moveEnd(std::u16string_view unit, std::int32_t count, std::int32_t* moved) override {
    const std::size_t target =
        unit == u"Textedit" ? m_page.text.size() : std::min(m_page.text.size(), m_end + count);
    *moved = static_cast<std::int32_t>(target - m_end);
    m_end = target;
    return hr::ok;
  }
  HResult duplicate(std::unique_ptr<TextRange>* copy) override {
    if (!m_page.offersCompare) return TextRange::duplicate(copy);
    *copy = std::make_unique<Range>(m_page, m_start, m_end);
    return hr::ok;
  }
  HResult compareEndPoints(std::u16string_view how, TextRange& other,
                           std::int32_t* result) override {
    if (!m_page.offersCompare) return TextRange::compareEndPoints(how, other, result);
    auto& that = dynamic_cast<Range&>(other);
    const std::size_t mine = how.substr(0, 5) == u"Start" ? m_start : m_end;
    const std::size_t theirs = how.ends_with(u"ToStart") ? that.m_start : that.m_end;
    *result = mine < theirs ? -1 : mine > theirs ? 1 : 0;
    return hr::ok;
  }

 private:
  FakePage& m_page;
  std::size_t m_start;
  std::size_t m_end;
};

class Body : public BodyElement {
 public:
  explicit Body(FakePage& page) : m_page(page) {}
  HResult createTextRange(std::unique_ptr<TextRange>* range) override {
    *range = std::make_unique<Range>(m_page, 0, m_page.text.size());
    return hr::ok;
  }

 private:
  FakePage& m_page;
};

class Link : public LinkElement {
 public:
  explicit Link(FakeLink& link) : m_link(link) {}
  HResult href(WideText* target) override {
    *target = m_link.href;
    return hr::ok;
  }
  HResult putTitle(std::u16string_view title) override {
    m_link.title = std::u16string(title);
    return hr::ok;
  }

 private:
  FakeLink& m_link;
};

// `all` (every element) and its tags("a"); only the links are modelled.
class Collection : public ElementCollection {
 public:
  Collection(FakePage& page, bool linksOnly) : m_page(page), m_linksOnly(linksOnly) {}
  HResult tags(std::u16string_view tagName, std::unique_ptr<ElementCollection>* result) override {
    *result = std::make_unique<Collection>(m_page, true);
    if (tagName != u"a") static_cast<Collection&>(**result).m_empty = true;
    return hr::ok;
  }
  HResult length(std::int32_t* count) override {
    *count = m_empty ? 0 : static_cast<std::int32_t>(m_page.links.size());
    return hr::ok;
  }
  HResult item(std::int32_t index, std::unique_ptr<LinkElement>* element) override {
    element->reset();
    if (!m_linksOnly || m_empty || index < 0 || static_cast<std::size_t>(index) >= m_page.links.size()) {
      return hr::invalidArg;
    }
    if (m_page.links[index].isAnchor) *element = std::make_unique<Link>(m_page.links[index]);
    return hr::ok;
  }

 private:
  FakePage& m_page;
  bool m_linksOnly;
  bool m_empty = false;
};

class Doc : public Document {
 public:
  explicit Doc(FakePage& page) : m_page(page) {}
  HResult title(WideText* title) override { return give(m_page.title, title); }
  HResult url(WideText* url) override { return give(m_page.url, url); }
  HResult referrer(WideText* referrer) override { return give(m_page.referrer, referrer); }
  HResult body(std::unique_ptr<BodyElement>* body) override {
    body->reset();
    if (!m_page.frameset) *body = std::make_unique<Body>(m_page);
    return hr::ok;
  }
  HResult all(std::unique_ptr<ElementCollection>* all) override {
    *all = std::make_unique<Collection>(m_page, false);
    return hr::ok;
  }

 private:
  static HResult give(const WideText& value, WideText* out) {
    *out = value;
    return hr::ok;
  }
  FakePage& m_page;
};

class FakeBrowser : public Browser {
 public:
  explicit FakeBrowser(FakePage& page) : m_page(page) {}
  HResult document(std::unique_ptr<Document>* document) override {
    *document = std::make_unique<Doc>(m_page);
    return hr::ok;
  }

 private:
  FakePage& m_page;
};

}  // namespace detail

inline std::unique_ptr<Browser> FakePage::browser() { return std::make_unique<detail::FakeBrowser>(*this); }

// ------------------------------------------------------------------ Faults

// Every operation of the document model, for naming faults and counting calls.
enum class Op {
  document, title, url, referrer, body, all, tags, length, item, href, putTitle,
  createTextRange, findText, htmlText, pasteHtml, moveStart, moveEnd, duplicate, compareEndPoints,
};

class Faults {
 public:
  // The call fails with `code` (onCall: only the nth call, counting from 1; 0: every call).
  void failOn(Op op, HResult code, int onCall = 0) { m_faults[op] = {Kind::fail, code, onCall}; }
  // The call succeeds with no object or no string (a false or zero result).
  void noneOn(Op op, int onCall = 0) { m_faults[op] = {Kind::none, hr::ok, onCall}; }
  // The call throws std::bad_alloc, as a model out of memory does.
  void throwOn(Op op, int onCall = 0) { m_faults[op] = {Kind::outOfMemory, hr::ok, onCall}; }
  // Every call from the nth on fails with `code`: a cap that ends a loop
  // which would otherwise repeat the call for ever.
  void failFrom(Op op, HResult code, int fromCall) { m_faults[op] = {Kind::fail, code, fromCall, true}; }

  int calls(Op op) const {
    const auto it = m_calls.find(op);
    return it == m_calls.end() ? 0 : it->second;
  }
  // Wrapped objects handed out and not yet destroyed.
  int live() const { return m_live; }

  // The wrapped browser; `inner` must outlive it. Not counted in live().
  std::unique_ptr<Browser> wrap(std::unique_ptr<Browser> inner);

  // Counts the call; answers what the wrapper should do instead of
  // forwarding: ok = forward, a failure code, or *none set.
  HResult check(Op op, bool* none) {
    *none = false;
    const int n = ++m_calls[op];
    const auto it = m_faults.find(op);
    if (it == m_faults.end()) return hr::ok;
    const Fault& fault = it->second;
    if (fault.onward ? n < fault.onCall : fault.onCall != 0 && fault.onCall != n) return hr::ok;
    switch (fault.kind) {
      case Kind::fail: return fault.code;
      case Kind::none: *none = true; return hr::ok;
      case Kind::outOfMemory: throw std::bad_alloc();
    }
    return hr::ok;
  }

  // Keeps live() up to date for one wrapped object.
  class Counted {
   public:
    explicit Counted(Faults& faults) : m_faults(faults) { ++m_faults.m_live; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
    ~Counted() { --m_faults.m_live; }
    Faults& faults() const { return m_faults; }

   private:
    Faults& m_faults;
  };

 private:
  enum class Kind { fail, none, outOfMemory };
  struct Fault {
    Kind kind;
    HResult code;
    int onCall;
    bool onward = false;  // onCall and every later call
  };
  std::map<Op, Fault> m_faults;
  std::map<Op, int> m_calls;
  int m_live = 0;
};

namespace detail {

// withFault: runs `forward` unless the fault plan injects a fault (or a
// "none" answer) for `op`; `clear` resets the out parameter then.
template <typename Forward, typename Clear>
HResult withFault(Faults& faults, Op op, Forward forward, Clear clear) {
  bool none = false;
  const HResult injected = faults.check(op, &none);
  if (failed(injected) || none) {
    clear();
    return injected;
  }
  return forward();
}

// Wraps the object that `inner` holds after a successful call.
template <typename Wrapper, typename Inner>
void wrapResult(Faults& faults, std::unique_ptr<Inner>* out) {
  if (*out) *out = std::make_unique<Wrapper>(faults, std::move(*out));
}

class FaultyRange : public TextRange, Faults::Counted {
 public:
  FaultyRange(Faults& faults, std::unique_ptr<TextRange> inner)
      : Counted(faults), m_inner(std::move(inner)) {}
  HResult findText(std::u16string_view text, std::int32_t count, std::int32_t flags,
                   bool* found) override {
    return withFault(faults(), Op::findText, [&] { return m_inner->findText(text, count, flags, found); },
                   [&] { *found = false; });
  }
  HResult htmlText(WideText* html) override {
    return withFault(faults(), Op::htmlText, [&] { return m_inner->htmlText(html); },
                   [&] { html->reset(); });
  }
  HResult pasteHtml(std::u16string_view html) override {
    return withFault(faults(), Op::pasteHtml, [&] { return m_inner->pasteHtml(html); }, [] {});
  }
  HResult moveStart(std::u16string_view unit, std::int32_t count, std::int32_t* moved) override {
    return withFault(faults(), Op::moveStart, [&] { return m_inner->moveStart(unit, count, moved); },
                   [&] { *moved = 0; });
  }
  HResult moveEnd(std::u16string_view unit, std::int32_t count, std::int32_t* moved) override {
    return withFault(faults(), Op::moveEnd, [&] { return m_inner->moveEnd(unit, count, moved); },
                   [&] { *moved = 0; });
  }
  HResult duplicate(std::unique_ptr<TextRange>* copy) override {
    return withFault(
        faults(), Op::duplicate,
        [&] {
          const HResult result = m_inner->duplicate(copy);
          wrapResult<FaultyRange>(faults(), copy);
          return result;
        },
        [&] { copy->reset(); });
  }
  HResult compareEndPoints(std::u16string_view how, TextRange& other,
                           std::int32_t* result) override {
    return withFault(
        faults(), Op::compareEndPoints,
        [&] { return m_inner->compareEndPoints(how, *dynamic_cast<FaultyRange&>(other).m_inner, result); },
        [&] { *result = 0; });
  }

 private:
  std::unique_ptr<TextRange> m_inner;
};

class FaultyBody : public BodyElement, Faults::Counted {
 public:
  FaultyBody(Faults& faults, std::unique_ptr<BodyElement> inner)
      : Counted(faults), m_inner(std::move(inner)) {}
  HResult createTextRange(std::unique_ptr<TextRange>* range) override {
    return withFault(
        faults(), Op::createTextRange,
        [&] {
          const HResult result = m_inner->createTextRange(range);
          wrapResult<FaultyRange>(faults(), range);
          return result;
        },
        [&] { range->reset(); });
  }

 private:
  std::unique_ptr<BodyElement> m_inner;
};

class FaultyLink : public LinkElement, Faults::Counted {
 public:
  FaultyLink(Faults& faults, std::unique_ptr<LinkElement> inner)
      : Counted(faults), m_inner(std::move(inner)) {}
  HResult href(WideText* target) override {
    return withFault(faults(), Op::href, [&] { return m_inner->href(target); }, [&] { target->reset(); });
  }
  HResult putTitle(std::u16string_view title) override {
    return withFault(faults(), Op::putTitle, [&] { return m_inner->putTitle(title); }, [] {});
  }

 private:
  std::unique_ptr<LinkElement> m_inner;
};

class FaultyCollection : public ElementCollection, Faults::Counted {
 public:
  FaultyCollection(Faults& faults, std::unique_ptr<ElementCollection> inner)
      : Counted(faults), m_inner(std::move(inner)) {}
  HResult tags(std::u16string_view tagName, std::unique_ptr<ElementCollection>* result) override {
    return withFault(
        faults(), Op::tags,
        [&] {
          const HResult answer = m_inner->tags(tagName, result);
          wrapResult<FaultyCollection>(faults(), result);
          return answer;
        },
        [&] { result->reset(); });
  }
  HResult length(std::int32_t* count) override {
    return withFault(faults(), Op::length, [&] { return m_inner->length(count); }, [&] { *count = 0; });
  }
  HResult item(std::int32_t index, std::unique_ptr<LinkElement>* element) override {
    return withFault(
        faults(), Op::item,
        [&] {
          const HResult answer = m_inner->item(index, element);
          wrapResult<FaultyLink>(faults(), element);
          return answer;
        },
        [&] { element->reset(); });
  }

 private:
  std::unique_ptr<ElementCollection> m_inner;
};

class FaultyDocument : public Document, Faults::Counted {
 public:
  FaultyDocument(Faults& faults, std::unique_ptr<Document> inner)
      : Counted(faults), m_inner(std::move(inner)) {}
  HResult title(WideText* title) override {
    return withFault(faults(), Op::title, [&] { return m_inner->title(title); }, [&] { title->reset(); });
  }
  HResult url(WideText* url) override {
    return withFault(faults(), Op::url, [&] { return m_inner->url(url); }, [&] { url->reset(); });
  }
  HResult referrer(WideText* referrer) override {
    return withFault(faults(), Op::referrer, [&] { return m_inner->referrer(referrer); },
                   [&] { referrer->reset(); });
  }
  HResult body(std::unique_ptr<BodyElement>* body) override {
    return withFault(
        faults(), Op::body,
        [&] {
          const HResult answer = m_inner->body(body);
          wrapResult<FaultyBody>(faults(), body);
          return answer;
        },
        [&] { body->reset(); });
  }
  HResult all(std::unique_ptr<ElementCollection>* all) override {
    return withFault(
        faults(), Op::all,
        [&] {
          const HResult answer = m_inner->all(all);
          wrapResult<FaultyCollection>(faults(), all);
          return answer;
        },
        [&] { all->reset(); });
  }

 private:
  std::unique_ptr<Document> m_inner;
};

class FaultyBrowser : public Browser {
 public:
  FaultyBrowser(Faults& faults, std::unique_ptr<Browser> inner)
      : m_faults(faults), m_inner(std::move(inner)) {}
  HResult document(std::unique_ptr<Document>* document) override {
    return withFault(
        m_faults, Op::document,
        [&] {
          const HResult answer = m_inner->document(document);
          wrapResult<FaultyDocument>(m_faults, document);
          return answer;
        },
        [&] { document->reset(); });
  }

 private:
  Faults& m_faults;
  std::unique_ptr<Browser> m_inner;
};

}  // namespace detail

inline std::unique_ptr<Browser> Faults::wrap(std::unique_ptr<Browser> inner) {
  return std::make_unique<detail::FaultyBrowser>(*this, std::move(inner));
}

}  // namespace glintmark::fake
