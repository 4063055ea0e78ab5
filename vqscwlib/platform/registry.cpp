#include "vqscwlib/platform/registry.h"

#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <utility>

namespace vqscw {

namespace {

// Marks the file as ours ("VQSR"), so another program's database is never taken for a registry.
constexpr int32_t kApplicationId = 0x56515352;
constexpr int32_t kSchemaVersion = 1;

// Longest key path and value name accepted.
constexpr size_t kMaxKeyPathBytes = 4096;
constexpr size_t kMaxValueNameBytes = 16383;

constexpr char kDefaultFolder[] = "vqscw";
constexpr char kDefaultFileName[] = "registry.db";

// Value order is the order of `seq`: a new row's INTEGER PRIMARY KEY is always above every row
// present, so it holds creation order among the living values even when rows were deleted.
constexpr char kSchema[] =
    "CREATE TABLE keys("
    "  id INTEGER PRIMARY KEY,"
    "  path TEXT NOT NULL UNIQUE COLLATE NOCASE) STRICT;"
    "CREATE TABLE vals("
    "  seq INTEGER PRIMARY KEY,"
    "  key_id INTEGER NOT NULL REFERENCES keys(id),"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  UNIQUE(key_id, name)) STRICT;"
    "CREATE INDEX vals_order ON vals(key_id, seq);";

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

}  // namespace

namespace registry_internal {

// One SQLite connection to the registry file, closed with its owner.
struct Connection {
  sqlite3* db = nullptr;
  ~Connection() { sqlite3_close_v2(db); }
};

}  // namespace registry_internal

using registry_internal::Connection;

namespace {

RegStatus StatusOf(int rc) {
  switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
      return RegStatus::kOk;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_FORMAT:
      return RegStatus::kBadDatabase;
    default:
      return RegStatus::kFailed;
  }
}

// A prepared statement, finalised when it goes out of scope.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    rc_ = sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
  }
  ~Statement() { sqlite3_finalize(stmt_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  // The status of preparing. Our statements are valid for our schema, so a plain SQL error here
  // means the file's schema is not ours.
  RegStatus prepare_status() const {
    if (rc_ == SQLITE_ERROR) return RegStatus::kBadDatabase;
    return StatusOf(rc_);
  }
  bool ok() const { return rc_ == SQLITE_OK; }

  void BindInt(int index, int64_t value) { sqlite3_bind_int64(stmt_, index, value); }
  void BindText(int index, std::string_view text) {
    // A null pointer would bind SQL NULL; an empty text must stay an empty text.
    sqlite3_bind_text(stmt_, index, text.empty() ? "" : text.data(), static_cast<int>(text.size()),
                      SQLITE_STATIC);
  }
  void BindBlob(int index, std::string_view data) {
    sqlite3_bind_blob(stmt_, index, data.empty() ? "" : data.data(), static_cast<int>(data.size()),
                      SQLITE_STATIC);
  }

  int Step() { return sqlite3_step(stmt_); }

  int64_t Int(int column) const { return sqlite3_column_int64(stmt_, column); }
  int ColumnType(int column) const { return sqlite3_column_type(stmt_, column); }
  std::string_view Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
    if (text == nullptr) return {};
    return {text, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))};
  }
  std::string_view Blob(int column) const {
    const auto* blob = static_cast<const char*>(sqlite3_column_blob(stmt_, column));
    if (blob == nullptr) return {};
    return {blob, static_cast<size_t>(sqlite3_column_bytes(stmt_, column))};
  }

 private:
  sqlite3_stmt* stmt_ = nullptr;
  int rc_;
};

RegStatus Exec(sqlite3* db, const char* sql) {
  return StatusOf(sqlite3_exec(db, sql, nullptr, nullptr, nullptr));
}

enum class SchemaState { kEmpty, kOurs, kForeign };

