#pragma once
// Window events and start-up trap nothing themselves: an error that reaches them ends the
// program with the run-time error report.

#include "ports/errors.h"
#include "ports/platform.h"

namespace updater::ui {

template <class F>
void RunEvent(Platform& pf, F&& handler) {
  try {
    handler();
  } catch (const RuntimeError& e) {
    pf.ui->ReportRuntimeError(e.number(), e.description());
  }
}

}  // namespace updater::ui
