#pragma once
// A form with the name, caption, size and controls of another form but none of its handlers:
// the real windows run the whole program from Form_Load, and the tests and the screenshots
// only need their windows.

#include <functional>
#include <string>
#include <vector>

#include "ports/form.h"

namespace contract {

class MirrorForm : public updater::ui::Form {
 public:
  explicit MirrorForm(updater::ui::Form& real) : real_(real) {}

  std::string Name() const override { return real_.Name(); }
  std::string Caption() const override { return real_.Caption(); }
  int ClientWidth() const override { return real_.ClientWidth(); }
  int ClientHeight() const override { return real_.ClientHeight(); }
  std::vector<updater::ui::ControlLayout> Layout() override { return real_.Layout(); }

  void Form_Load() override {
    if (onLoad) onLoad();
  }
  void Form_Unload() override { ++unloads; }
  void Click(const std::string& control) override {
    clicks.push_back(control);
    if (onClick) onClick(control);
  }

  std::function<void()> onLoad;
  std::function<void(const std::string&)> onClick;
  std::vector<std::string> clicks;
  int unloads = 0;

 private:
  updater::ui::Form& real_;
};

}  // namespace contract
