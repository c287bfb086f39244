#include "settings/options_dialog.h"

#include <cstdint>

#include "core/highlight_options.h"
#include "resources/resource.h"
#include "settings/help_launcher.h"
#include "settings/settings_store.h"

namespace glintmark {
namespace {

// The check boxes in the order in which they are set and read, each with its
// flag and the flag's bit in the stored word.
struct OptionBox {
  int id;
  unsigned char HighlightOptions::*flag;
  std::uint32_t bit;
};
constexpr OptionBox optionBoxes[] = {
    {IDC_SEARCH_RESULTS, &HighlightOptions::highlightSearchResults, 2},
    {IDC_RETURNED_DOCUMENTS, &HighlightOptions::highlightReturnedDocuments, 4},
    {IDC_INTELLIGENTLY, &HighlightOptions::highlightIntelligently, 1},
    {IDC_LINK_TOOLTIPS, &HighlightOptions::linkTooltips, 8},
};

void showFlags(HWND dialog) {
  const HighlightOptions& options = highlightOptions();
  for (const OptionBox& box : optionBoxes) {
    if (options.*box.flag) SendDlgItemMessageA(dialog, box.id, BM_SETCHECK, BST_CHECKED, 0);
  }
}

// Sets the flags from the boxes first, so the new options apply in this
// process even when the write fails, then stores them and ends the dialog.
// A failed write shows its message box here, while the dialog is still open.
void saveAndClose(HWND dialog) {
  HighlightOptions& options = highlightOptions();
  std::uint32_t word = 0;
  for (const OptionBox& box : optionBoxes) {
    const bool checked = SendDlgItemMessageA(dialog, box.id, BM_GETCHECK, 0, 0) != BST_UNCHECKED;
    options.*box.flag = checked ? 1 : 0;
    if (checked) word += box.bit;
  }
  saveHighlightOptions(word);
  EndDialog(dialog, 0);
}

}  // namespace

INT_PTR CALLBACK optionsDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      showFlags(dialog);
      return TRUE;  // the system focuses the first tab stop, "Close"
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK:
          saveAndClose(dialog);
          break;
        case IDCANCEL:
          EndDialog(dialog, 0);
          break;
        case IDC_HELP_BUTTON:
          openHelpPage(helpPageAddress);
          break;
        default:  // the check boxes toggle themselves
          break;
      }
      return TRUE;
    case WM_CLOSE:
      saveAndClose(dialog);
      return TRUE;
    default:
      return FALSE;
  }
}

void showOptionsDialog(HINSTANCE module) {
  DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_OPTIONS), nullptr, optionsDialogProc, 0);
}

}  // namespace glintmark
