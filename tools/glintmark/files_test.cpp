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
