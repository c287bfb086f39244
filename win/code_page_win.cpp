// The ANSI code page on Windows: CP_ACP through the system's own converters.
#include <windows.h>

#include <stdexcept>

#include "core/code_page.h"

namespace glintmark {
namespace {

class AnsiCodePage final : public CodePage {
 public:
  std::string toNarrow(std::u16string_view wide) const override {
    if (wide.empty()) return {};
    const auto* source = reinterpret_cast<const wchar_t*>(wide.data());
    const int count = static_cast<int>(wide.size());
    const int size = WideCharToMultiByte(CP_ACP, 0, source, count, nullptr, 0, nullptr, nullptr);
    if (size <= 0) throw std::bad_alloc();
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, source, count, out.data(), size, nullptr, nullptr);
    return out;
  }

  std::u16string toWide(std::string_view narrow) const override {
    if (narrow.empty()) return {};
    const int count = static_cast<int>(narrow.size());
    const int size = MultiByteToWideChar(CP_ACP, 0, narrow.data(), count, nullptr, 0);
    if (size <= 0) throw std::bad_alloc();
    std::u16string out(static_cast<std::size_t>(size), u'\0');
    MultiByteToWideChar(CP_ACP, 0, narrow.data(), count, reinterpret_cast<wchar_t*>(out.data()),
                        size);
    return out;
  }

  void lowerInPlace(char* text, std::size_t length) const override {
    // CharLowerBuffA takes a DWORD count; pages of text stay far below it,
    // but go in slices so no length is ever truncated.
    constexpr std::size_t slice = 0x40000000;
    while (length > 0) {
      std::size_t part = length < slice ? length : slice;
      // Never end a slice between the two bytes of a double-byte character.
      if (part < length) {
        std::size_t i = 0;
        while (i < part) i += IsDBCSLeadByte(static_cast<BYTE>(text[i])) ? 2 : 1;
        part = i;
      }
      CharLowerBuffA(text, static_cast<DWORD>(part));
      text += part;
      length -= part;
    }
  }

  bool isLeadByte(unsigned char byte) const override { return IsDBCSLeadByte(byte) != FALSE; }

  bool isDoubleByte() const override {
    CPINFO info{};
    return GetCPInfo(CP_ACP, &info) && info.MaxCharSize > 1;
  }

  std::string name() const override { return std::to_string(GetACP()); }
};

}  // namespace

const CodePage& ansiCodePage() {
  static const AnsiCodePage instance;
  return instance;
}

std::unique_ptr<CodePage> makeCodePage(unsigned number) {
  if (number != GetACP()) return nullptr;
  return std::make_unique<AnsiCodePage>();
}

}  // namespace glintmark
