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

inline bool isWordChar(char16_t c) {
  return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
         c >= 0xC0;
}

inline char16_t foldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? c + 32 : c; }

class Range : public TextRange {
 public:
  Range(FakePage& page, std::size_t start, std::size_t end) : page_(page), start_(start), end_(end) {}

  HResult findText(std::u16string_view text, std::int32_t, std::int32_t flags,
                   bool* found) override {
    *found = false;
    const std::u16string& body = page_.text;
    const std::size_t from = page_.findFromBodyStart ? 0 : start_;
    if (text.empty() || end_ < text.size()) return hr::ok;
    for (std::size_t at = from; at + text.size() <= end_; ++at) {
      bool same = true;
      for (std::size_t i = 0; i < text.size() && same; ++i) {
        same = foldAscii(body[at + i]) == foldAscii(text[i]);
      }
      if (!same) continue;
      if ((flags & 2) != 0 && ((at > 0 && isWordChar(body[at - 1])) ||
                               (at + text.size() < body.size() && isWordChar(body[at + text.size()])))) {
        continue;
      }
      start_ = at;
      end_ = at + text.size();
      *found = true;
      return hr::ok;
    }
    return hr::ok;
  }
  HResult htmlText(WideText* html) override {
    *html = page_.text.substr(start_, end_ - start_);
    return hr::ok;
  }
  HResult pasteHtml(std::u16string_view html) override {
    page_.pastes.push_back({start_, end_, std::u16string(html)});
    if (!page_.pasteKeepsRange) start_ = end_;
    return hr::ok;
  }
  HResult moveStart(std::u16string_view unit, std::int32_t count, std::int32_t* moved) override {
    *moved = 0;
    if (page_.moveStartIgnored) return hr::ok;
    const std::size_t target = unit == u"Textedit" ? page_.text.size()
                                                   : std::min(page_.text.size(), start_ + count);
    *moved = static_cast<std::int32_t>(target - start_);
    start_ = target;
    end_ = std::max(end_, start_);
    return hr::ok;
  }
  HResult moveEnd(std::u16string_view unit, std::int32_t count, std::int32_t* moved) override {
    const std::size_t target =
        unit == u"Textedit" ? page_.text.size() : std::min(page_.text.size(), end_ + count);
    *moved = static_cast<std::int32_t>(target - end_);
    end_ = target;
    return hr::ok;
  }
  HResult duplicate(std::unique_ptr<TextRange>* copy) override {
    if (!page_.offersCompare) return TextRange::duplicate(copy);
    *copy = std::make_unique<Range>(page_, start_, end_);
    return hr::ok;
  }
  HResult compareEndPoints(std::u16string_view how, TextRange& other,
                           std::int32_t* result) override {
    if (!page_.offersCompare) return TextRange::compareEndPoints(how, other, result);
    auto& that = dynamic_cast<Range&>(other);
    const std::size_t mine = how.substr(0, 5) == u"Start" ? start_ : end_;
    const std::size_t theirs = how.ends_with(u"ToStart") ? that.start_ : that.end_;
    *result = mine < theirs ? -1 : mine > theirs ? 1 : 0;
    return hr::ok;
  }

 private:
  FakePage& page_;
  std::size_t start_;
  std::size_t end_;
};

class Body : public BodyElement {
 public:
  explicit Body(FakePage& page) : page_(page) {}
  HResult createTextRange(std::unique_ptr<TextRange>* range) override {
    *range = std::make_unique<Range>(page_, 0, page_.text.size());
    return hr::ok;
  }

 private:
  FakePage& page_;
};

class Link : public LinkElement {
 public:
  explicit Link(FakeLink& link) : link_(link) {}
  HResult href(WideText* target) override {
    *target = link_.href;
    return hr::ok;
  }
  HResult putTitle(std::u16string_view title) override {
    link_.title = std::u16string(title);
    return hr::ok;
  }

 private:
  FakeLink& link_;
};

// `all` (every element) and its tags("a"); only the links are modelled.
class Collection : public ElementCollection {
 public:
  Collection(FakePage& page, bool linksOnly) : page_(page), linksOnly_(linksOnly) {}
  HResult tags(std::u16string_view tagName, std::unique_ptr<ElementCollection>* result) override {
    *result = std::make_unique<Collection>(page_, true);
    if (tagName != u"a") static_cast<Collection&>(**result).empty_ = true;
    return hr::ok;
  }
  HResult length(std::int32_t* count) override {
    *count = empty_ ? 0 : static_cast<std::int32_t>(page_.links.size());
    return hr::ok;
  }
  HResult item(std::int32_t index, std::unique_ptr<LinkElement>* element) override {
    element->reset();
    if (!linksOnly_ || empty_ || index < 0 || static_cast<std::size_t>(index) >= page_.links.size()) {
      return hr::invalidArg;
    }
    if (page_.links[index].isAnchor) *element = std::make_unique<Link>(page_.links[index]);
    return hr::ok;
  }

