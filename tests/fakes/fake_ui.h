#pragma once
// A fake of the UI host: message boxes and pumps are recorded, the forms it shows are loaded at
// once, a modal form is played by the test, and ending the program throws ProgramEnded.

#include <functional>
#include <string>
#include <vector>

#include "ports/platform.h"

namespace fakes {

class FakeUi : public updater::ports::UiHost {
 public:
  struct Box {
    std::string text;
    updater::ports::MsgIcon icon;
    std::string title;
  };
  int pumps = 0;
  std::vector<Box> boxes;
  std::function<void()> onPump;  // a window event arriving while the core serves events
  void DoEvents() override {
    ++pumps;
    if (onPump) onPump();
  }
  void MsgBox(const std::string& text, updater::ports::MsgIcon icon,
              const std::string& title) override {
    boxes.push_back({text, icon, title});
  }

  // The forms shown, modal ones with the lines "typed" into them by the test.
  std::vector<std::string> shown;
  std::function<void(updater::ui::Form&)> onModal;  // plays the user's part in a modal form
  bool ended = false;
  updater::ports::DateTime now{2026, 12, 8, 9, 30, 15};

  void Show(updater::ui::Form& form) override {
    shown.push_back(form.Name());
    form.Form_Load();
    form.Form_Activate();
  }
  void ShowModal(updater::ui::Form& form) override {
    shown.push_back(form.Name() + " (modal)");
    form.Form_Load();
    if (onModal) onModal(form);
    Unload(form);
  }
  std::function<void(updater::ui::Form&)> onUnload;  // sees the form as it closes
  void Unload(updater::ui::Form& form) override {
    if (onUnload) onUnload(form);
    form.Form_Unload();
  }
  void Run() override {}
  [[noreturn]] void End() override {
    ended = true;
    throw ProgramEnded();
  }
  updater::ports::DateTime Now() override { return now; }
  std::vector<int> runtimeErrors;
  [[noreturn]] void ReportRuntimeError(int number, const std::string&) override {
    runtimeErrors.push_back(number);
    ended = true;
    throw ProgramEnded();
  }

  // Thrown where the real host would end the process.
  struct ProgramEnded {};
};

// Runs step; true when it ended the program.
template <typename Step>
bool EndsTheProgram(Step&& step) {
  try {
    step();
  } catch (const FakeUi::ProgramEnded&) {
    return true;
  }
  return false;
}

}  // namespace fakes
