#pragma once
// Rights: the program runs as invoked. A step that must write where the user may not (a
// component into the system folder, an update of a program folder under Program Files) has the
// program started again with administrator rights, which then does the run.

#include <string>

namespace updater::ports {

// How a run started with administrator rights ended, as the process that waited for it sees it.
enum class ElevatedRun {
  NotStarted,    // the prompt was declined, or no elevation is to be had: the run goes on here
  ClientWanted,  // it ended where it would have started the client
  Ended,         // it ended without the client (a window closed, an error report)
};

class Rights {
 public:
  virtual ~Rights() = default;
  // True in the process this program started again to do its run with administrator rights,
  // when it proves that the run which holds the program folder's lock started it. Anything
  // else (a start with the same switch by anyone else) is an ordinary start.
  virtual bool StartedForElevation() = 0;
  // True when this process already has administrator rights.
  virtual bool IsElevated() = 0;
  // True when writing in folder is refused to this process, found by trying (a file made there
  // and removed at once). False when it may write, or when the folder fails otherwise (missing,
  // full): other rights would not change that.
  virtual bool WriteDenied(const std::string& folder) = 0;
  // Starts this program again with administrator rights (the consent prompt) and waits for its
  // end, serving this process's windows meanwhile.
  virtual ElevatedRun RunElevated() = 0;
  // In the process started for elevation: ends it so that the process that waits for it starts
  // the client (a client started here would run with administrator rights).
  [[noreturn]] virtual void EndForClient() = 0;
};

}  // namespace updater::ports
