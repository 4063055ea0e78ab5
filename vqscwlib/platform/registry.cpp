#include "vqscwlib/platform/registry.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "vqscwlib/platform/registry_connection.h"

namespace vqscw {

using registry_internal::Acquire;
using registry_internal::Connection;
using registry_internal::Noted;
using registry_internal::Statement;
using registry_internal::StatusOf;

namespace {

// Longest key path and value name accepted.
constexpr size_t kMaxKeyPathBytes = 4096;
constexpr size_t kMaxValueNameBytes = 16383;

constexpr char kDefaultFolder[] = "vqscw";
constexpr char kDefaultFileName[] = "registry.db";

// The value's data is fetched only when it is a blob within the caller's limit (?9), so a huge
// value is never loaded just to be refused.
constexpr char kQueryValue[] =
    "SELECT name, type, typeof(data), length(data),"
    "  CASE WHEN typeof(data) = 'blob' AND length(data) <= ?9 THEN data END"
    " FROM vals WHERE key_id = ?1 AND name = ?2";
constexpr char kEnumValue[] =
    "SELECT name, type, typeof(data), length(data),"
    "  CASE WHEN typeof(data) = 'blob' AND length(data) <= ?9 THEN data END"
    " FROM vals WHERE key_id = ?1 ORDER BY seq LIMIT 1 OFFSET ?2";

// Reads one row of kQueryValue or kEnumValue into *value.
RegStatus ReadValueRow(const Statement& stmt, size_t max_name_chars, size_t max_bytes,
                       RegValue* value) {
  if (stmt.ColumnType(0) != SQLITE_TEXT || stmt.ColumnType(1) != SQLITE_INTEGER) {
    return RegStatus::kBadDatabase;
  }
  int64_t type = stmt.Int(1);
  if (type < 0 || type > UINT32_MAX || stmt.Text(2) != "blob") return RegStatus::kBadDatabase;
  std::string_view name = stmt.Text(0);
  if (name.size() > max_name_chars) return RegStatus::kMoreData;
  int64_t length = stmt.Int(3);
  if (length < 0 || static_cast<uint64_t>(length) > max_bytes) return RegStatus::kMoreData;
  std::string_view data = stmt.Blob(4);
  if (data.size() != static_cast<uint64_t>(length)) return RegStatus::kBadDatabase;
  value->name.assign(name);
  value->type = static_cast<uint32_t>(type);
  value->data.assign(data);
  return RegStatus::kOk;
}

// Finds the key's row: *id and its stored spelling, or kNotFound.
RegStatus FindKey(sqlite3* db, const std::string& path, int64_t* id, std::string* stored) {
  Statement stmt(db, "SELECT id, path FROM keys WHERE path = ?1");
  if (!stmt.ok()) return stmt.prepare_status();
  stmt.BindText(1, path);
  int rc = stmt.Step();
  if (rc == SQLITE_DONE) return RegStatus::kNotFound;
  if (rc != SQLITE_ROW) return StatusOf(rc);
  if (stmt.ColumnType(0) != SQLITE_INTEGER || stmt.ColumnType(1) != SQLITE_TEXT) {
    return RegStatus::kBadDatabase;
  }
  *id = stmt.Int(0);
  stored->assign(stmt.Text(1));
  return RegStatus::kOk;
}

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return home;
  struct passwd* pw = getpwuid(getuid());
  if (pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
  return {};
}

}  // namespace

void ReleaseRegistryFile() { registry_internal::ForgetKeptConnection(); }

const char* RegStatusText(RegStatus status) {
  switch (status) {
    case RegStatus::kOk:
      return "ok";
    case RegStatus::kNotFound:
      return "not found";
    case RegStatus::kMoreData:
      return "value too long";
    case RegStatus::kBadDatabase:
      return "not a readable registry database";
    case RegStatus::kFailed:
      return "failed";
  }
  return "unknown";
}

std::string DwordBytes(uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return bytes;
}

std::string RegistryFilePath() {
  const char* file = std::getenv("VQSCW_REGISTRY");
  if (file != nullptr && file[0] != '\0') return file;
  std::string config;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') {  // a relative XDG_CONFIG_HOME is to be ignored
    config = xdg;
  } else {
    std::string home = HomeFolder();
    if (home.empty()) return {};
    config = home + "/.config";
  }
  return config + "/" + kDefaultFolder + "/" + kDefaultFileName;
}

