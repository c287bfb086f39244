// resolveUrl: a link target resolved against a base address, as a browser's
// href property reports it.
#pragma once

#include <string>
#include <string_view>

namespace glintmark::html {

// resolveUrl
//
// Resolves `reference` against `base` (both UTF-8) by RFC 3986 reference
// resolution, with the browser's habits: leading and trailing spaces and
// control characters are trimmed and tabs and newlines removed; for the
// hierarchical web schemes (http, https, ftp, file, ws, wss) a backslash
// counts as a slash, the scheme and host are lowercased and an empty path
// becomes "/". When `base` is not an absolute address with a hierarchical
// part (empty, relative, "about:blank"), a relative reference is returned as
// written, trimmed. As the browser's URL serialiser does, the bytes of
// non-ASCII characters, controls, spaces and the few characters each part
// may not hold are percent-encoded ("ä b" -> "%C3%A4%20b"); an IPv6 host left
// open ("http://[bad") is a failure, and the reference comes back as written.
//
//   resolveUrl("http://a.example/b/c?q", "../d#x") == "http://a.example/d#x"
//   resolveUrl("", "page.html") == "page.html"
std::string resolveUrl(std::string_view base, std::string_view reference);

}  // namespace glintmark::html
