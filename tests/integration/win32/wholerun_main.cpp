// The Windows program as shipped, but with project.mdb kept as a text file of tables: wine has
// no Jet provider. Wine also gives every process an elevated token, so this build answers as
// Windows' filtered token does: elevated only where started for elevation. Everything else is
// the product's.
#include "app/windows_program.h"
#include "backends/win32/rights.h"
#include "backends/win32/windows_api.h"
#include "standins/event_log.h"
#include "table_file_database.h"

namespace {

class FilteredToken final : public updater::win32::Win32Rights {
 public:
  bool IsElevated() override { return StartedForElevation(); }
};

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wholerun::TableFileDatabase database;
  FilteredToken rights;
  // The tests count the runs made with administrator rights.
  if (rights.StartedForElevation()) wholerun::AppendEvent(L"updater elevated run");
  return updater::app::RunWindowsProgram(&database, &rights);
}
