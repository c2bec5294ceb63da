#include "upgrade/InstallJournal.h"

#include <algorithm>

#include "filesystem/CFileSystem.h"
#include "helpers/SupportLog.h"
#include "ports/errors.h"
#include "util/text.h"

namespace updater {

using Kind = ports::Files::Kind;

namespace {

std::string StripSeparators(std::string path) {
  while (path.size() > 1 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

bool Within(const std::string& path, const std::string& folder) {
  if (path.size() < folder.size() || !text::EqualsNoCase(path.substr(0, folder.size()), folder)) {
    return false;
  }
  return path.size() == folder.size() || path[folder.size()] == '\\';
}

bool IsNumber(const std::string& s) {
  return !s.empty() && s.size() < 10 && s.find_first_not_of("0123456789") == std::string::npos;
}

// Moved-aside files are numbered and kept a hundred to a folder: a file system that looks a new
// name up by reading its folder (as the posix stand-in does, to match without regard to case)
// would otherwise read one ever larger folder for every file.
constexpr long kPerFolder = 100;

std::string AsideFolder(long n) { return std::to_string(n / kPerFolder); }

bool IsAsideName(const std::string& s) {
  const std::size_t sep = s.find('\\');
  return sep != std::string::npos && IsNumber(s.substr(0, sep)) && IsNumber(s.substr(sep + 1));
}

// One line per entry: op, aside name and path, separated by tabs (no file name holds one).
std::string Serialize(const std::vector<InstallJournal::Entry>& entries) {
  std::string text;
  for (const auto& e : entries)
    text += std::string(1, e.op) + '\t' + e.aside + '\t' + e.path + '\n';
  return text;
}

// The complete lines of a journal; a line cut short by an updater that ended while writing it
// is not one, and neither is anything malformed.
std::vector<InstallJournal::Entry> Parse(const std::string& text) {
  std::vector<InstallJournal::Entry> entries;
  std::size_t pos = 0;
  for (std::size_t end; (end = text.find('\n', pos)) != std::string::npos; pos = end + 1) {
    const std::string line = text.substr(pos, end - pos);
    const std::size_t tab1 = line.find('\t');
    const std::size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
    if (tab1 != 1 || tab2 == std::string::npos || tab2 + 1 >= line.size()) continue;
    InstallJournal::Entry e{line[0], line.substr(2, tab2 - 2), line.substr(tab2 + 1)};
    if ((e.op == 'M' && IsAsideName(e.aside)) || (e.op == 'C' && e.aside.empty())) {
      entries.push_back(std::move(e));
    }
  }
  return entries;
}

void Remove(Platform& pf, const std::string& path) {
  switch (pf.files->KindOf(path)) {
    case Kind::None:
      return;
    case Kind::File:
      pf.io->Kill(path);
      return;
    case Kind::Folder:
      if (CFileSystem(pf).DelFolderOrFile(path) != 0) {
        throw RuntimeError(kErrPathFileAccess);
      }
      return;
  }
}

// Newest first, so that a path two copies touched ends as it was before the first. Each entry
// can be undone again without harm, so an undo that was itself cut short is simply repeated.
bool Undo(Platform& pf, const std::string& undoFolder,
          const std::vector<InstallJournal::Entry>& entries) {
  bool complete = true;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    try {
      if (it->op == 'C') {
        Remove(pf, it->path);
      } else {
        const std::string aside = undoFolder + "\\" + it->aside;
        if (pf.files->KindOf(aside) == Kind::None) continue;  // never moved, or back already
        Remove(pf, it->path);
        pf.files->Rename(aside, it->path);
      }
    } catch (const RuntimeError&) {
      complete = false;
    }
  }
  return complete;
}

}  // namespace

InstallJournal::InstallJournal(Platform& pf, const std::string& programFolder)
    : pf_(pf),
      programFolder_(programFolder),
      undo_(programFolder + "\\tmp.undo"),
      journalFile_(undo_ + "\\journal") {}

bool InstallJournal::Keep(const std::string& sourceFolder, const std::string& targetFolder) {
  if (!started_ && pf_.files->KindOf(undo_) != Kind::None) {
    Recover(pf_, programFolder_);
    // A restore that still cannot finish keeps its journal; a second one must not mix with it.
    if (pf_.files->KindOf(journalFile_) != Kind::None) {
      throw RuntimeError(kErrPathFileAccess);
    }
  }
  const std::string source = StripSeparators(sourceFolder);
  const std::string target = StripSeparators(targetFolder);
  std::vector<Entry> plan;
  if (pf_.files->KindOf(source) == Kind::Folder) {
    if (pf_.files->KindOf(target) == Kind::File || !Plan(source, target, source, plan)) {
      return false;
    }
  }
  if (plan.empty()) return true;
  if (!started_) Begin();
  for (Entry& e : plan) {
    if (e.op == 'M') {
      e.aside = AsideFolder(next_) + "\\" + std::to_string(next_);
      ++next_;
    }
  }
  entries_.insert(entries_.end(), plan.begin(), plan.end());
  Write();  // before anything moves
  const auto moved =
      std::count_if(plan.begin(), plan.end(), [](const Entry& e) { return e.op == 'M'; });
  SupportLog::Write(pf_, "journal: " + target + ": " + std::to_string(moved) +
                             " files to move aside, " + std::to_string(plan.size() - moved) +
                             " paths to create");
  for (const Entry& e : plan) {
    if (e.op != 'M') continue;
    const std::string folder = undo_ + "\\" + e.aside.substr(0, e.aside.find('\\'));
    if (folder != lastFolder_ && pf_.files->KindOf(folder) == Kind::None) {
      pf_.files->MakeFolder(folder);
    }
    lastFolder_ = folder;
    pf_.files->Rename(e.path, undo_ + "\\" + e.aside);
  }
  return true;
}

void InstallJournal::Begin() {
  if (pf_.files->KindOf(undo_) == Kind::None) {
    pf_.files->MakeFolder(undo_);
  } else {
    // Files still held open when an earlier installation ended keep their folders.
    for (const std::string& name : pf_.files->ListFolders(undo_)) {
      if (IsNumber(name)) next_ = std::max(next_, (std::stol(name) + 1) * kPerFolder);
    }
  }
  started_ = true;
}

bool InstallJournal::Plan(const std::string& source, const std::string& target,
                          const std::string& root, std::vector<Entry>& plan) {
  // A package that would copy into its own source or into the undo folder is not installed.
  if (Within(target, root) || Within(target, undo_)) {
    throw RuntimeError(kErrPathFileAccess);
  }
  const auto checked = [](const std::string& name) {
    if (name.find_first_of("\t\r\n") != std::string::npos) {
      throw RuntimeError(kErrBadFileName);
    }
    return name;
  };
  std::vector<std::string> existing;
  bool listed = false;
  for (const std::string& name : pf_.files->ListFiles(source)) {
    const std::string path = target + "\\" + checked(name);
    switch (pf_.files->KindOf(path)) {
      case Kind::None:
        plan.push_back({'C', "", path});
        break;
      case Kind::File: {
        // Moved back later under the name it has now, whatever the letter case in the package.
        if (!listed) existing = pf_.files->ListFiles(target), listed = true;
        std::string actual = name;
        for (const std::string& e : existing) {
          if (text::EqualsNoCase(e, name)) actual = e;
        }
        plan.push_back({'M', "", target + "\\" + checked(actual)});
        break;
      }
      case Kind::Folder:
        return false;
    }
  }
  for (const std::string& name : pf_.files->ListFolders(source)) {
    const std::string path = target + "\\" + checked(name);
    switch (pf_.files->KindOf(path)) {
      case Kind::None:
        plan.push_back({'C', "", path});
        break;
      case Kind::Folder:
        if (!Plan(source + "\\" + name, path, root, plan)) return false;
        break;
      case Kind::File:
        return false;
    }
  }
  return true;
}

void InstallJournal::Write() {
  auto file = pf_.io->OpenBinary(journalFile_);
  file->Write(Serialize(entries_));  // the text only grows, so no longer file is left behind
  file->Close();
}

bool InstallJournal::RollBack() {
  if (!started_) return true;
  if (Undo(pf_, undo_, entries_)) {
    SupportLog::Write(pf_, "journal: rolled back, everything put back");
    Forget();
    return true;
  }
  SupportLog::Write(pf_, "journal: rolled back in part; the journal stays for the next start");
  if (sealed_) {
    try {
      Write();
      sealed_ = false;
    } catch (const RuntimeError&) {
    }
  }
  return false;
}

void InstallJournal::Seal() {
  if (!started_) return;
  if (pf_.files->KindOf(journalFile_) != Kind::None) pf_.io->Kill(journalFile_);
  sealed_ = true;
  SupportLog::Write(pf_, "journal: sealed, the copies stand");
}

void InstallJournal::Finish(bool succeeded) {
  if (!started_) return;
  if (succeeded) {
    SupportLog::Write(pf_, "journal: done, the files moved aside are removed");
    Forget();
  } else {
    RollBack();
  }
}

void InstallJournal::Forget() {
  try {
    if (pf_.files->KindOf(journalFile_) != Kind::None) pf_.io->Kill(journalFile_);
  } catch (const RuntimeError&) {
  }
  CFileSystem(pf_).DelFolderOrFile(undo_);  // what is held open goes at the next start
  entries_.clear();
  lastFolder_.clear();
  started_ = false;
  sealed_ = false;
}

void InstallJournal::Recover(Platform& pf, const std::string& programFolder) {
  const std::string undo = programFolder + "\\tmp.undo";
  const std::string journal = undo + "\\journal";
  try {
    if (pf.files->KindOf(undo) != Kind::Folder) return;
    if (pf.files->KindOf(journal) == Kind::File) {
      const auto entries = Parse(pf.io->ReadAll(journal));
      SupportLog::Write(pf, "journal: an installation ended midway; putting back " +
                                std::to_string(entries.size()) + " entries");
      if (!Undo(pf, undo, entries)) {
        SupportLog::Write(pf, "journal: not everything could be put back; trying again next start");
        return;
      }
      pf.io->Kill(journal);
      SupportLog::Write(pf, "journal: put back");
    }
    CFileSystem(pf).DelFolderOrFile(undo);
  } catch (const RuntimeError& e) {
    SupportLog::Write(pf, "journal: recovery stopped, " + SupportLog::Error(e));
  }
}

}  // namespace updater
