#include "upgrade/frmUpgrade.h"

#include "protocol/Exchange.h"
#include "protocol/Probes.h"
#include "settings/LocalDatabase.h"

namespace updater {

frmUpgrade::frmUpgrade(Platform& pf) : pf_(pf), programFolder_(pf.system->ProgramFolder()) {}

void frmUpgrade::LoadServerUrl() {
  auto conn = LocalDatabase::OpenConnection(pf_, LocalDatabase::ConnectionString(programFolder_));
  auto rs = LocalDatabase::PrepareRecordset(*conn, ports::adOpenStatic);
  const std::string server = ClientIni::Read(pf_, programFolder_, ClientIni::kServer);
  if (!server.empty()) {
    rs->Open(LocalDatabase::kSelectSystem);
    if (rs->IsEOF()) rs->AddNew();
    rs->SetField("upserverUrl", server);
    rs->Update();
    rs->Close();
  }
  rs.reset();
  conn->Close();
}

bool frmUpgrade::CheckSStatus(const std::string& lcWEB) {
  return protocol::Probe(pf_, lcWEB, protocol::kPageCheckServerStatus, [this](bool transportOk) {
    Label7.Visible = !transportOk;
    Label8.Visible = transportOk;
    Label9.Caption = transportOk ? "服务器连接正常" : "服务器连接失败";
  });
}

bool frmUpgrade::IfOnLine(const std::string& lcWEB) {
  return protocol::Probe(pf_, lcWEB, protocol::kPageSendServerName);
}

}  // namespace updater