bool NormaliseKeyPath(std::string_view path, std::string* normalised) {
  size_t first = path.find_first_not_of('\\');
  if (first == std::string_view::npos) return false;
  path = path.substr(first, path.find_last_not_of('\\') - first + 1);
  if (path.size() > kMaxKeyPathBytes || path.find("\\\\") != std::string_view::npos) return false;
  normalised->assign(path);
  return true;
}

RegistryKey::RegistryKey() = default;
RegistryKey::~RegistryKey() = default;
RegistryKey::RegistryKey(RegistryKey&&) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&&) noexcept = default;

void RegistryKey::Close() {
  conn_.reset();
  key_id_ = 0;
  writable_ = false;
  path_.clear();
}

RegStatus RegistryKey::Query(std::string_view name, size_t max_bytes, RegValue* value) const {
  if (!is_open()) return RegStatus::kFailed;
  MutexLock lock(&conn_->mu);
  Statement stmt(conn_->db, kQueryValue);
  if (!stmt.ok()) return Noted(conn_.get(), stmt.prepare_status());
  stmt.BindInt(1, key_id_);
  stmt.BindText(2, name);
  const size_t limit = std::min(max_bytes, kRegistryMaxValueBytes);
  stmt.BindInt(9, static_cast<int64_t>(limit));
  int rc = stmt.Step();
  if (rc == SQLITE_DONE) return RegStatus::kNotFound;
  if (rc != SQLITE_ROW) return Noted(conn_.get(), StatusOf(rc));
  return Noted(conn_.get(), ReadValueRow(stmt, SIZE_MAX, limit, value));
}

RegStatus RegistryKey::Enum(size_t index, size_t max_name_chars, size_t max_bytes,
                            RegValue* value) const {
  if (!is_open()) return RegStatus::kFailed;
  if (index > INT64_MAX) return RegStatus::kNotFound;
  MutexLock lock(&conn_->mu);
  Statement stmt(conn_->db, kEnumValue);
  if (!stmt.ok()) return Noted(conn_.get(), stmt.prepare_status());
  stmt.BindInt(1, key_id_);
  stmt.BindInt(2, static_cast<int64_t>(index));
  const size_t limit = std::min(max_bytes, kRegistryMaxValueBytes);
  stmt.BindInt(9, static_cast<int64_t>(limit));
  int rc = stmt.Step();
  if (rc == SQLITE_DONE) return RegStatus::kNotFound;
  if (rc != SQLITE_ROW) return Noted(conn_.get(), StatusOf(rc));
  return Noted(conn_.get(), ReadValueRow(stmt, max_name_chars, limit, value));
}

RegStatus RegistryKey::Set(std::string_view name, uint32_t type, std::string_view data) {
  if (!is_open() || !writable_) return RegStatus::kFailed;
  if (name.size() > kMaxValueNameBytes || data.size() > kRegistryMaxValueBytes) {
    return RegStatus::kFailed;
  }
  MutexLock lock(&conn_->mu);
  // One statement in autocommit mode: one transaction, which takes the write lock before it
  // reads, so the busy handler (not a failed upgrade) deals with another writer.
  Statement stmt(conn_->db,
                 "INSERT INTO vals(key_id, name, type, data) VALUES(?1, ?2, ?3, ?4)"
                 " ON CONFLICT(key_id, name) DO UPDATE SET type = excluded.type,"
                 " data = excluded.data");
  if (!stmt.ok()) return Noted(conn_.get(), stmt.prepare_status());
  stmt.BindInt(1, key_id_);
  stmt.BindText(2, name);
  stmt.BindInt(3, type);
  stmt.BindBlob(4, data);
  return Noted(conn_.get(), StatusOf(stmt.Step()));
}

RegStatus RegistryKey::Delete(std::string_view name) {
  if (!is_open() || !writable_) return RegStatus::kFailed;
  MutexLock lock(&conn_->mu);
  Statement stmt(conn_->db, "DELETE FROM vals WHERE key_id = ?1 AND name = ?2");
  if (!stmt.ok()) return Noted(conn_.get(), stmt.prepare_status());
  stmt.BindInt(1, key_id_);
  stmt.BindText(2, name);
  RegStatus status = Noted(conn_.get(), StatusOf(stmt.Step()));
  if (status == RegStatus::kOk && sqlite3_changes(conn_->db) == 0) return RegStatus::kNotFound;
  return status;
}

