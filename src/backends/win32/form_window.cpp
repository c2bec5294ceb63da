#include "backends/win32/form_window.h"

#include <commctrl.h>

#include <type_traits>
#include <utility>

#include "backends/win32/ansi.h"
#include "backends/win32/ui.h"

namespace updater::win32 {

namespace {

constexpr wchar_t kClassName[] = L"AutoUpdateForm";
constexpr int kFirstControlId = 100;  // above IDOK and IDCANCEL, which the dialog manager sends
constexpr int kTwipsPerInch = 1440;

// A few controls have a look of their own; everything else has the system's.
struct Look {
  const char* form;
  const char* control;
  bool lamp;  // a coloured square; otherwise coloured text on the window's background
  COLORREF color;
};
constexpr Look kLooks[] = {
    {"frmUpgrade", "Label7", true, RGB(255, 0, 0)},
    {"frmUpgrade", "Label8", true, RGB(0, 192, 0)},
    {"frmPleaseWait", "Label1", false, RGB(0, 0, 255)},
};
// The please-wait window: a light-blue popup with an hourglass over it.
constexpr char kPlainForm[] = "frmPleaseWait";
constexpr COLORREF kPlainBackground = RGB(196, 228, 253);

// Windows whose text is Chinese need a font that has the glyphs; SimSun (宋体) is the usual
// Chinese GUI font, and the GB2312 character set makes the font mapper pick a Chinese font
// where SimSun is missing.
HFONT MakeFont(int points, int dpi) {
  return CreateFontW(-MulDiv(points, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                     GB2312_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_DONTCARE, L"SimSun");
}

int DpiOf(HWND hwnd) {
  // Windows 10 knows the DPI of each monitor; older systems have one for the whole screen.
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  if (HMODULE user32 = GetModuleHandleW(L"user32.dll")) {
    if (FARPROC p = GetProcAddress(user32, "GetDpiForWindow")) {
      auto fn = reinterpret_cast<GetDpiForWindowFn>(reinterpret_cast<void (*)()>(p));
      if (UINT dpi = fn(hwnd)) return static_cast<int>(dpi);
    }
  }
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NCCREATE) {
    auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
  }
  auto* self = reinterpret_cast<FormWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self != nullptr && self->hwnd() == hwnd) return self->Handle(msg, wParam, lParam);
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

ATOM WindowClass() {
  static const ATOM atom = [] {
    INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&icc);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    // The program's icon, from its resources; a program without one gets the system's.
    wc.hIcon = static_cast<HICON>(
        LoadImageW(instance, L"IDI_ICON1", IMAGE_ICON, 48, 48, LR_DEFAULTCOLOR | LR_SHARED));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance, L"IDI_ICON1", IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    return RegisterClassExW(&wc);
  }();
  return atom;
}

}  // namespace

bool FormWindow::IsFormWindow(HWND hwnd) {
  return hwnd != nullptr && static_cast<ATOM>(GetClassWord(hwnd, GCW_ATOM)) == WindowClass();
}

FormWindow::FormWindow(ui::Form& form, Win32UiHost& host) : form_(form), host_(host) {
  const std::string name = form.Name();
  plain_ = name == kPlainForm;
  waitCursor_ = plain_;
  if (plain_) background_ = CreateSolidBrush(kPlainBackground);

  const DWORD style = plain_ ? WS_POPUP | WS_BORDER : WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU;
  WindowClass();
  hwnd_ = CreateWindowExW(WS_EX_CONTROLPARENT, kClassName, Utf8ToWide(form.Caption()).c_str(),
                          style, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, nullptr, nullptr,
                          GetModuleHandleW(nullptr), this);
  if (hwnd_ == nullptr) return;
  dpi_ = DpiOf(hwnd_);
  font_ = MakeFont(9, dpi_);
  if (plain_) labelFont_ = MakeFont(12, dpi_);
  CreateControls();
  Relayout();
}

FormWindow::~FormWindow() {
  if (hwnd_ != nullptr) {
    SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
    DestroyWindow(hwnd_);
  }
  for (HGDIOBJ o : {static_cast<HGDIOBJ>(font_), static_cast<HGDIOBJ>(labelFont_),
                    static_cast<HGDIOBJ>(background_), static_cast<HGDIOBJ>(lampBrushes_[0]),
                    static_cast<HGDIOBJ>(lampBrushes_[1])}) {
    if (o != nullptr) DeleteObject(o);
  }
}

