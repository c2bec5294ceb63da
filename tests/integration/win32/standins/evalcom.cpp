// A component for the whole runs, installed as evalcom.dll: its self-registration records the
// file it was loaded from and the program that ran it. WHOLERUN_REGISTER_DELAY_MS makes it take
// that long first, as a slow component does.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "event_log.h"

namespace {

std::wstring ModulePath(HMODULE module) {
  wchar_t path[MAX_PATH * 2] = {};
  GetModuleFileNameW(module, path, MAX_PATH * 2);
  return path;
}

HRESULT Record(const wchar_t* entry) {
  wchar_t delay[16] = {};
  if (GetEnvironmentVariableW(L"WHOLERUN_REGISTER_DELAY_MS", delay, 16) > 0) {
    Sleep(static_cast<DWORD>(_wtoi(delay)));
  }
  HMODULE self = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&Record), &self);
  std::wstring host = ModulePath(nullptr);
  host = host.substr(host.find_last_of(L"\\/") + 1);
  wholerun::AppendEvent(std::wstring(entry) + L" " + ModulePath(self) + L" by " + host);
  return S_OK;
}

}  // namespace

extern "C" __declspec(dllexport) HRESULT __stdcall DllRegisterServer() {
  return Record(L"DllRegisterServer");
}

extern "C" __declspec(dllexport) HRESULT __stdcall DllUnregisterServer() {
  return Record(L"DllUnregisterServer");
}
