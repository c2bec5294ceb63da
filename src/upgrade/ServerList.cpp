// The server list of the upgrade window and the probe of a server picked from it.
#include "upgrade/ServerList.h"

#include "protocol/Exchange.h"
#include "upgrade/frmUpgrade.h"

namespace updater {

namespace {

// Splits at every occurrence of sep, keeping empty pieces.
std::vector<std::string> Split(const std::string& text, const std::string& sep) {
  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (std::size_t at; (at = text.find(sep, start)) != std::string::npos; start = at + sep.size()) {
    pieces.push_back(text.substr(start, at - start));
  }
  pieces.push_back(text.substr(start));
  return pieces;
}

}  // namespace

std::vector<ServerEntry> SplitServerList(const std::string& listText) {
  std::vector<ServerEntry> entries;
  for (const std::string& entry : Split(listText, "||")) {
    const std::vector<std::string> pieces = Split(entry, "^^");
    if (pieces.size() < 2) continue;
    entries.push_back({pieces[0], pieces[1]});
  }
  return entries;
}

void frmUpgrade::LoadServerList() {
  // Rows are appended and laUrl replaced: a second load would leave rows without an address.
  if (List1.List.size() > 1) return;

  protocol::Exchange exchange(pf_);
  exchange.Post(gcweb + protocol::kPageGetServerName, protocol::CardRequest("", ""));
  if (exchange.TransportFailed()) {
    exchange.DropReply();
    pf_.ui->MsgBox("向服务器提交信息时出错：" + exchange.error.description + "请核实服务器地址!",
                   ports::MsgIcon::Error, "自动更新");
    return;
  }
  exchange.TakeReply();
  const auto error = exchange.Lookup("error");
  if (exchange.error.IsSet()) {
    pf_.ui->MsgBox("服务器WEB地址不正确，请核实服务器地址！", ports::MsgIcon::None, "自动更新");
    return;
  }

  std::string listText;
  if (error) {
    if (!error->empty()) {
      pf_.ui->MsgBox("提交信息时出错：" + *error, ports::MsgIcon::Error, "自动更新");
      return;
    }
    listText = exchange.Lookup("lcserverurl").value_or("");
    exchange.Lookup("res");
  }
  if (listText.empty()) return;

  // Every row keeps its address: entries without both pieces are passed over.
  laUrl.clear();
  for (const ServerEntry& entry : SplitServerList(listText)) {
    List1.AddItem(entry.name);
    laUrl.push_back(entry.address);
  }
}

void frmUpgrade::List1_Click() {
  Label9.Caption = "正在测试服务器.....";
  if (List1.ListIndex <= 0) return;
  const std::size_t i = static_cast<std::size_t>(List1.ListIndex) - 1;
  const bool online = i < laUrl.size() && IfOnLine(laUrl[i]);
  Label8.Visible = online;
  Label7.Visible = !online;
  Label9.Caption = online ? "正常" : "无法连接";
  CheckServerStatus.Value = online ? 1 : 0;
}

}  // namespace updater
