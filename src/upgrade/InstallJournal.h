#pragma once
// Keeps what an installation's copies replace, so that a failed installation leaves the program
// folder and the project folders as they were. Before a copy, every file it will overwrite is
// renamed into the undo folder P\tmp.undo (beside the temporary folder, where the copy of
// tmp\*.* never reaches) and every path it will create is noted. The journal in the undo folder
// is on the disk before anything moves, so the next start puts right an updater that ended
// midway.
//
// The rule it keeps: no file is deleted unless the journal entry that names it was read whole
// and its restore or commit is complete. Every name it handles is exact (no patterns, no
// code-page conversion). A journal that cannot be read whole is left with its folder as it is;
// the next installation keeps its own undo folder beside it (P\tmp.undo.2, ...).
//
// A journal acts only on the folders it belongs to: its entries are relative to the program
// folder it sits in (whatever that folder is called now) or to a project folder in it, and a
// start honours them only for a project its database lists now, with no "..", drive, stream or
// device name on the way. A journal copied along with its folder puts back the copy, never the
// original; one that fails the check is kept as it is, like a torn one.

#include <cstdint>
#include <string>
#include <vector>

#include "ports/platform.h"
#include "upgrade/JournalFormat.h"

namespace updater {

class InstallJournal {
 public:
  InstallJournal(Platform& pf, const std::string& programFolder);

  // Makes ready the copy of the entries of sourceFolder over targetFolder. False, with nothing
  // kept, when the copy must not run and counts as failed with kClash: a file of one side meets
  // a folder of the same name on the other (the shell cannot copy that without harm: wine writes
  // a file's bytes over the file the folder meets, or passes the file over and answers 0); a
  // path would land in P\tmp or an undo folder; or a name cannot pass through the ANSI code page
  // (the shell's copy would write another name than the one planned). Throws RuntimeError when
  // something cannot be kept; the copy must then not run either. What was kept stays kept.
  bool Keep(const std::string& sourceFolder, const std::string& targetFolder);
  static constexpr std::int32_t kClash = 183;  // the shell's "already exists"
  // After Keep made way: renames the entries of sourceFolder into targetFolder, on the same
  // volume, so that no byte is copied. A folder the target lacks is made there and filled, one it
  // has is merged into, as the copy merges; each file takes the name it has in sourceFolder. The
  // entries of sourceFolder named in left (exact names) stay where they are. Returns 0, or the
  // error number of the first step that failed (a name taken meanwhile counts as kClash); what
  // was moved in is then the rollback's to remove. Removes nothing itself.
  std::int32_t MoveIn(const std::string& sourceFolder, const std::string& targetFolder,
                      const std::vector<std::string>& left = {});
  // Removes what the copies created and moves back what was moved aside, newest first. False
  // when something could not be put back: the journal then stays for the next start.
  bool RollBack();
  // The copies stand: the journal says so, so that an updater ending from here on keeps the new
  // files (the version is not recorded yet: the next start offers the upgrade again).
  void Seal();
  // The end of the installation: the moved-aside files go when it succeeded, everything is put
  // back when it did not.
  void Finish(bool succeeded);

  // At start-up, before the temporary folder is touched: completes the restore of an
  // installation that ended midway, and removes what a finished one left (files that were held
  // open then), newest undo folder first. False when a journal that reads whole and belongs
  // here could not be completed: no installation may start then. Raises nothing.
  static bool Recover(Platform& pf, const std::string& programFolder);

  using Entry = JournalEntry;

 private:
  void Begin();
  // False when the copy must not run.
  bool Screen(const std::string& source);
  bool Plan(const std::string& source, const std::string& target, const std::string& root,
            std::vector<Entry>& plan);
  bool Reserved(const std::string& path) const;
  void MoveTree(const std::string& source, const std::string& target,
                const std::vector<std::string>& left, long& moved);
  void Write(bool committed);
  void Forget();

  Platform& pf_;
  std::string programFolder_;
  std::string undo_;
  std::string journalFile_;
  std::vector<Entry> entries_;
  bool started_ = false;
  bool sealed_ = false;
  long next_ = 1;
  std::string lastFolder_;
};

}  // namespace updater
