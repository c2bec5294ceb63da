#include "upgrade/InstallJournal.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "helpers/SupportLog.h"
#include "ports/errors.h"
#include "settings/LocalDatabase.h"
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

// An undo folder whose journal cannot be read whole is kept; the next installation uses the
// next name. A bound, so that a folder that fills up with kept ones stops installing.
constexpr int kMaxUndoFolders = 20;

std::string UndoFolderName(long n) {
  std::string name = "tmp.undo";
  if (n > 1) name.append(".").append(std::to_string(n));
  return name;
}

// A name as Windows stores it: without trailing dots and blanks.
std::string Bare(std::string name) {
  while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.pop_back();
  return name;
}

// 1 for "tmp.undo", n for "tmp.undo.n", in any case; 0 for any other name.
long UndoFolderNumber(const std::string& name) {
  if (text::EqualsNoCase(name, "tmp.undo")) return 1;
  if (name.size() > 9 && text::EqualsNoCase(name.substr(0, 9), "tmp.undo.") &&
      IsNumber(name.substr(9))) {
    return std::max(1L, std::stol(name.substr(9)));
  }
  return 0;
}
bool IsUndoFolderName(const std::string& name) { return UndoFolderNumber(name) != 0; }

// The first component of a path inside the program folder names its temporary folder or an
// undo folder: the installation neither copies there nor puts anything back there.
bool IsReserved(const std::string& programFolder, const std::string& path) {
  if (!Within(path, programFolder) || path.size() == programFolder.size()) return false;
  const std::string rest = path.substr(programFolder.size() + 1);
  const std::string first = Bare(rest.substr(0, rest.find('\\')));
  return text::EqualsNoCase(first, "tmp") || IsUndoFolderName(first);
}

// The path of the entry's root, where root is a folder inside the program folder.
std::string RootFolder(const std::string& programFolder, const std::string& root) {
  return root.empty() ? programFolder : programFolder + "\\" + root;
}

// An entry with the path it names on this machine now.
std::vector<JournalEntry> Resolved(const std::string& programFolder,
                                   std::vector<JournalEntry> entries) {
  for (JournalEntry& e : entries) {
    if (e.root) e.path = RootFolder(programFolder, *e.root) + "\\" + e.path;
    e.root.reset();
  }
  return entries;
}

// The project numbers the program folder's database lists now; empty when it cannot be read.
std::vector<std::string> ListedProjects(Platform& pf, const std::string& programFolder) {
  std::vector<std::string> projects;
  try {
    auto conn = LocalDatabase::OpenConnection(pf, LocalDatabase::ConnectionString(programFolder));
    auto rs = LocalDatabase::PrepareRecordset(*conn);
    rs->Open(LocalDatabase::kSelectProjects);
    for (; !rs->IsEOF(); rs->MoveNext())
      projects.push_back(StripSeparators(rs->Field("project_No")));
  } catch (const RuntimeError& e) {
    SupportLog::Write(pf, "journal: the project list cannot be read, " + SupportLog::Error(e));
  }
  return projects;
}

// Why the journal in undo must not act on entry, or empty. An entry is honoured only when it
// names something inside the folder the journal sits in or inside a project folder that folder's
// database lists now, and its aside file lies in the undo folder: a journal copied along with
// its folder must not act on the original, nor a crafted one anywhere else.
class EntryCheck {
 public:
  EntryCheck(Platform& pf, const std::string& programFolder) : pf_(pf), P(programFolder) {}

  std::string FaultOf(const JournalEntry& entry) {
    std::string fault = AsideFault(entry);
    if (!fault.empty()) return fault;
    std::string root, relative;
    if (!entry.root) {
      // Written by an earlier version: absolute, and honoured inside this folder only.
      if (!Within(entry.path, P) || entry.path.size() == P.size()) {
        return "it names a path outside the folder the journal sits in";
      }
      relative = entry.path.substr(P.size() + 1);
    } else {
      root = *entry.root;
      relative = entry.path;
      if (!root.empty()) {
        fault = RelativePathFault(root);
        if (!fault.empty()) return "its root: " + fault;
        if (!Listed(root)) return "its root " + root + " is not a project of this folder";
      }
    }
    fault = RelativePathFault(relative);
    if (!fault.empty()) return fault;
    if (IsReserved(P, RootFolder(P, root) + "\\" + relative)) {
      return "it names the temporary folder or an undo folder";
    }
    return "";
  }

 private:
  bool Listed(const std::string& root) {
    if (!projects_) projects_ = ListedProjects(pf_, P);
    return std::any_of(projects_->begin(), projects_->end(),
                       [&](const std::string& p) { return text::EqualsNoCase(p, root); });
  }

  Platform& pf_;
  const std::string P;
  std::optional<std::vector<std::string>> projects_;
};

