#include "platform/posix/console_ui.h"

namespace updater::posix {

void ConsoleUiHost::MsgBox(const std::string& text, ports::MsgIcon icon, const std::string& title) {
  const char* word = icon == ports::MsgIcon::Error     ? " (error)"
                     : icon == ports::MsgIcon::Warning ? " (warning)"
                                                       : "";
  std::fprintf(out_, "[%s]%s %s\n", title.c_str(), word, text.c_str());
  std::fflush(out_);
}

}  // namespace updater::posix
