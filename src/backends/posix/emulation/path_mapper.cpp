#include "backends/posix/emulation/path_mapper.h"

#include <algorithm>
#include <system_error>
#include <vector>

#include "util/text.h"

namespace updater::posix {

namespace fs = std::filesystem;

bool HasDriveLetter(std::string_view corePath) {
  return corePath.size() >= 2 && corePath[1] == ':' &&
         ((corePath[0] >= 'A' && corePath[0] <= 'Z') || (corePath[0] >= 'a' && corePath[0] <= 'z'));
}

PathMapper::PathMapper(fs::path programFolder) : programFolder_(std::move(programFolder)) {}

std::string PathMapper::MatchEntry(const fs::path& folder, const std::string& name) {
  std::error_code ec;
  if (fs::exists(fs::symlink_status(folder / name, ec))) return name;
  // Directory order is arbitrary; pick the smallest matching name so the choice is stable.
  std::string best;
  bool found = false;
  ForEachEntry(folder, [&](std::string_view entry) {
    if (text::EqualsNoCase(entry, name) && (!found || entry < best)) {
      best = entry;
      found = true;
    }
  });
  return found ? best : name;
}

fs::path PathMapper::Map(std::string_view corePath) const {
  std::string s(corePath);
  for (char& c : s) {
    if (c == '\\') c = '/';
  }
  fs::path out;
  std::size_t pos = 0;
  if (HasDriveLetter(s)) {
    out = programFolder_ / ("drive_" + text::AsciiLower(s.substr(0, 1)));
    pos = 2;
  } else if (!s.empty() && s[0] == '/') {
    out = "/";
    pos = 1;
  }

  std::vector<std::string> parts;
  while (pos <= s.size()) {
    const std::size_t next = std::min(s.find('/', pos), s.size());
    if (next > pos) parts.push_back(s.substr(pos, next - pos));
    pos = next + 1;
  }

  // Most paths, or at least their folders, exist as written; the walk below would then choose
  // each component as written too, so one look at the disk settles them (an installation maps
  // tens of thousands of paths).
  const bool plain = std::none_of(parts.begin(), parts.end(),
                                  [](const std::string& p) { return p == "." || p == ".."; });
  if (plain && !parts.empty()) {
    fs::path folder = out;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) folder /= parts[i];
    std::error_code ec;
    fs::path whole = folder / parts.back();
    if (fs::exists(fs::symlink_status(whole, ec))) return whole;
    if (parts.size() > 1 && fs::exists(fs::symlink_status(folder, ec))) {
      return folder / MatchEntry(folder, parts.back());
    }
  }

  // Once a component is missing, nothing below it exists: stop looking at the disk.
  bool onDisk = true;
  for (const std::string& part : parts) {
    if (part == "." || part == "..") {
      out /= part;
      continue;
    }
    if (onDisk) {
      const std::string matched = MatchEntry(out.empty() ? fs::path(".") : out, part);
      std::error_code ec;
      out /= matched;
      onDisk = fs::exists(fs::symlink_status(out, ec));
    } else {
      out /= part;
    }
  }
  if (out.empty()) out = ".";
  return out;
}

fs::path FolderEntries::Entry(const std::string& name) {
  if (!loaded_) {
    loaded_ = true;
    ForEachEntry(folder_, [&](std::string_view name) {
      const std::string entry(name);
      exact_.insert(entry);
      // The smallest of names that differ only in case, as MatchEntry chooses.
      auto [it, added] = folded_.emplace(text::AsciiLower(entry), entry);
      if (!added && entry < it->second) it->second = entry;
    });
  }
  if (exact_.count(name)) return folder_ / name;
  const auto [it, added] = folded_.emplace(text::AsciiLower(name), name);
  if (added) exact_.insert(name);
  return folder_ / it->second;
}

}  // namespace updater::posix
