// Which charset a page's bytes are in, and their conversion to UTF-8.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace glintmark::html {

// byteOrderMark: "UTF-8", "UTF-16LE" or "UTF-16BE" when the bytes start with
// that byte-order mark (its length in *length), else empty.
std::string byteOrderMark(std::string_view bytes, std::size_t* length);

// prescanMetaCharset: the charset that a <meta charset> or a <meta
// http-equiv="Content-Type" content="...; charset=..."> declares within the
// first 1024 bytes, as written (comments skipped); empty when none does.
std::string prescanMetaCharset(std::string_view bytes);

// canonicalCharset: the name under which the converter knows a charset label,
// mapped as browsers map labels: latin1, iso-8859-1, us-ascii and ascii are
// windows-1252; utf8 is UTF-8; shift-jis spellings are SHIFT_JIS. Other labels
// are uppercased and trimmed.
std::string canonicalCharset(std::string_view label);

// chooseCharset: the byte-order mark wins, then the caller's charset, then the
// page's meta declaration (a declared UTF-16 means UTF-8, as browsers read an
// ASCII-compatible declaration), then UTF-8 when the bytes are valid UTF-8,
// else windows-1252. *bomLength receives the bytes to skip.
std::string chooseCharset(std::string_view bytes, std::string_view callerCharset,
                          std::size_t* bomLength);

// convertToUtf8: the bytes in `charset` (a canonical name) as UTF-8; invalid
// or truncated sequences become U+FFFD. nullopt when the charset is unknown.
// Linux only (iconv).
std::optional<std::string> convertToUtf8(std::string_view bytes, const std::string& charset);

}  // namespace glintmark::html