std::string Describe(const JournalEntry& e) {
  return std::string(1, e.op) + " " + (e.root ? "[" + *e.root + "] " : std::string()) + e.path;
}

// Newest first, so that a path two copies touched ends as it was before the first. Each entry
// can be undone again without harm, so an undo that was itself cut short is simply repeated.
bool Undo(Platform& pf, const std::string& undoFolder, const std::vector<JournalEntry>& entries) {
  bool complete = true;
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
    try {
      if (it->op == 'C') {
        pf.files->Remove(it->path);
      } else {
        const std::string aside = undoFolder + "\\" + it->aside;
        if (pf.files->KindOf(aside) == Kind::None) continue;  // never moved, or back already
        pf.files->Remove(it->path);
        pf.files->Rename(aside, it->path);  // with its own attributes
      }
    } catch (const RuntimeError&) {
      complete = false;
    }
  }
  return complete;
}

// The installation stood: what was moved aside goes, then the journal, then the folder.
void Commit(Platform& pf, const std::string& undoFolder, const std::vector<JournalEntry>& entries) {
  for (const JournalEntry& e : entries) {
    if (e.op == 'M') pf.files->Remove(undoFolder + "\\" + e.aside);
  }
}

// What a start found in an undo folder.
enum class Found {
  Done,        // nothing left, or what was left is finished now
  Kept,        // a journal that does not read whole or acts outside its folders: left as it is
  Unfinished,  // a journal that could not be completed yet (a file held open)
};

// One undo folder at start-up. Throws RuntimeError when something stays.
Found RecoverFolder(Platform& pf, const std::string& P, const std::string& undo) {
  const std::string journal = undo + "\\journal";
  switch (pf.files->KindOf(journal)) {
    case Kind::Folder:
      return Found::Kept;
    case Kind::None:
      // Nothing moves before the journal is on the disk, and the journal goes only after what
      // it kept aside: a folder without one holds nothing that is still wanted.
      break;
    case Kind::File: {
      const auto content = ParseJournal(pf.io->ReadAll(journal));
      // Torn or foreign: nothing can be told about what the folder holds, so nothing goes.
      if (!content) {
        SupportLog::Write(pf, "journal: " + undo + ": unreadable, the folder is kept as it is");
        return Found::Kept;
      }
      EntryCheck check(pf, P);
      for (std::size_t i = 0; i < content->entries.size(); ++i) {
        const std::string fault = check.FaultOf(content->entries[i]);
        if (fault.empty()) continue;
        SupportLog::Write(pf, "journal: " + undo + ": entry " + std::to_string(i + 1) + " (" +
                                  Describe(content->entries[i]) + ") is refused, " + fault +
                                  "; the folder is kept as it is and nothing is put back");
        return Found::Kept;
      }
      const std::vector<JournalEntry> entries = Resolved(P, content->entries);
      SupportLog::Write(
          pf, "journal: " + undo + ": an installation ended midway, " +
                  (content->committed ? "finishing it" : "putting back ") +
                  (content->committed ? "" : std::to_string(entries.size()) + " entries"));
      if (content->committed) {
        try {
          Commit(pf, undo, entries);
        } catch (const RuntimeError&) {
          return Found::Kept;  // a file held open: it goes at a later start
        }
      } else if (!Undo(pf, undo, entries)) {
        SupportLog::Write(pf, "journal: not everything could be put back; trying again next start");
        return Found::Unfinished;
      }
      try {
        pf.files->Remove(journal);
      } catch (const RuntimeError&) {
        return Found::Unfinished;
      }
      break;
    }
  }
  pf.files->Remove(undo);
  return Found::Done;
}

// The undo folders of the program folder, newest (highest number) first.
std::vector<std::pair<long, std::string>> UndoFolders(Platform& pf, const std::string& P) {
  std::vector<std::pair<long, std::string>> found;
  for (const std::string& name : pf.files->ListFolders(P)) {
    if (const long n = UndoFolderNumber(name)) found.emplace_back(n, name);
  }
  std::stable_sort(found.begin(), found.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  return found;
}

}  // namespace

InstallJournal::InstallJournal(Platform& pf, const std::string& programFolder)
    : pf_(pf), programFolder_(StripSeparators(programFolder)) {}