 private:
  FakePage& page_;
  bool linksOnly_;
  bool empty_ = false;
};

class Doc : public Document {
 public:
  explicit Doc(FakePage& page) : page_(page) {}
  HResult title(WideText* title) override { return give(page_.title, title); }
  HResult url(WideText* url) override { return give(page_.url, url); }
  HResult referrer(WideText* referrer) override { return give(page_.referrer, referrer); }
  HResult body(std::unique_ptr<BodyElement>* body) override {
    body->reset();
    if (!page_.frameset) *body = std::make_unique<Body>(page_);
    return hr::ok;
  }
  HResult all(std::unique_ptr<ElementCollection>* all) override {
    *all = std::make_unique<Collection>(page_, false);
    return hr::ok;
  }

 private:
  static HResult give(const WideText& value, WideText* out) {
    *out = value;
    return hr::ok;
  }
  FakePage& page_;
};

class FakeBrowser : public Browser {
 public:
  explicit FakeBrowser(FakePage& page) : page_(page) {}
  HResult document(std::unique_ptr<Document>* document) override {
    *document = std::make_unique<Doc>(page_);
    return hr::ok;
  }

 private:
  FakePage& page_;
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
  void failOn(Op op, HResult code, int onCall = 0) { faults_[op] = {Kind::fail, code, onCall}; }
  // The call succeeds with no object or no string (a false or zero result).
  void noneOn(Op op, int onCall = 0) { faults_[op] = {Kind::none, hr::ok, onCall}; }
  // The call throws std::bad_alloc, as a model out of memory does.
  void throwOn(Op op, int onCall = 0) { faults_[op] = {Kind::outOfMemory, hr::ok, onCall}; }
  // Every call from the nth on fails with `code`: a cap that ends a loop
  // which would otherwise repeat the call for ever.
  void failFrom(Op op, HResult code, int fromCall) { faults_[op] = {Kind::fail, code, fromCall, true}; }

  int calls(Op op) const {
    const auto it = calls_.find(op);
    return it == calls_.end() ? 0 : it->second;
  }
  // Wrapped objects handed out and not yet destroyed.
  int live() const { return live_; }

  // The wrapped browser; `inner` must outlive it. Not counted in live().
  std::unique_ptr<Browser> wrap(std::unique_ptr<Browser> inner);

  // Counts the call; answers what the wrapper should do instead of
  // forwarding: ok = forward, a failure code, or *none set.
  HResult check(Op op, bool* none) {
    *none = false;
    const int n = ++calls_[op];
    const auto it = faults_.find(op);
    if (it == faults_.end()) return hr::ok;
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
    explicit Counted(Faults& faults) : faults_(faults) { ++faults_.live_; }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
    ~Counted() { --faults_.live_; }
    Faults& faults() const { return faults_; }

   private:
    Faults& faults_;
  };

 private:
  enum class Kind { fail, none, outOfMemory };
  struct Fault {
    Kind kind;
    HResult code;
    int onCall;
    bool onward = false;  // onCall and every later call
  };
  std::map<Op, Fault> faults_;
  std::map<Op, int> calls_;
  int live_ = 0;
};

namespace detail {

// Runs `forward` unless the fault plan says otherwise; `clear` resets the out
// parameter for a failure or a "none" answer.
template <typename Forward, typename Clear>
HResult guarded(Faults& faults, Op op, Forward forward, Clear clear) {
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
      : Counted(faults), inner_(std::move(inner)) {}
  HResult findText(std::u16string_view text, std::int32_t count, std::int32_t flags,
                   bool* found) override {
    return guarded(faults(), Op::findText, [&] { return inner_->findText(text, count, flags, found); },
                   [&] { *found = false; });
  }
  HResult htmlText(WideText* html) override {
    return guarded(faults(), Op::htmlText, [&] { return inner_->htmlText(html); },
                   [&] { html->reset(); });
  }
  HResult pasteHtml(std::u16string_view html) override {
    return guarded(faults(), Op::pasteHtml, [&] { return inner_->pasteHtml(html); }, [] {});
  }
  HResult moveStart(std::u16string_view unit, std::int32_t count, std::int32_t* moved) override {
    return guarded(faults(), Op::moveStart, [&] { return inner_->moveStart(unit, count, moved); },
                   [&] { *moved = 0; });
  }
  HResult moveEnd(std::u16string_view unit, std::int32_t count, std::int32_t* moved) override {
    return guarded(faults(), Op::moveEnd, [&] { return inner_->moveEnd(unit, count, moved); },
                   [&] { *moved = 0; });
  }
  HResult duplicate(std::unique_ptr<TextRange>* copy) override {
    return guarded(
        faults(), Op::duplicate,
        [&] {
          const HResult result = inner_->duplicate(copy);
          wrapResult<FaultyRange>(faults(), copy);
          return result;
        },
        [&] { copy->reset(); });
  }
  HResult compareEndPoints(std::u16string_view how, TextRange& other,
                           std::int32_t* result) override {
    return guarded(
        faults(), Op::compareEndPoints,
        [&] { return inner_->compareEndPoints(how, *dynamic_cast<FaultyRange&>(other).inner_, result); },
        [&] { *result = 0; });
  }

 private:
  std::unique_ptr<TextRange> inner_;
};

class FaultyBody : public BodyElement, Faults::Counted {
 public:
  FaultyBody(Faults& faults, std::unique_ptr<BodyElement> inner)
      : Counted(faults), inner_(std::move(inner)) {}
  HResult createTextRange(std::unique_ptr<TextRange>* range) override {
    return guarded(
        faults(), Op::createTextRange,
        [&] {
          const HResult result = inner_->createTextRange(range);
          wrapResult<FaultyRange>(faults(), range);
          return result;
        },
        [&] { range->reset(); });
  }

