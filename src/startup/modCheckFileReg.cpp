#include "startup/modCheckFileReg.h"

#include "ports/errors.h"
#include "settings/LocalDatabase.h"

namespace updater::modCheckFileReg {

namespace {
constexpr std::uint32_t kRegisterTimeoutMs = 10000;
}

bool RegisterComponent(Platform& pf, const std::string& path, bool unregister) {
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  if (!pf.files->FileExists(path)) return false;
  return pf.components->RunEntryPoint(path, entry, kRegisterTimeoutMs) ==
         ports::EntryPointOutcome::Finished;
}

void CreateDesktopShortcut(Platform& pf) {
  // Every failure is ignored: the user must never be bothered by the shortcut.
  ErrorRecord error;
  const std::string P = pf.system->ProgramFolder();
  const std::string name =
      Try(error, /*onError=*/"", [&] { return ClientIni::Read(pf, P, ClientIni::kShortcut); });
  error.Clear();
  if (!name.empty()) {
    const std::string link = Try(error, /*onError=*/"", [&] {
      return pf.shortcuts->DesktopFolder() + "\\" + name + ".lnk";
    });
    if (!error.IsSet()) {
      Try(error, [&] { pf.shortcuts->SaveShortcut(link, P + "\\Trainova.exe"); });
    }
  }
  error.Clear();
}

}  // namespace updater::modCheckFileReg
