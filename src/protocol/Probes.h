#pragma once
// The probes: does the server at an address answer a greeting with an XML document?

#include <functional>
#include <string>

#include "ports/platform.h"

namespace updater::protocol {

// Runs the greeting exchange against lcWEB + page. onTransport, when given, is told right after
// the transport test whether the POST went through (the upgrade window shows it). True when the
// address is not empty, the POST went through and the reply has a root element.
bool Probe(Platform& pf, const std::string& lcWEB, const char* page,
           const std::function<void(bool transportOk)>& onTransport = {});

}  // namespace updater::protocol
