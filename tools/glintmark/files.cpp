#include "tools/glintmark/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <random>
#include <streambuf>

namespace glintmark::tool {
namespace {

namespace fs = std::filesystem;

// Closes a descriptor when it goes out of scope.
class Descriptor {
 public:
  explicit Descriptor(int fd) : m_fd(fd) {}
  ~Descriptor() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return m_fd; }
  // Hands the descriptor over: it is no longer closed here.
  int release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
  }
  // Closes now, for callers that must know whether the close failed.
  int close() {
    const int result = ::close(m_fd);
    m_fd = -1;
    return result;
  }

 private:
  int m_fd;
};

std::string kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISLNK(mode)) return "a symbolic link";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

std::string reason(int error) { return std::strerror(error); }

constexpr const char* kTooLarge = "is larger than 1 GiB, the most the tool reads";

bool writeAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// ".NAME.XXXXXX" with six random characters (the name cut to 200 bytes, so
// that the whole stays a valid file name).
std::string temporaryName(const std::string& name) {
  static constexpr std::string_view letters =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::random_device random;
  std::string out = "." + name.substr(0, 200) + ".";
  for (int i = 0; i < 6; ++i) out += letters[random() % letters.size()];
  return out;
}

mode_t newFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// std::cout's buffer: writes standard output with write(2) and keeps the
// errno of the first write that failed (after which it writes nothing more).
class CheckedOutput final : public std::streambuf {
 public:
  CheckedOutput() { setp(m_buffer, m_buffer + sizeof m_buffer); }
  int error() const { return m_error; }

 protected:
  int_type overflow(int_type c) override {
    if (!drain()) return traits_type::eof();
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    *pptr() = traits_type::to_char_type(c);
    pbump(1);
    return c;
  }
  int sync() override { return drain() ? 0 : -1; }

 private:
  bool drain() {
    const std::string_view pending(pbase(), static_cast<std::size_t>(pptr() - pbase()));
    setp(m_buffer, m_buffer + sizeof m_buffer);
    if (m_error == 0 && !writeAll(STDOUT_FILENO, pending)) m_error = errno;
    return m_error == 0;
  }

  char m_buffer[1 << 16];
  int m_error = 0;
};

CheckedOutput* checkedOutput = nullptr;  // lives until the process ends

}  // namespace

namespace {

// The file readInputFile reads, opened and checked; an invalid descriptor
// with *error set when it is not one to read.
Descriptor openInputFile(const fs::path& path, std::uint64_t* size, std::string* error) {
  const auto failure = [&](const std::string& why) {
    *error = path.string() + ": " + why;
    return Descriptor(-1);
  };
  // Non-blocking, so that a FIFO without a writer is refused rather than waited on.
  Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.get() < 0) return failure(reason(errno));
  struct stat info {};
  if (::fstat(file.get(), &info) != 0) return failure(reason(errno));
  if (S_ISDIR(info.st_mode)) return failure("is a folder, not a file");
  if (!S_ISREG(info.st_mode)) return failure("is " + kindOf(info.st_mode) + ", not a regular file");
  *size = static_cast<std::uint64_t>(info.st_size);
  if (*size > maxInputBytes) return failure(kTooLarge);
  return Descriptor(file.release());
}

}  // namespace

bool checkInputFile(const fs::path& path, std::string* error) {
  std::uint64_t size = 0;
  return openInputFile(path, &size, error).get() >= 0;
}

std::optional<std::string> readInputFile(const fs::path& path, std::string* error) {
  std::uint64_t size = 0;
  const Descriptor file = openInputFile(path, &size, error);
  if (file.get() < 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(static_cast<std::size_t>(size));
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      *error = path.string() + ": " + reason(errno);
      return std::nullopt;
    }
    if (got == 0) break;
    // The file may have grown since fstat.
    if (bytes.size() + static_cast<std::size_t>(got) > maxInputBytes) {
      *error = path.string() + ": " + kTooLarge;
      return std::nullopt;
    }
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  return bytes;
}

