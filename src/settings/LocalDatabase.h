#pragma once
// The two local stores: project.mdb (opened through one connection string, one recordset
// pattern and a fixed set of statements) and client.ini (section initInfo).

#include <memory>
#include <string>

#include "ports/platform.h"

namespace updater::LocalDatabase {

inline constexpr const char* kSelectSystem = "select * from system";
inline constexpr const char* kSelectVersions1 = "select * from versions where versionT='1'";
inline constexpr const char* kSelectVersions0 = "select * from versions where versionT='0'";
inline constexpr const char* kSelectProjects = "select * from projectList";
// The address is a statement parameter, so whatever the user typed is stored as typed.
inline constexpr const char* kUpdateProjectUrls = "update projectList set project_URL=?";

// "Provider=...;Data Source=" + P + "\project.mdb;Jet OLEDB:Database Password=...;admin ".
std::string ConnectionString(const std::string& programFolder);

// The versions row that belongs to the installation: versionT "1" with an item sub-path,
// "0" without.
const char* SelectVersions(const std::string& itemId);
const char* VersionT(const std::string& itemId);

// A connection opened with the connection string, empty user and password (throws on failure).
std::unique_ptr<ports::Connection> OpenConnection(Platform& pf, const std::string& connString);

// A recordset on conn prepared as every reader and writer uses it: client-side cursor,
// optimistic locking, and the cursor type given (keyset everywhere but LoadServerUrl).
std::unique_ptr<ports::Recordset> PrepareRecordset(ports::Connection& conn,
                                                   int cursorType = ports::adOpenKeyset);

}  // namespace updater::LocalDatabase

namespace updater::ClientIni {

inline constexpr const char* kSection = "initInfo";
inline constexpr const char* kServer = "server";
inline constexpr const char* kItemId = "item_id";
inline constexpr const char* kShortcut = "shortcut";

std::string Path(const std::string& programFolder);
std::string Read(Platform& pf, const std::string& programFolder, const std::string& key);
bool Write(Platform& pf, const std::string& programFolder, const std::string& key,
           const std::string& value);

}  // namespace updater::ClientIni
