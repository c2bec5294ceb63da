#pragma once
// Fakes of the component loader and the shortcut writer: calls are recorded, outcomes scripted.

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "ports/errors.h"
#include "ports/platform.h"

namespace fakes {

using namespace updater::ports;

class FakeComponents : public Components {
 public:
  std::map<std::string, EntryPointOutcome> outcomes;  // path -> outcome (default Finished)
  std::vector<std::string> calls;                     // "path|entry|timeout"
  EntryPointOutcome RunEntryPoint(const std::string& path, const std::string& entry,
                                  std::uint32_t timeoutMs) override {
    calls.push_back(path + "|" + entry + "|" + std::to_string(timeoutMs));
    auto it = outcomes.find(path);
    return it == outcomes.end() ? EntryPointOutcome::Finished : it->second;
  }
};

class FakeShortcuts : public Shortcuts {
 public:
  std::string desktop = "C:\\Users\\u\\Desktop";
  bool failDesktop = false, failSave = false;
  std::vector<std::pair<std::string, std::string>> saved;  // link, target
  std::string DesktopFolder() override {
    if (failDesktop) throw updater::RuntimeError(-2147024894, "no desktop");
    return desktop;
  }
  void SaveShortcut(const std::string& link, const std::string& target) override {
    if (failSave) throw updater::RuntimeError(-2147024891, "access denied");
    saved.emplace_back(link, target);
  }
};

}  // namespace fakes
