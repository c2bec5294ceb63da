#pragma once
// The Win32 window of one loaded form, built from the form's layout: a top-level window with a
// child control per control model. It copies the models into the controls (only what changed)
// and what the user typed back into the models; clicks and the close box go to the host.

#include <string>
#include <vector>

#include "backends/win32/windows_api.h"
#include "ports/form.h"

namespace updater::win32 {

class Win32UiHost;

class FormWindow {
 public:
  // Creates the window and its controls, not yet visible.
  FormWindow(ui::Form& form, Win32UiHost& host);
  ~FormWindow();
  FormWindow(const FormWindow&) = delete;
  FormWindow& operator=(const FormWindow&) = delete;

  HWND hwnd() const { return hwnd_; }
  ui::Form& form() const { return form_; }
  bool Visible() const;

  // Sizes the window from the form, centres it on the screen, shows and paints it.
  void ShowCentred();
  // Client size and control positions from the form's current layout.
  void Relayout();
  // Brings every control in step with its model; progress bars only when progressDue, since
  // the download changes them after every chunk.
  void Refresh(bool progressDue);
  // Copies the texts of the edit boxes into their models.
  void ReadBack();

  // True for the windows of this class (the message loops route their keys through the dialog
  // manager, for Tab between the controls).
  static bool IsFormWindow(HWND hwnd);

  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);

 private:
  struct Control {
    std::string name;
    ui::ControlModel model;
    bool hidden = false;
    HWND hwnd = nullptr;
    // What the control shows now, to write only what changed.
    std::string text;
    std::vector<std::string> rows;
    int value = 0, min = 0, max = 0, listIndex = -1;
    bool visible = true, enabled = true;
    int left = 0, top = 0, width = 0, height = 0;
    // The look of a few particular controls.
    COLORREF color = 0;
    bool lamp = false, transparent = false, ownFont = false;
  };

  void CreateControls();
  void Place(Control& c, const ui::ControlLayout& l);
  Control* ControlOf(HWND child);
  int Px(int twips) const;
  void ApplyClientSize();
  // The text a control shows, as UTF-8.
  static std::string TextOf(HWND hwnd);

  ui::Form& form_;
  Win32UiHost& host_;
  HWND hwnd_ = nullptr;
  int dpi_ = 96;
  int clientWidth_ = 0, clientHeight_ = 0;  // twips
  std::vector<Control> controls_;
  HFONT font_ = nullptr;
  HFONT labelFont_ = nullptr;
  HBRUSH background_ = nullptr;
  HBRUSH lampBrushes_[2] = {nullptr, nullptr};
  bool waitCursor_ = false;
  bool plain_ = false;  // a popup without caption bar
};

}  // namespace updater::win32
