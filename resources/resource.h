// Resource identifiers of Sheenpad.dll, shared by the resource scripts and the
// code that loads them.
#pragma once

#define IDS_PROJNAME 100      // string "Sheenpad"
#define IDR_REGISTRY 101      // "REGISTRY" 101: the registration script
#define IDI_OPTIONS 201       // icon of the options dialog (32x32, 16 colours)
#define IDI_BUTTON_HOT 203    // toolbar button's hot icon (32x32 and 16x16)
#define IDI_BUTTON 204        // toolbar button's icon (32x32 and 16x16)
#define IDD_OPTIONS 205       // the options dialog template

// Controls of the options dialog (besides IDOK "Close" and IDCANCEL "Cancel").
#define IDC_SEARCH_RESULTS 201      // "Highlight Search Keywords in Search Results"
#define IDC_LINK_TOOLTIPS 202       // "Highlight Link in Tooltip"
#define IDC_RETURNED_DOCUMENTS 205  // "Highlight Search Keywords in Returned Documents"
#define IDC_HELP_BUTTON 206         // "Help"
#define IDC_INTELLIGENTLY 207       // "Highlight Keywords Intelligently"
