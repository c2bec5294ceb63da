#pragma once
// What the core needs of the window system.

#include <string>

#include "ports/datetime.h"
#include "ports/form.h"

namespace updater::ports {

enum class MsgIcon : int { None = 0, Error = 16, Warning = 48 };

class UiHost {
 public:
  virtual ~UiHost() = default;
  // Lets the window events that are waiting run now, then returns.
  virtual void DoEvents() = 0;
  // A message box with an OK button; returns when the user has closed it.
  virtual void MsgBox(const std::string& text, MsgIcon icon, const std::string& title) = 0;
  // Loads the form (its Form_Load runs before anything is shown), then shows it without owner.
  // Returns at once; the form lives on in the program's event loop.
  virtual void Show(ui::Form& form) = 0;
  // Loads and shows the form and serves its events until it is unloaded.
  virtual void ShowModal(ui::Form& form) = 0;
  // Runs Form_Unload and closes the form's window.
  virtual void Unload(ui::Form& form) = 0;
  // Serves the events of the shown forms until the program ends.
  virtual void Run() = 0;
  // Ends the program at once: no further event runs and every window closes with the process.
  [[noreturn]] virtual void End() = 0;
  // The run-time error report for an error that no operation traps: shows its number and
  // description, then ends the program.
  [[noreturn]] virtual void ReportRuntimeError(int number, const std::string& description) = 0;
  // The current local date and time.
  virtual DateTime Now() = 0;
};

}  // namespace updater::ports
