#pragma once
// frmPleaseWait: the small window start-up shows while it registers the shipped components.

#include <string>

#include "ports/form.h"

namespace updater {

class frmPleaseWait : public ui::Form {
 public:
  std::string Name() const override { return "frmPleaseWait"; }
  std::string Caption() const override { return ""; }
  int ClientWidth() const override { return Width; }
  int ClientHeight() const override { return 675; }
  std::vector<ui::ControlLayout> Layout() override {
    return {{"Label1", &Label1, Label1Left, 240, Label1Width, 240}};
  }

  // Sets the wait text; blank text leaves it as it is.
  void SetWaitMessage(const std::string& pcMsg);

  void Form_Load() override;
  void Form_Activate() override;
  void Form_Unload() override;

  enum WindowStates { vbNormal = 0, vbMinimized = 1, vbMaximized = 2 };
  enum MousePointers { vbDefault = 0, vbHourglass = 11 };

  ui::Label Label1{"正在生成，请等待......"};
  int Label1Left = 780;
  int Label1Width = 3360;
  int Width = 4740;
  int WindowState = vbNormal;
  int MousePointer = vbDefault;
};

}  // namespace updater
