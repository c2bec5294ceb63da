// A release as the publisher describes it, checked against what the clients can take, and the
// replies of the four pages that announce it.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace publish {

enum class Encoding { kUtf8, kGbk };

struct Release {
  std::string version;  // version_no: any difference from a client's record means "install"
  std::string time;     // update_time: the other half of what identifies a release
  std::string comment;  // soft_cmt
  std::string servers;  // lcserverurl: "address^^name||address^^name", empty for none
  std::string prefix;   // the item_id of item sites, empty for a site at the root
  Encoding encoding = Encoding::kUtf8;
};

// One problem per entry, in words for the publisher; empty when the release can be published.
std::vector<std::string> Check(const Release& release);

// Reads "key=value" lines (version, time, comment, servers); blanks around keys and values are
// dropped, blank lines and lines starting with '#' are skipped. Problems go to `problems`; keys
// present are returned.
std::map<std::string, std::string> ParseDescription(std::string_view text,
                                                    std::vector<std::string>& problems);

struct Page {
  std::string path;   // relative to the site, '/' between folders, with the prefix
  std::string bytes;  // in the release's encoding
};

// The four pages. Only for a release that Check accepts.
std::vector<Page> Pages(const Release& release);

// Folder of the package relative to the site, with the prefix: "[prefix/]uploads/soft".
std::string PackageFolder(const Release& release);

// UTF-8 to GBK; nullopt when a character has no GBK form.
std::optional<std::string> ToGbk(std::string_view utf8);

}  // namespace publish
