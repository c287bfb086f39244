#include "settings/help_launcher.h"

#include <cstring>

namespace glintmark {
namespace {

constexpr const char* documentExtensions[] = {".html", ".htm"};
constexpr char commandSuffix[] = "\\shell\\open\\command";

// Appends text to the zero-terminated buffer; false (buffer unchanged) when it
// does not fit.
template <std::size_t N>
bool append(char (&buffer)[N], const char* text) {
  const std::size_t used = std::strlen(buffer);
  const std::size_t extra = std::strlen(text);
  if (extra >= N - used) return false;
  std::memcpy(buffer + used, text, extra + 1);
  return true;
}

// Reads a default value and copies it into the start of the working buffer.
bool readInto(ClassesRoot& classesRoot, const char* key, char (&buffer)[commandLineSize]) {
  char value[registryStringSize] = {};
  if (!classesRoot.readDefaultValue(key, value)) return false;
  // A reader must hand back a terminated string; make sure of it anyway.
  value[registryStringSize - 1] = '\0';
  buffer[0] = '\0';
  return append(buffer, value);
}

}  // namespace

void cutAtPlaceholder(char* command) {
  if (char* quoted = std::strstr(command, "\"%1\"")) {
    *quoted = '\0';
  } else if (char* bare = std::strstr(command, "%1")) {
    *bare = '\0';
  }
}

bool buildBrowserCommandLine(ClassesRoot& classesRoot, const char* address,
                             char (&commandLine)[commandLineSize]) {
  if (address == nullptr) return false;
  commandLine[0] = '\0';
  bool haveClass = false;
  for (const char* extension : documentExtensions) {
    if ((haveClass = readInto(classesRoot, extension, commandLine))) break;
  }
  if (!haveClass || !append(commandLine, commandSuffix)) return false;
  char key[commandLineSize];
  std::memcpy(key, commandLine, sizeof key);
  if (!readInto(classesRoot, key, commandLine)) return false;
  cutAtPlaceholder(commandLine);
  return append(commandLine, " ") && append(commandLine, address);
}

}  // namespace glintmark
