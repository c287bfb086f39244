// reportJson: the report of one page pass as JSON, as `glintmark highlight
// --json` and the browser engine hand it out.
//
// One object on one line, its fields in this order: "result" (the pass's
// result code as "0x" and eight hex digits), "source" (sourceName),
// "searchText" (the text split into keywords, or null), "fromTitle",
// "keywords" (an array of {"word", "colour", "spans"}), "tooltips" and
// "savedSearchText" (the session's text after the pass, or null). Narrow text
// is the code page's and is written as UTF-8; '"', '\' and the control
// characters (DEL included) are escaped, everything else is written as it is.
//
//   {"result":"0x00000000","source":"url","searchText":"snow leopard","fromTitle":false,
//    "keywords":[{"word":"snow","colour":"#ffff66","spans":2},...],"tooltips":0,
//    "savedSearchText":"snow leopard"}
#pragma once

#include <string>

#include "core/code_page.h"
#include "core/hresult.h"
#include "core/page_pass.h"

namespace glintmark {

std::string reportJson(HResult result, const PageReport& report, const PageSession& session,
                       const CodePage& codePage);

}  // namespace glintmark
