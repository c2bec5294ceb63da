// The upgrade window's controller: the automatic run of Form_Load and the command button.
#include "filesystem/CFileSystem.h"
#include "helpers/Elevation.h"
#include "helpers/SupportLog.h"
#include "serverset/frmServerSet.h"
#include "settings/LocalDatabase.h"
#include "ui/events.h"
#include "upgrade/KeptDownload.h"
#include "upgrade/frmUpgrade.h"

namespace updater {

std::vector<ui::ControlLayout> frmUpgrade::Layout() {
  // Working-state controls lie below the client area, where no user sees them.
  constexpr int kBelow = 2400;
  return {
      {"Label6", &Label6, 240, 240, 1095, 255},
      {"Label9", &Label9, 1560, 240, 1695, 255},
      {"Label2", &Label2, 3480, 240, 2655, 255},
      {"Label3", &Label3, 240, 600, 1095, 255},
      {"ProgressBar1", &ProgressBar1, 1200, 600, 4935, 255},
      {"Command1", &Command1, 6360, 555, 1335, 615},
      {"Label4", &Label4, 240, 960, 1095, 255},
      {"ProgressBar2", &ProgressBar2, 1200, 960, 4935, 255},
      {"Label5", &Label5, 2160, 1440, 3615, 375},
      {"Label8", &Label8, 1380, 300, 135, 135},
      {"Label7", &Label7, 1380, 300, 135, 135},
      {"checkStatus", &checkStatus, 240, kBelow, 1200, 255, true},
      {"CheckServerStatus", &CheckServerStatus, 1560, kBelow, 1200, 255, true},
      {"Text1", &Text1, 240, kBelow + 360, 1200, 285, true},
      {"Text2", &Text2, 1560, kBelow + 360, 1200, 285, true},
      {"Text3", &Text3, 2880, kBelow + 360, 1200, 285, true},
      {"txtUrl", &txtUrl, 4200, kBelow + 360, 2400, 285, true},
      {"List1", &List1, 240, kBelow + 720, 3000, 1200, true},
      {"Label1", &Label1, 3480, kBelow + 720, 3000, 255, true},
  };
}

void frmUpgrade::Form_Load() {
  ui::RunEvent(pf_, [&] {
    strConnString = LocalDatabase::ConnectionString(programFolder_);
    auto conn = LocalDatabase::OpenConnection(pf_, strConnString);
    auto rs = LocalDatabase::PrepareRecordset(*conn);
    LoadServerUrl();
    rs->Open(LocalDatabase::kSelectSystem);
    if (rs->IsEOF()) {
      pf_.ui->MsgBox("服务器地址为空，请输入服务器地址！", ports::MsgIcon::Warning, "服务器连接");
      frmServerSet dialog(pf_);
      pf_.ui->ShowModal(dialog);  // ends the program
      return;
    }
    gcweb = rs->Field("upserverurl");
    item_id = ClientIni::Read(pf_, programFolder_, ClientIni::kItemId);
    if (!item_id.empty()) gcweb = gcweb + "/" + item_id;
    SupportLog::Write(pf_, "server address: " + gcweb);

    if (!CheckSStatus(gcweb)) {
      pf_.ui->MsgBox("服务器连接失败，请核对服务器地址是否正确！", ports::MsgIcon::Error,
                     "系统登录");
      frmServerSet dialog(pf_);
      pf_.ui->ShowModal(dialog);  // ends the program
      return;
    }
    CheckVersion();
    Command1.Caption = checkStatus.Value == 1 ? "开始升级" : "进入系统";
    Command1_Click();
  });
}

void frmUpgrade::Click(const std::string& control) {
  if (control == "Command1") SupportLog::Write(pf_, "the user pressed " + Command1.Caption);
  if (control == "Command1") ui::RunEvent(pf_, [&] { Command1_Click(); });
  if (control == "List1") ui::RunEvent(pf_, [&] { List1_Click(); });
}

void frmUpgrade::Command1_Click() {
  // The button stays enabled while the handler serves window events; a second click then must
  // not start a second upgrade over the first.
  if (inCommand1_) return;
  inCommand1_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{inCommand1_};

  if (checkStatus.Value == 1) {
    // Everything of the upgrade lands in the program folder, tmp first.
    Elevation::BeforeWriting(pf_, programFolder_);
    CFileSystem fs(pf_);
    // A package may leave read-only files there: the shell would refuse them at every start.
    pf_.files->ClearAttributes(programFolder_ + "\\tmp");
    if (fs.ClearOrCreateFolder(programFolder_ + "\\tmp\\") != 0) {
      pf_.ui->MsgBox("升级失败，错误：清理文件失败！", ports::MsgIcon::None, "自动更新");
      pf_.ui->End();
    }
    DownloadPackage();
    bool ok = false;
    InstallPackage(programFolder_ + "\\tmp\\setup.rar", ok);
    if (!ok) {
      checkStatus.Value = 1;
      Command1.Caption = "开始升级";
      return;
    }
    KeptDownload(pf_, programFolder_).Forget();  // nothing of an older download is wanted now
    Label2.Caption = "系统升级完成，请选择服务器！";
    checkStatus.Value = 0;
    pf_.ui->MsgBox("系统升级完成！", ports::MsgIcon::None, "自动更新");
    Command1.Caption = "进入系统";
  }
  if (CheckServerStatus.Value == 1) {
    StartClientAndEnd();
  }
  pf_.ui->MsgBox("所选服务器无法连接，请稍后再试！", ports::MsgIcon::Error, "");
}

void frmUpgrade::StartClientAndEnd() { Elevation::StartClientAndEnd(pf_, programFolder_); }

}  // namespace updater
