#include "protocol/Probes.h"

#include "helpers/SupportLog.h"
#include "protocol/Exchange.h"

namespace updater::protocol {

bool Probe(Platform& pf, const std::string& lcWEB, const char* page,
           const std::function<void(bool transportOk)>& onTransport) {
  bool result = false;
  if (lcWEB.empty()) return false;  // nothing is sent and nothing changes
  pf.ui->DoEvents();

  Exchange exchange(pf);
  exchange.Post(lcWEB + page, GreetingRequest());
  if (!exchange.TransportFailed()) {
    exchange.TakeReply();
    result = true;
    if (onTransport) onTransport(true);
  } else {
    SupportLog::Write(
        pf, "probe " + lcWEB + page + ": no answer, " + SupportLog::Error(exchange.error));
    if (onTransport) onTransport(false);
    exchange.DropReply();
    exchange.error.Clear();
  }
  // The reply test: only a root element matters, not what the reply says.
  exchange.Lookup("error");
  if (exchange.error.IsSet()) {
    if (result) {
      SupportLog::Write(pf, "probe " + lcWEB + page + ": the answer is no XML document, " +
                                SupportLog::Error(exchange.error));
    }
    exchange.error.Clear();
    result = false;
  }
  if (result) SupportLog::Write(pf, "probe " + lcWEB + page + ": answered");
  return result;
}

}  // namespace updater::protocol
