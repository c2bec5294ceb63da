// Shows one window of the program and keeps it open until it is closed or the process is
// stopped, for screenshots: show_forms upgrade | serverset | pleasewait.
#include <cstring>

#include "backends/win32/platform.h"
#include "backends/win32/windows_api.h"
#include "contract/win32/mirror_form.h"
#include "serverset/frmServerSet.h"
#include "startup/frmPleaseWait.h"
#include "upgrade/frmUpgrade.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  updater::win32::Win32Platform backend;
  updater::Platform& pf = backend.platform();
  const char* which = __argc > 1 ? __argv[1] : "upgrade";

  if (std::strcmp(which, "pleasewait") == 0) {
    updater::frmPleaseWait wait;
    wait.SetWaitMessage("正在初始化......3");
    pf.ui->Show(wait);
    pf.ui->Run();
  }
  if (std::strcmp(which, "serverset") == 0) {
    updater::frmServerSet dialog(pf);
    dialog.txtUrl.Text = "http://192.168.1.20:8080";
    contract::MirrorForm shown(dialog);
    pf.ui->Show(shown);
    pf.ui->Run();
  }
  // The upgrade window as it stays open after a failed installation.
  updater::frmUpgrade upgrade(pf);
  upgrade.Label9.Caption = "服务器连接正常";
  upgrade.Label2.Caption = "升级失败，解压升级包失败。";
  upgrade.ProgressBar1.Value = 100;
  upgrade.Command1.Caption = "开始升级";
  upgrade.checkStatus.Value = 1;
  contract::MirrorForm shown(upgrade);
  pf.ui->Show(shown);
  pf.ui->Run();
  return 0;
}
