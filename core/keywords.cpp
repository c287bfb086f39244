#include "core/keywords.h"

#include <algorithm>
#include <array>
#include <functional>

#include "core/ascii.h"

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

KeywordList splitKeywords(const char* text, bool fromTitle, const char* pageUrl,
                          const CodePage& codePage) {
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
