#pragma once
// What the contract suite needs of a backend: its ports, and a way to reach the files that the
// core's paths name, so that tests can lay out and inspect folders with the host's own means.

#include <filesystem>
#include <string>

#include "platform/platform.h"

namespace contract {

class Env {
 public:
  virtual ~Env() = default;
  virtual updater::Platform& platform() = 0;
  // The host path of a path written the way the core writes it.
  virtual std::filesystem::path Host(const std::string& corePath) = 0;
  // A core path of a new, empty folder for one test (removed by the fixture).
  virtual std::string NewScratchFolder() = 0;
  // The core path of the child program that process tests start.
  virtual std::string ChildProgram() = 0;
  virtual bool IsWindows() const = 0;
};

Env& TheEnv();

}  // namespace contract
