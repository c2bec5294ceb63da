#pragma once
// A scratch folder per test, reached both through the core's paths and the host's own means.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "contract/env.h"

namespace contract {

class ContractTest : public testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  updater::Platform& pf() { return TheEnv().platform(); }
  bool windows() const { return TheEnv().IsWindows(); }

  // The core path of rel (backslash-separated) inside the scratch folder.
  std::string P(const std::string& rel) const { return rel.empty() ? root_ : root_ + "\\" + rel; }
  std::filesystem::path Host(const std::string& rel) const { return TheEnv().Host(P(rel)); }
  // The host path as UTF-8 text, for handing to a started program.
  std::string HostText(const std::string& rel) const;

  void Write(const std::string& rel, const std::string& bytes);
  std::optional<std::string> Read(const std::string& rel) const;
  void MakeDirs(const std::string& rel);
  bool IsFile(const std::string& rel) const;
  bool IsDir(const std::string& rel) const;
  bool Exists(const std::string& rel) const;
  // Every entry below rel, as sorted relative paths with "/" and a trailing "/" for folders.
  std::vector<std::string> Tree(const std::string& rel) const;

  std::string root_;
};

}  // namespace contract
