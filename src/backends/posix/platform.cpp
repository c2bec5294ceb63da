#include "backends/posix/platform.h"

namespace updater::posix {

namespace {
std::string WithoutTrailingSeparator(std::string folder) {
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) folder.pop_back();
  return folder;
}
}  // namespace

PosixPlatform::PosixPlatform(std::string programFolder)
    : programFolder_(WithoutTrailingSeparator(programFolder.empty() ? ExecutableFolder()
                                                                    : std::move(programFolder))) {
  platform_.profile = &profile_;
  platform_.system = &system_;
  platform_.files = &files_;
  platform_.shell = &shell_;
  platform_.processes = &processes_;
  platform_.ui = &ui_;
  platform_.components = &components_;
  platform_.shortcuts = &shortcuts_;
  platform_.net = &net_;
  platform_.database = &database_;
  platform_.io = &io_;
  platform_.instances = &instances_;
  platform_.signatures = &signatures_;
  io_.WhileWaiting([this] { platform_.ui->DoEvents(); });
  ui_.WatchShowRequests([this] { return instances_.ShowRequested(); });
}

}  // namespace updater::posix
