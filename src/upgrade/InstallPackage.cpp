// The package installation: unpack P\tmp\setup.rar into the temporary folder, copy it over the
// program folder, the project folders and the system folder, register evalcom.dll, and record
// the version the server announced.
#include "filesystem/CFileSystem.h"
#include "helpers/Module1.h"
#include "ports/errors.h"
#include "settings/LocalDatabase.h"
#include "upgrade/InstallJournal.h"
#include "upgrade/frmUpgrade.h"
#include "util/text.h"

namespace updater {

void frmUpgrade::InstallPackage(const std::string& packagePath, bool& ok) {
  const std::string& P = programFolder_;
  ErrorRecord error;
  auto step = [&error](auto&& f) { ResumeNext(error, f); };
  bool copyFailed = false;

  std::unique_ptr<ports::Connection> conn;
  std::unique_ptr<ports::Recordset> recordset;
  step([&] {
    conn = LocalDatabase::OpenConnection(pf_, strConnString);
    recordset = LocalDatabase::PrepareRecordset(*conn);
  });
  // Using the recordset when the database could not be opened is an error like any other.
  const auto rs = [&]() -> ports::Recordset& {
    if (!recordset) throw RuntimeError(91, "Object variable or With block variable not set");
    return *recordset;
  };
  pf_.ui->DoEvents();

  if (!pf_.files->FileExists(P + "\\rar.exe")) {
    Label2.Caption = "升级失败，缺少rar.exe。";
    ok = false;
    return;
  }

  // Nothing is copied from an archive that did not unpack completely: a missing, damaged or
  // hostile package stops the installation here with the old version still recorded.
  bool unpacked = false;
  if (pf_.files->FileExists(packagePath)) {
    step([&] {
      const auto exitCode = Module1::RunAndWait(pf_, text::Quoted(P + "\\rar.exe") + " x " +
                                                         text::Quoted(packagePath) + " " +
                                                         text::Quoted(P + "\\Tmp") + " -y");
      unpacked = exitCode.has_value() && *exitCode == 0;
    });
  }
  if (!unpacked) {
    Label2.Caption = "升级失败，解压升级包失败。";
    ok = false;
    return;
  }

  CFileSystem fs(pf_);
  const auto copyFailedMessage = [&] {
    pf_.ui->MsgBox("软件升级失败！错误：文件复制失败！" + error.description, ports::MsgIcon::None,
                   "自动更新");
  };

  // What the copies replace is kept until the installation stands (see InstallJournal).
  InstallJournal journal(pf_, P);
  if (packagePath.find("setup") != std::string::npos) {
    // Everything unpacked goes over the program folder.
    std::int32_t result = 0;
    step([&] {
      result = journal.Keep(P + "\\tmp", P) ? fs.CopyFolderOrFile(P + "\\tmp\\*.*", P + "\\")
                                            : InstallJournal::kClash;
    });
    if (result != 0) copyFailed = true;
    if (error.IsSet() || result != 0) {
      journal.RollBack();
      copyFailedMessage();
    }

    // The initSystem folder goes into every project's folder; the first failure ends the run.
    if (pf_.files->FolderExists(P + "\\tmp\\initSystem")) {
      bool opened = false;
      step([&] {
        rs().Open(LocalDatabase::kSelectProjects);
        opened = true;
      });
      // A table that cannot be read is passed over rather than walked without end.
      while (opened) {
        bool atEnd = true;
        step([&] { atEnd = rs().IsEOF(); });
        if (atEnd) break;
        std::string projectNo;
        step([&] { projectNo = rs().Field("project_No"); });
        std::int32_t copied = -1;
        step([&] {
          copied = journal.Keep(P + "\\tmp\\initSystem", P + "\\" + projectNo)
                       ? fs.CopyFolderOrFile(P + "\\tmp\\initSystem\\", P + "\\" + projectNo + "\\")
                       : InstallJournal::kClash;
        });
        if (copied != 0) {
          journal.RollBack();
          copyFailedMessage();
          ok = false;
          return;
        }
        bool moved = false;
        step([&] {
          rs().MoveNext();
          moved = true;
        });
        if (!moved) break;
      }
      step([&] {
        if (opened) rs().Close();
      });
    }

    // System files go into the system folder; their copies are not checked.
    if (pf_.files->FolderExists(P + "\\tmp\\system32")) {
      std::vector<std::string> names;
      step([&] { names = pf_.files->ListFiles(P + "\\tmp\\system32"); });
      for (const std::string& name : names) {
        step([&] {
          const std::string S = Module1::GetSystemFolder(pf_);
          fs.CopyFolderOrFile(P + "\\tmp\\system32\\" + name, S + "\\");
        });
      }
      // evalcom.dll is registered from its copy in the system folder.
      if (pf_.files->FileExists(P + "\\tmp\\system32\\evalcom.dll")) {
        step([&] {
          const std::string S = Module1::GetSystemFolder(pf_);
          pf_.processes->Start("regsvr32 " + text::Quoted(S + "\\evalcom.dll") + " -s",
                               ports::ShowState::MinimizedFocus);
        });
      }
    }
  }

  if (!error.IsSet() && !copyFailed) step([&] { journal.Seal(); });
  if (!error.IsSet() && !copyFailed) {
    // Each operation is tried even when one before it failed; any failure leaves ok false.
    step([&] { rs().Open(LocalDatabase::SelectVersions(item_id)); });
    bool empty = true;  // a failed test runs the step it guards
    step([&] { empty = rs().IsEOF(); });
    if (empty) step([&] { rs().AddNew(); });
    step([&] { rs().SetField("version", Text1.Text); });
    step([&] { rs().SetField("updatetime", Text2.Text); });
    step([&] { rs().SetField("updatecmt", Text3.Text); });
    step([&] { rs().SetField("versionT", LocalDatabase::VersionT(item_id)); });
    step([&] { rs().Update(); });
  }

  ProgressBar2.Value = 100;
  ok = !error.IsSet() && !copyFailed;
  journal.Finish(ok);
}

}  // namespace updater
