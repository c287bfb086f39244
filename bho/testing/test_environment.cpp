// The process set-up of the bho tests: COM on the main thread, the server
// state that process attach would set up (the test program standing in for
// the library, so the options dialog comes from its own resources), and the
// type library registered in the test prefix for GetTypeInfo.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <string>

#include "bho/module.h"

namespace glintmark::bho::testing {
namespace {

// bho_test.tlb, built from the library's IDL beside the test program.
std::wstring typeLibraryPath() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring result(path);
  result.erase(result.find_last_of(L"\\/") + 1);
  return result + L"bho_test.tlb";
}

class BhoEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    startServerState(GetModuleHandleW(nullptr));
    ITypeLib* library = nullptr;
    // REGKIND_REGISTER: LoadRegTypeLib then finds it, as it finds the library's
    // own after DllRegisterServer.
    const std::wstring path = typeLibraryPath();
    ASSERT_HRESULT_SUCCEEDED(LoadTypeLibEx(path.c_str(), REGKIND_REGISTER, &library))
        << "type library expected at " << std::string(path.begin(), path.end());
    TLIBATTR* attributes = nullptr;
    if (SUCCEEDED(library->GetLibAttr(&attributes))) {
      m_libraryId = attributes->guid;
      m_registered = true;
      library->ReleaseTLibAttr(attributes);
    }
    library->Release();
  }

  void TearDown() override {
    stopServerState();
    if (m_registered) {
      UnRegisterTypeLib(m_libraryId, 1, 0, LOCALE_NEUTRAL, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
    }
    CoUninitialize();
  }

 private:
  GUID m_libraryId{};
  bool m_registered = false;
};

[[maybe_unused]] ::testing::Environment* const g_environment =
    ::testing::AddGlobalTestEnvironment(new BhoEnvironment);

}  // namespace
}  // namespace glintmark::bho::testing
