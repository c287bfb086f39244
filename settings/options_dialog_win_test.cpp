// The real options dialog, built from the real template and icon, driven by
// messages from a second thread while the test's thread runs its modal loop.
#include "settings/options_dialog.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/highlight_options.h"
#include "resources/resource.h"
#include "settings/help_launcher.h"
#include "settings/help_launcher_win.h"
#include "settings/settings_store.h"
#include "settings/testing/settings_key_guard.h"
#include "settings/testing/window_driver.h"

namespace glintmark {
namespace {

using testkit::dword;
using testkit::storedSetting;
using Checks = std::map<int, bool>;

constexpr int boxIds[] = {IDC_SEARCH_RESULTS, IDC_RETURNED_DOCUMENTS, IDC_INTELLIGENTLY,
                          IDC_LINK_TOOLTIPS};

// ---- The template and the icon, read from the resources ----

class TemplateReader {
 public:
  explicit TemplateReader(const std::uint8_t* data) : m_p(data) {}
  std::uint32_t dword() { return word() | (std::uint32_t{word()} << 16); }
  std::uint16_t word() {
    std::uint16_t w;
    std::memcpy(&w, m_p, 2);
    m_p += 2;
    return w;
  }
  std::int16_t shortValue() { return static_cast<std::int16_t>(word()); }
  // A string or an ordinal (0xFFFF, n), given back as "#n".
  std::string nameOrOrdinal() {
    std::uint16_t first = word();
    if (first == 0xFFFF) {
      std::string ordinal = std::to_string(word());
      ordinal.insert(ordinal.begin(), '#');
      return ordinal;
    }
    std::string text;
    for (; first != 0; first = word()) text += static_cast<char>(first);
    return text;
  }
  void alignToDword(const std::uint8_t* base) {
    while ((m_p - base) % 4 != 0) ++m_p;
  }

 private:
  const std::uint8_t* m_p;
};

const std::uint8_t* resourceData(LPCSTR type, int id) {
  HMODULE module = GetModuleHandleA(nullptr);
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), type);
  if (!found) return nullptr;
  return static_cast<const std::uint8_t*>(LockResource(LoadResource(module, found)));
}

struct ItemTemplate {
  int id;
  const char* windowClass;  // "#128" button, "#130" static
  const char* text;         // "#201": the icon resource
  short x, y, cx, cy;
  DWORD style;
};

TEST(OptionsDialogTemplate, HasTheCaptionStylesFontAndNineControlsInOrder) {
  const std::uint8_t* base = resourceData(MAKEINTRESOURCEA(5) /* RT_DIALOG */, IDD_OPTIONS);
  ASSERT_NE(base, nullptr);
  TemplateReader in(base);
  EXPECT_EQ(in.dword(), DWORD{DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_SETFONT});
  EXPECT_EQ(in.dword(), 0u);  // no extended style
  const int count = in.word();
  EXPECT_EQ(in.shortValue(), 0);
  EXPECT_EQ(in.shortValue(), 0);
  EXPECT_EQ(in.shortValue(), 187);
  EXPECT_EQ(in.shortValue(), 119);
  EXPECT_EQ(in.nameOrOrdinal(), "");  // no menu
  EXPECT_EQ(in.nameOrOrdinal(), "");  // the standard dialog class
  EXPECT_EQ(in.nameOrOrdinal(), "Glintmark Options");
  EXPECT_EQ(in.word(), 8);
  EXPECT_EQ(in.nameOrOrdinal(), "MS Sans Serif");

  const DWORD child = WS_CHILD | WS_VISIBLE;
  const DWORD box = child | BS_AUTOCHECKBOX | WS_TABSTOP;
  const ItemTemplate expected[] = {
      {IDOK, "#128", "Close", 138, 7, 42, 14, child | BS_DEFPUSHBUTTON | WS_TABSTOP},
      {IDCANCEL, "#128", "Cancel", 138, 24, 42, 14, child | BS_PUSHBUTTON | WS_TABSTOP},
      {201, "#128", "Highlight Search Keywords in Search Results", 18, 25, 107, 16, box | BS_MULTILINE},
      {202, "#128", "Highlight Link in Tooltip", 18, 84, 105, 10, box},
      {0xFFFF, "#130", "#201", 7, 7, 20, 20, child | SS_ICON},
      {0xFFFF, "#130", "Highlight Options", 35, 13, 71, 8, child | SS_LEFT | WS_GROUP},
      {205, "#128", "Highlight Search Keywords in Returned Documents", 18, 46, 105, 18,
       box | BS_MULTILINE},
      {206, "#128", "Help", 138, 41, 43, 14, child | BS_PUSHBUTTON | WS_TABSTOP},
      {207, "#128", "Highlight Keywords Intelligently", 18, 67, 112, 10, box},
  };
  ASSERT_EQ(count, 9);
  for (const ItemTemplate& e : expected) {
    SCOPED_TRACE(e.text);
    in.alignToDword(base);
    EXPECT_EQ(in.dword(), e.style);
    EXPECT_EQ(in.dword(), 0u);
    EXPECT_EQ(in.shortValue(), e.x);
    EXPECT_EQ(in.shortValue(), e.y);
    EXPECT_EQ(in.shortValue(), e.cx);
    EXPECT_EQ(in.shortValue(), e.cy);
    EXPECT_EQ(in.word(), e.id);
    EXPECT_EQ(in.nameOrOrdinal(), e.windowClass);
    EXPECT_EQ(in.nameOrOrdinal(), e.text);
    EXPECT_EQ(in.word(), 0);  // no creation data
  }
}

