#include "backends/win32/ui.h"

#include <algorithm>

#include "backends/win32/ansi.h"
#include "backends/win32/form_window.h"
#include "backends/win32/windows_api.h"

namespace updater::win32 {

namespace {

// The download reports progress after every 1024-byte chunk; the bars need far fewer repaints.
constexpr auto kProgressInterval = std::chrono::milliseconds(50);
// DoEvents calls closer together than kTightGap, more than kTightCalls in a row, make a run.
constexpr auto kTightGap = std::chrono::milliseconds(2);
constexpr int kTightCalls = 64;
constexpr auto kTightPumpInterval = std::chrono::milliseconds(5);
// How often the work looks for a later start's request to show the windows.
constexpr auto kShowCheckInterval = std::chrono::milliseconds(200);

// Keys for the forms' windows go through the dialog manager, so Tab moves between controls.
void Dispatch(MSG& msg) {
  HWND root = msg.hwnd != nullptr ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (FormWindow::IsFormWindow(root) && IsDialogMessageW(root, &msg)) return;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
}

}  // namespace

struct Win32UiHost::Loaded {
  ui::Form* form = nullptr;
  std::unique_ptr<FormWindow> window;
  bool loading = false;  // its Form_Load runs
  bool unloading = false;
};

Win32UiHost::Win32UiHost() = default;
Win32UiHost::~Win32UiHost() = default;

Win32UiHost::Loaded* Win32UiHost::Find(const ui::Form& form) const {
  for (const auto& l : loaded_) {
    if (l->form == &form) return l.get();
  }
  return nullptr;
}

HWND__* Win32UiHost::WindowOf(const ui::Form& form) const {
  const Loaded* l = Find(form);
  return l != nullptr && l->window ? l->window->hwnd() : nullptr;
}

void Win32UiHost::Refresh(bool forced) {
  const auto now = std::chrono::steady_clock::now();
  const bool progressDue = forced || now - lastProgress_ >= kProgressInterval;
  if (progressDue) lastProgress_ = now;
  for (const auto& l : loaded_) {
    if (!l->window) continue;
    if (forced) l->window->Relayout();
    l->window->Refresh(progressDue);
  }
}

void Win32UiHost::DoEvents() {
  // The download calls this after every KiB, a hundred thousand times a second. Each look at the
  // windows and the queue costs a round trip to the wineserver under wine (200,000 looks: 3.4 s)
  // and no one sees a difference beyond a few hundred a second: in such a run of calls, only one
  // every kTightPumpInterval does the work. A caller that calls now and then is served each time.
  const auto now = std::chrono::steady_clock::now();
  tightCalls_ = now - lastCall_ < kTightGap ? tightCalls_ + 1 : 0;
  lastCall_ = now;
  if (tightCalls_ > kTightCalls && now - lastPump_ < kTightPumpInterval) return;
  lastPump_ = now;
  if (showRequested_ && now - lastShowCheck_ >= kShowCheckInterval) {
    lastShowCheck_ = now;
    if (showRequested_()) ShowLoading();
  }
  // The windows are brought up to date first, so that the pump below paints the new state.
  Refresh(false);
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Leave the quit request for the loop that owns it.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    Dispatch(msg);
  }
}

void Win32UiHost::MsgBox(const std::string& text, ports::MsgIcon icon, const std::string& title) {
  Refresh(true);
  // The box belongs to the window shown last, so that it stays in front of it.
  HWND owner = nullptr;
  for (const auto& l : loaded_) {
    if (l->window && l->window->Visible()) owner = l->window->hwnd();
  }
  UINT type = MB_OK | MB_SETFOREGROUND;
  if (icon == ports::MsgIcon::Error) type |= MB_ICONERROR;
  if (icon == ports::MsgIcon::Warning) type |= MB_ICONWARNING;
  MessageBoxW(owner, Utf8ToWide(text).c_str(), Utf8ToWide(title).c_str(), type);
}

