#include "core/report_json.h"

#include <gtest/gtest.h>

#include "core/code_page_utf8.h"

namespace glintmark {
namespace {

// The browser's JavaScript and the tool's JSON reader both parse this text:
// the order of the fields, the escapes and null for "none" are pinned here.
TEST(ReportJson, WritesEveryFieldInOrderWithEscapes) {
  const std::unique_ptr<CodePage> utf8 = makeUtf8CodePage();
  PageReport report;
  report.source = PageReport::Source::title;
  report.text = "say \"hi\"\\\t\x7f caf\xC3\xA9";
  report.fromTitle = true;
  report.keywords = {{"say", highlightColour(0), 2}, {"caf\xC3\xA9", highlightColour(1), 0}};
  report.tooltips = 3;
  EXPECT_EQ(reportJson(hr::ok, report, PageSession{}, *utf8),
            "{\"result\":\"0x00000000\",\"source\":\"title\","
            "\"searchText\":\"say \\\"hi\\\"\\\\\\u0009\\u007f caf\xC3\xA9\",\"fromTitle\":true,"
            "\"keywords\":[{\"word\":\"say\",\"colour\":\"#ffff66\",\"spans\":2},"
            "{\"word\":\"caf\xC3\xA9\",\"colour\":\"#a0ffff\",\"spans\":0}],"
            "\"tooltips\":3,\"savedSearchText\":null}");
  EXPECT_EQ(reportJson(hr::fail, PageReport{}, PageSession{"x"}, *utf8),
            "{\"result\":\"0x80004005\",\"source\":\"none\",\"searchText\":null,\"fromTitle\":false,"
            "\"keywords\":[],\"tooltips\":0,\"savedSearchText\":\"x\"}");
}

}  // namespace
}  // namespace glintmark
