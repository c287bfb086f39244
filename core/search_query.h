// extractSearchText: the search text of a URL.
//
// Looks for the 52 entries of the search parameter table ("&q=", "?q=",
// "?query=", ...) in table order; the first entry that occurs anywhere in the
// URL decides, whatever its position. The value runs from right after the
// entry to the first "&" behind it, which is overwritten in place with the
// terminator, or to the end of the URL. Nothing is decoded, copied or
// allocated. Substring searches respect double-byte character boundaries.
//
// `url` is a writable, zero-terminated narrow string in the code page, already
// lowercased. Returns the search text (a view into `url`, possibly empty) or
// std::nullopt when no entry occurs (then `url` is unchanged).
//
//   char url[] = ".../search?hl=en&q=new+york&start=10";
//   extractSearchText(url, cp) == "new+york";  // url now ends after "york"
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "core/code_page.h"

namespace glintmark {

std::optional<std::string_view> extractSearchText(char* url, const CodePage& codePage);

// searchParameterTable: the 52 entries that extractSearchText looks for, in
// search order (for tools and benchmarks that need the same needles).
std::span<const std::string_view> searchParameterTable();

}  // namespace glintmark
