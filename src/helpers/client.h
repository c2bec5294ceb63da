#pragma once
// The command line that starts the client: its image in the program folder, started as a
// program despite its extension. The path is quoted so that a program folder with blanks starts
// the client and nothing else; the trailing blank stays, as the client has always been started.

#include <string>

#include "util/text.h"

namespace updater {

inline std::string ClientCommandLine(const std::string& programFolder) {
  return text::Quoted(programFolder + "\\Trainova.dll") + " ";
}

}  // namespace updater
