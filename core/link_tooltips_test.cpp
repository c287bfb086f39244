#include <gtest/gtest.h>

#include "core/page_pass.h"
#include "core/testing/fake_document.h"

namespace glintmark {
namespace {

using fake::FakeLink;
using fake::FakePage;
using fake::Faults;
using fake::Op;

// Three links: one with a title of its own, a named anchor without a target,
// and an element that is not an anchor (an image-map area).
FakePage linkPage() {
  FakePage page;
  page.links = {
      FakeLink{u"https://a.example/x", u"Read more", true},
      FakeLink{{}, u"top", true},
      FakeLink{u"https://map.example/", u"area title", false},
      FakeLink{u"", {}, true},
  };
  return page;
}

// Runs the tooltips through the fault wrapper; checks every object is released.
HResult applyTo(FakePage& page, Faults& faults, std::int32_t* applied) {
  auto browser = faults.wrap(page.browser());
  std::unique_ptr<Document> document;
  EXPECT_EQ(browser->document(&document), hr::ok);
  const HResult result = ApplyLinkTooltips(*document, applied);
  document.reset();
  EXPECT_EQ(faults.live(), 0);
  return result;
}

TEST(ApplyLinkTooltips, EveryAnchorShowsItsTarget) {
  FakePage page = linkPage();
  Faults faults;
  std::int32_t applied = -1;
  EXPECT_EQ(applyTo(page, faults, &applied), hr::ok);
  EXPECT_EQ(applied, 3);
  EXPECT_EQ(page.links[0].title, u"https://a.example/x");  // its own title is replaced
  EXPECT_EQ(page.links[1].title, u"");                     // no target: the empty title
  EXPECT_EQ(page.links[2].title, u"area title");           // not an anchor: untouched
  EXPECT_EQ(page.links[3].title, u"");
}

TEST(ApplyLinkTooltips, NoLinksNoChange) {
  FakePage page;
  Faults faults;
  std::int32_t applied = -1;
  EXPECT_EQ(applyTo(page, faults, &applied), hr::ok);
  EXPECT_EQ(applied, 0);
  EXPECT_EQ(faults.calls(Op::item), 0);
}

TEST(ApplyLinkTooltips, FailuresStopOrSkipSilently) {
  enum class Fault { fail, none, outOfMemory };
  struct Row {
    const char* name;
    Op op;
    Fault fault;
    int onCall;
    HResult result;
    std::vector<WideText> titles;
  };
  const WideText kept0 = u"Read more", kept1 = u"top", set0 = u"https://a.example/x", set1 = u"";
  const std::vector<Row> rows = {
      {"get_all fails", Op::all, Fault::fail, 0, hr::ok, {kept0, kept1}},
      {"get_all gives none", Op::all, Fault::none, 0, hr::ok, {kept0, kept1}},
      {"tags fails", Op::tags, Fault::fail, 0, hr::ok, {kept0, kept1}},
      {"tags is no collection", Op::tags, Fault::none, 0, hr::ok, {kept0, kept1}},
      {"get_length fails", Op::length, Fault::fail, 0, hr::ok, {kept0, kept1}},
      {"item fails: skipped", Op::item, Fault::fail, 1, hr::ok, {kept0, set1}},
      {"get_href fails: the empty title", Op::href, Fault::fail, 1, hr::ok, {u"", set1}},
      {"put_title fails: next link", Op::putTitle, Fault::fail, 1, hr::ok, {kept0, set1}},
      {"memory runs out", Op::tags, Fault::outOfMemory, 0, hr::outOfMemory, {kept0, kept1}},
      {"memory runs out in an item", Op::href, Fault::outOfMemory, 2, hr::outOfMemory, {set0, kept1}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    FakePage page = linkPage();
    page.links.resize(2);
    Faults faults;
    switch (row.fault) {
      case Fault::fail: faults.failOn(row.op, hr::fail, row.onCall); break;
      case Fault::none: faults.noneOn(row.op, row.onCall); break;
      case Fault::outOfMemory: faults.throwOn(row.op, row.onCall); break;
    }
    EXPECT_EQ(applyTo(page, faults, nullptr), row.result);
    EXPECT_EQ(page.links[0].title, row.titles[0]);
    EXPECT_EQ(page.links[1].title, row.titles[1]);
  }
}

}  // namespace
}  // namespace glintmark