bool InstallJournal::Keep(const std::string& sourceFolder, const std::string& targetFolder) {
  if (!started_ && !Recover(pf_, programFolder_)) {
    // Installing now would leave two journals whose order on the same files no start can tell.
    SupportLog::Write(pf_,
                      "journal: an earlier installation is not put back completely yet; "
                      "nothing is installed before it is");
    return false;
  }
  const std::string source = StripSeparators(sourceFolder);
  const std::string target = StripSeparators(targetFolder);
  // The journal names what it keeps relative to the program folder or a project folder in it.
  std::string root;
  if (!text::EqualsNoCase(target, programFolder_)) {
    std::string fault = "it lies outside the program folder";
    if (Within(target, programFolder_)) {
      root = target.substr(programFolder_.size() + 1);
      fault = RelativePathFault(root);
    }
    if (!fault.empty()) {
      SupportLog::Write(pf_, "journal: " + target + " cannot be kept, " + fault);
      return false;
    }
  }
  std::vector<Entry> plan;
  if (pf_.files->KindOf(source) == Kind::Folder) {
    if (pf_.files->KindOf(target) == Kind::File || !Screen(source) ||
        !Plan(source, target, source, plan)) {
      return false;
    }
  }
  if (plan.empty()) return true;
  if (!started_) Begin();
  const std::string rootFolder = RootFolder(programFolder_, root);
  for (Entry& e : plan) {
    e.root = root;
    e.path = e.path.substr(rootFolder.size() + 1);
    if (e.op == 'M') {
      e.aside = AsideFolder(next_) + "\\" + std::to_string(next_);
      ++next_;
    }
  }
  entries_.insert(entries_.end(), plan.begin(), plan.end());
  Write(false);  // on the disk before anything moves
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
    pf_.files->Rename(rootFolder + "\\" + e.path, undo_ + "\\" + e.aside);
  }
  return true;
}

std::int32_t InstallJournal::MoveIn(const std::string& sourceFolder,
                                    const std::string& targetFolder,
                                    const std::vector<std::string>& left) {
  const std::string source = StripSeparators(sourceFolder);
  const std::string target = StripSeparators(targetFolder);
  long moved = 0;
  try {
    if (pf_.files->KindOf(source) == Kind::Folder) MoveTree(source, target, left, moved);
  } catch (const RuntimeError& e) {
    SupportLog::Write(pf_, "journal: " + target + ": stopped after " + std::to_string(moved) +
                               " files moved in, " + SupportLog::Error(e));
    return e.number();
  }
  SupportLog::Write(pf_, "journal: " + target + ": " + std::to_string(moved) + " files moved in");
  return 0;
}

void InstallJournal::MoveTree(const std::string& source, const std::string& target,
                              const std::vector<std::string>& left, long& moved) {
  const auto isLeft = [&](const std::string& name) {
    return std::find(left.begin(), left.end(), name) != left.end();
  };
  // Keep moved aside every file these names meet, so a rename that finds its name taken (two
  // package names differing only in case, on a file system that tells them apart) is refused
  // and fails the installation: nothing is overwritten on the way in.
  for (const std::string& name : pf_.files->ListFiles(source)) {
    if (isLeft(name)) continue;
    pf_.files->Rename(source + "\\" + name, target + "\\" + name);
    ++moved;
  }
  for (const std::string& name : pf_.files->ListFolders(source)) {
    if (isLeft(name)) continue;
    const std::string to = target + "\\" + name;
    // Made afresh rather than renamed whole, so that it carries what a copy's folder carries.
    switch (pf_.files->KindOf(to)) {
      case Kind::None:
        pf_.files->MakeFolder(to);
        break;
      case Kind::File:
        throw RuntimeError(kErrPathFileAccess);
      case Kind::Folder:
        break;
    }
    MoveTree(source + "\\" + name, to, {}, moved);
  }
}

void InstallJournal::Begin() {
  // The first undo folder that is free, or holds only what a finished installation left.
  // Numbered after every folder whose journal is kept, so that the highest number is the newest.
  long first = 1;
  for (const auto& [n, name] : UndoFolders(pf_, programFolder_)) {
    const std::string folder = programFolder_ + "\\" + name;
    if (pf_.files->KindOf(folder + "\\journal") != Kind::None) first = std::max(first, n + 1);
  }
  undo_.clear();
  for (long n = first; n <= kMaxUndoFolders && undo_.empty(); ++n) {
    const std::string folder = programFolder_ + "\\" + UndoFolderName(n);
    const Kind kind = pf_.files->KindOf(folder);
    if (kind == Kind::None) {
      pf_.files->MakeFolder(folder);
      undo_ = folder;
    } else if (kind == Kind::Folder && pf_.files->KindOf(folder + "\\journal") == Kind::None) {
      // Files still held open when an earlier installation ended keep their folders.
      for (const std::string& name : pf_.files->ListFolders(folder)) {
        if (IsNumber(name)) next_ = std::max(next_, (std::stol(name) + 1) * kPerFolder);
      }
      undo_ = folder;
    }
  }
  if (undo_.empty()) throw RuntimeError(kErrPathFileAccess);
  journalFile_ = undo_ + "\\journal";
  started_ = true;
}

bool InstallJournal::Reserved(const std::string& path) const {
  return IsReserved(programFolder_, path);
}

