#pragma once
// frmServerSet, the server-address dialog.

#include <string>

#include "platform/platform.h"
#include "ui/controls.h"

namespace updater {

class frmServerSet {
 public:
  explicit frmServerSet(Platform& pf) : pf_(pf) {}

  // The status probe on an address the user typed; shows nothing.
  bool CheckSStatus(const std::string& lcWEB);

 private:
  Platform& pf_;
};

}  // namespace updater
