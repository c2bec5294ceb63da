#include "serverset/frmServerSet.h"

#include "helpers/Elevation.h"
#include "helpers/SupportLog.h"
#include "protocol/Exchange.h"
#include "protocol/Probes.h"
#include "settings/LocalDatabase.h"
#include "ui/events.h"
#include "util/text.h"

namespace updater {

frmServerSet::frmServerSet(Platform& pf) : pf_(pf), programFolder_(pf.system->ProgramFolder()) {}

std::vector<ui::ControlLayout> frmServerSet::Layout() {
  return {
      {"Label1", &Label1, 240, 350, 1215, 255},
      {"txtUrl", &txtUrl, 1440, 240, 3615, 375},
      {"Command1", &Command1, 5280, 240, 855, 375},
  };
}

bool frmServerSet::CheckSStatus(const std::string& lcWEB) {
  return protocol::Probe(pf_, lcWEB, protocol::kPageCheckServerStatus);
}

void frmServerSet::Form_Load() {
  ui::RunEvent(pf_, [&] {
    auto conn = LocalDatabase::OpenConnection(pf_, LocalDatabase::ConnectionString(programFolder_));
    auto rs = LocalDatabase::PrepareRecordset(*conn);
    rs->Open(LocalDatabase::kSelectSystem);
    txtUrl.Text = rs->IsEOF() ? "http://" : rs->Field("upserverurl");
    rs->Close();
    conn->Close();
  });
}

void frmServerSet::Form_Unload() { pf_.ui->End(); }

void frmServerSet::Click(const std::string& control) {
  if (control == "Command1") ui::RunEvent(pf_, [&] { Command1_Click(); });
}

void frmServerSet::Command1_Click() {
  const std::string typed = txtUrl.Text;
  const std::string itemId = ClientIni::Read(pf_, programFolder_, ClientIni::kItemId);
  const std::string probed = itemId.empty() ? typed : typed + "/" + itemId;
  if (!CheckSStatus(probed)) {
    pf_.ui->MsgBox("服务器地址连接失败，请重新输入！", ports::MsgIcon::None, "自动更新");
    return;
  }

  auto conn = LocalDatabase::OpenConnection(pf_, LocalDatabase::ConnectionString(programFolder_));
  auto rs = LocalDatabase::PrepareRecordset(*conn);
  rs->Open(LocalDatabase::kSelectSystem);
  if (rs->IsEOF()) rs->AddNew();
  // The text is read again here: an edit made while the probe served events is what is stored.
  rs->SetField("upserverurl", txtUrl.Text);
  rs->SetFieldDate("indatetime", pf_.ui->Now());
  rs->Update();
  rs->Close();
  // Every project gets the probed address less its first seven characters ("http://").
  const std::string projectUrl = probed.substr(text::Utf8Prefix(probed, 7).size());
  conn->Execute(LocalDatabase::kUpdateProjectUrls, {projectUrl}, ports::adCmdUnspecified);
  conn->Close();
  ClientIni::Write(pf_, programFolder_, ClientIni::kServer, txtUrl.Text);
  SupportLog::Write(pf_, "server address saved: " + txtUrl.Text);

  pf_.ui->MsgBox("服务器地址设置成功，请重新登录！", ports::MsgIcon::None, "自动更新");
  Elevation::StartClientAndEnd(pf_, programFolder_);
}

}  // namespace updater
