#pragma once
// A window system that shows nothing, so a benchmark measures the work and not the console.

#include <cstdio>
#include <cstdlib>
#include <string>

#include "ports/ui.h"

class QuietUi : public updater::ports::UiHost {
 public:
  void DoEvents() override { ++events; }
  void MsgBox(const std::string& text, updater::ports::MsgIcon, const std::string&) override {
    std::fprintf(stderr, "message: %s\n", text.c_str());
  }
  void Show(updater::ui::Form&) override {}
  void ShowModal(updater::ui::Form&) override {}
  void Unload(updater::ui::Form&) override {}
  void Run() override {}
  [[noreturn]] void End() override { std::exit(0); }
  [[noreturn]] void ReportRuntimeError(int number, const std::string& text) override {
    std::fprintf(stderr, "run-time error %d: %s\n", number, text.c_str());
    std::exit(1);
  }
  updater::ports::DateTime Now() override { return {2024, 1, 1, 0, 0, 0}; }

  long events = 0;
};
