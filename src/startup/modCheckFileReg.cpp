#include "startup/modCheckFileReg.h"

#include "helpers/SupportLog.h"
#include "ports/errors.h"
#include "settings/LocalDatabase.h"

namespace updater::modCheckFileReg {

namespace {
constexpr std::uint32_t kRegisterTimeoutMs = 10000;

const char* OutcomeText(ports::EntryPointOutcome outcome) {
  switch (outcome) {
    case ports::EntryPointOutcome::Finished:
      return "ran to its end";
    case ports::EntryPointOutcome::NotLoadable:
      return "the library cannot be loaded";
    case ports::EntryPointOutcome::NoEntryPoint:
      return "no such entry point";
    case ports::EntryPointOutcome::NoWorker:
      return "no worker thread";
    case ports::EntryPointOutcome::TimedOut:
      return "timed out";
  }
  return "?";
}
}  // namespace

bool RegisterComponent(Platform& pf, const std::string& path, bool unregister) {
  const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
  if (!pf.files->FileExists(path)) return false;
  const auto outcome = pf.components->RunEntryPoint(path, entry, kRegisterTimeoutMs);
  SupportLog::Write(pf, std::string(entry) + " of " + path + ": " + OutcomeText(outcome));
  return outcome == ports::EntryPointOutcome::Finished;
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
  if (error.IsSet()) SupportLog::Write(pf, "desktop shortcut: " + SupportLog::Error(error));
  error.Clear();
}

}  // namespace updater::modCheckFileReg
