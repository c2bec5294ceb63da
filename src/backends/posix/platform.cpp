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
                                                                    : std::move(programFolder))),
      mapper_(programFolder_),
      profile_(mapper_),
      system_(programFolder_),
      files_(mapper_),
      shell_(mapper_),
      processes_(mapper_, programFolder_),
      platform_{&profile_, &system_, &files_, &shell_, &processes_} {
  platform_.ui = &ui_;
  platform_.components = &components_;
  platform_.shortcuts = &shortcuts_;
  platform_.database = &database_;
  platform_.net = &net_;
  platform_.io = &io_;
  io_.WhileWaiting([this] { platform_.ui->DoEvents(); });
}

}  // namespace updater::posix
