#include "core/keywords.h"

#include <algorithm>
#include <array>
#include <functional>
#include <unordered_map>

#include "core/ascii.h"
#include "core/unicode.h"
#include "core/utf.h"

namespace glintmark {
namespace {

// The separator bytes: tab, line feed, space, the digits and the 32 ASCII
// punctuation characters. Everything else, carriage return, DEL and every byte
// from 0x80 up included, belongs to words.
constexpr std::array<bool, 256> kSeparators = [] {
  std::array<bool, 256> table{};
  for (const unsigned char c : {'\t', '\n', ' '}) table[c] = true;
  for (int c = 0x21; c <= 0x7E; ++c) {
    table[static_cast<std::size_t>(c)] = !isAsciiAlpha(c);  // digits and punctuation
  }
  return table;
}();
static_assert(std::count(kSeparators.begin(), kSeparators.end(), true) == 45);

bool isSeparator(char c) { return kSeparators[static_cast<unsigned char>(c)]; }

// Common English words that title-word mode never highlights. It keeps
// "amoungst" and "fify" as the list has always had them, and "a" and "i",
// which cannot match since shorter words are dropped first.
constexpr std::array<std::string_view, 320> kStopWords = {
    "a", "about", "above", "across", "after", "afterwards", "again", "against", "all", "almost",
    "alone", "along", "already", "also", "although", "always", "am", "among", "amongst",
    "amoungst", "amount", "an", "and", "another", "any", "anyhow", "anyone", "anything", "anyway",
    "anywhere", "are", "around", "as", "at", "back", "be", "became", "because", "become",
    "becomes", "becoming", "been", "before", "beforehand", "behind", "being", "below", "beside",
    "besides", "between", "beyond", "bill", "both", "bottom", "but", "by", "call", "can",
    "cannot", "cant", "co", "com", "computer", "con", "could", "couldnt", "cry", "de",
    "describe", "detail", "do", "done", "down", "due", "during", "each", "eg", "eight", "either",
    "eleven", "else", "elsewhere", "empty", "enough", "etc", "even", "ever", "every", "everyone",
    "everything", "everywhere", "except", "few", "fifteen", "fify", "fill", "find", "fire",
    "first", "five", "for", "former", "formerly", "forty", "found", "four", "from", "front",
    "full", "further", "get", "give", "go", "had", "has", "hasnt", "have", "he", "hence", "her",
    "here", "hereafter", "hereby", "herein", "hereupon", "hers", "herself", "him", "himself",
    "his", "how", "however", "hundred", "i", "ie", "if", "in", "inc", "indeed", "interest",
    "into", "is", "it", "its", "itself", "keep", "last", "latter", "latterly", "least", "less",
    "ltd", "made", "many", "may", "me", "meanwhile", "might", "mill", "mine", "more", "moreover",
    "most", "mostly", "move", "much", "must", "my", "myself", "name", "namely", "neither",
    "never", "nevertheless", "next", "nine", "no", "nobody", "none", "noone", "nor", "not",
    "nothing", "now", "nowhere", "of", "off", "often", "on", "once", "one", "only", "onto", "or",
    "other", "others", "otherwise", "our", "ours", "ourselves", "out", "over", "own", "part",
    "per", "perhaps", "please", "put", "rather", "re", "same", "see", "seem", "seemed",
    "seeming", "seems", "serious", "several", "she", "should", "show", "side", "since",
    "sincere", "six", "sixty", "so", "some", "somehow", "someone", "something", "sometime",
    "sometimes", "somewhere", "still", "such", "system", "take", "ten", "than", "that", "the",
    "their", "them", "themselves", "then", "thence", "there", "thereafter", "thereby",
    "therefore", "therein", "thereupon", "these", "they", "thick", "thin", "third", "this",
    "those", "though", "three", "through", "throughout", "thru", "thus", "to", "together", "too",
    "top", "toward", "towards", "twelve", "twenty", "two", "un", "under", "until", "up", "upon",
    "us", "very", "via", "was", "we", "well", "were", "what", "whatever", "when", "whence",
    "whenever", "where", "whereafter", "whereas", "whereby", "wherein", "whereupon", "wherever",
    "whether", "which", "while", "whither", "who", "whoever", "whole", "whom", "whose", "why",
    "will", "with", "within", "without", "would", "yet", "you", "your", "yours", "yourself",
    "yourselves",
};
// The list is in strictly ascending byte order, so a binary search gives the
// same answer as comparing with every entry, and no entry is repeated.
static_assert(std::adjacent_find(kStopWords.begin(), kStopWords.end(),
                                 std::greater_equal<std::string_view>()) == kStopWords.end());

constexpr std::size_t kTitleWordLimit = 5;

}  // namespace

bool isStopWord(std::string_view word) {
  return std::binary_search(kStopWords.begin(), kStopWords.end(), word);
}

std::span<const std::string_view> stopWords() { return kStopWords; }

std::vector<KeywordSearch> keywordSearches(const KeywordList& list) {
  std::vector<KeywordSearch> searches;
  std::unordered_map<std::string_view, std::size_t> placeOf;  // word -> index in searches
  for (std::size_t position = 0; position < list.words.size(); ++position) {
    const std::string_view word = list.words[position];
    const auto found = placeOf.find(word);
    if (found != placeOf.end()) {
      searches[found->second].colourPosition = position;
    } else if (searches.size() < kMaxSearchedWords) {
      placeOf.emplace(word, searches.size());
      searches.push_back({word, position});
    }
  }
  return searches;
}

namespace {

// splitKeywords in the UTF-8 code page: a search text is decoded first, and
// words are cut, measured and folded by Unicode's rules.
KeywordList splitUnicodeKeywords(const char* text, bool fromTitle, const char* pageUrl) {
  KeywordList list;
  list.fromTitle = fromTitle;
  // A title is text as it stands; a search text and the page URL are
  // addresses, their escapes decoded.
  const std::u16string wide = toUtf16(fromTitle ? std::string(text) : unicode::decodeFormValue(text));
  const bool haveUrl = fromTitle && pageUrl != nullptr;
  const std::string url = haveUrl ? unicode::foldUtf8(unicode::decodeFormValue(pageUrl)) : std::string();
  std::u32string chars;
  chars.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    char32_t c = wide[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (wide[++i] - 0xDC00);
    }
    chars += c;
  }
  std::u16string word16;
  for (std::size_t i = 0; i < chars.size();) {
    if (!unicode::isWordChar(chars[i])) {
      ++i;
      continue;
    }
    const std::size_t begin = i;
    while (i < chars.size() &&
           (unicode::isWordChar(chars[i]) ||
            (unicode::isWordJoiner(chars[i]) && i + 1 < chars.size() && unicode::isWordChar(chars[i + 1])))) {
      ++i;
    }
    // Words of one character are too common to mark, but for the scripts
    // where one character is a word.
    if (i - begin < 2 && !unicode::standsAlone(chars[begin])) continue;
    word16.clear();
    for (std::size_t k = begin; k < i; ++k) {
      const char32_t c = chars[k];
      if (c < 0x10000) {
        word16 += static_cast<char16_t>(c);
      } else {
        word16 += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
        word16 += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
      }
    }
    std::u16string folded;
    unicode::appendFolded(folded, word16);
    std::string word = toUtf8(folded);
    if (fromTitle) {
      if (list.words.size() == kTitleWordLimit) break;
      if (haveUrl && url.find(word) != std::string::npos) continue;
      if (isStopWord(word)) continue;
    }
    list.words.push_back(std::move(word));
  }
  return list;
}

}  // namespace

KeywordList splitKeywords(const char* text, bool fromTitle, const char* pageUrl,
                          const CodePage& codePage) {
  if (codePage.isUtf8()) return splitUnicodeKeywords(text, fromTitle, pageUrl);
  KeywordList list;
  list.fromTitle = fromTitle;
  // The page URL is read only in title-word mode.
  const bool haveUrl = fromTitle && pageUrl != nullptr;
  const std::string_view url = haveUrl ? std::string_view(pageUrl) : std::string_view();
  const char* p = text;
  while (*p != '\0') {
    if (isSeparator(*p)) {
      ++p;
      continue;
    }
    const char* begin = p;
    while (*p != '\0' && !isSeparator(*p)) ++p;
    const std::string_view word(begin, static_cast<std::size_t>(p - begin));
    if (word.size() < 2) continue;
    if (fromTitle) {
      if (list.words.size() == kTitleWordLimit) break;
      if (haveUrl && findInText(codePage, url, word) != std::string_view::npos) continue;
      if (isStopWord(word)) continue;
    }
    list.words.emplace_back(word);
  }
  return list;
}

}  // namespace glintmark
