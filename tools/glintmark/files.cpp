#include "tools/glintmark/files.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <random>
#include <streambuf>
#include <vector>

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
  Descriptor(Descriptor&& other) noexcept : m_fd(other.release()) {}
  Descriptor& operator=(Descriptor&& other) noexcept {
    if (this != &other) {
      if (m_fd >= 0) ::close(m_fd);
      m_fd = other.release();
    }
    return *this;
  }
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

// Whether the symbolic link `link`, met in the folder `holder` on the way
// to an output folder, may be followed: it belongs to root or to the user
// running the tool, and so does its folder, which no one else can write in
// (or which is sticky: there only a link's owner, the folder's owner or root
// may remove or replace it). A link anyone else made or could swap, such as
// another user's link in /tmp, could point anywhere.
bool trustedLink(const struct stat& link, const struct stat& holder) {
  const uid_t user = ::geteuid();
  const auto ours = [user](uid_t owner) { return owner == 0 || owner == user; };
  const bool othersWrite = (holder.st_mode & (S_IWGRP | S_IWOTH)) != 0;
  return ours(link.st_uid) && ours(holder.st_uid) && (!othersWrite || (holder.st_mode & S_ISVTX) != 0);
}

constexpr int kMaxLinks = 40;  // as the kernel allows in one path

