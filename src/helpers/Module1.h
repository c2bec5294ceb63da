#pragma once
// Module1: the platform helpers the rest of the program uses. They hold no state.

#include <cstdint>
#include <optional>
#include <string>

#include "ports/platform.h"

namespace updater::Module1 {

// True when the process is a 32-bit process on 64-bit Windows.
bool IsWow64(Platform& pf);

// The folder for 32-bit system components, without trailing separator ("C:\Windows\SysWOW64").
std::string GetSystemFolder(Platform& pf);

// Starts commandLine hidden and waits for its end without a time limit. Returns the exit code of
// the program, or nothing when its process could not be opened (then it returns at once).
// Throws RuntimeError when the command line cannot be started.
std::optional<std::uint32_t> RunAndWait(Platform& pf, const std::string& commandLine);

// The value of key in section of iniFile, cut to 255 bytes; "" when anything is missing.
std::string ReadIniValue(Platform& pf, const std::string& iniFile, const std::string& section,
                         const std::string& key);

// Writes the value when iniFile exists (true); false, and nothing written, when it does not.
bool WriteIniValue(Platform& pf, const std::string& iniFile, const std::string& section,
                   const std::string& key, const std::string& value);

}  // namespace updater::Module1
