#include "serverset/frmServerSet.h"

#include "protocol/Exchange.h"
#include "protocol/Probes.h"

namespace updater {

bool frmServerSet::CheckSStatus(const std::string& lcWEB) {
  return protocol::Probe(pf_, lcWEB, protocol::kPageCheckServerStatus);
}

}  // namespace updater