RegStatus ReadSchemaState(sqlite3* db, SchemaState* state) {
  Statement stmt(db,
                 "SELECT (SELECT application_id FROM pragma_application_id),"
                 "  (SELECT user_version FROM pragma_user_version),"
                 "  (SELECT count(*) FROM sqlite_master)");
  if (!stmt.ok()) return stmt.prepare_status();
  int rc = stmt.Step();
  if (rc != SQLITE_ROW) return rc == SQLITE_DONE ? RegStatus::kBadDatabase : StatusOf(rc);
  if (stmt.Int(0) == kApplicationId && stmt.Int(1) == kSchemaVersion) {
    *state = SchemaState::kOurs;
  } else if (stmt.Int(0) == 0 && stmt.Int(1) == 0 && stmt.Int(2) == 0) {
    *state = SchemaState::kEmpty;
  } else {
    *state = SchemaState::kForeign;
  }
  return RegStatus::kOk;
}

// Turns an empty database into a registry. Safe against another process doing the same at once:
// the check is repeated under the write lock.
RegStatus Initialise(sqlite3* db) {
  // WAL lets readers go on while a writer writes. Changing the journal mode needs the database to
  // itself for a moment; the busy handler waits for that.
  RegStatus status = Exec(db, "PRAGMA journal_mode=WAL");
  if (status != RegStatus::kOk) return status;
  status = Exec(db, "BEGIN IMMEDIATE");
  if (status != RegStatus::kOk) return status;
  SchemaState state;
  status = ReadSchemaState(db, &state);
  if (status == RegStatus::kOk && state == SchemaState::kForeign) status = RegStatus::kBadDatabase;
  if (status == RegStatus::kOk && state == SchemaState::kEmpty) {
    std::string sql = kSchema;
    sql += "PRAGMA application_id=" + std::to_string(kApplicationId) + ";";
    sql += "PRAGMA user_version=" + std::to_string(kSchemaVersion) + ";";
    status = Exec(db, sql.c_str());
  }
  if (status == RegStatus::kOk) status = Exec(db, "COMMIT");
  if (status != RegStatus::kOk) Exec(db, "ROLLBACK");
  return status;
}

// Opens the registry file. For reading, a missing file is kNotFound and an empty database (no
// registry yet) gives *empty; for writing, the file and its folder are created and initialised.
// On failure *problem (when given) says why.
RegStatus Connect(const std::string& file, bool for_writing, std::unique_ptr<Connection>* out,
                  bool* empty, std::string* problem = nullptr) {
  *empty = false;
  auto fail = [problem](RegStatus status, std::string why) {
    if (problem != nullptr) *problem = std::move(why);
    return status;
  };
  if (file.empty()) return fail(RegStatus::kFailed, "no registry file: HOME is not set");
  if (for_writing) {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::path(file).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, error);
  } else {
    struct stat st;
    if (stat(file.c_str(), &st) != 0) {
      return fail(errno == ENOENT ? RegStatus::kNotFound : RegStatus::kFailed,
                  std::strerror(errno));
    }
  }
  auto conn = std::make_unique<Connection>();
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (for_writing ? SQLITE_OPEN_CREATE : 0);
  int rc = sqlite3_open_v2(file.c_str(), &conn->db, flags, nullptr);
  if (rc == SQLITE_CANTOPEN && !for_writing) {
    // A file we may read but not write (an administrator's): read it as it is.
    sqlite3_close_v2(conn->db);
    conn->db = nullptr;
    rc = sqlite3_open_v2(file.c_str(), &conn->db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                         nullptr);
  }
  if (rc != SQLITE_OK) return fail(StatusOf(rc), sqlite3_errmsg(conn->db));
  sqlite3_busy_timeout(conn->db, kRegistryBusyTimeoutMs);

  SchemaState state;
  RegStatus status = ReadSchemaState(conn->db, &state);
  if (status != RegStatus::kOk) return fail(status, sqlite3_errmsg(conn->db));
  if (state == SchemaState::kForeign) {
    return fail(RegStatus::kBadDatabase, "another program's database, not a registry");
  }
  if (for_writing) {
    // Commits need not reach the disk before returning: a killed process loses nothing it
    // committed; only a power cut may lose the last writes.
    status = Exec(conn->db, "PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON");
    if (status == RegStatus::kOk && state == SchemaState::kEmpty) status = Initialise(conn->db);
    if (status != RegStatus::kOk) return fail(status, sqlite3_errmsg(conn->db));
  } else {
    *empty = state == SchemaState::kEmpty;
  }
  *out = std::move(conn);
  return RegStatus::kOk;
}

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

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return home;
  struct passwd* pw = getpwuid(getuid());
  if (pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
  return {};
}

}  // namespace

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
  Statement stmt(conn_->db, kQueryValue);
  if (!stmt.ok()) return stmt.prepare_status();
  stmt.BindInt(1, key_id_);
  stmt.BindText(2, name);
  stmt.BindInt(9, static_cast<int64_t>(std::min(max_bytes, kRegistryMaxValueBytes)));
  int rc = stmt.Step();
  if (rc == SQLITE_DONE) return RegStatus::kNotFound;
  if (rc != SQLITE_ROW) return StatusOf(rc);
  return ReadValueRow(stmt, SIZE_MAX, max_bytes, value);
}

