#include "settings/help_launcher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace glintmark {
namespace {

constexpr char address[] = "https://glintmark.example/help/options.html";

// HKEY_CLASSES_ROOT as a table of default values; a key that is missing from
// the table, or whose value needs more than 260 bytes, cannot be read.
class FakeClassesRoot final : public ClassesRoot {
 public:
  std::map<std::string, std::string> values;
  std::vector<std::string> reads;

  bool readDefaultValue(const char* key, char (&value)[registryStringSize]) override {
    reads.emplace_back(key);
    const auto found = values.find(key);
    if (found == values.end() || found->second.size() >= registryStringSize) return false;
    std::memcpy(value, found->second.c_str(), found->second.size() + 1);
    return true;
  }
};

struct Built {
  bool ok;
  std::string commandLine;
};

Built build(FakeClassesRoot& root, const char* url = address) {
  char commandLine[commandLineSize];
  std::memset(commandLine, '#', sizeof commandLine);
  const bool ok = buildBrowserCommandLine(root, url, commandLine);
  return {ok, ok ? std::string(commandLine) : std::string()};
}

struct CommandCase {
  const char* command;
  const char* expected;  // followed by the address
};

TEST(HelpLauncher, CommandIsCutAtItsPlaceholderAndGetsABlankAndTheAddress) {
  const CommandCase cases[] = {
      {"\"C:\\Browser\\browser.exe\" -nohome \"%1\"", "\"C:\\Browser\\browser.exe\" -nohome  "},
      {"C:\\Browser\\browser.exe %1 -new-window", "C:\\Browser\\browser.exe  "},
      {"browser.exe %1 \"%1\" -x", "browser.exe %1  "},  // the quoted form is looked for first
      {"C:\\Browser\\browser.exe", "C:\\Browser\\browser.exe "},
      {"\"%1\"", " "},
      {"browser.exe %10", "browser.exe  "},         // byte-exact: %10 starts with %1
      {"browser.exe \"%1", "browser.exe \" "},      // no closing quote: the bare form
      {"browser.exe %L", "browser.exe %L "},        // only %1 is a placeholder
      {"browser.exe \"%2\"", "browser.exe \"%2\" "},
      {"", " "},
  };
  for (const CommandCase& c : cases) {
    SCOPED_TRACE(c.command);
    FakeClassesRoot root;
    root.values = {{".html", "htmlfile"}, {"htmlfile\\shell\\open\\command", c.command}};
    const Built built = build(root);
    EXPECT_TRUE(built.ok);
    EXPECT_EQ(built.commandLine, std::string(c.expected) + address);
  }
}

TEST(HelpLauncher, HtmlIsTriedBeforeHtmAndNeverBoth) {
  struct Case {
    const char* what;
    std::map<std::string, std::string> values;
    bool ok;
    std::vector<std::string> reads;
  };
  const std::string tooLong(registryStringSize, 'x');
  const Case cases[] = {
      {"html leads to a command",
       {{".html", "A"}, {".htm", "B"}, {"A\\shell\\open\\command", "a.exe"}},
       true,
       {".html", "A\\shell\\open\\command"}},
      {"html's class has no command: htm is not read",
       {{".html", "A"}, {".htm", "B"}, {"B\\shell\\open\\command", "b.exe"}},
       false,
       {".html", "A\\shell\\open\\command"}},
      {"no html: htm",
       {{".htm", "B"}, {"B\\shell\\open\\command", "b.exe"}},
       true,
       {".html", ".htm", "B\\shell\\open\\command"}},
      {"html's class name too long: htm",
       {{".html", tooLong}, {".htm", "B"}, {"B\\shell\\open\\command", "b.exe"}},
       true,
       {".html", ".htm", "B\\shell\\open\\command"}},
      {"neither", {}, false, {".html", ".htm"}},
      {"htm's class has no command", {{".htm", "B"}}, false, {".html", ".htm", "B\\shell\\open\\command"}},
      {"command too long",
       {{".html", "A"}, {"A\\shell\\open\\command", tooLong}},
       false,
       {".html", "A\\shell\\open\\command"}},
      {"empty class name", {{".html", ""}, {"\\shell\\open\\command", "e.exe"}}, true,
       {".html", "\\shell\\open\\command"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeClassesRoot root;
    root.values = c.values;
    EXPECT_EQ(build(root).ok, c.ok);
    EXPECT_EQ(root.reads, c.reads);
  }
}

TEST(HelpLauncher, LongestValuesFillTheBufferExactlyAndLongerOnesEndQuietly) {
  const std::string longestClass(registryStringSize - 1, 'c');
  const std::string longestCommand(registryStringSize - 1, 'b');
  FakeClassesRoot root;
  root.values = {{".html", longestClass}, {longestClass + "\\shell\\open\\command", longestCommand}};
  // 259 + blank + 259 + zero = 520 bytes.
  const std::string longestAddress(registryStringSize - 1, 'a');
  Built built = build(root, longestAddress.c_str());
  ASSERT_TRUE(built.ok);
  EXPECT_EQ(built.commandLine, longestCommand + " " + longestAddress);
  EXPECT_EQ(built.commandLine.size(), commandLineSize - 1);

  const std::string tooLongAddress = longestAddress + "a";
  EXPECT_FALSE(build(root, tooLongAddress.c_str()).ok);
  // A long address still fits behind a short command.
  root.values[longestClass + "\\shell\\open\\command"] = "b.exe";
  const std::string longAddress(400, 'a');
  built = build(root, longAddress.c_str());
  EXPECT_TRUE(built.ok);
  EXPECT_EQ(built.commandLine, "b.exe " + longAddress);
}

TEST(HelpLauncher, NullAddressReadsNothing) {
  FakeClassesRoot root;
  root.values = {{".html", "A"}, {"A\\shell\\open\\command", "a.exe"}};
  EXPECT_FALSE(build(root, nullptr).ok);
  EXPECT_TRUE(root.reads.empty());
}

}  // namespace
}  // namespace glintmark
