#pragma once
// The console stand-in for the window system. A message box is one line on standard output and
// nothing waits for it; captions and texts that change while a window is loaded go to standard
// error as "window.control: text" lines; where the program waits for the user it reads one line
// of standard input (the text typed before pressing the window's button); end of input closes
// the window.

#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ports/ui.h"

namespace updater::posix {

class ConsoleUiHost : public ports::UiHost {
 public:
  explicit ConsoleUiHost(std::FILE* in = stdin, std::FILE* out = stdout, std::FILE* err = stderr)
      : in_(in), out_(out), err_(err) {}

  void DoEvents() override;
  void MsgBox(const std::string& text, ports::MsgIcon icon, const std::string& title) override;
  void Show(ui::Form& form) override;
  void ShowModal(ui::Form& form) override;
  void Unload(ui::Form& form) override;
  void Run() override;
  [[noreturn]] void End() override;
  [[noreturn]] void ReportRuntimeError(int number, const std::string& description) override;
  ports::DateTime Now() override;

  // Asked now and then while the program works: true when a later start wants the windows
  // shown. The windows being loaded then appear as they stand.
  void WatchShowRequests(std::function<bool()> requested) { showRequested_ = std::move(requested); }

 private:
  struct Loaded {
    ui::Form* form;
    // A form's controls stay the same while it is loaded; the download reports after every KiB,
    // so they are listed once, and what is known of each is kept beside it.
    std::vector<ui::ControlLayout> layout;
    std::vector<std::optional<std::string>> shown;  // last text known
    std::vector<bool> written;                      // whether the known text was written
  };
  // Writes the controls whose text changed; progress bars only when due or complete.
  void Report(bool progressDue);
  // Writes what a window shows as it appears: each visible control with text, once.
  void ReportAppearance(Loaded& loaded);
  bool ReadLine(std::string& line);
  // The line typed goes into the form's first visible text box, then its button is pressed.
  void Press(ui::Form& form, const std::string& line, bool hasLine);
  bool IsLoaded(const ui::Form& form) const;

  std::FILE* in_;
  std::FILE* out_;
  std::FILE* err_;
  std::vector<Loaded> loaded_;
  std::chrono::steady_clock::time_point lastProgress_{};
  std::function<bool()> showRequested_;
};

}  // namespace updater::posix
