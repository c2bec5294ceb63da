#pragma once
// Playing the user of a running Windows program through its real window handles: finding the
// windows of its process, reading message boxes and controls, pressing buttons, typing, and
// taking pictures of windows as they are on the screen.

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace wholerun {

using namespace std::chrono_literals;

struct TopWindow {
  HWND hwnd = nullptr;
  std::wstring cls;
  std::wstring title;

  bool IsMessageBox() const { return cls == L"#32770"; }
};

enum class Icon { None, Error, Warning, Other };
const char* IconName(Icon icon);

// A message box as the user reads it.
struct MessageBoxView {
  std::string title;  // UTF-8
  std::string text;
  Icon icon = Icon::None;
  HWND ok = nullptr;  // the OK button
};

struct Child {
  HWND hwnd;
  std::wstring cls;
  int id;
};

std::string Utf8(const std::wstring& wide);
std::wstring Wide(const std::string& utf8);

// The text of a control of another process (WM_GETTEXT, not the cached window title).
std::wstring TextOf(HWND hwnd);
std::vector<Child> ChildrenOf(HWND parent);
// The first visible child whose text is text (UTF-8); null when none.
HWND VisibleChildWithText(HWND parent, const std::string& text);
std::vector<std::string> VisibleTexts(HWND parent);

MessageBoxView ReadMessageBox(HWND box);

// Presses a button the way a click does, without waiting for what the click starts.
void Press(HWND button);
// Selects the whole text of an edit control and types text over it, key by key.
void Type(HWND edit, const std::string& text);
// Closes a window with its close box.
void Close(HWND window);

// Waits until the thread of the window has handled everything sent and posted to it so far and
// its painting has reached the screen.
void Settle(HWND hwnd);

// The window as it is on the screen, written as a PNG file; false when it could not be taken.
// Without settling first, for a window whose thread is busy and cannot answer.
bool Capture(HWND hwnd, const std::filesystem::path& png, bool settle = true);

// One run of a program: its process and the windows it shows.
class Process {
 public:
  // Starts program with the command line "program" arguments in folder (its working folder).
  Process(const std::filesystem::path& program, const std::filesystem::path& folder,
          const std::wstring& arguments = L"");
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool started() const { return process_ != nullptr; }

  // The next visible message box or titled window of the process (or of a copy of the program
  // it started) that the test has not taken
  // yet; nullopt when the process ended first or nothing came within timeout. Untitled windows
  // (the please-wait window) are noted in seen() only.
  std::optional<TopWindow> Next(std::chrono::milliseconds timeout = 30s);
  // The first visible window of the process that matches, taken or not.
  std::optional<TopWindow> WaitFor(const std::function<bool(const TopWindow&)>& match,
                                   std::chrono::milliseconds timeout = 30s);
  // Waits for the end of the process; its exit code, or nullopt on time-out.
  std::optional<DWORD> Exit(std::chrono::milliseconds timeout = 30s);

  // Every visible top-level window seen while waiting, in the order of appearance.
  const std::vector<TopWindow>& seen() const { return seen_; }
  std::string SeenSummary() const;

 private:
  std::vector<TopWindow> Visible();
  void Note(const std::vector<TopWindow>& visible);

  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  std::wstring image_;  // the program's file name
  std::vector<TopWindow> seen_;
  std::vector<HWND> taken_;
};

}  // namespace wholerun
