#include "startup/frmPleaseWait.h"

#include "util/text.h"

namespace updater {

void frmPleaseWait::SetWaitMessage(const std::string& pcMsg) {
  const std::string text = text::TrimSpaces(pcMsg);
  if (text.empty()) return;
  Label1.Caption = text;
}

void frmPleaseWait::Form_Load() {
  WindowState = vbNormal;
  MousePointer = vbHourglass;
}

void frmPleaseWait::Form_Activate() {
  if (WindowState != vbMaximized && WindowState != vbMinimized) {
    Width = 2 * Label1Left + Label1Width;
  }
  Label1Left = 600;
}

void frmPleaseWait::Form_Unload() { MousePointer = vbDefault; }

}  // namespace updater