TEST(OptionsDialogTemplate, IconIsOne32By32ImageIn16Colours) {
  const std::uint8_t* group = resourceData(MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */, IDI_OPTIONS);
  ASSERT_NE(group, nullptr);
  TemplateReader in(group);
  EXPECT_EQ(in.word(), 0);
  EXPECT_EQ(in.word(), 1);  // icons
  ASSERT_EQ(in.word(), 1);  // one image
  const std::uint16_t widthHeight = in.word();
  EXPECT_EQ(widthHeight, 32 | (32 << 8));
  EXPECT_EQ(in.word() & 0xFF, 16);  // colours
  EXPECT_EQ(in.word(), 1);           // planes
  EXPECT_EQ(in.word(), 4);           // bits per pixel
  HICON icon = static_cast<HICON>(
      LoadImageA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDI_OPTIONS), IMAGE_ICON, 32, 32, 0));
  EXPECT_NE(icon, nullptr);
  if (icon) DestroyIcon(icon);
}

// ---- Driving the dialog ----

Checks readChecks(HWND dialog) {
  Checks checks;
  for (int id : boxIds) checks[id] = SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
  return checks;
}

Checks checksOf(std::uint32_t word) {
  return {{IDC_SEARCH_RESULTS, (word & 2) != 0},
          {IDC_RETURNED_DOCUMENTS, (word & 4) != 0},
          {IDC_INTELLIGENTLY, (word & 1) != 0},
          {IDC_LINK_TOOLTIPS, (word & 8) != 0}};
}

void click(HWND dialog, int id) { SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0); }

// Shows the dialog on this thread and runs drive(dialog) on another once it is
// visible. Whatever drive does, the dialog is cancelled if it is still open
// some seconds later, so a failing test never hangs. False when the dialog
// never appeared.
bool runDialog(const std::function<void(HWND)>& drive) {
  const DWORD thread = GetCurrentThreadId();
  bool shown = false;
  std::thread driver([&] {
    HWND dialog = testkit::waitForWindow(thread, "Glintmark Options");
    if (!dialog) return;
    shown = true;
    drive(dialog);
    if (!testkit::waitUntilGone(dialog, std::chrono::seconds(15))) {
      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
  });
  showOptionsDialog(GetModuleHandleA(nullptr));
  driver.join();
  return shown;
}

// Records what openHelpPage asks of the shell and answers that it opened it.
struct ShellCall {
  HWND owner;
  std::string verb, file;
  bool noParameters, noDirectory;
  INT show;
};
std::vector<ShellCall> shellCalls;
HINSTANCE WINAPI recordShellOpen(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                 LPCSTR directory, INT show) {
  shellCalls.push_back({owner, verb ? verb : "", file ? file : "", parameters == nullptr,
                        directory == nullptr, show});
  return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));
}

class OptionsDialogTest : public testing::Test {
 protected:
  OptionsDialogTest() {
    setSettingsStore(&store);
    shellCalls.clear();
    previousShellOpen = setShellOpenFunction(recordShellOpen);
  }
  ~OptionsDialogTest() override {
    setShellOpenFunction(previousShellOpen);
    setSettingsStore(nullptr);
    highlightOptions() = HighlightOptions{};
  }

  testkit::SettingsKeyGuard guard;
  testkit::RefusingStore store;
  ShellOpenFunction previousShellOpen = nullptr;
};

