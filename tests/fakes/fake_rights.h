#pragma once
// A fake of the rights port: writes are refused in the folders listed, the elevated run ends as
// scripted, and ending for the client throws ProgramEnded as ending the program does.

#include <set>
#include <string>
#include <vector>

#include "fakes/fake_ui.h"
#include "ports/rights.h"

namespace fakes {

class FakeRights : public updater::ports::Rights {
 public:
  bool startedForElevation = false;
  bool elevated = false;
  std::set<std::string> denied;
  updater::ports::ElevatedRun answer = updater::ports::ElevatedRun::NotStarted;

  std::vector<std::string> probes;
  int requests = 0;
  bool endedForClient = false;

  bool StartedForElevation() override { return startedForElevation; }
  bool IsElevated() override { return elevated; }
  bool WriteDenied(const std::string& folder) override {
    probes.push_back(folder);
    return denied.count(folder) > 0;
  }
  updater::ports::ElevatedRun RunElevated() override {
    ++requests;
    return answer;
  }
  [[noreturn]] void EndForClient() override {
    endedForClient = true;
    throw FakeUi::ProgramEnded();
  }
};

}  // namespace fakes
