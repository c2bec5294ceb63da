#pragma once
// GetPrivateProfileStringA and WritePrivateProfileStringA.

#include <cstddef>
#include <string>

#include "ports/system.h"

namespace updater::win32 {

class Win32ProfileStrings final : public ports::ProfileStrings {
 public:
  std::string GetString(const std::string& section, const std::string& key,
                        const std::string& defaultValue, std::size_t bufferSize,
                        const std::string& file) override;
  bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                   const std::string& file) override;
};

}  // namespace updater::win32