TEST_F(OptionsDialogTest, OpensWithTheInMemoryFlagsAndTheFocusOnClose) {
  // The registry says otherwise: the dialog shows what this process uses.
  ASSERT_TRUE(testkit::storeSetting(dword(5)));
  for (const std::uint32_t word : {0u, 13u, 15u, 2u, 8u}) {
    SCOPED_TRACE(word);
    highlightOptions() = optionsFromWord(word);
    Checks checks;
    HWND owner = reinterpret_cast<HWND>(1), focus = nullptr, close = nullptr;
    RECT rect{-1, -1, -1, -1};
    ASSERT_TRUE(runDialog([&](HWND dialog) {
      checks = readChecks(dialog);
      owner = GetWindow(dialog, GW_OWNER);
      GetWindowRect(dialog, &rect);
      GUITHREADINFO info{};
      info.cbSize = sizeof info;
      GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
      focus = info.hwndFocus;
      close = GetDlgItem(dialog, IDOK);
      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }));
    EXPECT_EQ(checks, checksOf(word));
    EXPECT_EQ(owner, nullptr);
    EXPECT_EQ(focus, close);
    EXPECT_EQ(rect.left, 0);
    EXPECT_EQ(rect.top, 0);
    EXPECT_EQ(wordFromOptions(highlightOptions()), word);
  }
  EXPECT_EQ(storedSetting(), dword(5));
  EXPECT_EQ(store.writes, 0);
}

// How a test ends the dialog, and whether that ending saves.
struct Ending {
  const char* what;
  std::function<void(HWND)> end;
  bool saves;
};

const Ending endings[] = {
    {"Close button", [](HWND d) { PostMessageA(GetDlgItem(d, IDOK), BM_CLICK, 0, 0); }, true},
    {"Enter", [](HWND d) { PostMessageA(GetDlgItem(d, IDOK), WM_KEYDOWN, VK_RETURN, 1); }, true},
    {"Close command with a notification code",
     [](HWND d) { PostMessageA(d, WM_COMMAND, MAKEWPARAM(IDOK, 0x1234), 0); }, true},
    {"close box", [](HWND d) { PostMessageA(d, WM_CLOSE, 0, 0); }, true},
    {"system menu Close", [](HWND d) { PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); }, true},
    {"Alt+F4", [](HWND d) { PostMessageA(d, WM_SYSKEYDOWN, VK_F4, (1 << 29) | 1); }, true},
    {"Cancel button", [](HWND d) { PostMessageA(GetDlgItem(d, IDCANCEL), BM_CLICK, 0, 0); }, false},
    {"Escape", [](HWND d) { PostMessageA(GetDlgItem(d, IDOK), WM_KEYDOWN, VK_ESCAPE, 1); }, false},
};

TEST_F(OptionsDialogTest, EveryWayOfClosingSavesOrDiscardsAsItShould) {
  for (const Ending& ending : endings) {
    SCOPED_TRACE(ending.what);
    testkit::removeBhoKey();
    highlightOptions() = optionsFromWord(13);
    // Toggle 201 on and 202 off: 13 becomes 7.
    ASSERT_TRUE(runDialog([&](HWND dialog) {
      click(dialog, IDC_SEARCH_RESULTS);
      click(dialog, IDC_LINK_TOOLTIPS);
      ending.end(dialog);
    }));
    if (ending.saves) {
      EXPECT_EQ(wordFromOptions(highlightOptions()), 7u);
      EXPECT_EQ(storedSetting(), dword(7));
    } else {
      EXPECT_EQ(wordFromOptions(highlightOptions()), 13u);
      EXPECT_EQ(storedSetting(), std::nullopt);
    }
  }
}

TEST_F(OptionsDialogTest, AllFourWrite15AndNoneWrite0AndReopeningShowsThem) {
  highlightOptions() = optionsFromWord(13);
  ASSERT_TRUE(runDialog([](HWND dialog) {
    click(dialog, IDC_SEARCH_RESULTS);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  }));
  EXPECT_EQ(storedSetting(), dword(15));
  EXPECT_EQ(wordFromOptions(highlightOptions()), 15u);

  Checks reopened;
  ASSERT_TRUE(runDialog([&](HWND dialog) {
    reopened = readChecks(dialog);
    for (int id : boxIds) click(dialog, id);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  }));
  EXPECT_EQ(reopened, checksOf(15));
  EXPECT_EQ(storedSetting(), dword(0));
  EXPECT_EQ(wordFromOptions(highlightOptions()), 0u);

  ASSERT_TRUE(runDialog([&](HWND dialog) {
    reopened = readChecks(dialog);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  }));
  EXPECT_EQ(reopened, checksOf(0));
}

