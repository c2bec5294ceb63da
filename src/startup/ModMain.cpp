#include "startup/ModMain.h"

#include "filesystem/CFileSystem.h"
#include "helpers/Elevation.h"
#include "helpers/Module1.h"
#include "helpers/SupportLog.h"
#include "startup/frmPleaseWait.h"
#include "startup/modCheckFileReg.h"
#include "ui/events.h"
#include "upgrade/InstallJournal.h"
#include "upgrade/frmUpgrade.h"
#include "util/text.h"

namespace updater::ModMain {

namespace {

// Copies the component from the DLL folder into the system folder and has regsvr32 register
// it there; a failed copy is reported for this file and the loop goes on.
void CopyAndRegister(Platform& pf, CFileSystem& fs, const std::string& dllFolder,
                     const std::string& name) {
  // The run with administrator rights leaves the shortcut to this user's process.
  Elevation::BeforeWriting(pf, Module1::GetSystemFolder(pf),
                           [&] { modCheckFileReg::CreateDesktopShortcut(pf); });
  if (fs.CopyFolderOrFile(dllFolder + "\\" + name, Module1::GetSystemFolder(pf) + "\\") == 0) {
    pf.processes->Start(
        "regsvr32 " + text::Quoted(Module1::GetSystemFolder(pf) + "\\" + name) + " -s",
        ports::ShowState::MinimizedFocus);
    SupportLog::Write(pf, "component " + name + ": copied to the system folder, regsvr32 started");
  } else {
    SupportLog::Write(pf, "component " + name + ": copy to the system folder failed");
    pf.ui->MsgBox("文件" + name + "注册失败，请重试", ports::MsgIcon::None, "自动更新");
  }
}

}  // namespace

std::unique_ptr<frmUpgrade> Main(Platform& pf) {
  std::unique_ptr<frmUpgrade> upgrade;
  // An installation that ended midway is put right before anything else runs.
  InstallJournal::Recover(pf, pf.system->ProgramFolder());
  ui::RunEvent(pf, [&] {
    frmPleaseWait wait;
    int counter = 1;
    wait.SetWaitMessage("正在初始化......" + std::to_string(counter));
    pf.ui->Show(wait);

    const std::string dllFolder = pf.system->ProgramFolder() + "\\DLL";
    // A missing DLL folder raises here and ends the program before any upgrade window.
    const std::vector<std::string> files = pf.files->ListFiles(dllFolder + "\\");
    CFileSystem fs(pf);
    for (const std::string& name : files) {
      const std::string installed = Module1::GetSystemFolder(pf) + "\\" + name;
      if (!pf.files->FileExists(installed)) {
        CopyAndRegister(pf, fs, dllFolder, name);
      } else if (!modCheckFileReg::RegisterComponent(pf, installed, false)) {
        CopyAndRegister(pf, fs, dllFolder, name);
      }
      ++counter;
      pf.ui->DoEvents();
      wait.SetWaitMessage("正在初始化......" + std::to_string(counter));
    }
    pf.ui->Unload(wait);

    // On the user's desktop, not the administrator's: the user's own process makes it.
    if (!Elevation::IsElevatedCopy(pf)) modCheckFileReg::CreateDesktopShortcut(pf);
    upgrade = std::make_unique<frmUpgrade>(pf);
    pf.ui->Show(*upgrade);
  });
  return upgrade;
}

}  // namespace updater::ModMain
