// How every glintmark command reads its inputs and writes its outputs: one
// reader, one writer and one check of standard output, so that all commands
// refuse, report and leave files behind in the same way.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace glintmark::tool {

// The largest input the tool reads (pages, steps, scripts, .reg files).
inline constexpr std::uint64_t maxInputBytes = std::uint64_t{1} << 30;

// readInputFile: the whole of a regular file of at most maxInputBytes. A
// folder, FIFO, device or socket is refused without waiting on it (the file is
// opened non-blocking and checked before the first read), and so is a file
// that is or grows larger than the cap. On failure *error names the path and
// the reason ("x.html: is a folder, not a file", "p: is a FIFO, not a regular
// file", "x: No such file or directory").
std::optional<std::string> readInputFile(const std::filesystem::path& path, std::string* error);

// checkInputFile: whether readInputFile would take `path` as it stands now:
// opened and checked the same way, nothing read. *error as readInputFile
// sets it.
bool checkInputFile(const std::filesystem::path& path, std::string* error);

// OutputFolder: a folder opened once, for the files written into it. open()
// walks the path part by part from the root or the working folder and keeps
// a descriptor of where it ends, so that every later check and write is
// made in that folder, whatever then happens to its path: a folder renamed
// or swapped for a link afterwards does not send the files elsewhere.
//
// A symbolic link on the way is followed only when no one but root and the
// user running the tool could have made or changed it: the link belongs to
// one of them, and so does the folder holding it, which no one else may
// write in (or which is sticky, where only a link's owner may remove it).
// That takes in the system's own links (/bin -> usr/bin, /var/run -> /run)
// and the user's; any other link, such as another user's link in /tmp, is
// refused ("tmp/out: is a symbolic link another user could have made or
// changed; ..."). With `create`, missing folders are made (0777 less the
// umask); without it, a missing folder fails with "No such file or
// directory".
class OutputFolder {
 public:
  OutputFolder() = default;
  ~OutputFolder();
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;

  bool open(const std::filesystem::path& folder, bool create, std::string* error);
  // An O_PATH descriptor of the folder (-1 before open() succeeds), and the
  // path as given, for messages.
  int descriptor() const { return m_fd; }
  const std::filesystem::path& path() const { return m_path; }

 private:
  std::filesystem::path m_path;
  int m_fd = -1;
};

// checkOutputTarget: whether writeFileAtomically may put a file at `path`:
// nothing there yet, or a regular file (which it replaces). A symbolic link
// is refused (a file is never written through one, nor is the link replaced),
// and so is anything that is not a regular file: a folder, a device such as
// /dev/null or /dev/full, a FIFO or a socket; and so is a path whose folder
// part goes through a link OutputFolder would not follow. A folder part that
// does not exist yet passes (it is made, or the write fails).
bool checkOutputTarget(const std::filesystem::path& path, std::string* error);

// writeFileAtomically: writes `bytes` to `path` whole or not at all. The bytes
// go to a new unnamed file in the same folder (O_TMPFILE, so a process killed
// while writing leaves nothing behind), flushed to the disk and given the
// permissions of the file it replaces (a new file: 0666 less the umask); it
// is then linked under an unpredictable name (link() never follows nor
// replaces a file or link planted there) and renamed over `path`. Where the
// file system has no unnamed files, the temporary file is made under an
// unpredictable name with O_EXCL, as mkostemp makes one. Everything after
// the folder is opened (OutputFolder) is done in it through its descriptor.
// On failure nothing but the temporary file was touched, and it is removed;
// *error says why ("out.html: No space left on device"). The second form
// writes `name` in a folder already open.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, std::string* error);
bool writeFileAtomically(const OutputFolder& folder, const std::string& name, std::string_view bytes,
                         std::string* error);

// AtomicFile: writeFileAtomically for bytes that come in pieces, so that they
// need never be whole in memory. open() opens the folder (or takes its own
// descriptor of one already open), checks the target and makes the
// temporary file, write() adds to it, commit() puts it in place; until then
// the target is untouched, and a file never committed (a failed write, an
// exception) is removed when the AtomicFile goes.
//
//   AtomicFile file(path);
//   if (!file.open(&error)) ...;
//   file.write(part1), file.write(part2);
//   if (!file.commit(&error)) ...;  // says why a write failed, too
class AtomicFile {
 public:
  explicit AtomicFile(std::filesystem::path path);
  // `name` in `folder`, which must stay open until open() returns.
  AtomicFile(const OutputFolder& folder, const std::string& name);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool open(std::string* error);
  // write: false once a write has failed (nothing more is written; commit
  // fails with the reason).
  bool write(std::string_view bytes);
  bool commit(std::string* error);

 private:
  bool fail(int code, std::string* error);
  bool nameTemporary();
  void removeTemporary();

  std::filesystem::path m_path;
  std::string m_name;   // the target's name in its folder
  int m_folder = -1;    // the folder's descriptor, ours
  const OutputFolder* m_given = nullptr;
  unsigned m_mode = 0;
  int m_fd = -1;
  std::string m_temporary;  // the temporary file's name in the folder, once it has one of ours
  int m_writeError = 0;
  bool m_committed = false;
};

// printable: UTF-8 text made safe for a terminal: control characters (C0,
// DEL and C1, which can drive a terminal) and the bidi controls and line
// separators that reorder what a terminal shows are escaped as \u001b, the
// way JSON escapes them, and bytes that are not UTF-8 as \xNN. Other text
// is kept. Error messages go through it too.
std::string printable(std::string_view utf8);

// Standard output, checked: the tool writes std::cout through a buffer of its
// own that remembers the first failed write. installStandardOutput() puts it
// in place; finishStandardOutput() flushes it and returns false with the
// reason ("No space left on device") if any write to standard output failed.
void installStandardOutput();
bool finishStandardOutput(std::string* error);

}  // namespace glintmark::tool
