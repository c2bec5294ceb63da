#pragma once
// The window system of the product: message pumping, message boxes and the forms' windows.

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "ports/ui.h"

struct HWND__;

namespace updater::win32 {

class FormWindow;

class Win32UiHost : public ports::UiHost {
 public:
  Win32UiHost();
  ~Win32UiHost() override;
  Win32UiHost(const Win32UiHost&) = delete;
  Win32UiHost& operator=(const Win32UiHost&) = delete;

  void DoEvents() override;
  void MsgBox(const std::string& text, ports::MsgIcon icon, const std::string& title) override;
  void Show(ui::Form& form) override;
  void ShowModal(ui::Form& form) override;
  void Unload(ui::Form& form) override;
  void Run() override;
  [[noreturn]] void End() override;
  [[noreturn]] void ReportRuntimeError(int number, const std::string& description) override;
  ports::DateTime Now() override;

  // The window of a loaded form; null while the form has none (during its Form_Load) or is not
  // loaded.
  HWND__* WindowOf(const ui::Form& form) const;

  // Asked now and then while the program works: true when a later start wants the windows
  // shown. A form still in its Form_Load (the upgrade window during the automatic run) then
  // gets its window, shown as it stands, in front.
  void WatchShowRequests(std::function<bool()> requested) { showRequested_ = std::move(requested); }

 private:
  friend class FormWindow;
  struct Loaded;

  Loaded* Find(const ui::Form& form) const;
  // Brings every window in step with its form; progress bars at a bounded rate unless forced.
  void Refresh(bool forced);
  // A click on a control of a form's window: the typed texts go into the models first.
  void OnClick(ui::Form& form, const std::string& control);
  // The close box: the form is unloaded; closing the last window ends the program. A window
  // shown on request while its form is still loading is only hidden again.
  void OnClose(ui::Form& form);
  // Shows the windows of the forms still loading, as their controls stand.
  void ShowLoading();

  std::vector<std::unique_ptr<Loaded>> loaded_;
  std::chrono::steady_clock::time_point lastProgress_{};
  std::chrono::steady_clock::time_point lastCall_{};  // of DoEvents
  std::chrono::steady_clock::time_point lastPump_{};
  int tightCalls_ = 0;  // DoEvents calls in a row, each right after the one before
  std::function<bool()> showRequested_;
  std::chrono::steady_clock::time_point lastShowCheck_{};
};

}  // namespace updater::win32
