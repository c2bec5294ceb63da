#pragma once
// A window as the core sees it: a caption, a client area, a layout of control models, and the
// event handlers the window system calls. Positions are in twips (1/1440 inch). The controls are
// plain models: a renderer binds them to real widgets (Win32 controls, console lines); unit tests
// read them directly.

#include <functional>
#include <string>
#include <variant>
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

using ControlModel =
    std::variant<Label*, TextBox*, CheckBox*, ProgressBar*, ListBox*, CommandButton*>;

struct ControlLayout {
  std::string name;
  ControlModel model;
  int left = 0, top = 0, width = 0, height = 0;
  // Controls that carry state between operations lie outside the client area.
  bool hidden = false;
};

class Form {
 public:
  virtual ~Form() {
    if (OnDestroy) OnDestroy(this);
  }
  // Set by the window host that keeps the form, so that it forgets a form that goes away while
  // loaded (an error unwinding out of start-up, say).
  std::function<void(Form*)> OnDestroy;
  virtual std::string Name() const = 0;
  virtual std::string Caption() const = 0;
  virtual int ClientWidth() const = 0;   // twips
  virtual int ClientHeight() const = 0;  // twips
  virtual std::vector<ControlLayout> Layout() = 0;

  virtual void Form_Load() {}
  virtual void Form_Activate() {}
  virtual void Form_Unload() {}
  // A click on a command button, or a selection in a list box.
  virtual void Click(const std::string& control) { (void)control; }
};

}  // namespace updater::ui
