// generatePage: deterministic test pages of any size for benchmarks and
// property tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace glintmark::html {

// generatePage
//
// A well-formed UTF-8 page of at least `targetBytes` bytes (a little more: it
// ends the block it is writing and closes the page), the same for the same
// seed on every platform. It holds paragraphs, headings, lists, tables,
// links, inline markup (some of it splitting a word: "wea<b>ther</b>"),
// entities, accented words, and the keywords of generatedPageKeywords() in
// visible text, in any letter case, and also where they must not match: in
// script, style and noscript blocks, comments, attribute values and the
// title.
//
//   std::string page = generatePage(1 << 20, 1);  // about 1 MB
//
// PageShape::dense gives instead a page laid out as today's sites are, tag
// upon tag with little text: about 23 elements and 1.5 links per KB, nested
// boxes with class attributes, and few keywords (about 1,400 matches per MB
// for all seven), so that the cost of the tree, not of the matches, shows.
// PageShape::links is the dense page with some of its small boxes made links
// (badges, labels): about 3 links per KB among the same number of
// elements, to relative, rooted and absolute addresses, some with a query
// and a fragment, so that giving every link its tooltip costs what it does
// on such sites.
enum class PageShape { text, dense, links };
std::string generatePage(std::size_t targetBytes, std::uint32_t seed = 1,
                         PageShape shape = PageShape::text);

// The keywords generated pages are rich in, lowercase, as the page pass
// would search them (seven, so that the palette's last colour is shared).
const std::vector<std::string>& generatedPageKeywords();

}  // namespace glintmark::html
