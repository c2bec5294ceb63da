// The Windows program as shipped, but with project.mdb kept as a text file of tables: wine has
// no Jet provider. Everything else is the product's.
#include "app/windows_program.h"
#include "backends/win32/windows_api.h"
#include "table_file_database.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wholerun::TableFileDatabase database;
  return updater::app::RunWindowsProgram(&database);
}
