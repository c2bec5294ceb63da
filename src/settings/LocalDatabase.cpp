#include "settings/LocalDatabase.h"

#include "helpers/Module1.h"

namespace updater::LocalDatabase {

std::string ConnectionString(const std::string& programFolder) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + programFolder +
         "\\project.mdb;Jet OLEDB:Database Password=5203817;admin ";
}

const char* SelectVersions(const std::string& itemId) {
  return itemId.empty() ? kSelectVersions0 : kSelectVersions1;
}

const char* VersionT(const std::string& itemId) { return itemId.empty() ? "0" : "1"; }

std::unique_ptr<ports::Connection> OpenConnection(Platform& pf, const std::string& connString) {
  auto conn = pf.database->NewConnection();
  conn->Open(connString, "", "", ports::adConnectUnspecified);
  return conn;
}

std::unique_ptr<ports::Recordset> PrepareRecordset(ports::Connection& conn, int cursorType) {
  auto rs = conn.NewRecordset();
  rs->SetCursorLocation(ports::adUseClient);
  rs->SetCursorType(cursorType);
  rs->SetLockType(ports::adLockOptimistic);
  return rs;
}

}  // namespace updater::LocalDatabase

namespace updater::ClientIni {

std::string Path(const std::string& programFolder) { return programFolder + "\\client.ini"; }

std::string Read(Platform& pf, const std::string& programFolder, const std::string& key) {
  return Module1::ReadIniValue(pf, Path(programFolder), kSection, key);
}

bool Write(Platform& pf, const std::string& programFolder, const std::string& key,
           const std::string& value) {
  return Module1::WriteIniValue(pf, Path(programFolder), kSection, key, value);
}

}  // namespace updater::ClientIni