 private:
  std::unique_ptr<BodyElement> inner_;
};

class FaultyLink : public LinkElement, Faults::Counted {
 public:
  FaultyLink(Faults& faults, std::unique_ptr<LinkElement> inner)
      : Counted(faults), inner_(std::move(inner)) {}
  HResult href(WideText* target) override {
    return guarded(faults(), Op::href, [&] { return inner_->href(target); }, [&] { target->reset(); });
  }
  HResult putTitle(std::u16string_view title) override {
    return guarded(faults(), Op::putTitle, [&] { return inner_->putTitle(title); }, [] {});
  }

 private:
  std::unique_ptr<LinkElement> inner_;
};

class FaultyCollection : public ElementCollection, Faults::Counted {
 public:
  FaultyCollection(Faults& faults, std::unique_ptr<ElementCollection> inner)
      : Counted(faults), inner_(std::move(inner)) {}
  HResult tags(std::u16string_view tagName, std::unique_ptr<ElementCollection>* result) override {
    return guarded(
        faults(), Op::tags,
        [&] {
          const HResult answer = inner_->tags(tagName, result);
          wrapResult<FaultyCollection>(faults(), result);
          return answer;
        },
        [&] { result->reset(); });
  }
  HResult length(std::int32_t* count) override {
    return guarded(faults(), Op::length, [&] { return inner_->length(count); }, [&] { *count = 0; });
  }
  HResult item(std::int32_t index, std::unique_ptr<LinkElement>* element) override {
    return guarded(
        faults(), Op::item,
        [&] {
          const HResult answer = inner_->item(index, element);
          wrapResult<FaultyLink>(faults(), element);
          return answer;
        },
        [&] { element->reset(); });
  }

 private:
  std::unique_ptr<ElementCollection> inner_;
};

class FaultyDocument : public Document, Faults::Counted {
 public:
  FaultyDocument(Faults& faults, std::unique_ptr<Document> inner)
      : Counted(faults), inner_(std::move(inner)) {}
  HResult title(WideText* title) override {
    return guarded(faults(), Op::title, [&] { return inner_->title(title); }, [&] { title->reset(); });
  }
  HResult url(WideText* url) override {
    return guarded(faults(), Op::url, [&] { return inner_->url(url); }, [&] { url->reset(); });
  }
  HResult referrer(WideText* referrer) override {
    return guarded(faults(), Op::referrer, [&] { return inner_->referrer(referrer); },
                   [&] { referrer->reset(); });
  }
  HResult body(std::unique_ptr<BodyElement>* body) override {
    return guarded(
        faults(), Op::body,
        [&] {
          const HResult answer = inner_->body(body);
          wrapResult<FaultyBody>(faults(), body);
          return answer;
        },
        [&] { body->reset(); });
  }
  HResult all(std::unique_ptr<ElementCollection>* all) override {
    return guarded(
        faults(), Op::all,
        [&] {
          const HResult answer = inner_->all(all);
          wrapResult<FaultyCollection>(faults(), all);
          return answer;
        },
        [&] { all->reset(); });
  }

 private:
  std::unique_ptr<Document> inner_;
};

class FaultyBrowser : public Browser {
 public:
  FaultyBrowser(Faults& faults, std::unique_ptr<Browser> inner)
      : faults_(faults), inner_(std::move(inner)) {}
  HResult document(std::unique_ptr<Document>* document) override {
    return guarded(
        faults_, Op::document,
        [&] {
          const HResult answer = inner_->document(document);
          wrapResult<FaultyDocument>(faults_, document);
          return answer;
        },
        [&] { document->reset(); });
  }

 private:
  Faults& faults_;
  std::unique_ptr<Browser> inner_;
};

}  // namespace detail

inline std::unique_ptr<Browser> Faults::wrap(std::unique_ptr<Browser> inner) {
  return std::make_unique<detail::FaultyBrowser>(*this, std::move(inner));
}

}  // namespace glintmark::fake
