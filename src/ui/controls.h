#pragma once
// Plain models of the controls of a window. A renderer binds them to real widgets (Win32
// controls, console lines); unit tests read them directly.

#include <string>
#include <vector>

namespace updater::ui {

struct Label {
  std::string Caption;
  bool Visible = true;
};

struct TextBox {
  std::string Text;
};

struct CheckBox {
  int Value = 0;  // 0 or 1
};

struct ProgressBar {
  int Min = 0;
  int Max = 100;
  int Value = 0;
};

struct ListBox {
  std::vector<std::string> List;
  int ListIndex = -1;  // the selected row, -1 for none
  void AddItem(const std::string& row) { List.push_back(row); }
};

struct CommandButton {
  std::string Caption;
  bool Enabled = true;
};

}  // namespace updater::ui
