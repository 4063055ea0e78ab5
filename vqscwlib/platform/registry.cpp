#include "vqscwlib/platform/registry.h"

#include <pwd.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <utility>

#include "vqscwlib/platform/thread_annotations.h"

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

// What a registry file is on disk, apart from its write-ahead log: a change means someone
// replaced, truncated or rewrote the file, or the log was copied back into it.
struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  int64_t modified_ns = 0;

  bool operator==(const FileIdentity&) const = default;
};

FileIdentity IdentityOf(const struct stat& st) {
  return {st.st_dev, st.st_ino, st.st_size,
          static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

}  // namespace

namespace registry_internal {

// One SQLite connection to a registry file, shared by the keys opened on it and closed with the
// last of them.
struct Connection {
  sqlite3* db = nullptr;
  // Held for every use of db, which the keys of several threads may share.
  Mutex mu;
  FileIdentity identity;
  // Opened with write access and set up for writing.
  bool writable = false;
  // An operation found the file damaged: the next key connects afresh.
  std::atomic<bool> damaged{false};

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

// Switches the database to its write-ahead log, which lets readers go on while a writer writes.
// The switch needs the file to itself for a moment and SQLite does not wait for that: another
// process that already uses the log holds it open. So retry, reading in between, which makes
// SQLite notice a log another process switched on and the switch a no-op.
RegStatus UseWriteAheadLog(sqlite3* db) {
  for (int waited_ms = 0;; ++waited_ms) {
    Statement stmt(db, "PRAGMA journal_mode=WAL");
    int rc = stmt.ok() ? stmt.Step() : SQLITE_ERROR;
    if (rc == SQLITE_ROW) {
      return stmt.Text(0) == "wal" ? RegStatus::kOk : RegStatus::kFailed;
    }
    if ((rc & 0xFF) != SQLITE_BUSY || waited_ms >= kRegistryBusyTimeoutMs) {
      return stmt.ok() ? StatusOf(rc) : stmt.prepare_status();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    SchemaState state;
    ReadSchemaState(db, &state);
  }
}

// Turns an empty database into a registry. Safe against another process doing the same at once:
// the check is repeated under the write lock, for which the busy handler waits.
RegStatus Initialise(sqlite3* db) {
  RegStatus status = Exec(db, "BEGIN IMMEDIATE");
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

// Opens a new connection to the registry file. For reading, an empty database (no registry yet)
// gives kNotFound; for writing, the file and its folder are created and the database set up.
// On failure *problem (when given) says why.
RegStatus Connect(const std::string& file, bool for_writing, std::unique_ptr<Connection>* out,
                  std::string* problem) {
  auto fail = [problem](RegStatus status, std::string why) {
    if (problem != nullptr) *problem = std::move(why);
    return status;
  };
  if (for_writing) {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::path(file).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, error);
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
    // Also finishes the set-up of a registry whose creator died before switching to the log.
    if (status == RegStatus::kOk) status = UseWriteAheadLog(conn->db);
    if (status != RegStatus::kOk) return fail(status, sqlite3_errmsg(conn->db));
    conn->writable = true;
  } else if (state == SchemaState::kEmpty) {
    return fail(RegStatus::kNotFound, "no registry in the file yet");
  }
  *out = std::move(conn);
  return RegStatus::kOk;
}

// The process keeps its last connection open and hands it to every key opened on the same file:
// a new connection costs the schema's parse and the write-ahead log's set-up (some hundred
// microseconds), a read on an open one a few. The connection is reused only while the file is
// unchanged on disk apart from its log, so a file that someone replaced, truncated or rewrote is
// read afresh. After fork() the child leaves its parent's connection alone (SQLite's locks belong
// to the process that took them).
class ConnectionCache {
 public:
  // The kept connection for `file` when it still fits, else null.
  std::shared_ptr<Connection> Find(const std::string& file, const FileIdentity& identity,
                                   bool for_writing) {
    MutexLock lock(&mu_);
    LeaveInherited();
    if (conn_ == nullptr || file_ != file || !(conn_->identity == identity) || conn_->damaged ||
        (for_writing && !conn_->writable)) {
      return nullptr;
    }
    return conn_;
  }

  void Keep(const std::string& file, std::shared_ptr<Connection> conn) {
    MutexLock lock(&mu_);
    LeaveInherited();
    file_ = file;
    conn_ = std::move(conn);
  }

  void Clear() {
    MutexLock lock(&mu_);
    LeaveInherited();
    conn_.reset();
  }

 private:
  // A connection inherited from the parent process is dropped without being closed, as closing
  // it would touch the parent's locks.
  void LeaveInherited() REQUIRES(mu_) {
    if (pid_ == getpid()) return;
    if (conn_ != nullptr) new std::shared_ptr<Connection>(std::move(conn_));  // never freed
    conn_.reset();
    pid_ = getpid();
  }

  Mutex mu_;
  pid_t pid_ GUARDED_BY(mu_) = 0;
  std::string file_ GUARDED_BY(mu_);
  std::shared_ptr<Connection> conn_ GUARDED_BY(mu_);
};

// Never destroyed: keys may be closed during the process's exit.
ConnectionCache& Cache() {
  static ConnectionCache* cache = new ConnectionCache;
  return *cache;
}

// A connection to `file` for reading or for writing: the kept one when it fits, else a new one,
// which is then kept. For reading, a missing file or an empty one is kNotFound.
RegStatus Acquire(const std::string& file, bool for_writing, std::shared_ptr<Connection>* conn,
                  std::string* problem = nullptr) {
  if (file.empty()) {
    if (problem != nullptr) *problem = "no registry file: HOME is not set";
    return RegStatus::kFailed;
  }
  struct stat st;
  if (stat(file.c_str(), &st) == 0) {
    *conn = Cache().Find(file, IdentityOf(st), for_writing);
    if (*conn != nullptr) return RegStatus::kOk;
  } else if (errno != ENOENT || !for_writing) {
    if (problem != nullptr) *problem = std::strerror(errno);
    return errno == ENOENT ? RegStatus::kNotFound : RegStatus::kFailed;
  }
  std::unique_ptr<Connection> fresh;
  RegStatus status = Connect(file, for_writing, &fresh, problem);
  if (status != RegStatus::kOk) return status;
  *conn = std::move(fresh);
  if (stat(file.c_str(), &st) == 0) {
    (*conn)->identity = IdentityOf(st);
    Cache().Keep(file, *conn);
  }
  return RegStatus::kOk;
}

// Notes a damaged file on the connection so that the next key connects afresh.
RegStatus Noted(Connection* conn, RegStatus status) {
  if (status == RegStatus::kBadDatabase) conn->damaged = true;
  return status;
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

void ReleaseRegistryFile() { Cache().Clear(); }

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
  stmt.BindInt(9, static_cast<int64_t>(std::min(max_bytes, kRegistryMaxValueBytes)));
  int rc = stmt.Step();
  if (rc == SQLITE_DONE) return RegStatus::kNotFound;
  if (rc != SQLITE_ROW) return Noted(conn_.get(), StatusOf(rc));
  return Noted(conn_.get(), ReadValueRow(stmt, SIZE_MAX, max_bytes, value));
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
  stmt.BindInt(9, static_cast<int64_t>(std::min(max_bytes, kRegistryMaxValueBytes)));
  int rc = stmt.Step();
  if (rc == SQLITE_DONE) return RegStatus::kNotFound;
  if (rc != SQLITE_ROW) return Noted(conn_.get(), StatusOf(rc));
  return Noted(conn_.get(), ReadValueRow(stmt, max_name_chars, max_bytes, value));
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
  int rc = stmt.ok() ? SQLITE_ROW : SQLITE_ERROR;
  status = stmt.ok() ? RegStatus::kOk : stmt.prepare_status();
  while (stmt.ok() && (rc = stmt.Step()) == SQLITE_ROW) {
    std::string_view line = stmt.Text(0);
    if (line == "ok") continue;
    if (!problem->empty()) *problem += "; ";
    *problem += line;
  }
  if (stmt.ok()) status = StatusOf(rc);
  if (status == RegStatus::kOk && !problem->empty()) status = RegStatus::kBadDatabase;
  if (status != RegStatus::kOk && problem->empty()) *problem = sqlite3_errmsg(conn->db);
  return Noted(conn.get(), status);
}

}  // namespace vqscw
