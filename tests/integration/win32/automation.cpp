#include "automation.h"

#include <tlhelp32.h>

#include <algorithm>
#include <fstream>
#include <thread>

#include "png.h"

namespace wholerun {

namespace {

constexpr UINT kSendTimeoutMs = 5000;

struct EnumState {
  std::vector<DWORD> pids;
  std::vector<TopWindow>* out;
};

std::wstring ClassOf(HWND hwnd) {
  wchar_t cls[128] = {};
  GetClassNameW(hwnd, cls, 128);
  return cls;
}

// Plain functions: the 32-bit callback convention is stdcall, which a lambda cannot have.
BOOL CALLBACK CollectTop(HWND hwnd, LPARAM p) {
  auto* state = reinterpret_cast<EnumState*>(p);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  const bool ours = std::find(state->pids.begin(), state->pids.end(), pid) != state->pids.end();
  if (ours && IsWindowVisible(hwnd)) {
    // The caption the window system keeps: asking the window could wait for a busy thread.
    wchar_t title[256] = {};
    GetWindowTextW(hwnd, title, 256);
    state->out->push_back({hwnd, ClassOf(hwnd), title});
  }
  return TRUE;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM p) {
  reinterpret_cast<std::vector<Child>*>(p)->push_back({hwnd, ClassOf(hwnd), GetDlgCtrlID(hwnd)});
  return TRUE;
}

struct Pixels {
  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
};

// What the screen shows in rect.
Pixels Grab(const RECT& rect) {
  Pixels p;
  p.width = rect.right - rect.left;
  p.height = rect.bottom - rect.top;
  if (p.width <= 0 || p.height <= 0) return p;
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = p.width;
  info.bmiHeader.biHeight = -p.height;  // top row first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (bitmap != nullptr) {
    HGDIOBJ old = SelectObject(mem, bitmap);
    BitBlt(mem, 0, 0, p.width, p.height, screen, rect.left, rect.top, SRCCOPY | CAPTUREBLT);
    GdiFlush();
    const auto* bgra = static_cast<const std::uint8_t*>(bits);
    p.rgb.resize(static_cast<std::size_t>(p.width) * p.height * 3);
    for (std::size_t i = 0; i < static_cast<std::size_t>(p.width) * p.height; ++i) {
      p.rgb[i * 3] = bgra[i * 4 + 2];
      p.rgb[i * 3 + 1] = bgra[i * 4 + 1];
      p.rgb[i * 3 + 2] = bgra[i * 4];
    }
    SelectObject(mem, old);
    DeleteObject(bitmap);
  }
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return p;
}

// The system icons differ in colour: a red disc for errors, a yellow triangle for warnings.
Icon IconFromPixels(const Pixels& p) {
  int red = 0, yellow = 0;
  for (std::size_t i = 0; i + 2 < p.rgb.size(); i += 3) {
    const int r = p.rgb[i], g = p.rgb[i + 1], b = p.rgb[i + 2];
    if (r > 170 && g < 100 && b < 100) ++red;
    if (r > 190 && g > 150 && b < 110) ++yellow;
  }
  const int enough = static_cast<int>(p.rgb.size() / 3 / 8);
  if (red > enough && red > yellow) return Icon::Error;
  if (yellow > enough) return Icon::Warning;
  return Icon::Other;
}

}  // namespace

const char* IconName(Icon icon) {
  switch (icon) {
    case Icon::None:
      return "none";
    case Icon::Error:
      return "error";
    case Icon::Warning:
      return "warning";
    default:
      return "other";
  }
}

std::string Utf8(const std::wstring& wide) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

std::wstring Wide(const std::string& utf8) {
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::wstring TextOf(HWND hwnd) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                           &length)) {
    return L"";
  }
  std::wstring text(length + 1, L'\0');
  DWORD_PTR got = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                      SMTO_ABORTIFHUNG, kSendTimeoutMs, &got);
  text.resize(std::min<std::size_t>(got, length));
  return text;
}

std::vector<Child> ChildrenOf(HWND parent) {
  std::vector<Child> out;
  EnumChildWindows(parent, CollectChild, reinterpret_cast<LPARAM>(&out));
  return out;
}

HWND VisibleChildWithText(HWND parent, const std::string& text) {
  const std::wstring wide = Wide(text);
  for (const Child& c : ChildrenOf(parent)) {
    if (IsWindowVisible(c.hwnd) && TextOf(c.hwnd) == wide) return c.hwnd;
  }
  return nullptr;
}

std::vector<std::string> VisibleTexts(HWND parent) {
  std::vector<std::string> out;
  for (const Child& c : ChildrenOf(parent)) {
    if (IsWindowVisible(c.hwnd)) out.push_back(Utf8(TextOf(c.hwnd)));
  }
  return out;
}