// `folder` opened with O_PATH, one part at a time with O_NOFOLLOW, links
// followed only by trustedLink (their targets walked the same way). With
// `create`, a missing part is made. On failure the descriptor is invalid
// and *error says why, the part that failed named as walked ("out/link:
// is a symbolic link ..."); *missing is set instead when a part does not
// exist and `create` is not.
Descriptor openFolder(const fs::path& folder, bool create, bool* missing, std::string* error) {
  *missing = false;
  std::vector<std::string> pending;  // the parts still to walk, the next one last
  for (const fs::path& part : folder) pending.push_back(part.string());
  std::reverse(pending.begin(), pending.end());
  fs::path shown = folder.root_path();
  Descriptor current(::open(folder.is_absolute() ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
  const auto failure = [&](const std::string& why) {
    *error = (shown.empty() ? fs::path(".") : shown).string() + ": " + why;
    return Descriptor(-1);
  };
  if (current.get() < 0) return failure(reason(errno));
  int links = 0;
  while (!pending.empty()) {
    const std::string part = std::move(pending.back());
    pending.pop_back();
    if (part.empty() || part == "." || part == "/") continue;
    const int flags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    Descriptor next(::openat(current.get(), part.c_str(), flags));
    if (next.get() < 0 && errno == ENOENT && create) {
      if (::mkdirat(current.get(), part.c_str(), 0777) != 0 && errno != EEXIST) {
        shown /= part;
        return failure(reason(errno));
      }
      next = Descriptor(::openat(current.get(), part.c_str(), flags));
    }
    if (next.get() >= 0) {
      current = std::move(next);
      shown /= part;
      continue;
    }
    const int code = errno;
    shown /= part;
    if (code == ENOENT && !create) {
      *missing = true;
      return Descriptor(-1);
    }
    // Not a folder: a link, or something the walk cannot go through.
    struct stat link {}, holder {};
    if (::fstatat(current.get(), part.c_str(), &link, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(link.st_mode)) {
      return failure(reason(code));
    }
    if (::fstat(current.get(), &holder) != 0 || !trustedLink(link, holder)) {
      return failure("is a symbolic link another user could have made or changed; "
                     "the tool writes into no folder through one");
    }
    if (++links > kMaxLinks) return failure(reason(ELOOP));
    // Read after the check: no one else can swap a trusted link.
    char target[PATH_MAX];
    const ssize_t length = ::readlinkat(current.get(), part.c_str(), target, sizeof target);
    if (length < 0) return failure(reason(errno));
    if (static_cast<std::size_t>(length) == sizeof target) return failure(reason(ENAMETOOLONG));
    const fs::path to(std::string(target, static_cast<std::size_t>(length)));
    shown = shown.parent_path();
    if (to.is_absolute()) {
      current = Descriptor(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
      if (current.get() < 0) return failure(reason(errno));
      shown = "/";
    }
    std::vector<std::string> parts;
    for (const fs::path& piece : to) parts.push_back(piece.string());
    pending.insert(pending.end(), parts.rbegin(), parts.rend());
  }
  return current;
}

// The target's name in its folder, or "" with *error set when the path names
// a folder ("out/", "out/.." ).
std::string targetName(const fs::path& path, std::string* error) {
  std::string name = path.filename().string();
  if (name.empty() || name == "." || name == "..") {
    *error = path.string() + ": names a folder, not a file";
    return {};
  }
  return name;
}

// Whether `name` in the open folder may be replaced: absent or a regular file.
bool checkTarget(int folder, const std::string& name, const fs::path& shown, std::string* error) {
  struct stat info {};
  if (::fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    if (errno == ENOENT) return true;
    *error = shown.string() + ": " + reason(errno);
    return false;
  }
  if (S_ISLNK(info.st_mode)) {
    *error = shown.string() + ": is a symbolic link; the tool neither writes through nor replaces one";
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = shown.string() + ": is " + kindOf(info.st_mode) + "; the tool writes regular files only";
    return false;
  }
  return true;
}

// A new file in `folder` under an unpredictable name, as mkostemp makes one
// (six random characters, O_CREAT | O_EXCL, so a file or link planted under
// it is never opened), but relative to the folder's descriptor. -1 with
// errno on failure.
int createTemporary(int folder, const std::string& name, std::string* made) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = temporaryName(name);
    const int fd = ::openat(folder, candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) *made = candidate;
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

}  // namespace

OutputFolder::~OutputFolder() {
  if (m_fd >= 0) ::close(m_fd);
}

bool OutputFolder::open(const fs::path& folder, bool create, std::string* error) {
  m_path = folder;
  bool missing = false;
  Descriptor opened = openFolder(folder, create, &missing, error);
  if (missing) *error = folder.string() + ": " + reason(ENOENT);
  if (opened.get() < 0) return false;
  if (m_fd >= 0) ::close(m_fd);
  m_fd = opened.release();
  return true;
}

bool checkOutputTarget(const fs::path& path, std::string* error) {
  const std::string name = targetName(path, error);
  if (name.empty()) return false;
  bool missing = false;
  const Descriptor folder = openFolder(path.parent_path(), false, &missing, error);
  if (missing) return true;  // made by the command, or the write fails
  return folder.get() >= 0 && checkTarget(folder.get(), name, path, error);
}

AtomicFile::AtomicFile(fs::path path) : m_path(std::move(path)) {}

AtomicFile::AtomicFile(const OutputFolder& folder, const std::string& name)
    : m_path(folder.path() / name), m_given(&folder) {}

AtomicFile::~AtomicFile() {
  if (m_fd >= 0) ::close(m_fd);
  if (!m_committed) removeTemporary();
  if (m_folder >= 0) ::close(m_folder);
}

void AtomicFile::removeTemporary() {
  if (!m_temporary.empty()) ::unlinkat(m_folder, m_temporary.c_str(), 0);
  m_temporary.clear();
}

bool AtomicFile::fail(int code, std::string* error) {
  *error = m_path.string() + ": " + reason(code);
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  removeTemporary();
  return false;
}

bool AtomicFile::open(std::string* error) {
  m_name = targetName(m_path, error);
  if (m_name.empty()) return false;
  const fs::path folder = m_path.has_parent_path() ? m_path.parent_path() : fs::path(".");
  if (m_given != nullptr) {
    m_folder = ::fcntl(m_given->descriptor(), F_DUPFD_CLOEXEC, 0);
    if (m_folder < 0) return fail(errno, error);
  } else {
    bool missing = false;
    m_folder = openFolder(folder, false, &missing, error).release();
    if (missing) {
      *error = m_path.string() + ": cannot create a file in " + folder.string() + ": " + reason(ENOENT);
    }
    if (m_folder < 0) return false;
  }
  if (!checkTarget(m_folder, m_name, m_path, error)) return false;
  struct stat old {};
  // The replaced file's permission bits, but never its setuid, setgid or
  // sticky bits: the new contents are not the program those were given to.
  m_mode = ::fstatat(m_folder, m_name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode)
               ? old.st_mode & 0777
               : newFileMode();
  // First an unnamed file (O_TMPFILE): if the process dies while writing,
  // nothing is left behind. It is named only once whole (commit). Read and
  // write, so that its bytes can be copied into a named file should linking
  // it fail.
  m_fd = ::openat(m_folder, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (m_fd >= 0) return true;
  m_fd = createTemporary(m_folder, m_name, &m_temporary);
  if (m_fd < 0) {
    *error = m_path.string() + ": cannot create a file in " + folder.string() + ": " + reason(errno);
    return false;
  }
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
// cannot), its bytes are copied into a named temporary file.
bool AtomicFile::nameTemporary() {
  const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = temporaryName(m_name);
    if (::linkat(AT_FDCWD, self.c_str(), m_folder, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      m_temporary = candidate;
      return true;
    }
    if (errno != EEXIST) break;
  }
  Descriptor named(createTemporary(m_folder, m_name, &m_temporary));
  if (named.get() < 0) return false;
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
  if (!checkTarget(m_folder, m_name, m_path, error)) {
    removeTemporary();
    return false;
  }
  if (::renameat(m_folder, m_temporary.c_str(), m_folder, m_name.c_str()) != 0) return fail(errno, error);
  m_committed = true;
  // Make the rename itself durable; a folder that cannot be synced is no error.
  Descriptor directory(::openat(m_folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.get() >= 0) ::fsync(directory.get());
  return true;
}

namespace {

bool writeWhole(AtomicFile& file, std::string_view bytes, std::string* error) {
  if (!file.open(error)) return false;
  file.write(bytes);
  return file.commit(error);
}

}  // namespace

bool writeFileAtomically(const fs::path& path, std::string_view bytes, std::string* error) {
  AtomicFile file(path);
  return writeWhole(file, bytes, error);
}

bool writeFileAtomically(const OutputFolder& folder, const std::string& name, std::string_view bytes,
                         std::string* error) {
  AtomicFile file(folder, name);
  return writeWhole(file, bytes, error);
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
