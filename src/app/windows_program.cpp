#include "app/windows_program.h"

#include <memory>

#include "app/version.h"
#include "backends/win32/platform.h"
#include "backends/win32/support_log.h"
#include "helpers/Elevation.h"
#include "helpers/SupportLog.h"
#include "startup/ModMain.h"
#include "startup/SingleInstance.h"

namespace updater::app {

namespace {
// The run with administrator rights keeps no log: with another user's password typed in, it
// would land in that user's profile. The user's own process logs how that run ended.
class NoLog final : public ports::SupportLog {
 public:
  void Write(const std::string&) override {}
};
}  // namespace

int RunWindowsProgram(ports::Database* database, win32::Win32Rights* rights) {
  win32::Win32Platform backend(database, rights);
  Platform& pf = backend.platform();
  std::unique_ptr<ports::SupportLog> log;
  if (Elevation::IsElevatedCopy(pf)) {
    log = std::make_unique<NoLog>();
  } else {
    log = std::make_unique<win32::Win32SupportLog>(pf.system->ProgramFolder());
  }
  const SupportLog::Session session(pf, *log, AUTOUPDATE_VERSION);
  // A second updater in the same folder steps aside before it touches anything.
  const auto claim = SingleInstance::Claim(pf);
  if (!claim) return 0;
  const auto upgradeWindow = ModMain::Main(pf);
  pf.ui->Run();  // serves the windows left open until the program ends
  return 0;
}

}  // namespace updater::app