MessageBoxView ReadMessageBox(HWND box) {
  Settle(box);
  MessageBoxView view;
  view.title = Utf8(TextOf(box));
  for (const Child& c : ChildrenOf(box)) {
    const LONG style = GetWindowLongW(c.hwnd, GWL_STYLE);
    if (c.id == IDOK) view.ok = c.hwnd;
    if (c.cls != L"Static") continue;
    if ((style & SS_TYPEMASK) == SS_ICON) {
      DWORD_PTR icon = 0;
      SendMessageTimeoutW(c.hwnd, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &icon);
      if (icon != 0 && IsWindowVisible(c.hwnd)) {
        RECT r;
        GetWindowRect(c.hwnd, &r);
        view.icon = IconFromPixels(Grab(r));
      }
    } else if (c.id == 0xFFFF) {  // the text of a message box
      view.text = Utf8(TextOf(c.hwnd));
    }
  }
  return view;
}

void Press(HWND button) { PostMessageW(button, BM_CLICK, 0, 0); }

void Type(HWND edit, const std::string& text) {
  PostMessageW(edit, EM_SETSEL, 0, -1);
  for (const wchar_t c : Wide(text)) PostMessageW(edit, WM_CHAR, c, 1);
  Settle(edit);
}

void Close(HWND window) { PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0); }

void Settle(HWND hwnd) {
  // A sent message is handled only after the thread has taken the ones posted before it.
  DWORD_PTR ignored = 0;
  SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
  RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &ignored);
  // The window system copies what was painted to the screen shortly after.
  std::this_thread::sleep_for(300ms);
}

bool Capture(HWND hwnd, const std::filesystem::path& png, bool settle) {
  if (!IsWindowVisible(hwnd)) return false;
  if (settle) {
    SetForegroundWindow(hwnd);
    Settle(hwnd);
  }
  RECT r;
  GetWindowRect(hwnd, &r);
  const Pixels p = Grab(r);
  if (p.rgb.empty()) return false;
  std::error_code ignored;
  std::filesystem::create_directories(png.parent_path(), ignored);
  std::ofstream out(png, std::ios::binary);
  out << EncodePng(p.width, p.height, p.rgb);
  return static_cast<bool>(out);
}

Process::Process(const std::filesystem::path& program, const std::filesystem::path& folder,
                 const std::wstring& arguments) {
  std::wstring command = L"\"" + program.wstring() + L"\"";
  if (!arguments.empty()) command += L" " + arguments;
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi = {};
  if (CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                     folder.c_str(), &si, &pi)) {
    CloseHandle(pi.hThread);
    process_ = pi.hProcess;
    pid_ = pi.dwProcessId;
    image_ = program.filename().wstring();
  }
}

Process::~Process() {
  if (process_ == nullptr) return;
  if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) {
    TerminateProcess(process_, 99);
    WaitForSingleObject(process_, 5000);
  }
  CloseHandle(process_);
}

std::vector<TopWindow> Process::Visible() {
  std::vector<TopWindow> out;
  EnumState state{{pid_}, &out};
  // The program started again by itself (for other rights) shows its windows for it.
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot != INVALID_HANDLE_VALUE) {
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
      if (entry.th32ParentProcessID == pid_ && _wcsicmp(entry.szExeFile, image_.c_str()) == 0) {
        state.pids.push_back(entry.th32ProcessID);
      }
    }
    CloseHandle(snapshot);
  }
  EnumWindows(CollectTop, reinterpret_cast<LPARAM>(&state));
  return out;
}

void Process::Note(const std::vector<TopWindow>& visible) {
  for (const TopWindow& w : visible) {
    const bool known = std::any_of(seen_.begin(), seen_.end(), [&](const TopWindow& s) {
      return s.hwnd == w.hwnd && s.title == w.title;
    });
    if (!known) seen_.push_back(w);
  }
}

std::optional<TopWindow> Process::Next(std::chrono::milliseconds timeout) {
  auto w = WaitFor(
      [this](const TopWindow& w) {
        return (!w.title.empty() || w.IsMessageBox()) &&
               std::find(taken_.begin(), taken_.end(), w.hwnd) == taken_.end();
      },
      timeout);
  if (w) taken_.push_back(w->hwnd);
  return w;
}

std::optional<TopWindow> Process::WaitFor(const std::function<bool(const TopWindow&)>& match,
                                          std::chrono::milliseconds timeout) {
  if (process_ == nullptr) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const bool ended = WaitForSingleObject(process_, 0) == WAIT_OBJECT_0;
    const std::vector<TopWindow> visible = Visible();
    Note(visible);
    for (const TopWindow& w : visible) {
      if (match(w)) return w;
    }
    if (ended || std::chrono::steady_clock::now() > deadline) return std::nullopt;
    std::this_thread::sleep_for(10ms);
  }
}

std::optional<DWORD> Process::Exit(std::chrono::milliseconds timeout) {
  if (process_ == nullptr) return std::nullopt;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (WaitForSingleObject(process_, 20) == WAIT_TIMEOUT) {
    Note(Visible());
    if (std::chrono::steady_clock::now() > deadline) return std::nullopt;
  }
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  return code;
}

std::string Process::SeenSummary() const {
  std::string out;
  for (const TopWindow& w : seen_) {
    if (!out.empty()) out += ", ";
    out += Utf8(w.cls) + " \"" + Utf8(w.title) + "\"";
  }
  return out.empty() ? "no window" : out;
}

}  // namespace wholerun
