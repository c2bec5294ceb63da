#include "backends/posix/ui.h"

#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <type_traits>

namespace updater::posix {

namespace {

constexpr auto kProgressInterval = std::chrono::milliseconds(250);

// The text a control shows: the string it holds (labels, buttons, text boxes), else one made from
// its numbers. Held strings are compared where they are, not copied.
class Shown {
 public:
  explicit Shown(const ui::ControlModel& model) {
    std::visit(
        [this](auto* c) {
          using T = std::remove_pointer_t<decltype(c)>;
          if constexpr (std::is_same_v<T, ui::Label> || std::is_same_v<T, ui::CommandButton>) {
            held_ = &c->Caption;
          } else if constexpr (std::is_same_v<T, ui::TextBox>) {
            held_ = &c->Text;
          } else if constexpr (std::is_same_v<T, ui::CheckBox>) {
            made_ = std::to_string(c->Value);
          } else if constexpr (std::is_same_v<T, ui::ProgressBar>) {
            made_ = std::to_string(c->Value) + "/" + std::to_string(c->Max);
          } else {
            made_ = std::to_string(c->List.size()) + " rows";
          }
        },
        model);
  }
  const std::string& text() const { return held_ != nullptr ? *held_ : made_; }

 private:
  const std::string* held_ = nullptr;
  std::string made_;
};

}  // namespace

bool ConsoleUiHost::IsLoaded(const ui::Form& form) const {
  return std::any_of(loaded_.begin(), loaded_.end(),
                     [&form](const Loaded& l) { return l.form == &form; });
}

void ConsoleUiHost::Report(bool progressDue) {
  for (Loaded& l : loaded_) {
    for (std::size_t i = 0; i < l.layout.size(); ++i) {
      const ui::ControlLayout& c = l.layout[i];
      std::optional<std::string>& known = l.shown[i];
      if (known && !progressDue && std::holds_alternative<ui::ProgressBar*>(c.model)) continue;
      const Shown shown(c.model);
      const std::string& text = shown.text();
      if (known && *known == text) continue;
      const bool first = !known;
      known = text;
      if (first) {
        l.written[i] = false;
      } else {
        std::fprintf(err_, "%s.%s: %s\n", l.form->Name().c_str(), c.name.c_str(), text.c_str());
        l.written[i] = true;
      }
    }
  }
  std::fflush(err_);
}

void ConsoleUiHost::ReportAppearance(Loaded& l) {
  Report(true);
  for (std::size_t i = 0; i < l.layout.size(); ++i) {
    const ui::ControlLayout& c = l.layout[i];
    const std::string text = Shown(c.model).text();
    auto* const* list = std::get_if<ui::ListBox*>(&c.model);
    auto* const* label = std::get_if<ui::Label*>(&c.model);
    const bool unseen = c.hidden || text.empty() || (list != nullptr && (*list)->List.empty()) ||
                        (label != nullptr && !(*label)->Visible);
    if (unseen || l.written[i]) continue;
    std::fprintf(err_, "%s.%s: %s\n", l.form->Name().c_str(), c.name.c_str(), text.c_str());
    l.written[i] = true;
  }
  std::fflush(err_);
}

void ConsoleUiHost::DoEvents() {
  const auto now = std::chrono::steady_clock::now();
  const bool due = now - lastProgress_ >= kProgressInterval;
  if (due) lastProgress_ = now;
  Report(due);
  // A second start during the automatic run: what the hidden window shows appears on the
  // console, as it would appear on the screen.
  if (due && showRequested_ && showRequested_()) {
    for (Loaded& l : loaded_) ReportAppearance(l);
  }
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
    std::vector<ui::ControlLayout> layout = form.Layout();
    const std::size_t count = layout.size();
    loaded_.push_back({&form, std::move(layout), std::vector<std::optional<std::string>>(count),
                       std::vector<bool>(count, false)});
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
