#pragma once
// What the contract suite needs of a backend: its ports, and a way to reach the files that the
// core's paths name, so that tests can lay out and inspect folders with the host's own means.

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "ports/platform.h"

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
  // Makes an empty local database project.mdb in folder (a core path), openable with the
  // program's connection string. Returns "" when made, else why this backend cannot (its
  // database cases are then skipped).
  virtual std::string CreateTestDatabase(const std::string& folder) = 0;

  // The reference update server the network tests talk to: its base address ("" when this run
  // has none), and the host path of its data folder, whose files set up each case.
  virtual std::string ServerUrl() = 0;
  virtual std::filesystem::path ServerData() = 0;
  // A network port of this backend with other time-outs, for cases that must not wait 30 s.
  virtual std::unique_ptr<updater::ports::Net> NewNet(std::chrono::milliseconds connect,
                                                      std::chrono::milliseconds total) = 0;
  // A download port of this backend with another stall limit, for cases that must not wait 60 s.
  virtual std::unique_ptr<updater::ports::FileIO> NewFileIO(std::chrono::milliseconds stall) = 0;

  // The same server over https ("" when this run has none), with a certificate for the name
  // localhost from a test authority; and ports of this backend that trust that authority, which
  // the product's own ports never do by any switch of theirs.
  virtual std::string SecureServerUrl() = 0;
  virtual std::unique_ptr<updater::ports::Net> NewTrustingNet() = 0;
  virtual std::unique_ptr<updater::ports::FileIO> NewTrustingFileIO() = 0;

  // This backend's support log of programFolder, written into folder (both core paths) instead
  // of the user's own folder.
  virtual std::unique_ptr<updater::ports::SupportLog> NewSupportLog(
      const std::string& programFolder, const std::string& folder) = 0;
};

Env& TheEnv();

}  // namespace contract
