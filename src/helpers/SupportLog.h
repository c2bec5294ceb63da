#pragma once
// Writing the support log from the core: one line per step that matters, every error with its
// number and text. Nothing here can fail a run.

#include <string>

#include "ports/errors.h"
#include "ports/platform.h"

namespace updater::SupportLog {

// Appends text to the log when the platform keeps one.
void Write(Platform& pf, const std::string& text);

// "error N: text", the form every error takes in the log.
std::string Error(int number, const std::string& description);
inline std::string Error(const ErrorRecord& e) { return Error(e.number, e.description); }
inline std::string Error(const RuntimeError& e) { return Error(e.number(), e.description()); }

// One run of the program in the log. It writes the start (version, program folder) and, while it
// lives, stands between the core and the window system to write every message box the user is
// shown, the run-time error report and the end of the program.
class Session final : private ports::UiHost {
 public:
  Session(Platform& pf, ports::SupportLog& log, const std::string& version);
  ~Session() override;
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

 private:
  void DoEvents() override { ui_.DoEvents(); }
  void MsgBox(const std::string& text, ports::MsgIcon icon, const std::string& title) override;
  void Show(ui::Form& form) override { ui_.Show(form); }
  void ShowModal(ui::Form& form) override { ui_.ShowModal(form); }
  void Unload(ui::Form& form) override { ui_.Unload(form); }
  void Run() override;
  [[noreturn]] void End() override;
  [[noreturn]] void ReportRuntimeError(int number, const std::string& description) override;
  ports::DateTime Now() override { return ui_.Now(); }

  Platform& pf_;
  ports::UiHost& ui_;
};

}  // namespace updater::SupportLog
