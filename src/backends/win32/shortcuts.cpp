#include "backends/win32/shortcuts.h"

#include <cstdio>

#include "backends/win32/ansi.h"
#include "backends/win32/windows_api.h"
#include "ports/errors.h"
// After windows.h, whose types it needs.
#include <shlobj.h>

namespace updater::win32 {

namespace {

[[noreturn]] void Fail(int number, const char* what, HRESULT hr) {
  char code[16];
  std::snprintf(code, sizeof(code), "0x%08lX", static_cast<unsigned long>(hr));
  throw RuntimeError(number, std::string(what) + " failed (" + code + ")");
}

// COM for the calls of one scope on this thread, balanced when this call started it. Started
// already in another model (RPC_E_CHANGED_MODE) it is usable as it is.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT hr_;
};

template <class T>
class Com {
 public:
  Com() = default;
  ~Com() {
    if (p_ != nullptr) p_->Release();
  }
  Com(const Com&) = delete;
  Com& operator=(const Com&) = delete;
  T* operator->() const { return p_; }
  void** out() { return reinterpret_cast<void**>(&p_); }

 private:
  T* p_ = nullptr;
};

}  // namespace

std::string Win32Shortcuts::DesktopFolder() {
  wchar_t path[MAX_PATH] = {};
  const HRESULT hr =
      SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, SHGFP_TYPE_CURRENT, path);
  if (hr != S_OK) Fail(kErrPathNotFound, "SHGetFolderPathW(CSIDL_DESKTOPDIRECTORY)", hr);
  return WideToUtf8(path);
}

void Win32Shortcuts::SaveShortcut(const std::string& link, const std::string& target) {
  const ComScope com;
  const std::wstring wideTarget = Utf8ToWide(target);
  const std::wstring wideLink = Utf8ToWide(link);
  Com<IShellLinkW> shortcut;
  HRESULT hr = CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                shortcut.out());
  if (FAILED(hr)) Fail(kErrCannotCreateObject, "CoCreateInstance(ShellLink)", hr);
  if (FAILED(hr = shortcut->SetIconLocation(wideTarget.c_str(), 0)))
    Fail(kErrInvalidCall, "IShellLinkW::SetIconLocation", hr);
  if (FAILED(hr = shortcut->SetPath(wideTarget.c_str())))
    Fail(kErrInvalidCall, "IShellLinkW::SetPath", hr);
  if (FAILED(hr = shortcut->SetHotkey(0))) Fail(kErrInvalidCall, "IShellLinkW::SetHotkey", hr);
  Com<IPersistFile> file;
  if (FAILED(hr = shortcut->QueryInterface(IID_IPersistFile, file.out())))
    Fail(kErrInvalidCall, "IShellLinkW::QueryInterface(IPersistFile)", hr);
  if (FAILED(hr = file->Save(wideLink.c_str(), TRUE)))
    Fail(kErrPathFileAccess, "IPersistFile::Save", hr);
}

}  // namespace updater::win32
