// Bringing the controls of a form window in step with their models, and back: only what changed
// is written, since the download changes the progress bar after every chunk.
#include "backends/win32/form_window.h"

#include <commctrl.h>

#include <type_traits>
#include <variant>

#include "backends/win32/ansi.h"

namespace updater::win32 {

void FormWindow::Refresh(bool progressDue) {
  if (hwnd_ == nullptr) return;
  for (Control& c : controls_) {
    auto setText = [&](const std::string& text) {
      if (text == c.text) return;
      c.text = text;
      SetWindowTextW(c.hwnd, Utf8ToWide(text).c_str());
      if (c.transparent) {
        // The old text is only wiped out by the window's background under it.
        RECT r;
        GetWindowRect(c.hwnd, &r);
        MapWindowPoints(nullptr, hwnd_, reinterpret_cast<POINT*>(&r), 2);
        RedrawWindow(hwnd_, &r, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
      }
    };
    auto setVisible = [&](bool visible) {
      if (visible == c.visible) return;
      c.visible = visible;
      if (!c.hidden) ShowWindow(c.hwnd, visible ? SW_SHOWNA : SW_HIDE);
    };
    std::visit(
        [&](auto* m) {
          using T = std::remove_pointer_t<decltype(m)>;
          if constexpr (std::is_same_v<T, ui::Label>) {
            setText(m->Caption);
            setVisible(m->Visible);
          } else if constexpr (std::is_same_v<T, ui::TextBox>) {
            setText(m->Text);
          } else if constexpr (std::is_same_v<T, ui::CheckBox>) {
            if (m->Value != c.value) {
              c.value = m->Value;
              SendMessageW(c.hwnd, BM_SETCHECK, m->Value != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
            }
          } else if constexpr (std::is_same_v<T, ui::ProgressBar>) {
            if (!progressDue) return;
            if (m->Min != c.min || m->Max != c.max) {
              c.min = m->Min;
              c.max = m->Max;
              SendMessageW(c.hwnd, PBM_SETRANGE32, static_cast<WPARAM>(m->Min), m->Max);
              c.value = m->Min - 1;  // the control may have clamped its position
            }
            if (m->Value != c.value) {
              c.value = m->Value;
              SendMessageW(c.hwnd, PBM_SETPOS, static_cast<WPARAM>(m->Value), 0);
            }
          } else if constexpr (std::is_same_v<T, ui::ListBox>) {
            if (m->List != c.rows) {
              c.rows = m->List;
              SendMessageW(c.hwnd, LB_RESETCONTENT, 0, 0);
              for (const std::string& row : m->List) {
                SendMessageW(c.hwnd, LB_ADDSTRING, 0,
                             reinterpret_cast<LPARAM>(Utf8ToWide(row).c_str()));
              }
              c.listIndex = -2;  // the selection went with the old rows
            }
            if (m->ListIndex != c.listIndex) {
              c.listIndex = m->ListIndex;
              SendMessageW(c.hwnd, LB_SETCURSEL, static_cast<WPARAM>(m->ListIndex), 0);
            }
          } else {
            setText(m->Caption);
            if (m->Enabled != c.enabled) {
              c.enabled = m->Enabled;
              EnableWindow(c.hwnd, m->Enabled ? TRUE : FALSE);
            }
          }
        },
        c.model);
  }
}

void FormWindow::ReadBack() {
  for (Control& c : controls_) {
    if (auto* box = std::get_if<ui::TextBox*>(&c.model)) {
      c.text = TextOf(c.hwnd);
      (*box)->Text = c.text;
    }
  }
}

}  // namespace updater::win32