std::string FormWindow::TextOf(HWND hwnd) {
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(
      static_cast<size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return WideToUtf8(text);
}

bool FormWindow::Visible() const { return hwnd_ != nullptr && IsWindowVisible(hwnd_); }

int FormWindow::Px(int twips) const { return MulDiv(twips, dpi_, kTwipsPerInch); }

void FormWindow::CreateControls() {
  const std::string formName = form_.Name();
  int id = kFirstControlId;
  for (const ui::ControlLayout& l : form_.Layout()) {
    Control c;
    c.name = l.name;
    c.model = l.model;
    c.hidden = l.hidden;
    const wchar_t* cls = L"STATIC";
    DWORD style = WS_CHILD;
    std::string text;
    std::visit(
        [&](auto* m) {
          using T = std::remove_pointer_t<decltype(m)>;
          if constexpr (std::is_same_v<T, ui::Label>) {
            style |= SS_LEFT | SS_NOPREFIX;
            text = m->Caption;
            c.visible = m->Visible;
          } else if constexpr (std::is_same_v<T, ui::TextBox>) {
            cls = L"EDIT";
            style |= ES_LEFT | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP;
            text = m->Text;
          } else if constexpr (std::is_same_v<T, ui::CheckBox>) {
            cls = L"BUTTON";
            style |= BS_AUTOCHECKBOX | WS_TABSTOP;
            text = l.name;
          } else if constexpr (std::is_same_v<T, ui::ProgressBar>) {
            cls = PROGRESS_CLASSW;
          } else if constexpr (std::is_same_v<T, ui::ListBox>) {
            cls = L"LISTBOX";
            style |= LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_BORDER | WS_TABSTOP;
          } else {
            cls = L"BUTTON";
            style |= BS_PUSHBUTTON | WS_TABSTOP;  // not the default button: Enter does nothing
            text = m->Caption;
          }
        },
        l.model);
    // The working-state controls exist but are never seen.
    if (!c.hidden && c.visible) style |= WS_VISIBLE;
    c.text = text;
    c.hwnd = CreateWindowExW(0, cls, Utf8ToWide(text).c_str(), style, 0, 0, 0, 0, hwnd_,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id++)),
                             GetModuleHandleW(nullptr), nullptr);
    for (const Look& look : kLooks) {
      if (formName == look.form && l.name == look.control) {
        c.lamp = look.lamp;
        c.transparent = !look.lamp;
        c.ownFont = !look.lamp;
        c.color = look.color;
      }
    }
    if (c.lamp) {
      HBRUSH& brush = lampBrushes_[c.color == RGB(255, 0, 0) ? 0 : 1];
      if (brush == nullptr) brush = CreateSolidBrush(c.color);
    }
    SendMessageW(c.hwnd, WM_SETFONT,
                 reinterpret_cast<WPARAM>(c.ownFont && labelFont_ ? labelFont_ : font_), FALSE);
    Place(c, l);
    controls_.push_back(std::move(c));
  }
  Refresh(true);
}

void FormWindow::Place(Control& c, const ui::ControlLayout& l) {
  if (c.left == l.left && c.top == l.top && c.width == l.width && c.height == l.height &&
      c.width != 0) {
    return;
  }
  c.left = l.left;
  c.top = l.top;
  c.width = l.width;
  c.height = l.height;
  SetWindowPos(c.hwnd, nullptr, Px(l.left), Px(l.top), Px(l.width), Px(l.height),
               SWP_NOZORDER | SWP_NOACTIVATE);
}