RegStatus RegistryKey::Enum(size_t index, size_t max_name_chars, size_t max_bytes,
                            RegValue* value) const {
  if (!is_open()) return RegStatus::kFailed;
  if (index > INT64_MAX) return RegStatus::kNotFound;
  Statement stmt(conn_->db, kEnumValue);
  if (!stmt.ok()) return stmt.prepare_status();
  stmt.BindInt(1, key_id_);
  stmt.BindInt(2, static_cast<int64_t>(index));
  stmt.BindInt(9, static_cast<int64_t>(std::min(max_bytes, kRegistryMaxValueBytes)));
  int rc = stmt.Step();
  if (rc == SQLITE_DONE) return RegStatus::kNotFound;
  if (rc != SQLITE_ROW) return StatusOf(rc);
  return ReadValueRow(stmt, max_name_chars, max_bytes, value);
}

RegStatus RegistryKey::Set(std::string_view name, uint32_t type, std::string_view data) {
  if (!is_open() || !writable_) return RegStatus::kFailed;
  if (name.size() > kMaxValueNameBytes || data.size() > kRegistryMaxValueBytes) {
    return RegStatus::kFailed;
  }
  // One statement in autocommit mode: one transaction, which takes the write lock before it
  // reads, so the busy handler (not a failed upgrade) deals with another writer.
  Statement stmt(conn_->db,
                 "INSERT INTO vals(key_id, name, type, data) VALUES(?1, ?2, ?3, ?4)"
                 " ON CONFLICT(key_id, name) DO UPDATE SET type = excluded.type,"
                 " data = excluded.data");
  if (!stmt.ok()) return stmt.prepare_status();
  stmt.BindInt(1, key_id_);
  stmt.BindText(2, name);
  stmt.BindInt(3, type);
  stmt.BindBlob(4, data);
  return StatusOf(stmt.Step());
}

RegStatus RegistryKey::Delete(std::string_view name) {
  if (!is_open() || !writable_) return RegStatus::kFailed;
  Statement stmt(conn_->db, "DELETE FROM vals WHERE key_id = ?1 AND name = ?2");
  if (!stmt.ok()) return stmt.prepare_status();
  stmt.BindInt(1, key_id_);
  stmt.BindText(2, name);
  RegStatus status = StatusOf(stmt.Step());
  if (status == RegStatus::kOk && sqlite3_changes(conn_->db) == 0) return RegStatus::kNotFound;
  return status;
}

Registry::Registry() : file_(RegistryFilePath()) {}

Registry::Registry(std::string file) : file_(std::move(file)) {}

