// Which charset a page's bytes are in, and their conversion to UTF-8.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace glintmark::html {

// byteOrderMark: "UTF-8", "UTF-16LE" or "UTF-16BE" when the bytes start with
// that byte-order mark (its length in *length), else empty.
std::string byteOrderMark(std::string_view bytes, std::size_t* length);

// prescanMetaCharset: the label a page declares, lowercased, as Chromium
// finds it: an XML declaration's encoding at the very start, else the first
// <meta charset> or <meta http-equiv="Content-Type" content="...;
// charset=...">, read with the tokenizer's states (nothing inside comments,
// attribute values, script, style, title and the other raw-text elements
// counts). The scan goes on while only head elements were seen, or else for
// the first 1024 bytes. A declaration whose label names no encoding is
// passed over, as browsers pass it over; empty when none names one.
std::string prescanMetaCharset(std::string_view bytes);

// charsetInContent: where the charset label stands in a meta element's
// content attribute ("text/html; charset=koi8-r": offset 19, length 6), as
// the prescan reads it; none when the content names no charset.
std::optional<std::pair<std::size_t, std::size_t>> charsetInContent(std::string_view content);

// canonicalCharset: the encoding that a label names under the WHATWG Encoding
// Standard, upper case ("latin1", "ascii" and "iso-8859-1" are
// "WINDOWS-1252", "sjis" is "SHIFT_JIS", "iso-2022-kr" is "REPLACEMENT");
// empty for anything else ("utf-7", "ucs-2", "ibm037"), which a browser does
// not decode with.
std::string canonicalCharset(std::string_view label);

// guessUndeclaredEncoding: for bytes that declare no charset and are not
// UTF-8, the encoding a browser's detector finds for text in Japanese
// (Shift_JIS, EUC-JP), Korean (EUC-KR), Chinese (Big5, GBK) or Russian
// (windows-1251, KOI8-R), judged from the bytes of the characters such text
// is mostly made of; else windows-1252. Written the page in UTF-8, the tool
// marks it with a byte-order mark: the browser then reads it as it read the
// original only when the guess is the browser's.
std::string guessUndeclaredEncoding(std::string_view bytes);

// chooseCharset: the byte-order mark wins, then the caller's charset (empty
// when the caller's label names no encoding), then the page's meta
// declaration (a declared UTF-16 means UTF-8, as browsers read an
// ASCII-compatible declaration, and x-user-defined means windows-1252), then
// UTF-8 when the bytes are valid UTF-8, else guessUndeclaredEncoding. *bomLength
// receives the bytes to skip.
std::string chooseCharset(std::string_view bytes, std::string_view callerCharset,
                          std::size_t* bomLength);

// convertToUtf8: the bytes in `charset` (a name canonicalCharset returns) as
// UTF-8; invalid or truncated sequences become U+FFFD. "REPLACEMENT" reads
// any bytes as one U+FFFD, as browsers do. nullopt when the converter lacks
// the charset. Linux only (iconv).
std::optional<std::string> convertToUtf8(std::string_view bytes, const std::string& charset);

}  // namespace glintmark::html