bool InstallJournal::Screen(const std::string& source) {
  const auto fits = [&](const std::string& name) {
    if (name.find_first_of("\t\r\n") != std::string::npos) throw RuntimeError(kErrBadFileName);
    // A device name or a stream (posix names may hold them) would make the journal one that the
    // next start refuses: what it kept could not be put back then.
    return pf_.files->FitsAnsiCodePage(name) && RelativePathFault(name).empty();
  };
  // A link would be copied as it is, over whatever it meets, while the plan sees what it leads
  // to (or nothing): what it replaced could not be put back.
  const std::vector<std::string> others = pf_.files->ListOthers(source);
  if (!others.empty()) {
    SupportLog::Write(pf_, "journal: the package holds a link or a special file, " + source + "\\" +
                               others.front() + "; nothing is copied");
    return false;
  }
  for (const std::string& name : pf_.files->ListFiles(source)) {
    if (!fits(name)) return false;
  }
  for (const std::string& name : pf_.files->ListFolders(source)) {
    if (!fits(name) || !Screen(source + "\\" + name)) return false;
  }
  return true;
}

bool InstallJournal::Plan(const std::string& source, const std::string& target,
                          const std::string& root, std::vector<Entry>& plan) {
  if (Reserved(target)) return false;
  // A package that would copy into its own source is not installed.
  if (Within(target, root)) throw RuntimeError(kErrPathFileAccess);
  std::vector<std::string> existing;
  bool listed = false;
  for (const std::string& name : pf_.files->ListFiles(source)) {
    const std::string path = target + "\\" + name;
    if (Reserved(path)) return false;
    switch (pf_.files->KindOf(path)) {
      case Kind::None:
        plan.push_back({'C', "", std::nullopt, path});
        break;
      case Kind::File: {
        // Moved back later under the name it has now, whatever the letter case in the package.
        if (!listed) existing = pf_.files->ListFiles(target), listed = true;
        std::string actual = name;
        for (const std::string& e : existing) {
          if (text::EqualsNoCase(e, name)) actual = e;
        }
        plan.push_back({'M', "", std::nullopt, target + "\\" + actual});
        break;
      }
      case Kind::Folder:
        return false;
    }
  }
  for (const std::string& name : pf_.files->ListFolders(source)) {
    const std::string path = target + "\\" + name;
    if (Reserved(path)) return false;
    switch (pf_.files->KindOf(path)) {
      case Kind::None:
        plan.push_back({'C', "", std::nullopt, path});
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

void InstallJournal::Write(bool committed) {
  pf_.files->WriteWhole(journalFile_, SerializeJournal({committed, entries_}));
}

bool InstallJournal::RollBack() {
  if (!started_) return true;
  try {
    // Before anything is put back: a journal that says the copies stood would let the next
    // start throw away what is being put back.
    if (sealed_) Write(false);
    sealed_ = false;
  } catch (const RuntimeError&) {
    return false;
  }
  if (!Undo(pf_, undo_, Resolved(programFolder_, entries_))) {
    SupportLog::Write(pf_, "journal: rolled back in part; the journal stays for the next start");
    return false;
  }
  SupportLog::Write(pf_, "journal: rolled back, everything put back");
  Forget();
  return true;
}

void InstallJournal::Seal() {
  if (!started_) return;
  Write(true);
  sealed_ = true;
  SupportLog::Write(pf_, "journal: sealed, the copies stand");
}

void InstallJournal::Finish(bool succeeded) {
  if (!started_) return;
  if (!succeeded) {
    RollBack();
    return;
  }
  try {
    if (!sealed_) Seal();
  } catch (const RuntimeError&) {
    return;  // the journal still says undo: the next start does
  }
  SupportLog::Write(pf_, "journal: done, the files moved aside are removed");
  Forget();
}

void InstallJournal::Forget() {
  try {
    Commit(pf_, undo_, Resolved(programFolder_, entries_));
    pf_.files->Remove(journalFile_);
    pf_.files->Remove(undo_);
  } catch (const RuntimeError&) {
    // What is held open goes at the next start; the journal stays until it has.
  }
  entries_.clear();
  lastFolder_.clear();
  started_ = false;
  sealed_ = false;
}

bool InstallJournal::Recover(Platform& pf, const std::string& programFolder) {
  const std::string P = StripSeparators(programFolder);
  std::vector<std::pair<long, std::string>> folders;
  try {
    folders = UndoFolders(pf, P);
  } catch (const RuntimeError&) {
    return true;
  }
  bool finished = true;
  // Newest first: an older journal replayed after a newer one would put back the middle version,
  // or remove what a later installation created.
  for (const auto& [n, name] : folders) {
    try {
      if (RecoverFolder(pf, P, P + "\\" + name) == Found::Unfinished) finished = false;
    } catch (const RuntimeError&) {
    }
  }
  return finished;
}

}  // namespace updater
