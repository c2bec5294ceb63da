#pragma once
// frmUpgrade, the main window: its public variables, its visible controls, and the hidden
// controls that carry the workflow's state from one operation to the next.

#include <string>
#include <vector>

#include "ports/form.h"
#include "ports/platform.h"

namespace updater {

class frmUpgrade : public ui::Form {
 public:
  explicit frmUpgrade(Platform& pf);

  std::string Name() const override { return "frmUpgrade"; }
  std::string Caption() const override { return "自动升级程序"; }
  int ClientWidth() const override { return 8025; }
  int ClientHeight() const override { return 1710; }
  std::vector<ui::ControlLayout> Layout() override;

  // Runs the whole automatic run before the window is first shown.
  void Form_Load() override;
  void Click(const std::string& control) override;
  // Upgrades when one is pending, then starts the client and ends the program.
  void Command1_Click();

  // Public variables.
  std::string gcweb;
  std::string item_id;
  std::string strConnString;
  std::vector<std::string> laUrl;

  // Visible controls.
  ui::Label Label6{"服务器状态："};
  ui::Label Label9{"正在测试服务器......"};
  ui::Label Label2{"最新程序版本：2013_01_5682    "};
  ui::Label Label3{"下载进度："};
  ui::ProgressBar ProgressBar1;
  ui::CommandButton Command1{"进入系统"};
  ui::Label Label4{"升级进度："};
  ui::ProgressBar ProgressBar2;
  ui::Label Label5{"升级完成后将自动进入系统，请稍候。"};

  // Hidden controls: the working state.
  ui::CheckBox checkStatus{0};
  ui::CheckBox CheckServerStatus{1};
  ui::TextBox Text1{"Text1"};
  ui::TextBox Text2{"Text2"};
  ui::TextBox Text3{"Text3"};
  ui::TextBox txtUrl{"Text1"};
  ui::ListBox List1{{"----------服务器列表--------------"}, -1};
  ui::Label Label7{"", false};  // red lamp
  ui::Label Label8{"", true};   // green lamp
  ui::Label Label1{"默认服务器：本地服务器"};

  // The program folder, P.
  std::string ProgramFolder() const { return programFolder_; }
  // Where the package of the server gcweb names is fetched from.
  std::string PackageUrl() const { return gcweb + "/uploads/soft/setup.rar"; }

  // Copies the INI key server into system.upserverurl when it is set.
  void LoadServerUrl();
  // The status probe; shows its outcome in Label9 and the lamps.
  bool CheckSStatus(const std::string& lcWEB);
  // Fetches the server list into List1 and laUrl (once, while List1 holds only its header).
  void LoadServerList();
  // Probes the server of the picked row and shows the outcome.
  void List1_Click();
  // The online probe, for a server picked from the list.
  bool IfOnLine(const std::string& lcWEB);
  // Asks the server which version it offers; true (and checkStatus 1) when it differs from the
  // version recorded for this item. Shows no message.
  bool CheckVersion();
  // Fetches the package into P\tmp\setup.rar with the progress in ProgressBar1.
  void DownloadPackage();
  // Unpacks and installs the package; ok tells whether the whole run succeeded.
  void InstallPackage(const std::string& packagePath, bool& ok);

 private:
  void StartClientAndEnd();
  // Builds P\tmp\setup.rar from the package the last update left in P and the byte ranges the
  // block index beside the package says are new; false, leaving nothing at local, when that
  // cannot be done or its result does not check out.
  bool RebuildPackage(const std::string& local);

  Platform& pf_;
  std::string programFolder_;
  bool inCommand1_ = false;
};

}  // namespace updater
