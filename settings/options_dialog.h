// The options dialog (Windows only): the four option flags as four check
// boxes, shown modally from the toolbar button's command.
//
// "Close", Enter and the window's close box set the process-wide flags and
// then store them (saveHighlightOptions, which reports a failed write itself);
// "Cancel" and Escape change nothing; "Help" opens the help page and leaves
// the dialog open.
#pragma once

#include <windows.h>

namespace glintmark {

// showOptionsDialog: shows dialog template 205 of module modally, with no
// owner window, starting from the in-memory flags, and returns when it ends.
void showOptionsDialog(HINSTANCE module);

// The dialog procedure behind template 205.
INT_PTR CALLBACK optionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace glintmark
