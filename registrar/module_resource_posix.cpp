#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "core/ascii.h"
#include "registrar/module_resource.h"

namespace glintmark {
namespace {
constexpr std::uint32_t errorFileNotFound = 2;
constexpr std::uint32_t errorResourceTypeNotFound = 1813;
constexpr std::uint32_t errorResourceNameNotFound = 1814;
}  // namespace

HResult loadModuleResource(const std::string& modulePath, unsigned id, const std::string& type,
                           std::string* bytes) {
  namespace fs = std::filesystem;
  bytes->clear();
  std::error_code error;
  const fs::path module(modulePath);
  if (modulePath.empty() || !fs::is_directory(module, error)) return fromWin32(errorFileNotFound);
  std::string typeName = type;
  for (char& c : typeName) c = upperAscii(c);
  if (typeName.empty() || !fs::is_directory(module / typeName, error)) {
    return fromWin32(errorResourceTypeNotFound);
  }
  const fs::path file = module / typeName / std::to_string(id);
  std::ifstream in(file, std::ios::binary);
  if (!fs::is_regular_file(file, error) || !in) return fromWin32(errorResourceNameNotFound);
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return hr::ok;
}

}  // namespace glintmark
