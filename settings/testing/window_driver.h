// Helpers for the Windows tests that drive real dialogs and message boxes from
// a second thread while the thread under test sits in their modal loop.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace glintmark::testkit {

struct WindowSearch {
  const char* caption;
  std::vector<HWND> found;
};

// EnumThreadWindows' callback. A named CALLBACK function, not a lambda: on
// 32-bit Windows the callback is __stdcall, which a lambda does not convert to.
inline BOOL CALLBACK collectCaptioned(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  char text[256] = {};
  GetWindowTextA(window, text, sizeof text);
  if (std::string(text) == search->caption) search->found.push_back(window);
  return TRUE;
}

// The top-level windows of a thread whose caption is caption.
inline std::vector<HWND> threadWindows(DWORD thread, const char* caption) {
  WindowSearch search{caption, {}};
  EnumThreadWindows(thread, collectCaptioned, reinterpret_cast<LPARAM>(&search));
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
