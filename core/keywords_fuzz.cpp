// Fuzzes the search-text path of the page pass in both a single-byte and a
// double-byte code page: lowercase a URL, extract its search text, split it;
// then title-word mode with a second text as the title and the cut URL as the
// page URL. The input is "URL\0TITLE"; a missing title is empty.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "core/code_page.h"
#include "core/keywords.h"
#include "core/search_query.h"

namespace {

using namespace glintmark;

void check(bool condition) {
  if (!condition) std::abort();
}

void checkWords(const KeywordList& list, std::string_view text) {
  std::size_t from = 0;
  for (const std::string& word : list.words) {
    check(word.size() >= 2);
    for (const char c : word) {
      const bool separator = c == '\t' || c == '\n' || c == ' ' || (c >= '!' && c <= '@') ||
                             (c >= '[' && c <= '`') || (c >= '{' && c <= '~');
      check(!separator && c != '\0');
    }
    // Words stand in text order.
    const std::size_t at = text.find(word, from);
    check(at != std::string_view::npos);
    from = at + word.size();
  }
}

// An exact-size heap copy, so that any read past the terminator is caught.
std::unique_ptr<char[]> terminatedCopy(std::string_view text) {
  std::unique_ptr<char[]> copy(new char[text.size() + 1]);
  std::copy(text.begin(), text.end(), copy.get());
  copy[text.size()] = '\0';
  return copy;
}

void run(const CodePage& cp, std::string_view url, std::string_view title) {
  const std::unique_ptr<char[]> buffer = terminatedCopy(url);
  cp.lowerInPlace(buffer.get(), url.size());
  const std::string lowered(buffer.get(), url.size());

  const auto text = extractSearchText(buffer.get(), cp);
  if (!text) {
    check(lowered == std::string_view(buffer.get(), url.size()));
  } else {
    // A view into the buffer, ending at a terminator, holding no "&" of its own.
    check(text->data() >= buffer.get() && text->data() + text->size() <= buffer.get() + url.size());
    check(text->data()[text->size()] == '\0');
    check(std::strlen(buffer.get()) == static_cast<std::size_t>(text->data() + text->size() - buffer.get()));
    check(lowered.compare(0, std::strlen(buffer.get()), buffer.get()) == 0);
    const KeywordList words = splitKeywords(text->data(), false, nullptr, cp);
    check(!words.fromTitle);
    checkWords(words, *text);
  }

  const std::unique_ptr<char[]> titleBuffer = terminatedCopy(title);
  const char* pageUrl = buffer[0] != '\0' ? buffer.get() : nullptr;
  const KeywordList titleWords = splitKeywords(titleBuffer.get(), true, pageUrl, cp);
  check(titleWords.fromTitle);
  check(titleWords.words.size() <= 5);
  checkWords(titleWords, std::string_view(titleBuffer.get()));
  for (const std::string& word : titleWords.words) {
    check(!isStopWord(word));
    if (pageUrl != nullptr) check(findInText(cp, pageUrl, word) == std::string_view::npos);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::unique_ptr<CodePage> singleByte = makeCodePage(1252);
  static const std::unique_ptr<CodePage> doubleByte = makeCodePage(932);
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t nul = input.find('\0');
  const std::string_view url = input.substr(0, nul);
  std::string_view title = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);
  title = title.substr(0, title.find('\0'));
  run(*singleByte, url, title);
  run(*doubleByte, url, title);
  return 0;
}
