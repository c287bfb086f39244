#include "core/search_query.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

// Every allocation through operator new in this test program is counted, so a
// test can prove that a call allocates nothing. The replacements pair malloc
// with free, which g++ cannot see through once they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
namespace {
std::atomic<long> g_allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace glintmark {
namespace {

// A URL in a heap buffer of exactly its length plus the terminator, so that
// the sanitizers catch any read past the terminator.
class Url {
 public:
  explicit Url(std::string_view text) : m_buffer(text.begin(), text.end()) { m_buffer.push_back('\0'); }
  char* data() { return m_buffer.data(); }
  std::string text() const { return m_buffer.data(); }  // up to the (possibly moved) terminator
  bool contains(std::string_view view) const {
    return view.data() >= m_buffer.data() && view.data() + view.size() < m_buffer.data() + m_buffer.size();
  }

 private:
  std::vector<char> m_buffer;
};

// The documented table, written out independently of the code.
const std::vector<std::string> kExpectedTable = {
    "&q=", "?q=", "?query=", "&query=", "?search=", "&search=", "?keyword=", "&keyword=",
    "?keywords=", "&keywords=", "_q=", "-q=", "?qr=", "&qr=", "?kw=", "&kw=", "?qry=", "&qry=",
    "?key=", "&key=", "?ask=", "&ask=", "?text=", "&text=", "_word=", "?word=", "&word=",
    "?words=", "&words=", "?term=", "&term=", "?terms=", "&terms=", "_searchkey=",
    "?searchkey=", "&searchkey=", "?searchfor=", "&searchfor=", "?searchtext=", "&searchtext=",
    "?mt=", "&mt=", "?qt=", "&qt=", "?qu=", "&qu=", "?t=", "&t=", "?s=", "&s=", "?p=", "&p="};

TEST(SearchParameterTable, HoldsTheEntriesInSearchOrder) {
  const auto table = searchParameterTable();
  ASSERT_EQ(table.size(), 52u);
  for (std::size_t i = 0; i < table.size(); ++i) EXPECT_EQ(table[i], kExpectedTable[i]) << "entry " << i + 1;
}

TEST(ExtractSearchText, RecognisesEveryEntryAndCutsAtTheAmpersand) {
  for (const std::string& entry : kExpectedTable) {
    Url url("/x" + entry + "value&more=1");
    const auto result = extractSearchText(url.data(), ansiCodePage());
    ASSERT_TRUE(result.has_value()) << entry;
    EXPECT_EQ(*result, "value") << entry;
    EXPECT_EQ(url.text(), "/x" + entry + "value") << entry;
  }
}

TEST(ExtractSearchText, EarlierTableEntryWinsWhereverItStands) {
  // Every pair, the later entry first in the URL: the earlier one decides.
  for (std::size_t early = 0; early < kExpectedTable.size(); ++early) {
    for (std::size_t late = early + 1; late < kExpectedTable.size(); ++late) {
      Url url("/a" + kExpectedTable[late] + "late&/b" + kExpectedTable[early] + "early");
      const auto result = extractSearchText(url.data(), ansiCodePage());
      ASSERT_TRUE(result.has_value());
      EXPECT_EQ(*result, "early") << kExpectedTable[early] << " before " << kExpectedTable[late];
    }
  }
}

struct Case {
  std::string url;
  std::optional<std::string> result;
  std::string after;  // the URL text afterwards; empty means unchanged
};

TEST(ExtractSearchText, DocumentedEdgeCases) {
  const std::vector<Case> cases = {
      {"h/search?hl=en&q=new+york&start=10", "new+york", "h/search?hl=en&q=new+york"},
      {"h/find?query=cats", "cats", ""},
      {"h/s?q=a&query=b", "a", "h/s?q=a"},         // "&query=" holds no "&q="
      {"h/s?query=a&q=b", "b", ""},                // "&q=" is entry 1
      {"h/s?p=1&query=abc", "abc", ""},            // "&query=" is entry 4, "?p=" 51
      {"h/s?keywords=x", "x", ""},                 // through "?keywords=", not "?keyword="
      {"h/s?q=caf%e9#top", "caf%e9#top", ""},      // no decoding, no end at "#"
      {"h/s?q=&hl=en", "", "h/s?q="},              // empty search text is a result
      {"h/s?q=", "", ""},
      {"h/index.html", std::nullopt, ""},
      {"h/s?id=7", std::nullopt, ""},
      {"h/my_q=abc", "abc", ""},                   // no "?" needed
      {"h/s?Query=Cats", std::nullopt, ""},        // matching is byte-exact
      {"", std::nullopt, ""},
      {"?q", std::nullopt, ""},                    // entry cut short by the terminator
      {"&q=&&", "", "&q="},
      {"h/#frag?q=x&y", "x", "h/#frag?q=x"},       // "#" is not special
  };
  for (const Case& c : cases) {
    Url url(c.url);
    const auto result = extractSearchText(url.data(), ansiCodePage());
    ASSERT_EQ(result.has_value(), c.result.has_value()) << c.url;
    if (result) {
      EXPECT_EQ(*result, *c.result) << c.url;
      EXPECT_TRUE(url.contains(*result)) << c.url << ": not a view into the URL";
    }
    EXPECT_EQ(url.text(), c.after.empty() ? c.url : c.after) << c.url;
  }
}

TEST(ExtractSearchText, LongUrlKeepsItsValueWhole) {
  const std::string filler(1 << 20, 'x');
  Url url("/" + filler + "&p=" + filler);
  const auto result = extractSearchText(url.data(), ansiCodePage());
  ASSERT_TRUE(result.has_value());
  EXPECT_EQ(result->size(), filler.size());
}

TEST(ExtractSearchText, AllocatesNothing) {
  std::vector<Url> urls;
  for (const char* text : {"h/search?hl=en&q=new+york&start=10", "h/index.html", "h/s?q=",
                           "h/my_q=abc", "h/s?a=1&p=2"}) {
    urls.emplace_back(text);
  }
  std::vector<std::unique_ptr<CodePage>> owned;
  std::vector<const CodePage*> codePages = {&ansiCodePage()};
  if (auto cp = makeCodePage(932)) codePages.push_back(owned.emplace_back(std::move(cp)).get());
  for (const CodePage* cp : codePages) {
    for (Url& url : urls) {
      const long before = g_allocations.load();
      (void)extractSearchText(url.data(), *cp);
      EXPECT_EQ(g_allocations.load(), before) << url.text() << " in code page " << cp->name();
    }
  }
}

TEST(ExtractSearchText, ShiftJisNeverMatchesAtATrailByte) {
  auto cp = makeCodePage(932);
  if (!cp) GTEST_SKIP() << "windows-932 not available here";
  const std::vector<Case> cases = {
      // 0x81 0x5F is one character whose second byte is "_".
      {"h/\x81_q=abc", std::nullopt, ""},
      {"h/\x81_q=x&_q=y", "y", ""},
      {"h/\x81_word=abc&p=z", "z", ""},
      {"h/a_q=abc", "abc", ""},
      // A double-byte value (nihon) is kept whole and cut at the real "&".
      {"h/s?q=\x93\xfa\x96\x7b&x=1", "\x93\xfa\x96\x7b", "h/s?q=\x93\xfa\x96\x7b"},
      // A lone lead byte at the end stays part of the value.
      {"h/s?q=ab\x81", "ab\x81", ""},
  };
  for (const Case& c : cases) {
    Url url(c.url);
    const auto result = extractSearchText(url.data(), *cp);
    ASSERT_EQ(result.has_value(), c.result.has_value()) << c.url;
    if (result) {
      EXPECT_EQ(*result, *c.result) << c.url;
    }
    EXPECT_EQ(url.text(), c.after.empty() ? c.url : c.after) << c.url;
  }
}

}  // namespace
}  // namespace glintmark