void FormWindow::ApplyClientSize() {
  const DWORD style = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongPtrW(hwnd_, GWL_EXSTYLE));
  RECT r{0, 0, Px(clientWidth_), Px(clientHeight_)};
  AdjustWindowRectEx(&r, style, FALSE, exStyle);
  SetWindowPos(hwnd_, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void FormWindow::Relayout() {
  if (hwnd_ == nullptr) return;
  const int w = form_.ClientWidth(), h = form_.ClientHeight();
  if (w != clientWidth_ || h != clientHeight_) {
    clientWidth_ = w;
    clientHeight_ = h;
    ApplyClientSize();
  }
  const std::vector<ui::ControlLayout> layout = form_.Layout();
  for (size_t i = 0; i < layout.size() && i < controls_.size(); ++i) {
    if (controls_[i].name == layout[i].name) Place(controls_[i], layout[i]);
  }
}

void FormWindow::ShowCentred() {
  if (hwnd_ == nullptr) return;
  ApplyClientSize();
  RECT r;
  GetWindowRect(hwnd_, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  SetWindowPos(hwnd_, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2,
               (GetSystemMetrics(SM_CYSCREEN) - h) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ShowWindow(hwnd_, SW_SHOW);
  SetForegroundWindow(hwnd_);
  // The focus goes to the first control that takes it, as in a dialog.
  for (const Control& c : controls_) {
    const LONG_PTR style = GetWindowLongPtrW(c.hwnd, GWL_STYLE);
    if (!c.hidden && (style & WS_TABSTOP) && (style & WS_VISIBLE) && !(style & WS_DISABLED)) {
      SetFocus(c.hwnd);
      break;
    }
  }
  UpdateWindow(hwnd_);
}

FormWindow::Control* FormWindow::ControlOf(HWND child) {
  for (Control& c : controls_) {
    if (c.hwnd == child) return &c;
  }
  return nullptr;
}

LRESULT FormWindow::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_COMMAND: {
      Control* c = ControlOf(reinterpret_cast<HWND>(lParam));
      if (c == nullptr) return 0;
      const UINT code = HIWORD(wParam);
      if (auto* box = std::get_if<ui::TextBox*>(&c->model); box && code == EN_CHANGE) {
        // What the user types is in the model at once, even while a handler serves events.
        c->text = TextOf(c->hwnd);
        (*box)->Text = c->text;
      } else if (auto* check = std::get_if<ui::CheckBox*>(&c->model); check && code == BN_CLICKED) {
        c->value = SendMessageW(c->hwnd, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
        (*check)->Value = c->value;
      } else if (auto* list = std::get_if<ui::ListBox*>(&c->model); list && code == LBN_SELCHANGE) {
        c->listIndex = static_cast<int>(SendMessageW(c->hwnd, LB_GETCURSEL, 0, 0));
        (*list)->ListIndex = c->listIndex;
        const std::string name = c->name;
        host_.OnClick(form_, name);  // may unload the form: this object is not used after it
      } else if (std::holds_alternative<ui::CommandButton*>(c->model) && code == BN_CLICKED) {
        const std::string name = c->name;
        host_.OnClick(form_, name);  // may unload the form: this object is not used after it
      }
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      Control* c = ControlOf(reinterpret_cast<HWND>(lParam));
      HDC dc = reinterpret_cast<HDC>(wParam);
      if (c != nullptr && c->lamp) {
        SetBkColor(dc, c->color);
        return reinterpret_cast<LRESULT>(lampBrushes_[c->color == RGB(255, 0, 0) ? 0 : 1]);
      }
      if (c != nullptr && c->transparent) {
        SetTextColor(dc, c->color);
        SetBkMode(dc, TRANSPARENT);
        return reinterpret_cast<LRESULT>(background_ ? background_
                                                     : GetSysColorBrush(COLOR_BTNFACE));
      }
      if (background_ != nullptr) {
        SetBkColor(dc, kPlainBackground);
        return reinterpret_cast<LRESULT>(background_);
      }
      break;
    }
    case WM_ERASEBKGND:
      if (background_ != nullptr) {
        RECT r;
        GetClientRect(hwnd_, &r);
        FillRect(reinterpret_cast<HDC>(wParam), &r, background_);
        return 1;
      }
      break;
    case WM_SETCURSOR:
      if (waitCursor_ && LOWORD(lParam) == HTCLIENT) {
        SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_WAIT)));
        return TRUE;
      }
      break;
    case WM_CLOSE:
      host_.OnClose(form_);  // the host decides; the window may be gone afterwards
      return 0;
    default:
      break;
  }
  return DefWindowProcW(hwnd_, msg, wParam, lParam);
}

}  // namespace updater::win32