void Win32UiHost::Show(ui::Form& form) {
  if (Find(form) == nullptr) {
    auto l = std::make_unique<Loaded>();
    l->form = &form;
    loaded_.push_back(std::move(l));
    // A form that goes away while loaded (an error unwinding out of start-up) takes its window
    // with it, so that nothing (the run-time error report's box, say) reads it afterwards.
    form.OnDestroy = [this](ui::Form* gone) {
      loaded_.erase(std::remove_if(loaded_.begin(), loaded_.end(),
                                   [gone](const auto& e) { return e->form == gone; }),
                    loaded_.end());
    };
    // The upgrade window's load runs the whole automatic run; it is not seen meanwhile, unless
    // a later start asks for it.
    loaded_.back()->loading = true;
    form.Form_Load();
    if (Loaded* l = Find(form)) l->loading = false;
  }
  Loaded* l = Find(form);
  if (l == nullptr) return;  // unloaded during its load
  const bool first = !l->window || !l->window->Visible();
  if (!l->window) l->window = std::make_unique<FormWindow>(form, *this);
  form.Form_Activate();
  // Activation may change the form (the please-wait window sizes itself to its text).
  l = Find(form);
  if (l == nullptr) return;
  l->window->Relayout();
  l->window->Refresh(true);
  if (first) {
    l->window->ShowCentred();
  } else {
    SetForegroundWindow(l->window->hwnd());
  }
}

void Win32UiHost::ShowModal(ui::Form& form) {
  Show(form);
  if (Find(form) == nullptr) return;
  HWND self = WindowOf(form);
  std::vector<HWND> disabled;
  for (const auto& l : loaded_) {
    if (!l->window || l->window->hwnd() == self) continue;
    if (IsWindowEnabled(l->window->hwnd())) {
      EnableWindow(l->window->hwnd(), FALSE);
      disabled.push_back(l->window->hwnd());
    }
  }
  MSG msg;
  while (Find(form) != nullptr) {
    const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got <= 0) {
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    Dispatch(msg);
  }
  for (HWND h : disabled) {
    if (IsWindow(h)) EnableWindow(h, TRUE);
  }
}

void Win32UiHost::Unload(ui::Form& form) {
  Loaded* l = Find(form);
  if (l == nullptr || l->unloading) return;
  l->unloading = true;
  form.Form_Unload();
  auto it = std::find_if(loaded_.begin(), loaded_.end(),
                         [&form](const auto& e) { return e->form == &form; });
  if (it == loaded_.end()) return;
  std::unique_ptr<Loaded> gone = std::move(*it);
  loaded_.erase(it);
  form.OnDestroy = nullptr;
  // The window goes last, after the form's own unload handler has run.
  gone.reset();
}

void Win32UiHost::OnClick(ui::Form& form, const std::string& control) {
  if (Loaded* l = Find(form); l != nullptr && l->window) l->window->ReadBack();
  form.Click(control);
  Refresh(true);
}

void Win32UiHost::ShowLoading() {
  // A window the user can see already (the server-address dialog, say) is the one to bring to
  // the front; the hidden one appears only when nothing shows.
  HWND shown = nullptr;
  for (const auto& l : loaded_) {
    if (l->window && l->window->Visible()) shown = l->window->hwnd();
  }
  if (shown != nullptr) {
    SetForegroundWindow(GetLastActivePopup(shown));
    return;
  }
  for (const auto& l : loaded_) {
    if (!l->loading || l->unloading) continue;
    if (!l->window) l->window = std::make_unique<FormWindow>(*l->form, *this);
    l->window->Relayout();
    l->window->Refresh(true);
    l->window->ShowCentred();
  }
}

void Win32UiHost::OnClose(ui::Form& form) {
  // Closing a window shown while its form still works (a download, an installation) hides it:
  // the work goes on unseen as it would have, and is never cut off midway.
  if (Loaded* l = Find(form); l != nullptr && l->loading && l->window) {
    ShowWindow(l->window->hwnd(), SW_HIDE);
    return;
  }
  Unload(form);
  // A window without a close handler of its own (the upgrade window) ends the program with it.
  const bool anyWindow = std::any_of(loaded_.begin(), loaded_.end(),
                                     [](const auto& l) { return l->window != nullptr; });
  if (!anyWindow) End();
}

void Win32UiHost::Run() {
  MSG msg;
  while (std::any_of(loaded_.begin(), loaded_.end(),
                     [](const auto& l) { return l->window != nullptr; })) {
    if (GetMessageW(&msg, nullptr, 0, 0) <= 0) break;
    Dispatch(msg);
  }
  End();
}

void Win32UiHost::End() { ExitProcess(0); }

void Win32UiHost::ReportRuntimeError(int number, const std::string& description) {
  MsgBox("运行时错误 '" + std::to_string(number) + "'：\n\n" + description, ports::MsgIcon::Error,
         "自动更新");
  ExitProcess(1);
}

ports::DateTime Win32UiHost::Now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

}  // namespace updater::win32