Registry::Registry() : file_(RegistryFilePath()) {}

Registry::Registry(std::string file) : file_(std::move(file)) {}

RegStatus Registry::OpenKey(std::string_view path, RegistryKey* key) const {
  key->Close();
  std::string normalised;
  if (!NormaliseKeyPath(path, &normalised)) return RegStatus::kFailed;
  std::shared_ptr<Connection> conn;
  RegStatus status = Acquire(file_, false, &conn);
  if (status != RegStatus::kOk) return status;
  {
    MutexLock lock(&conn->mu);
    status = Noted(conn.get(), FindKey(conn->db, normalised, &key->key_id_, &key->path_));
  }
  if (status != RegStatus::kOk) return status;
  key->conn_ = std::move(conn);
  return RegStatus::kOk;
}

RegStatus Registry::CreateKey(std::string_view path, RegistryKey* key) const {
  key->Close();
  std::string normalised;
  if (!NormaliseKeyPath(path, &normalised)) return RegStatus::kFailed;
  std::shared_ptr<Connection> conn;
  RegStatus status = Acquire(file_, true, &conn);
  if (status != RegStatus::kOk) return status;
  {
    MutexLock lock(&conn->mu);
    status = FindKey(conn->db, normalised, &key->key_id_, &key->path_);
    if (status == RegStatus::kNotFound) {
      // Another process may create the same key at once: the loser's insert is ignored and both
      // find the one row.
      Statement insert(conn->db, "INSERT OR IGNORE INTO keys(path) VALUES(?1)");
      insert.BindText(1, normalised);
      status = insert.ok() ? StatusOf(insert.Step()) : insert.prepare_status();
      if (status == RegStatus::kOk) {
        status = FindKey(conn->db, normalised, &key->key_id_, &key->path_);
      }
    }
    Noted(conn.get(), status);
  }
  if (status != RegStatus::kOk) return status;
  key->conn_ = std::move(conn);
  key->writable_ = true;
  return RegStatus::kOk;
}

RegStatus Registry::ListKeys(std::vector<std::string>* paths) const {
  paths->clear();
  std::shared_ptr<Connection> conn;
  RegStatus status = Acquire(file_, false, &conn);
  if (status == RegStatus::kNotFound) return RegStatus::kOk;
  if (status != RegStatus::kOk) return status;
  MutexLock lock(&conn->mu);
  Statement stmt(conn->db, "SELECT path FROM keys ORDER BY id");
  if (!stmt.ok()) return Noted(conn.get(), stmt.prepare_status());
  int rc;
  while ((rc = stmt.Step()) == SQLITE_ROW) paths->emplace_back(stmt.Text(0));
  return Noted(conn.get(), StatusOf(rc));
}

RegStatus Registry::Check(std::string* problem) const {
  problem->clear();
  std::shared_ptr<Connection> conn;
  RegStatus status = Acquire(file_, false, &conn, problem);
  if (status == RegStatus::kNotFound) {
    problem->clear();
    return RegStatus::kOk;
  }
  if (status != RegStatus::kOk) {
    if (problem->empty()) *problem = RegStatusText(status);
    return status;
  }
  MutexLock lock(&conn->mu);
  Statement stmt(conn->db, "PRAGMA quick_check");
  if (!stmt.ok()) {
    status = stmt.prepare_status();
  } else {
    int rc;
    while ((rc = stmt.Step()) == SQLITE_ROW) {  // "ok", or one line per problem
      std::string_view line = stmt.Text(0);
      if (line == "ok") continue;
      if (!problem->empty()) *problem += "; ";
      *problem += line;
    }
    status = StatusOf(rc);
    if (status == RegStatus::kOk && !problem->empty()) status = RegStatus::kBadDatabase;
  }
  if (status != RegStatus::kOk && problem->empty()) *problem = sqlite3_errmsg(conn->db);
  return Noted(conn.get(), status);
}

}  // namespace vqscw
