#include "tools/glintmark/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace glintmark::tool {
namespace {

namespace fs = std::filesystem;

class Files : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }
  std::size_t entries() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), {}));
  }
  const fs::path folder = fs::temp_directory_path() / ("glintmark-files-" + std::to_string(::getpid()));
};

TEST_F(Files, WritesReplaceWholeOrLeaveEverythingAsItWas) {
  std::string error;
  ASSERT_TRUE(writeFileAtomically(folder / "page.html", "first, longer content", &error)) << error;
  ::chmod((folder / "page.html").c_str(), 0640);
  ASSERT_TRUE(writeFileAtomically(folder / "page.html", "second", &error)) << error;
  EXPECT_EQ(readInputFile(folder / "page.html", &error), "second");
  EXPECT_EQ(fs::status(folder / "page.html").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read)
      << "a replaced file keeps its permissions";
  EXPECT_FALSE(writeFileAtomically(folder / "missing" / "page.html", "x", &error));
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
  EXPECT_EQ(entries(), 1u) << "no temporary left";
}

TEST_F(Files, APlantedLinkIsNeitherFollowedNorReplaced) {
  fs::create_symlink(folder / "elsewhere", folder / "link.html");
  std::string error;
  EXPECT_FALSE(writeFileAtomically(folder / "link.html", "x", &error));
  EXPECT_NE(error.find("symbolic link"), std::string::npos) << error;
  EXPECT_TRUE(fs::is_symlink(folder / "link.html"));
  EXPECT_FALSE(fs::exists(folder / "elsewhere"));
  EXPECT_EQ(entries(), 1u);
}

TEST_F(Files, FolderLinksAreFollowedOnlyWhenNoOneElseCouldHaveMadeThem) {
  fs::create_directories(folder / "real");
  for (const char* holder : {"sticky", "open"}) fs::create_directories(folder / holder);
  ::chmod(folder.c_str(), 0700);
  ::chmod((folder / "sticky").c_str(), 01777);  // as /tmp is
  ::chmod((folder / "open").c_str(), 0777);      // anyone may swap a link here
  fs::create_symlink("real", folder / "mine");
  fs::create_symlink(folder / "real", folder / "sticky" / "mine");
  fs::create_symlink("../real", folder / "open" / "any");
  const struct {
    fs::path link;
    bool followed;
  } rows[] = {{"mine", true}, {"sticky/mine", true}, {"open/any", false}};
  for (const auto& row : rows) {
    std::string error;
    fs::remove(folder / "real" / "page.html");
    EXPECT_EQ(writeFileAtomically(folder / row.link / "page.html", "x", &error), row.followed) << row.link;
    EXPECT_EQ(fs::exists(folder / "real" / "page.html"), row.followed) << row.link;
    if (!row.followed) {
      EXPECT_NE(error.find(row.link.string() + ": is a symbolic link"), std::string::npos) << error;
    }
  }
  // Another user's link in a sticky folder, /tmp's trap. Making one takes
  // root; without it this case is not run.
  if (::geteuid() == 0) {
    fs::create_symlink("../real", folder / "sticky" / "theirs");
    ASSERT_EQ(::lchown((folder / "sticky" / "theirs").c_str(), 65534, 65534), 0);
    std::string error;
    EXPECT_FALSE(checkOutputTarget(folder / "sticky" / "theirs" / "page.html", &error));
    EXPECT_NE(error.find("sticky/theirs: is a symbolic link"), std::string::npos) << error;
  }
}

TEST_F(Files, AFolderSwappedForALinkAfterOpeningStillGetsTheFile) {
  for (const char* name : {"out", "session", "elsewhere"}) fs::create_directories(folder / name);
  ::chmod(folder.c_str(), 0700);
  AtomicFile file(folder / "out" / "page.html");
  std::string error;
  ASSERT_TRUE(file.open(&error)) << error;
  OutputFolder session;
  ASSERT_TRUE(session.open(folder / "session", false, &error)) << error;
  // Both swapped for links the tool would follow if it walked the paths again.
  for (const char* name : {"out", "session"}) {
    fs::rename(folder / name, folder / (std::string(name) + "-moved"));
    fs::create_symlink("elsewhere", folder / name);
  }
  file.write("page");
  EXPECT_TRUE(file.commit(&error)) << error;
  EXPECT_TRUE(writeFileAtomically(session, "report.json", "report", &error)) << error;
  EXPECT_EQ(readInputFile(folder / "out-moved" / "page.html", &error), "page");
  EXPECT_EQ(readInputFile(folder / "session-moved" / "report.json", &error), "report");
  EXPECT_TRUE(fs::is_empty(folder / "elsewhere"));
}

TEST(Printable, EscapesWhatCouldDriveATerminal) {
  const struct {
    std::string_view text;
    std::string_view shown;
  } rows[] = {
      {"https://a.example/?q=caf\xC3\xA9", "https://a.example/?q=caf\xC3\xA9"},
      {"a\x1B[2Jb", "a\\u001b[2Jb"},
      {"tab\there\nline\r", "tab\\there\\nline\\r"},
      {"del\x7F", "del\\u007f"},
      {"csi\xC2\x9B" "31m", "csi\\u009b31m"},  // C1 in UTF-8
      {"raw\x9B" "31m", "raw\\x9B31m"},         // not UTF-8
      {"cut\xE2\x82", "cut\\xE2\\x82"},
      {"overlong\xC0\xBC", "overlong\\xC0\\xBC"},
      {std::string_view("nul\0x", 5), "nul\\u0000x"},
  };
  for (const auto& row : rows) EXPECT_EQ(printable(row.text), row.shown) << row.shown;
}

}  // namespace
}  // namespace glintmark::tool
