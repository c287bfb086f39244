// The help launcher's fallback against the real registry: HKEY_CLASSES_ROOT
// points ".html" at a class of ours whose command is a stand-in browser that
// records the command line it was started with.
#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>

#include "settings/help_launcher.h"
#include "settings/help_launcher_win.h"
#include "win/unique_handle.h"

namespace glintmark {
namespace {

constexpr char testClass[] = "Glintmark.TestPage";
constexpr char testCommandKey[] = "Glintmark.TestPage\\shell\\open\\command";

// The default value of an HKEY_CLASSES_ROOT key, or nothing when the key is absent.
std::optional<std::string> defaultValue(const char* key) {
  UniqueHkey opened;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key, 0, KEY_QUERY_VALUE, opened.put()) != ERROR_SUCCESS) return {};
  char value[4096] = {};
  LONG size = sizeof value;
  RegQueryValueA(opened.get(), nullptr, value, &size);
  return std::string(value);
}

void setDefaultValue(const char* key, const std::string& value) {
  ASSERT_EQ(RegSetValueA(HKEY_CLASSES_ROOT, key, REG_SZ, value.c_str(), static_cast<DWORD>(value.size())),
            ERROR_SUCCESS);
}

// Sets a default value for the test and puts back the old one (or removes the
// key it created) afterwards.
class ClassesRootEntry {
 public:
  explicit ClassesRootEntry(const char* key) : m_key(key), m_saved(defaultValue(key)) {}
  ~ClassesRootEntry() {
    if (m_saved) {
      RegSetValueA(HKEY_CLASSES_ROOT, m_key, REG_SZ, m_saved->c_str(), static_cast<DWORD>(m_saved->size()));
    } else {
      RegDeleteTreeA(HKEY_CLASSES_ROOT, m_key);
    }
  }
  ClassesRootEntry(const ClassesRootEntry&) = delete;
  ClassesRootEntry& operator=(const ClassesRootEntry&) = delete;

 private:
  const char* m_key;
  std::optional<std::string> m_saved;
};

std::string besideThisProgram(const char* name) {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, sizeof path);
  std::string result = path;
  return result.substr(0, result.find_last_of("\\/") + 1) + name;
}

std::string quoted(const std::string& text) {
  std::string result(1, '"');
  result += text;
  result += '"';
  return result;
}

int shellCallCount = 0;
INT_PTR shellAnswer = 0;
HINSTANCE WINAPI fakeShellOpen(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT) {
  ++shellCallCount;
  return reinterpret_cast<HINSTANCE>(shellAnswer);
}

class HelpLauncherWinTest : public testing::Test {
 protected:
  HelpLauncherWinTest() {
    char directory[MAX_PATH] = {};
    GetTempPathA(sizeof directory, directory);
    recordFile = std::string(directory) + "glintmark-help-" + std::to_string(GetCurrentProcessId()) + ".txt";
    DeleteFileA(recordFile.c_str());
    SetEnvironmentVariableA("GLINTMARK_RECORD_FILE", recordFile.c_str());
    previous = setShellOpenFunction(fakeShellOpen);
    shellCallCount = 0;
    shellAnswer = SE_ERR_NOASSOC;  // 31: the shell refuses
  }
  ~HelpLauncherWinTest() override {
    setShellOpenFunction(previous);
    SetEnvironmentVariableA("GLINTMARK_RECORD_FILE", nullptr);
    DeleteFileA(recordFile.c_str());
    RegDeleteTreeA(HKEY_CLASSES_ROOT, testClass);
  }

  // The command line the stand-in browser recorded, or nothing after wait.
  // The file appears whole (the stand-in renames it into place), but for a
  // moment after the rename the stand-in still holds it open for deletion and
  // opening it fails with a sharing violation: so retry the open itself.
  std::optional<std::string> recorded(std::chrono::milliseconds wait = std::chrono::seconds(20)) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
      std::ifstream in(recordFile, std::ios::binary);
      if (in.is_open()) {
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
      }
      if (std::chrono::steady_clock::now() >= deadline) return {};
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }

  const std::string stub = quoted(besideThisProgram("record_command_line.exe"));
  std::string recordFile;
  ShellOpenFunction previous = nullptr;
  ClassesRootEntry html{".html"};
  ClassesRootEntry htm{".htm"};
};

TEST_F(HelpLauncherWinTest, RefusedShellStartsTheHtmlCommandCutAtItsPlaceholder) {
  struct Case {
    std::string command;
    std::string expected;
  };
  const Case cases[] = {
      {stub + " -nohome \"%1\"", stub + " -nohome  " + helpPageAddress},
      {stub + " %1 -new-window", stub + "  " + helpPageAddress},
      {stub, stub + " " + helpPageAddress},
  };
  setDefaultValue(".html", testClass);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.command);
    DeleteFileA(recordFile.c_str());
    setDefaultValue(testCommandKey, c.command);
    openHelpPage(helpPageAddress);
    EXPECT_EQ(shellCallCount, 1);
    shellCallCount = 0;
    EXPECT_EQ(recorded(), c.expected);
  }
}

TEST_F(HelpLauncherWinTest, UnreadableHtmlSendsTheLookupToHtm) {
  // A class name of 300 characters does not fit in the 260-byte read buffer.
  setDefaultValue(".html", std::string(300, 'x'));
  setDefaultValue(".htm", testClass);
  setDefaultValue(testCommandKey, stub + " \"%1\"");
  openHelpPage(helpPageAddress);
  EXPECT_EQ(recorded(), stub + "  " + helpPageAddress);
}

TEST_F(HelpLauncherWinTest, NothingStartsWhenTheShellOpensThePageOrNoCommandIsFound) {
  setDefaultValue(".html", testClass);
  setDefaultValue(testCommandKey, stub + " \"%1\"");
  shellAnswer = 33;  // the shell took the request
  openHelpPage(helpPageAddress);
  EXPECT_EQ(shellCallCount, 1);
  // ".html" names a class without a command: ".htm" is not tried.
  shellAnswer = SE_ERR_NOASSOC;
  setDefaultValue(".html", "Glintmark.NoSuchClass");
  setDefaultValue(".htm", testClass);
  openHelpPage(helpPageAddress);
  openHelpPage(nullptr);
  EXPECT_EQ(shellCallCount, 2);
  EXPECT_EQ(recorded(std::chrono::seconds(2)), std::nullopt);
}

}  // namespace
}  // namespace glintmark
