#include "core/search_query.h"

#include <array>
#include <cstring>

namespace glintmark {
namespace {

// The search parameter table, in search order. The order is the engines'
// history, not the alphabet: "&q=" before "?q=", the one-letter names last,
// and the first entry found anywhere in the URL wins.
constexpr std::array<std::string_view, 52> kSearchParameters = {
    "&q=",          "?q=",          "?query=",     "&query=",     "?search=",    "&search=",
    "?keyword=",    "&keyword=",    "?keywords=",  "&keywords=",  "_q=",         "-q=",
    "?qr=",         "&qr=",         "?kw=",        "&kw=",        "?qry=",       "&qry=",
    "?key=",        "&key=",        "?ask=",       "&ask=",       "?text=",      "&text=",
    "_word=",       "?word=",       "&word=",      "?words=",     "&words=",     "?term=",
    "&term=",       "?terms=",      "&terms=",     "_searchkey=", "?searchkey=", "&searchkey=",
    "?searchfor=",  "&searchfor=",  "?searchtext=", "&searchtext=", "?mt=",      "&mt=",
    "?qt=",         "&qt=",         "?qu=",        "&qu=",        "?t=",         "&t=",
    "?s=",          "&s=",          "?p=",         "&p=",
};

}  // namespace

std::span<const std::string_view> searchParameterTable() { return kSearchParameters; }

std::optional<std::string_view> extractSearchText(char* url, const CodePage& codePage) {
  const std::string_view text(url, std::strlen(url));
  for (const std::string_view entry : kSearchParameters) {
    const std::size_t at = findInText(codePage, text, entry);
    if (at == std::string_view::npos) continue;
    // Every entry is ASCII, so the value starts on a character boundary and
    // the "&" search below may start there too.
    const std::size_t begin = at + entry.size();
    const std::string_view rest = text.substr(begin);
    const std::size_t amp = findInText(codePage, rest, "&");
    if (amp == std::string_view::npos) return rest;
    url[begin + amp] = '\0';
    return rest.substr(0, amp);
  }
  return std::nullopt;
}

}  // namespace glintmark
