// The help page launcher: opens a web address in the user's browser.
//
// openHelpPage first asks the shell to open the address. When the shell
// refuses, it finds the default browser's command through the ".html" (then
// ".htm") file type under HKEY_CLASSES_ROOT, cuts the command at its "%1"
// placeholder, appends a blank and the address, and starts that command line.
// Nothing is ever reported: the caller goes on the same way either way.
//
//   openHelpPage(helpPageAddress);  // the options dialog's "Help" button
#pragma once

#include <cstddef>

namespace glintmark {

// The product's online help for the options dialog.
inline constexpr char helpPageAddress[] = "https://glintmark.example/help/options.html";

// Registry strings are read into 260 bytes (259 characters and the zero); the
// command line is built in 520.
inline constexpr std::size_t registryStringSize = 260;
inline constexpr std::size_t commandLineSize = 520;

// ClassesRoot: the one registry read the fallback needs.
class ClassesRoot {
 public:
  virtual ~ClassesRoot() = default;
  // Reads the default value of key (a path under HKEY_CLASSES_ROOT), opened
  // with query access only, into value, and closes the key again. A key
  // without a default value gives "". False, with value unspecified, when the
  // key cannot be opened or the value does not fit in 260 bytes.
  virtual bool readDefaultValue(const char* key, char (&value)[registryStringSize]) = 0;
};

// buildBrowserCommandLine: the command line that opens address in the
// default browser, written to commandLine, or false when there is none.
//
// The class name is the default value of ".html", or of ".htm" when ".html"
// cannot be read (".htm" is not read when ".html" was). The command is the
// default value of "<class>\shell\open\command". It is cut at the first
// quoted "%1" (at its opening quote) or, when there is none, at the first bare
// %1; then one blank and the address, unchanged and unquoted, follow.
// Returns false when a key cannot be read, when address is null, or when the
// result would not fit in 520 bytes; commandLine is then unspecified.
//
//   "C:\b.exe" -nohome "%1"  ->  "C:\b.exe" -nohome  https://...  (two blanks)
//   C:\b.exe %1 -new         ->  C:\b.exe  https://...
bool buildBrowserCommandLine(ClassesRoot& classesRoot, const char* address,
                             char (&commandLine)[commandLineSize]);

// cutAtPlaceholder: ends command at its first quoted "%1" (at the quote) or,
// failing that, at its first bare %1 (at the percent sign); otherwise leaves
// it whole. Byte-exact searches.
void cutAtPlaceholder(char* command);

// openHelpPage: opens address in the browser; reports nothing. On Windows see
// help_launcher_win.cpp; natively there is no shell and no browser, so it
// does nothing.
void openHelpPage(const char* address);

}  // namespace glintmark
