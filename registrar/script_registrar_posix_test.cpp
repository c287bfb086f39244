#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "registry/memory_registry.h"
#include "registrar/script_registrar.h"

namespace glintmark {
namespace {

namespace fs = std::filesystem;

// On Linux a module is a folder and its resource (TYPE, ID) the file TYPE/ID.
TEST(ScriptResource, RunsTheResourceFileOfAModuleFolder) {
  const fs::path module = fs::temp_directory_path() / ("glintmark-module-" + std::to_string(getpid()));
  fs::create_directories(module / "REGISTRY");
  {
    std::ofstream(module / "REGISTRY" / "101", std::ios::binary) << "HKCU { k = s '%MODULE%' }";
  }
  reg::MemoryRegistry registry;
  ScriptRegistrar registrar(registry);
  ASSERT_EQ(registrar.defineReplacement(u"Module", u"/opt/Sheenpad"), hr::ok);
  const std::u16string path(module.u16string());
  EXPECT_EQ(registrar.runScriptResource(path, 101, u"registry", ScriptMode::registering), hr::ok);
  EXPECT_TRUE(registry.value("HKCU\\k", ""));
  EXPECT_EQ(registrar.runScriptResource(path + u"-missing", 101, u"REGISTRY", ScriptMode::registering),
            fromWin32(2));  // ERROR_FILE_NOT_FOUND
  EXPECT_EQ(registrar.runScriptResource(path, 101, u"TYPELIB", ScriptMode::registering),
            fromWin32(1813));  // ERROR_RESOURCE_TYPE_NOT_FOUND
  EXPECT_EQ(registrar.runScriptResource(path, 102, u"REGISTRY", ScriptMode::registering),
            fromWin32(1814));  // ERROR_RESOURCE_NAME_NOT_FOUND
  EXPECT_EQ(registry.openHandleCount(), 0u);
  fs::remove_all(module);
}

}  // namespace
}  // namespace glintmark
