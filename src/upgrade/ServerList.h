#pragma once
// The text of a server-list reply: "address^^name||address^^name...".

#include <string>
#include <vector>

namespace updater {

struct ServerEntry {
  std::string address;
  std::string name;
};

// The entries in the order sent; an entry without both pieces is passed over.
std::vector<ServerEntry> SplitServerList(const std::string& listText);

}  // namespace updater
