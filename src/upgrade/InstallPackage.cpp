// The package installation: unpack P\tmp\setup.rar into the temporary folder, copy it over the
// program folder, the project folders and the system folder, register evalcom.dll, and record
// the version the server announced.
#include "filesystem/CFileSystem.h"
#include "helpers/Elevation.h"
#include "helpers/Module1.h"
#include "helpers/SupportLog.h"
#include "ports/errors.h"
#include "settings/LocalDatabase.h"
#include "upgrade/InstallJournal.h"
#include "upgrade/PackageSignature.h"
#include "upgrade/frmUpgrade.h"
#include "util/text.h"

namespace updater {

namespace {

// One run of the installation and what its steps share: the error record of the whole run and
// the recordset prepared at its start. No platform error leaves a step: it lands in the record.
class Installation {
 public:
  Installation(Platform& pf, const std::string& programFolder)
      : pf_(pf), P(programFolder), fs_(pf), journal_(pf, programFolder) {}

  ErrorRecord error;

  void OpenDatabase(const std::string& connString) {
    Try(error, [&] {
      conn_ = LocalDatabase::OpenConnection(pf_, connString);
      recordset_ = LocalDatabase::PrepareRecordset(*conn_);
    });
  }

  // Runs the archiver and tells whether the package unpacked completely. Nothing is copied
  // from an archive that did not: a missing, damaged or hostile package stops the
  // installation with the old version still recorded.
  bool Unpack(const std::string& packagePath) {
    if (!pf_.files->FileExists(packagePath)) {
      Log("no package to unpack: " + packagePath);
      return false;
    }
    return Try(error, /*onError=*/false, [&] {
      const auto exitCode = Module1::RunAndWait(pf_, text::Quoted(P + "\\rar.exe") + " x " +
                                                         text::Quoted(packagePath) + " " +
                                                         text::Quoted(P + "\\Tmp") + " -y");
      Log("rar.exe exit code: " + (exitCode ? std::to_string(*exitCode) : "unknown"));
      return exitCode.has_value() && *exitCode == 0;
    });
  }

  // Everything unpacked goes over the program folder: renamed into place, the volume being the
  // same, except what the later steps still copy from tmp, which is copied. False when that
  // failed; the message also names an error recorded before, the run goes on either way. What
  // was replaced is put back first (see InstallJournal).
  bool CopyOverProgramFolder() {
    const std::int32_t result = Try(error, /*onError=*/0, [&] {
      if (!journal_.Keep(P + "\\tmp", P)) return InstallJournal::kClash;
      const std::vector<std::string> again = NeededAgain();
      std::int32_t code = journal_.MoveIn(P + "\\tmp", P, again);
      for (const std::string& name : again) {
        if (code == 0) code = fs_.CopyFolderOrFile(P + "\\tmp\\" + name, P + "\\");
      }
      return code;
    });
    Log("tmp\\*.* moved into the program folder: " + Result(result));
    if (error.IsSet() || result != 0) {
      journal_.RollBack();
      ReportCopyFailed();
    }
    return result == 0;
  }

  // The entries of tmp, by their exact names, that the steps after this one test or copy from:
  // whatever answers to initSystem or system32.
  std::vector<std::string> NeededAgain() {
    std::vector<std::string> names = pf_.files->ListFiles(P + "\\tmp");
    const std::vector<std::string> folders = pf_.files->ListFolders(P + "\\tmp");
    names.insert(names.end(), folders.begin(), folders.end());
    std::erase_if(names, [](const std::string& name) {
      return !text::EqualsNoCase(name, "initSystem") && !text::EqualsNoCase(name, "system32");
    });
    return names;
  }

  // The initSystem folder goes into every project's folder. False when a project's copy
  // failed: that ends the run.
  bool CopyToProjectFolders() {
    if (!pf_.files->FolderExists(P + "\\tmp\\initSystem")) return true;
    const bool opened = Try(error, /*onError=*/false, [&] {
      Rs().Open(LocalDatabase::kSelectProjects);
      return true;
    });
    // A table that cannot be read is passed over rather than walked without end.
    while (opened) {
      if (Try(error, /*onError=*/true, [&] { return Rs().IsEOF(); })) break;
      const std::string projectNo =
          Try(error, /*onError=*/"", [&] { return Rs().Field("project_No"); });
      const std::int32_t copied = Try(error, /*onError=*/-1, [&] {
        return journal_.Keep(P + "\\tmp\\initSystem", P + "\\" + projectNo)
                   ? fs_.CopyFolderOrFile(P + "\\tmp\\initSystem\\", P + "\\" + projectNo + "\\")
                   : InstallJournal::kClash;
      });
      Log("copy initSystem to project folder " + projectNo + ": " + Result(copied));
      if (copied != 0) {
        // The program folder and the projects before this one go back too.
        journal_.RollBack();
        ReportCopyFailed();
        return false;
      }
      const bool moved = Try(error, /*onError=*/false, [&] {
        Rs().MoveNext();
        return true;
      });
      if (!moved) break;
    }
    Try(error, [&] {
      if (opened) Rs().Close();
    });
    return true;
  }

  // True when the package brings files for the system folder. A listing that fails here is not
  // recorded: it fails again, and is recorded, where the files are copied.
  bool HasSystemFiles() {
    if (!pf_.files->FolderExists(P + "\\tmp\\system32")) return false;
    ErrorRecord ignored;
    return !Try(ignored, /*onError=*/std::vector<std::string>{}, [&] {
              return pf_.files->ListFiles(P + "\\tmp\\system32");
            }).empty();
  }

