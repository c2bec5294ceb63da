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
  std::string name;
  ResumeNext(error, [&] { name = ClientIni::Read(pf, P, ClientIni::kShortcut); });
  error.Clear();
  if (!name.empty()) {
    std::string link;
    ResumeNext(error, [&] { link = pf.shortcuts->DesktopFolder() + "\\" + name + ".lnk"; });
    if (!error.IsSet()) {
      ResumeNext(error, [&] { pf.shortcuts->SaveShortcut(link, P + "\\Trainova.exe"); });
    }
  }
  error.Clear();
}

}  // namespace updater::modCheckFileReg
