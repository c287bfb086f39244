// The module's imports: what the engine asks of the page's DOM. Each is
// written in JavaScript in web/dom_imports.js, over the page's nodes by
// number (see live_page.h); 0 stands for no node.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {
// Text node `node` is cut at `offset` (UTF-16 units); the new node `rest`
// holds what followed and follows it (Text.splitText).
void glintmark_dom_split_text(std::uint32_t node, std::uint32_t offset, std::uint32_t rest);
// `clone` is a shallow copy of element `original` (cloneNode(false)).
void glintmark_dom_clone(std::uint32_t original, std::uint32_t clone);
// `element` is a new element named `name` (UTF-8), with the attributes
// `attributes`: name, NUL, value, NUL, ... (UTF-8).
void glintmark_dom_create(std::uint32_t element, const char* name, std::size_t nameLength,
                          const char* attributes, std::size_t attributesLength);
// `child` goes into `parent` before `before` (0: last), moved from where it
// was (insertBefore).
void glintmark_dom_insert(std::uint32_t parent, std::uint32_t child, std::uint32_t before);
// The title of link number `link` (0 for the first) becomes `title`.
void glintmark_dom_set_title(std::uint32_t link, const char16_t* title, std::size_t length);
}
