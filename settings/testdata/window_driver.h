// Helpers for the Windows tests that drive real dialogs and message boxes from
// a second thread while the thread under test sits in their modal loop.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace glintmark::testkit {

// The top-level windows of a thread whose caption is caption.
inline std::vector<HWND> threadWindows(DWORD thread, const char* caption) {
  struct Search {
    const char* caption;
    std::vector<HWND> found;
  } search{caption, {}};
  EnumThreadWindows(
      thread,
      [](HWND window, LPARAM context) -> BOOL {
        auto* s = reinterpret_cast<Search*>(context);
        char text[256] = {};
        GetWindowTextA(window, text, sizeof text);
        if (std::string(text) == s->caption) s->found.push_back(window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Waits (up to timeout) until the thread shows a visible top-level window with
// that caption; null when none came.
inline HWND waitForWindow(DWORD thread, const char* caption,
                          std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    for (HWND window : threadWindows(thread, caption)) {
      if (IsWindowVisible(window)) return window;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  } while (std::chrono::steady_clock::now() < deadline);
  return nullptr;
}

// Waits until window is gone; false on timeout.
inline bool waitUntilGone(HWND window, std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (IsWindow(window)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

inline std::string windowText(HWND window) {
  char text[512] = {};
  GetWindowTextA(window, text, sizeof text);
  return text;
}

inline std::string className(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

// What a message box shows: its text, its buttons' texts, whether an icon is
// visible, and its owner.
struct MessageBoxView {
  std::string caption;
  std::string text;
  std::vector<std::string> buttons;
  bool icon = false;
  HWND owner = nullptr;
};

inline MessageBoxView viewMessageBox(HWND box) {
  MessageBoxView view;
  view.caption = windowText(box);
  view.owner = GetWindow(box, GW_OWNER);
  for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    if (!IsWindowVisible(child)) continue;
    const std::string kind = className(child);
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    if (kind == "Button") {
      view.buttons.push_back(windowText(child));
    } else if (kind == "Static" && (style & SS_TYPEMASK) == SS_ICON) {
      // Wine keeps an empty icon control in every message box.
      view.icon = view.icon || SendMessageA(child, STM_GETICON, 0, 0) != 0;
    } else if (kind == "Static" && !windowText(child).empty()) {
      view.text = windowText(child);
    }
  }
  return view;
}

}  // namespace glintmark::testkit
