#include "backends/posix/ui.h"

#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <type_traits>

namespace updater::posix {

namespace {

constexpr auto kProgressInterval = std::chrono::milliseconds(250);

// The text a control shows, and whether it is a progress bar.
std::string TextOf(const ui::ControlModel& model, bool& progress) {
  progress = false;
  return std::visit(
      [&progress](auto* c) -> std::string {
        using T = std::remove_pointer_t<decltype(c)>;
        if constexpr (std::is_same_v<T, ui::Label> || std::is_same_v<T, ui::CommandButton>) {
          return c->Caption;
        } else if constexpr (std::is_same_v<T, ui::TextBox>) {
          return c->Text;
        } else if constexpr (std::is_same_v<T, ui::CheckBox>) {
          return std::to_string(c->Value);
        } else if constexpr (std::is_same_v<T, ui::ProgressBar>) {
          progress = true;
          return std::to_string(c->Value) + "/" + std::to_string(c->Max);
        } else {
          return std::to_string(c->List.size()) + " rows";
        }
      },
      model);
}

}  // namespace

bool ConsoleUiHost::IsLoaded(const ui::Form& form) const {
  return std::any_of(loaded_.begin(), loaded_.end(),
                     [&form](const Loaded& l) { return l.form == &form; });
}

void ConsoleUiHost::Report(bool progressDue) {
  for (Loaded& l : loaded_) {
    for (const ui::ControlLayout& c : l.form->Layout()) {
      bool progress = false;
      const std::string text = TextOf(c.model, progress);
      auto it = l.shown.find(c.name);
      if (it != l.shown.end() && it->second == text) continue;
      if (progress && !progressDue && it != l.shown.end()) continue;
      const bool first = it == l.shown.end();
      l.shown[c.name] = text;
      if (first) {
        l.written.erase(c.name);
      } else {
        std::fprintf(err_, "%s.%s: %s\n", l.form->Name().c_str(), c.name.c_str(), text.c_str());
        l.written.insert(c.name);
      }
    }
  }
  std::fflush(err_);
}

void ConsoleUiHost::ReportAppearance(Loaded& l) {
  Report(true);
  for (const ui::ControlLayout& c : l.form->Layout()) {
    bool progress = false;
    const std::string text = TextOf(c.model, progress);
    auto* const* list = std::get_if<ui::ListBox*>(&c.model);
    auto* const* label = std::get_if<ui::Label*>(&c.model);
    const bool unseen = c.hidden || text.empty() || (list != nullptr && (*list)->List.empty()) ||
                        (label != nullptr && !(*label)->Visible);
    if (unseen || l.written.count(c.name) != 0) continue;
    std::fprintf(err_, "%s.%s: %s\n", l.form->Name().c_str(), c.name.c_str(), text.c_str());
    l.written.insert(c.name);
  }
  std::fflush(err_);
}

void ConsoleUiHost::DoEvents() {
  const auto now = std::chrono::steady_clock::now();
  const bool due = now - lastProgress_ >= kProgressInterval;
  if (due) lastProgress_ = now;
  Report(due);
}

void ConsoleUiHost::MsgBox(const std::string& text, ports::MsgIcon icon, const std::string& title) {
  Report(true);
  const char* word = icon == ports::MsgIcon::Error     ? " (error)"
                     : icon == ports::MsgIcon::Warning ? " (warning)"
                                                       : "";
  std::fprintf(out_, "[%s]%s %s\n", title.c_str(), word, text.c_str());
  std::fflush(out_);
}

void ConsoleUiHost::Show(ui::Form& form) {
  if (!IsLoaded(form)) {
    loaded_.push_back({&form, {}, {}});
    form.OnDestroy = [this](ui::Form* gone) {
      loaded_.erase(std::remove_if(loaded_.begin(), loaded_.end(),
                                   [gone](const Loaded& l) { return l.form == gone; }),
                    loaded_.end());
    };
    Report(true);  // the initial state is not a change
    form.Form_Load();
  }
  if (IsLoaded(form)) {
    form.Form_Activate();
    // The window appears now, showing what its controls hold, whether or not they changed.
    for (Loaded& l : loaded_)
      if (l.form == &form) ReportAppearance(l);
  }
}

bool ConsoleUiHost::ReadLine(std::string& line) {
  line.clear();
  int c = 0;
  bool any = false;
  while ((c = std::fgetc(in_)) != EOF) {
    any = true;
    if (c == '\n') return true;
    line.push_back(static_cast<char>(c));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return any;
}

void ConsoleUiHost::Press(ui::Form& form, const std::string& line, bool hasLine) {
  std::string button;
  for (const ui::ControlLayout& c : form.Layout()) {
    if (c.hidden) continue;
    if (auto* box = std::get_if<ui::TextBox*>(&c.model); box != nullptr && hasLine) {
      (*box)->Text = line;
      hasLine = false;
    }
    if (button.empty() && std::holds_alternative<ui::CommandButton*>(c.model)) button = c.name;
  }
  if (!button.empty()) form.Click(button);
}

void ConsoleUiHost::ShowModal(ui::Form& form) {
  Show(form);
  std::string line;
  while (IsLoaded(form)) {
    if (!ReadLine(line)) {
      Unload(form);  // end of input closes the window
      break;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Press(form, line, true);
    Report(true);
  }
}

void ConsoleUiHost::Unload(ui::Form& form) {
  if (!IsLoaded(form)) return;
  Report(true);
  loaded_.erase(std::remove_if(loaded_.begin(), loaded_.end(),
                               [&form](const Loaded& l) { return l.form == &form; }),
                loaded_.end());
  form.OnDestroy = nullptr;
  form.Form_Unload();
}

void ConsoleUiHost::Run() {
  std::string line;
  while (!loaded_.empty()) {
    if (!ReadLine(line)) End();  // closing the last window ends the program
    // A line presses the button of the window shown last.
    Press(*loaded_.back().form, line, false);
    Report(true);
  }
  End();
}

void ConsoleUiHost::End() {
  Report(true);
  std::fflush(nullptr);
  ::_exit(0);
}

void ConsoleUiHost::ReportRuntimeError(int number, const std::string& description) {
  Report(true);
  std::fprintf(out_, "[自动更新] (error) 运行时错误 '%d'：%s\n", number, description.c_str());
  std::fflush(nullptr);
  ::_exit(1);
}

ports::DateTime ConsoleUiHost::Now() {
  const std::time_t t = std::time(nullptr);
  std::tm tm{};
  ::localtime_r(&t, &tm);
  return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

}  // namespace updater::posix