namespace {

// Whether no part of `folder`, as written, is a symbolic link: a link
// planted where a folder was expected would send the files elsewhere.
// Parts that do not exist yet end the check (they are made, or the write
// fails).
bool checkFolderPath(const fs::path& folder, std::string* error) {
  fs::path prefix;
  for (const fs::path& part : folder) {
    prefix /= part;
    if (part == prefix.root_path() || part == "." || part == "..") continue;
    struct stat info {};
    if (::lstat(prefix.c_str(), &info) != 0) return true;
    if (S_ISLNK(info.st_mode)) {
      *error = prefix.string() + ": is a symbolic link; the tool writes into no folder through one";
      return false;
    }
  }
  return true;
}

}  // namespace

bool checkOutputTarget(const fs::path& path, std::string* error) {
  if (!checkFolderPath(path.parent_path(), error)) return false;
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    if (errno == ENOENT) return true;  // a new file (a missing folder fails at the write)
    *error = path.string() + ": " + reason(errno);
    return false;
  }
  if (S_ISLNK(info.st_mode)) {
    *error = path.string() + ": is a symbolic link; the tool neither writes through nor replaces one";
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = path.string() + ": is " + kindOf(info.st_mode) + "; the tool writes regular files only";
    return false;
  }
  return true;
}

AtomicFile::AtomicFile(fs::path path) : m_path(std::move(path)) {}

AtomicFile::~AtomicFile() {
  if (m_fd >= 0) ::close(m_fd);
  if (!m_committed && !m_temporary.empty()) ::unlink(m_temporary.c_str());
}

bool AtomicFile::fail(int code, std::string* error) {
  *error = m_path.string() + ": " + reason(code);
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  if (!m_temporary.empty()) ::unlink(m_temporary.c_str());
  m_temporary.clear();
  return false;
}

bool AtomicFile::open(std::string* error) {
  if (!checkOutputTarget(m_path, error)) return false;
  const std::string name = m_path.filename().string();
  if (name.empty() || name == "." || name == "..") {
    *error = m_path.string() + ": names a folder, not a file";
    return false;
  }
  m_folder = m_path.has_parent_path() ? m_path.parent_path() : fs::path(".");
  struct stat old {};
  // The replaced file's permission bits, but never its setuid, setgid or
  // sticky bits: the new contents are not the program those were given to.
  m_mode = ::lstat(m_path.c_str(), &old) == 0 && S_ISREG(old.st_mode) ? old.st_mode & 0777
                                                                        : newFileMode();
  // First an unnamed file (O_TMPFILE): if the process dies while writing,
  // nothing is left behind. It is named only once whole (commit). Read and
  // write, so that its bytes can be copied into a named file should linking
  // it fail.
  m_fd = ::open(m_folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (m_fd >= 0) return true;
  // mkostemp: six random characters and O_CREAT | O_EXCL, so the name
  // cannot be guessed and a file or link planted under it is never opened.
  std::string pattern = (m_folder / ("." + name.substr(0, 200) + ".XXXXXX")).string();
  m_fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (m_fd < 0) {
    *error = m_path.string() + ": cannot create a file in " + m_folder.string() + ": " + reason(errno);
    return false;
  }
  m_temporary = pattern;
  return true;
}

bool AtomicFile::write(std::string_view bytes) {
  if (m_writeError != 0 || m_fd < 0) return false;
  if (!writeAll(m_fd, bytes)) m_writeError = errno;
  return m_writeError == 0;
}

// Gives the unnamed file an unpredictable name: link() neither follows nor
// replaces what is at the new name, so a planted name only costs another
// random one. Where that cannot be done (no /proc, a file system that
// cannot), its bytes are copied into a file made by mkostemp.
bool AtomicFile::nameTemporary() {
  const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
  const std::string name = m_path.filename().string();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = (m_folder / temporaryName(name)).string();
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      m_temporary = candidate;
      return true;
    }
    if (errno != EEXIST) break;
  }
  std::string pattern = (m_folder / ("." + name.substr(0, 200) + ".XXXXXX")).string();
  Descriptor named(::mkostemp(pattern.data(), O_CLOEXEC));
  if (named.get() < 0) return false;
  m_temporary = pattern;
  char buffer[1 << 16];
  for (off_t at = 0;;) {
    const ssize_t got = ::pread(m_fd, buffer, sizeof buffer, at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    if (!writeAll(named.get(), {buffer, static_cast<std::size_t>(got)})) return false;
    at += got;
  }
  if (::fchmod(named.get(), m_mode) != 0 || ::fsync(named.get()) != 0) return false;
  ::close(m_fd);
  m_fd = named.release();
  return true;
}

