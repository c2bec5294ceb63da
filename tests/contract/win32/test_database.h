#pragma once
// An empty password-protected Access database for the database cases, made with ADOX and the Jet
// provider; where the provider is missing (wine has none) the cases are skipped.

#include <string>

#include "backends/win32/ansi.h"
#include "backends/win32/windows_api.h"
// windows.h is included lean; ADOX is reached through OLE automation.
#include <ole2.h>
#include <oleauto.h>

namespace contract {

inline constexpr const char* kNoJetProvider =
    "the Jet OLE DB provider is not installed (wine has none)";

// "" when made, else why not.
inline std::string CreateJetDatabase(const std::string& connectionString) {
  CoInitialize(nullptr);
  CLSID clsid;
  if (FAILED(CLSIDFromProgID(L"Microsoft.Jet.OLEDB.4.0", &clsid))) return kNoJetProvider;
  if (FAILED(CLSIDFromProgID(L"ADOX.Catalog", &clsid))) return "ADOX is not installed";
  IDispatch* catalog = nullptr;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                reinterpret_cast<void**>(&catalog));
  if (FAILED(hr)) return "ADOX.Catalog cannot be created";
  wchar_t method[] = L"Create";
  LPOLESTR names[] = {method};
  DISPID id = 0;
  hr = catalog->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  VARIANT arg, result;
  VariantInit(&arg);
  VariantInit(&result);
  arg.vt = VT_BSTR;
  arg.bstrVal = SysAllocString(updater::win32::Utf8ToWide(connectionString).c_str());
  DISPPARAMS params = {&arg, nullptr, 1, 0};
  EXCEPINFO error = {};
  if (SUCCEEDED(hr)) {
    hr = catalog->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result,
                         &error, nullptr);
  }
  std::string why;
  if (static_cast<unsigned long>(hr) == 0x800401F3ul ||
      static_cast<unsigned long>(hr) == 0x800A0E7Aul) {
    why = kNoJetProvider;  // the class or the provider cannot be found
  } else if (FAILED(hr)) {
    why = "ADOX.Catalog.Create failed: " + (error.bstrDescription != nullptr
                                                ? updater::win32::WideToUtf8(error.bstrDescription)
                                                : std::to_string(static_cast<unsigned long>(hr)));
  }
  SysFreeString(error.bstrSource);
  SysFreeString(error.bstrDescription);
  SysFreeString(error.bstrHelpFile);
  VariantClear(&arg);
  VariantClear(&result);
  catalog->Release();
  return why;
}

}  // namespace contract
