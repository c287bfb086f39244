#include "core/keywords.h"

#include "core/code_page_utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace glintmark {
namespace {

using Words = std::vector<std::string>;

Words split(const std::string& text) { return splitKeywords(text.c_str(), false, nullptr, ansiCodePage()).words; }

Words splitTitle(const std::string& title, const char* pageUrl, const CodePage& cp = ansiCodePage()) {
  const KeywordList list = splitKeywords(title.c_str(), true, pageUrl, cp);
  EXPECT_TRUE(list.fromTitle);
  return list.words;
}

TEST(SplitKeywords, SeparatorsAreExactlyTheDocumentedBytes) {
  for (int b = 1; b < 256; ++b) {
    const bool separator = b == 0x09 || b == 0x0A || b == 0x20 || (b >= 0x21 && b <= 0x40) ||
                           (b >= 0x5B && b <= 0x60) || (b >= 0x7B && b <= 0x7E);
    const std::string text = std::string("ab") + static_cast<char>(b) + "cd";
    const Words expected = separator ? Words{"ab", "cd"} : Words{text};
    EXPECT_EQ(split(text), expected) << "byte 0x" << std::hex << b;
  }
}

TEST(SplitKeywords, SearchTexts) {
  const std::vector<std::pair<std::string, Words>> cases = {
      {"new+york", {"new", "york"}},
      {"%22new+york%22", {"new", "york"}},
      {"mp3+player", {"mp", "player"}},
      {"don%27t", {"don"}},
      {"c%2b%2b", {}},
      {"foo%2cbar", {"foo", "cbar"}},
      {"the+cat+the", {"the", "cat", "the"}},  // no stop words, repeats stay
      {"%22big+cats%22+-dogs", {"big", "cats", "dogs"}},
      {"", {}},
      {"+-%22 \t\n123", {}},
      {"caf\xe9+na\xefve", {"caf\xe9", "na\xefve"}},
      {"a+b+cc", {"cc"}},
  };
  for (const auto& [text, expected] : cases) {
    const KeywordList list = splitKeywords(text.c_str(), false, nullptr, ansiCodePage());
    EXPECT_EQ(list.words, expected) << text;
    EXPECT_FALSE(list.fromTitle) << text;
  }
}

TEST(SplitKeywords, SearchTextHasNoWordLimit) {
  std::string text;
  Words expected;
  for (int i = 0; i < 30; ++i) {
    std::string word(2 + i / 26, 'w');
    word[1] = static_cast<char>('a' + i % 26);
    if (i > 0) text += '+';
    text += word;
    expected.push_back(word);
  }
  EXPECT_EQ(split(text), expected);
}

TEST(KeywordSearches, EachWordOnceInTheColourOfItsLastPlaceAtMost32) {
  struct Row {
    Words words;
    std::vector<std::pair<std::string, std::size_t>> searches;
  };
  Words many;  // 40 distinct words, then the first one again
  for (int i = 0; i < 40; ++i) many.push_back({'w', static_cast<char>('a' + i % 26), static_cast<char>('a' + i / 26)});
  many.push_back(many[0]);
  std::vector<std::pair<std::string, std::size_t>> first32 = {{many[0], 40}};
  for (std::size_t i = 1; i < kMaxSearchedWords; ++i) first32.push_back({many[i], i});
  const std::vector<Row> rows = {
      {{}, {}},
      {{"cat", "dog"}, {{"cat", 0}, {"dog", 1}}},
      {{"cat", "dog", "cat"}, {{"cat", 2}, {"dog", 1}}},
      {Words(4000, "ab"), {{"ab", 3999}}},
      {{"ab", "cd", "ab", "cd", "ef", "ab"}, {{"ab", 5}, {"cd", 3}, {"ef", 4}}},
      {many, first32},
  };
  for (const Row& row : rows) {
    KeywordList list;
    list.words = row.words;
    std::vector<std::pair<std::string, std::size_t>> got;
    for (const KeywordSearch& search : keywordSearches(list)) got.push_back({std::string(search.word), search.colourPosition});
    EXPECT_EQ(got, row.searches) << row.words.size() << " words";
  }
}

TEST(SplitKeywords, TitleMode) {
  struct Case {
    std::string title;
    const char* pageUrl;
    Words expected;
  };
  const std::vector<Case> cases = {
      // "the" and "over" are stop words; "dogs" is never looked at.
      {"the quick brown fox jumps over the lazy dogs", "h/index.html", {"quick", "brown", "fox", "jumps", "lazy"}},
      {"example domain", "h/example/index.html", {"domain"}},
      {"exam domain", "h/example/index.html", {"domain"}},  // a substring of the URL, not a word
      {"example domain", nullptr, {"example", "domain"}},
      {"a i am an", "h/", {}},
      // Words skipped for the URL or as stop words do not count toward five.
      {"one two seven and eleven alpha beta gamma delta epsilon", nullptr, {"seven", "alpha", "beta", "gamma", "delta"}},
      {"aa bb cc dd ee ff", "h/bb", {"aa", "cc", "dd", "ee", "ff"}},
      {"x y aa bb cc dd ee ff", nullptr, {"aa", "bb", "cc", "dd", "ee"}},
      // A carriage return is a word byte.
      {"first\r\nsecond", nullptr, {"first\r", "second"}},
  };
  for (const Case& c : cases) EXPECT_EQ(splitTitle(c.title, c.pageUrl), c.expected) << c.title;
}

TEST(SplitKeywords, ShiftJisSplitsByteWiseButSearchesTheUrlByCharacter) {
  auto cp = makeCodePage(932);
  if (!cp) GTEST_SKIP() << "windows-932 not available here";
  // 0x81 0x40 (ideographic space) ends in "@", a separator: the walk is byte-wise.
  EXPECT_EQ(splitKeywords("ab\x81\x40" "cd", false, nullptr, *cp).words, (Words{"ab\x81", "cd"}));
  // 0x93 0xfa 0x96 0x7b has the trail byte "{", a separator, after the first
  // character.
  EXPECT_EQ(splitKeywords("\x93\xfa\x96\x7b", false, nullptr, *cp).words, (Words{"\x93\xfa\x96"}));
  // In the URL, "qrs" sits behind the lead byte 0x81: a trail-byte position,
  // so the title word is not found there and is kept; the single-byte code
  // page finds it and skips it.
  EXPECT_EQ(splitTitle("qrs", "h/\x81qrs", *cp), (Words{"qrs"}));
  EXPECT_EQ(splitTitle("qrs", "h/\x81qrs", ansiCodePage()), Words{});
}

// The whole list, pinned by its size and the FNV-1a hash (64 bits) of its
// entries joined by line feeds: a changed, added, dropped or moved entry
// changes it.
// The same texts through both paths: bytes in windows-1252, Unicode in UTF-8.
TEST(SplitKeywords, Utf8DecodesAndSplitsByUnicodeWhere1252SplitsBytes) {
  const std::unique_ptr<CodePage> utf8 = makeUtf8CodePage();
  struct Row {
    std::string text;
    Words cp1252, unicode;
  };
  const Row rows[] = {
      {"caf%c3%a9+cr%c3%a8me", {"caf", "cr", "me"}, {"café", "crème"}},
      {"m%c3%bcnchen+stra%c3%9fe", {"bcnchen", "stra", "fe"}, {"münchen", "strasse"}},
      {"%d0%bc%d0%be%d1%81%d0%ba%d0%b2%d0%b0", {"bc", "be", "ba"}, {"москва"}},
      {"%e6%9d%b1%e4%ba%ac+%e5%a4%a9", {"ba", "ac"}, {"東京", "天"}},  // one Han character is a word
      {"%c4%b0zmir+%ce%9f%ce%94%ce%9f%ce%a3", {"zmir", "ce", "ce", "ce", "ce"}, {"izmir", "οδοσ"}},
      {"%22big+cats%22+-dogs", {"big", "cats", "dogs"}, {"big", "cats", "dogs"}},
      {"c%2b%2b+tutorial", {"tutorial"}, {"tutorial"}},
      {"don%27t+mp3+e-mail+a+%c3%a9", {"don", "mp", "mail"}, {"don't", "mp3", "mail"}},
      {"caf%e9+%c3%c3%a9", {"caf"}, {"café", "ãé"}},  // not UTF-8: windows-1252
      {"caf\xc3\xa9", {"caf\xc3\xa9"}, {"caf\xc3\xa9"}},           // already decoded
  };
  for (const Row& row : rows) {
    EXPECT_EQ(split(row.text), row.cp1252) << row.text;
    EXPECT_EQ(splitKeywords(row.text.c_str(), false, nullptr, *utf8).words, row.unicode) << row.text;
  }
  // A title is not decoded; its URL test sees the decoded, folded address.
  EXPECT_EQ(splitTitle("Café 100% Straße", "https://x.example/stra%c3%9fe", *utf8), (Words{"café", "100"}));
  EXPECT_EQ(splitTitle("The Москва and ΟΔΟΣ %41", nullptr, *utf8), (Words{"москва", "οδοσ", "41"}));
}

TEST(IsStopWord, TheWholeListIsPinned) {
  const std::span<const std::string_view> words = stopWords();
  ASSERT_EQ(words.size(), 320u);
  std::uint64_t hash = 0xcbf29ce484222325u;
  std::size_t bytes = 0;
  auto mix = [&](char c) {
    hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
    ++bytes;
  };
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) mix('\n');
    for (const char c : words[i]) mix(c);
    EXPECT_TRUE(isStopWord(words[i])) << words[i];
  }
  EXPECT_EQ(bytes, 1921u);
  EXPECT_EQ(hash, 0xf67b56d8b036e580u);
}

TEST(IsStopWord, ExactMatchesOnly) {
  const std::vector<std::pair<std::string, bool>> cases = {
      {"a", true},         {"i", true},         {"the", true},        {"amoungst", true},
      {"fify", true},      {"yourselves", true}, {"about", true},      {"computer", true},
      {"Then", false},     {"thenx", false},    {"the ", false},      {"amonst", false},
      {"", false},         {"th", false},       {"zzz", false},       {"aardvark", false},
  };
  for (const auto& [word, expected] : cases) EXPECT_EQ(isStopWord(word), expected) << '"' << word << '"';
}

}  // namespace
}  // namespace glintmark
