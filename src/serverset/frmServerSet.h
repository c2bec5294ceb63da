#pragma once
// frmServerSet, the server-address dialog: the user enters an address, it is probed, and only an
// address that answers is stored; then the client starts and the program ends.

#include <string>

#include "ports/form.h"
#include "ports/platform.h"

namespace updater {

class frmServerSet : public ui::Form {
 public:
  explicit frmServerSet(Platform& pf);

  std::string Name() const override { return "frmServerSet"; }
  std::string Caption() const override { return "自动更新程序"; }
  int ClientWidth() const override { return 6510; }
  int ClientHeight() const override { return 975; }
  std::vector<ui::ControlLayout> Layout() override;

  ui::Label Label1{"服务器地址："};
  ui::TextBox txtUrl{"http://"};
  ui::CommandButton Command1{"确定"};

  void Form_Load() override;
  void Form_Unload() override;
  void Click(const std::string& control) override;
  void Command1_Click();

  // The status probe on an address the user typed; shows nothing.
  bool CheckSStatus(const std::string& lcWEB);

 private:
  Platform& pf_;
  std::string programFolder_;
};

}  // namespace updater
