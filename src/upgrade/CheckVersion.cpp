// The version check: which client version does the server offer, and does it differ from the
// one recorded locally?
#include "helpers/SupportLog.h"
#include "protocol/Exchange.h"
#include "settings/LocalDatabase.h"
#include "upgrade/KeptDownload.h"
#include "upgrade/frmUpgrade.h"

namespace updater {

bool frmUpgrade::CheckVersion() {
  ErrorRecord error;

  bool result = false;
  pf_.ui->DoEvents();
  if (gcweb.empty()) return false;

  protocol::Exchange exchange(pf_);
  exchange.Post(gcweb + protocol::kPageClientVersion, protocol::GreetingRequest());
  if (exchange.TransportFailed()) {
    SupportLog::Write(pf_, "version check: no answer, " + SupportLog::Error(exchange.error));
    return false;
  }
  exchange.TakeReply();
  if (exchange.TransportFailed()) {
    SupportLog::Write(pf_, "version check: no reply, " + SupportLog::Error(exchange.error));
    return false;  // no reply document at all
  }

  // No reply test here: a reply without root leaves every value empty.
  exchange.Lookup("error");
  const std::string versionNo = exchange.Lookup("version_no").value_or("");
  const std::string updateTime = exchange.Lookup("update_time").value_or("");
  const std::string softCmt = exchange.Lookup("soft_cmt").value_or("");
  exchange.Lookup("bm");

  // Bytes kept of a release no longer offered (withdrawn for the one installed, say) would
  // otherwise lie beside the program until the next download.
  if (!versionNo.empty()) {
    KeptDownload(pf_, programFolder_).ForgetAllBut(PackageUrl(), versionNo, updateTime);
  }

  result = true;
  Text1.Text = versionNo;
  Text2.Text = updateTime;
  Text3.Text = softCmt;

  std::unique_ptr<ports::Connection> conn;
  std::unique_ptr<ports::Recordset> rs;
  Try(error, [&] {
    conn = LocalDatabase::OpenConnection(pf_, strConnString);
    rs = LocalDatabase::PrepareRecordset(*conn);
    rs->Open(LocalDatabase::SelectVersions(item_id));
  });

  // A condition that fails runs the steps it guards: an unreadable record counts as equal.
  std::string recorded = "none";
  const bool same = Try(error, /*onError=*/true, [&] {
    if (!rs) throw RuntimeError(kErrObjectNotSet);
    if (rs->IsEOF()) return false;
    recorded = rs->Field("version");
    if (recorded != versionNo) return false;
    const std::string time = rs->Field("updatetime");
    recorded += " (" + time + ")";
    return time == updateTime;
  });
  if (error.IsSet()) recorded = "unreadable, " + SupportLog::Error(error);
  if (same) {
    result = false;
    Label2.Caption = "系统是最新版本，无需升级！";
    ProgressBar1.Value = 100;
    ProgressBar2.Value = 100;
  }
  Try(error, [&] {
    if (rs) rs->Close();
  });

  if (versionNo.empty()) result = false;
  if (result) {
    Label2.Caption = "最新程序版本：" + versionNo;
    checkStatus.Value = 1;
  }
  SupportLog::Write(pf_, "version offered: " + versionNo + " (" + updateTime +
                             "), recorded: " + recorded + (result ? ": upgrade" : ": no upgrade"));
  Try(error, [&] {
    rs.reset();
    if (conn) conn->Close();
  });
  return result;
}

}  // namespace updater