namespace {

// Finds the key's row: *id and its stored spelling, or kNotFound.
RegStatus FindKey(sqlite3* db, const std::string& path, int64_t* id, std::string* stored) {
  Statement stmt(db, "SELECT id, path FROM keys WHERE path = ?1");
  if (!stmt.ok()) return stmt.prepare_status();
  stmt.BindText(1, path);
  int rc = stmt.Step();
  if (rc == SQLITE_DONE) return RegStatus::kNotFound;
  if (rc != SQLITE_ROW) return StatusOf(rc);
  if (stmt.ColumnType(0) != SQLITE_INTEGER) return RegStatus::kBadDatabase;
  *id = stmt.Int(0);
  stored->assign(stmt.Text(1));
  return RegStatus::kOk;
}

}  // namespace

RegStatus Registry::OpenKey(std::string_view path, RegistryKey* key) const {
  key->Close();
  std::string normalised;
  if (!NormaliseKeyPath(path, &normalised)) return RegStatus::kFailed;
  std::unique_ptr<Connection> conn;
  bool empty;
  RegStatus status = Connect(file_, false, &conn, &empty);
  if (status != RegStatus::kOk) return status;
  if (empty) return RegStatus::kNotFound;
  status = FindKey(conn->db, normalised, &key->key_id_, &key->path_);
  if (status != RegStatus::kOk) return status;
  key->conn_ = std::move(conn);
  return RegStatus::kOk;
}

RegStatus Registry::CreateKey(std::string_view path, RegistryKey* key) const {
  key->Close();
  std::string normalised;
  if (!NormaliseKeyPath(path, &normalised)) return RegStatus::kFailed;
  std::unique_ptr<Connection> conn;
  bool empty;
  RegStatus status = Connect(file_, true, &conn, &empty);
  if (status != RegStatus::kOk) return status;
  status = FindKey(conn->db, normalised, &key->key_id_, &key->path_);
  if (status == RegStatus::kNotFound) {
    // Another process may create the same key at once: the loser's insert is ignored and both
    // find the one row.
    Statement insert(conn->db, "INSERT OR IGNORE INTO keys(path) VALUES(?1)");
    if (!insert.ok()) return insert.prepare_status();
    insert.BindText(1, normalised);
    status = StatusOf(insert.Step());
    if (status == RegStatus::kOk) {
      status = FindKey(conn->db, normalised, &key->key_id_, &key->path_);
    }
  }
  if (status != RegStatus::kOk) return status;
  key->conn_ = std::move(conn);
  key->writable_ = true;
  return RegStatus::kOk;
}

RegStatus Registry::ListKeys(std::vector<std::string>* paths) const {
  paths->clear();
  std::unique_ptr<Connection> conn;
  bool empty;
  RegStatus status = Connect(file_, false, &conn, &empty);
  if (status == RegStatus::kNotFound || (status == RegStatus::kOk && empty)) return RegStatus::kOk;
  if (status != RegStatus::kOk) return status;
  Statement stmt(conn->db, "SELECT path FROM keys ORDER BY id");
  if (!stmt.ok()) return stmt.prepare_status();
  int rc;
  while ((rc = stmt.Step()) == SQLITE_ROW) paths->emplace_back(stmt.Text(0));
  return StatusOf(rc);
}

RegStatus Registry::Check(std::string* problem) const {
  problem->clear();
  std::unique_ptr<Connection> conn;
  bool empty;
  RegStatus status = Connect(file_, false, &conn, &empty, problem);
  if (status == RegStatus::kNotFound) {
    problem->clear();
    return RegStatus::kOk;
  }
  if (status == RegStatus::kOk) {
    Statement stmt(conn->db, "PRAGMA quick_check");
    if (!stmt.ok()) {
      status = stmt.prepare_status();
    } else {
      int rc;
      while ((rc = stmt.Step()) == SQLITE_ROW) {
        std::string_view line = stmt.Text(0);
        if (line == "ok") continue;
        if (!problem->empty()) *problem += "; ";
        *problem += line;
      }
      status = StatusOf(rc);
      if (status == RegStatus::kOk && !problem->empty()) status = RegStatus::kBadDatabase;
    }
  }
  if (status != RegStatus::kOk && problem->empty()) {
    *problem = conn != nullptr ? sqlite3_errmsg(conn->db) : RegStatusText(status);
  }
  return status;
}

}  // namespace vqscw