bool AtomicFile::commit(std::string* error) {
  if (m_fd < 0) return fail(EBADF, error);
  if (m_writeError != 0) return fail(m_writeError, error);
  if (::fchmod(m_fd, m_mode) != 0 || ::fsync(m_fd) != 0) return fail(errno, error);
  if (m_temporary.empty() && !nameTemporary()) return fail(errno, error);
  const int closed = ::close(m_fd);
  m_fd = -1;
  if (closed != 0) return fail(errno, error);
  // Checked again just before the rename, which would replace whatever is there.
  if (!checkOutputTarget(m_path, error)) {
    ::unlink(m_temporary.c_str());
    m_temporary.clear();
    return false;
  }
  if (::rename(m_temporary.c_str(), m_path.c_str()) != 0) return fail(errno, error);
  m_committed = true;
  // Make the rename itself durable; a folder that cannot be synced is no error.
  Descriptor directory(::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.get() >= 0) ::fsync(directory.get());
  return true;
}

bool writeFileAtomically(const fs::path& path, std::string_view bytes, std::string* error) {
  AtomicFile file(path);
  if (!file.open(error)) return false;
  file.write(bytes);
  return file.commit(error);
}

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto escape = [&out](const char* format, unsigned value) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, format, value);
    out += buffer;
  };
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const int length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                                                  : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    char32_t c = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    bool valid = length > 0 && i + static_cast<std::size_t>(length) <= text.size();
    for (int k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
      valid = (next & 0xC0) == 0x80;
      c = (c << 6) | (next & 0x3F);
    }
    valid = valid && !(length == 3 && c < 0x800) && !(length == 4 && (c < 0x10000 || c > 0x10FFFF)) &&
            !(c >= 0xD800 && c <= 0xDFFF);
    if (!valid) {
      escape("\\x%02X", lead);
      ++i;
      continue;
    }
    // Controls, and the characters that reorder or break a line in a
    // terminal (bidi embeddings, overrides and isolates, the line and
    // paragraph separators).
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0) || c == 0x061C || c == 0x200E || c == 0x200F ||
        (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069)) {
      switch (c) {
        case '\b': out += "\\b"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\f': out += "\\f"; break;
        case '\r': out += "\\r"; break;
        default: escape("\\u%04x", static_cast<unsigned>(c));
      }
    } else {
      out.append(text.substr(i, static_cast<std::size_t>(length)));
    }
    i += static_cast<std::size_t>(length);
  }
  return out;
}

void installStandardOutput() {
  if (checkedOutput != nullptr) return;
  checkedOutput = new CheckedOutput;
  std::cout.rdbuf(checkedOutput);
  // A person watching a terminal sees each line as it is printed.
  if (::isatty(STDOUT_FILENO)) std::cout.setf(std::ios::unitbuf);
}

bool finishStandardOutput(std::string* error) {
  std::cout.flush();
  const int code = checkedOutput != nullptr ? checkedOutput->error() : 0;
  if (code == 0 && std::cout) return true;
  *error = code != 0 ? reason(code) : "write error";
  return false;
}

}  // namespace glintmark::tool
