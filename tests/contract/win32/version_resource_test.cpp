// What Windows' Properties, installers and inventory tools read of the program: its version
// resource, read back through the system's own version service.
#include <string>
#include <vector>

#include "app/version.h"
#include "backends/win32/windows_api.h"
#include "contract/fixture.h"

namespace contract {
namespace {

std::wstring ProgramPath() {
  std::wstring path(32768, L'\0');
  path.resize(GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  // The tests lie in tests/ of the build folder, the program in the build folder itself.
  path.resize(path.find_last_of(L'\\'));
  path.resize(path.find_last_of(L'\\'));
  return path + L"\\" AUTOUPDATE_EXE_NAME;
}

TEST(VersionResource, ThePropertiesShowTheProgramsVersionAndName) {
  const std::wstring program = ProgramPath();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(program.c_str(), &ignored);
  ASSERT_GT(size, 0u) << "no version resource; error " << GetLastError();
  std::vector<char> data(size);
  ASSERT_TRUE(GetFileVersionInfoW(program.c_str(), 0, size, data.data()));

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS,
            static_cast<DWORD>(MAKELONG(AUTOUPDATE_VERSION_MINOR, AUTOUPDATE_VERSION_MAJOR)));
  EXPECT_EQ(fixed->dwFileVersionLS, static_cast<DWORD>(MAKELONG(0, AUTOUPDATE_VERSION_PATCH)));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  const auto text = [&](const wchar_t* name) {
    wchar_t* value = nullptr;
    UINT chars = 0;
    const std::wstring key = std::wstring(L"\\StringFileInfo\\080404B0\\") + name;
    if (!VerQueryValueW(data.data(), key.c_str(), reinterpret_cast<void**>(&value), &chars)) {
      return std::wstring(L"(none)");
    }
    return std::wstring(value);
  };
  const auto widen = [](const char* s) {
    return std::wstring(s, s + std::char_traits<char>::length(s));
  };
  EXPECT_EQ(text(L"FileVersion"), widen(AUTOUPDATE_VERSION_QUAD));
  EXPECT_EQ(text(L"ProductVersion"), widen(AUTOUPDATE_VERSION));
  EXPECT_EQ(text(L"ProductName"), L"\u81EA\u52A8\u66F4\u65B0");
  EXPECT_EQ(text(L"FileDescription"), L"\u81EA\u52A8\u66F4\u65B0 (autoupdate)");
  EXPECT_EQ(text(L"LegalCopyright"), widen(AUTOUPDATE_COPYRIGHT));
  EXPECT_EQ(text(L"OriginalFilename"), L"autoupdate.exe");
}

}  // namespace
}  // namespace contract
