#include "helpers/SupportLog.h"

#include <cstdlib>

namespace updater::SupportLog {

void Write(Platform& pf, const std::string& text) {
  if (pf.log != nullptr) pf.log->Write(text);
}

std::string Error(int number, const std::string& description) {
  return "error " + std::to_string(number) + ": " + description;
}

Session::Session(Platform& pf, ports::SupportLog& log, const std::string& version)
    : pf_(pf), ui_(*pf.ui) {
  pf_.log = &log;
  pf_.ui = this;
  Write(pf_, "start: autoupdate " + version + ", program folder " + pf_.system->ProgramFolder());
}

Session::~Session() {
  Write(pf_, "end");
  pf_.ui = &ui_;
  pf_.log = nullptr;
}

void Session::MsgBox(const std::string& text, ports::MsgIcon icon, const std::string& title) {
  Write(pf_, "message box [" + title + "]: " + text);
  ui_.MsgBox(text, icon, title);
}

void Session::Run() { ui_.Run(); }

void Session::End() {
  Write(pf_, "end");
  ui_.End();
  std::abort();  // not reached: the host ends the program
}

void Session::ReportRuntimeError(int number, const std::string& description) {
  Write(pf_, "run-time error report, " + Error(number, description) + "; end");
  ui_.ReportRuntimeError(number, description);
  std::abort();  // not reached: the host ends the program
}

}  // namespace updater::SupportLog