TEST_F(OptionsDialogTest, HelpAndOtherCommandsLeaveTheDialogOpenAndCancelStillDiscards) {
  highlightOptions() = optionsFromWord(13);
  bool openAfterCommands = false;
  Checks afterCommands;
  ASSERT_TRUE(runDialog([&](HWND dialog) {
    click(dialog, IDC_SEARCH_RESULTS);
    click(dialog, IDC_INTELLIGENTLY);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_HELP_BUTTON, BN_CLICKED), 0);
    SendDlgItemMessageA(dialog, IDC_HELP_BUTTON, BM_CLICK, 0, 0);
    for (int id : {IDC_SEARCH_RESULTS, IDC_LINK_TOOLTIPS, 999, 0}) {
      SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    }
    openAfterCommands = IsWindow(dialog) && IsWindowVisible(dialog);
    afterCommands = readChecks(dialog);
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  }));
  EXPECT_TRUE(openAfterCommands);
  EXPECT_EQ(afterCommands, checksOf(13 ^ 2 ^ 1));
  EXPECT_EQ(wordFromOptions(highlightOptions()), 13u);
  EXPECT_EQ(storedSetting(), std::nullopt);
  ASSERT_EQ(shellCalls.size(), 2u);
  for (const ShellCall& call : shellCalls) {
    EXPECT_EQ(call.owner, nullptr);
    EXPECT_EQ(call.verb, "open");
    EXPECT_EQ(call.file, helpPageAddress);
    EXPECT_TRUE(call.noParameters);
    EXPECT_TRUE(call.noDirectory);
    EXPECT_EQ(call.show, SW_HIDE);
  }
}

TEST_F(OptionsDialogTest, RefusedWriteIsReportedBeforeTheDialogEndsAndTheNewFlagsStay) {
  highlightOptions() = optionsFromWord(13);
  store.refuseWrites = true;
  const DWORD thread = GetCurrentThreadId();
  bool boxSeen = false, dialogOpenUnderBox = false;
  testkit::MessageBoxView view;
  ASSERT_TRUE(runDialog([&](HWND dialog) {
    click(dialog, IDC_SEARCH_RESULTS);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    HWND box = testkit::waitForWindow(thread, "Error");
    if (!box) return;
    boxSeen = true;
    dialogOpenUnderBox = IsWindow(dialog) && IsWindowVisible(dialog);
    view = testkit::viewMessageBox(box);
    PostMessageA(box, WM_COMMAND, IDOK, 0);
  }));
  ASSERT_TRUE(boxSeen);
  EXPECT_TRUE(dialogOpenUnderBox);
  EXPECT_EQ(view.text, "Can't access the registry!");
  EXPECT_EQ(view.buttons, std::vector<std::string>{"OK"});
  EXPECT_EQ(view.owner, nullptr);
  EXPECT_EQ(store.messages, 1);
  EXPECT_EQ(wordFromOptions(highlightOptions()), 15u);
  EXPECT_EQ(storedSetting(), std::nullopt);
}

TEST_F(OptionsDialogTest, TwoOpenDialogsEachShowTheirOwnStartAndTheLastSaveWins) {
  highlightOptions() = optionsFromWord(13);
  Checks first, second;
  std::thread other;
  ASSERT_TRUE(runDialog([&](HWND dialog) {
    first = readChecks(dialog);
    click(dialog, IDC_LINK_TOOLTIPS);  // this one will store 5
    // A second window's dialog, on its own thread, saves 15 meanwhile.
    other = std::thread([&] {
      runDialog([&](HWND d) {
        second = readChecks(d);
        click(d, IDC_SEARCH_RESULTS);
        PostMessageA(d, WM_COMMAND, IDOK, 0);
      });
    });
    other.join();
    first = readChecks(dialog);
    PostMessageA(dialog, WM_COMMAND, IDOK, 0);
  }));
  EXPECT_EQ(second, checksOf(13));
  EXPECT_EQ(first, checksOf(5));
  EXPECT_EQ(storedSetting(), dword(5));
  EXPECT_EQ(wordFromOptions(highlightOptions()), 5u);
}

// Not a check: with GLINTMARK_SCREENSHOT set to a path prefix, holds the
// dialog open for scripts/dialog-screenshot.sh. Writes "<prefix>.open" with
// the dialog's screen rectangle once it is visible and waits (up to a minute)
// for "<prefix>.taken".
TEST(OptionsDialogScreenshot, HoldsTheDialogOpenForACapture) {
  const char* prefix = std::getenv("GLINTMARK_SCREENSHOT");
  if (prefix == nullptr || *prefix == '\0') GTEST_SKIP() << "GLINTMARK_SCREENSHOT is not set";
  highlightOptions() = HighlightOptions{};
  const std::string open = std::string(prefix) + ".open", taken = std::string(prefix) + ".taken";
  bool captured = false;
  ASSERT_TRUE(runDialog([&](HWND dialog) {
    RECT rect{};
    GetWindowRect(dialog, &rect);
    UpdateWindow(dialog);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    if (std::FILE* f = std::fopen((open + ".part").c_str(), "w")) {
      std::fprintf(f, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                   rect.bottom - rect.top);
      std::fclose(f);
      MoveFileExA((open + ".part").c_str(), open.c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    for (int i = 0; i < 600 && !captured; ++i) {
      captured = GetFileAttributesA(taken.c_str()) != INVALID_FILE_ATTRIBUTES;
      if (!captured) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  }));
  EXPECT_TRUE(captured);
}

}  // namespace
}  // namespace glintmark