  // System files go into the system folder; their copies are not checked. evalcom.dll is
  // registered from its copy there.
  void CopyToSystemFolder() {
    if (!pf_.files->FolderExists(P + "\\tmp\\system32")) return;
    const std::vector<std::string> names =
        Try(error, /*onError=*/{}, [&] { return pf_.files->ListFiles(P + "\\tmp\\system32"); });
    for (const std::string& name : names) {
      Try(error, [&] {
        const std::string S = Module1::GetSystemFolder(pf_);
        Log("copy system32\\" + name + " to " + S + ": " +
            Result(fs_.CopyFolderOrFile(P + "\\tmp\\system32\\" + name, S + "\\")));
      });
    }
    if (pf_.files->FileExists(P + "\\tmp\\system32\\evalcom.dll")) {
      Try(error, [&] {
        const std::string S = Module1::GetSystemFolder(pf_);
        pf_.processes->Start("regsvr32 " + text::Quoted(S + "\\evalcom.dll") + " -s",
                             ports::ShowState::MinimizedFocus);
        Log("regsvr32 started for " + S + "\\evalcom.dll");
      });
    }
  }

  // The copies stand: an updater that ends from here on keeps the new files.
  void Seal() {
    Try(error, [&] { journal_.Seal(); });
  }
  // Drops what was moved aside after a success; puts everything back otherwise.
  void Finish(bool succeeded) { journal_.Finish(succeeded); }

  // Each operation is tried even when one before it failed; any failure is in the record.
  void RecordVersion(const std::string& itemId, const std::string& version,
                     const std::string& updateTime, const std::string& comment) {
    Try(error, [&] { Rs().Open(LocalDatabase::SelectVersions(itemId)); });
    // An end-of-data test that fails adds a row, as the branch it guards.
    if (Try(error, /*onError=*/true, [&] { return Rs().IsEOF(); })) {
      Try(error, [&] { Rs().AddNew(); });
    }
    Try(error, [&] { Rs().SetField("version", version); });
    Try(error, [&] { Rs().SetField("updatetime", updateTime); });
    Try(error, [&] { Rs().SetField("updatecmt", comment); });
    Try(error, [&] { Rs().SetField("versionT", LocalDatabase::VersionT(itemId)); });
    Try(error, [&] { Rs().Update(); });
    Log(error.IsSet() ? "version not recorded, " + SupportLog::Error(error)
                      : "version recorded: " + version + " (" + updateTime + ")");
  }

  // What the log says of a step: its result code, and the error recorded so far.
  std::string Result(std::int32_t code) const {
    return "result " + std::to_string(code) +
           (error.IsSet() ? ", " + SupportLog::Error(error) : std::string());
  }
  void Log(const std::string& text) { SupportLog::Write(pf_, "install: " + text); }

 private:
  // Using the recordset when the database could not be opened is an error like any other.
  ports::Recordset& Rs() {
    if (!recordset_) throw RuntimeError(kErrObjectNotSet);
    return *recordset_;
  }

  void ReportCopyFailed() {
    pf_.ui->MsgBox("软件升级失败！错误：文件复制失败！" + error.description, ports::MsgIcon::None,
                   "自动更新");
  }

  Platform& pf_;
  const std::string P;
  CFileSystem fs_;
  InstallJournal journal_;
  std::unique_ptr<ports::Connection> conn_;
  std::unique_ptr<ports::Recordset> recordset_;
};

}  // namespace

void frmUpgrade::InstallPackage(const std::string& packagePath, bool& ok) {
  Installation run(pf_, programFolder_);
  run.OpenDatabase(strConnString);
  pf_.ui->DoEvents();

  if (!pf_.files->FileExists(programFolder_ + "\\rar.exe")) {
    run.Log("rar.exe is missing");
    Label2.Caption = "升级失败，缺少rar.exe。";
    ok = false;
    return;
  }
  // A package that is not signed by the configured key is removed, never unpacked.
  if (!PackageSignatureAccepted(pf_, programFolder_, txtUrl.Text, packagePath)) {
    run.Log("the package's signature is missing or wrong");
    Label2.Caption = "升级失败，升级包签名无效。";
    ok = false;
    return;
  }
  if (!run.Unpack(packagePath)) {
    run.Log("failed: the package did not unpack" +
            (run.error.IsSet() ? ", " + SupportLog::Error(run.error) : std::string()));
    Label2.Caption = "升级失败，解压升级包失败。";
    ok = false;
    return;
  }

  bool copyFailed = false;
  if (packagePath.find("setup") != std::string::npos) {
    // Asked before the first copy, so that a run with other rights finds everything as it was.
    if (run.HasSystemFiles()) Elevation::BeforeWriting(pf_, Module1::GetSystemFolder(pf_));
    copyFailed = !run.CopyOverProgramFolder();
    if (!run.CopyToProjectFolders()) {
      run.Log("failed: a project folder's copy failed");
      ok = false;
      return;
    }
    run.CopyToSystemFolder();
  }

  if (!run.error.IsSet() && !copyFailed) run.Seal();
  if (!run.error.IsSet() && !copyFailed) {
    run.RecordVersion(item_id, Text1.Text, Text2.Text, Text3.Text);
  }
  ProgressBar2.Value = 100;
  ok = !run.error.IsSet() && !copyFailed;
  run.Log(ok ? "succeeded"
             : "failed" +
                   (run.error.IsSet() ? ", " + SupportLog::Error(run.error) : std::string()));
  run.Finish(ok);
}

}  // namespace updater
