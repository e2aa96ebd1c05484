#include "platform/registry_store.h"

#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace pelmo::platform {

namespace {

constexpr int BUSY_TIMEOUT_MS = 10000;

const char* const SCHEMA =
    "CREATE TABLE IF NOT EXISTS registry_keys ("
    "  key TEXT NOT NULL PRIMARY KEY COLLATE NOCASE);"
    "CREATE TABLE IF NOT EXISTS registry_values ("
    "  key TEXT NOT NULL COLLATE NOCASE,"
    "  name TEXT NOT NULL COLLATE NOCASE,"
    "  type INTEGER NOT NULL,"
    "  data BLOB NOT NULL,"
    "  PRIMARY KEY (key, name));";

// "\A\\B\" and "A\B" name the same key.
std::string NormalizeKey(const std::string& key) {
    std::string result;
    size_t i = 0;
    while (i < key.size()) {
        size_t end = key.find('\\', i);
        if (end == std::string::npos) end = key.size();
        if (end > i) {
            if (!result.empty()) result += '\\';
            result.append(key, i, end - i);
        }
        i = end + 1;
    }
    return result;
}

// Statement holder that finalizes on every path.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_; }
    bool BindText(int index, const std::string& text) {
        return sqlite3_bind_text(stmt_, index, text.data(), static_cast<int>(text.size()),
                                 SQLITE_TRANSIENT) == SQLITE_OK;
    }
    int Step() { return sqlite3_step(stmt_); }

  private:
    sqlite3_stmt* stmt_ = nullptr;
};

bool Exec(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The reason for the last failure on db: the system's for a failed file
// operation, else the database's.
std::string Reason(sqlite3* db) {
    const int code = sqlite3_errcode(db) & 0xFF;
    const int system = sqlite3_system_errno(db);
    if (system != 0 && (code == SQLITE_CANTOPEN || code == SQLITE_IOERR || code == SQLITE_FULL ||
                        code == SQLITE_READONLY || code == SQLITE_PERM)) {
        return std::strerror(system);
    }
    return sqlite3_errmsg(db);
}

std::string NotAStore(sqlite3* db) { return "not a settings store (" + Reason(db) + ")"; }

std::string FailureText(sqlite3* db) {
    return sqlite3_errcode(db) == SQLITE_NOTADB ? NotAStore(db) : Reason(db);
}

bool KeyExists(sqlite3* db, const std::string& key, std::string* error) {
    Statement st(db, "SELECT 1 FROM registry_keys WHERE key = ?1");
    if (!st.ok()) {
        // No store's table, or no database at all; anything else (a busy
        // store, a failed read) is said as it is.
        const int code = sqlite3_errcode(db);
        *error = code == SQLITE_ERROR || code == SQLITE_NOTADB ? NotAStore(db) : Reason(db);
        return false;
    }
    if (!st.BindText(1, key)) return false;
    return st.Step() == SQLITE_ROW;
}

// A database that holds tables, none of them the store's, belongs to someone
// else.
bool IsOtherDatabase(sqlite3* db) {
    Statement st(db,
                 "SELECT count(*), sum(name = 'registry_keys') FROM sqlite_master "
                 "WHERE type = 'table'");
    if (!st.ok() || st.Step() != SQLITE_ROW) return false;
    return sqlite3_column_int(st.get(), 0) > 0 && sqlite3_column_int(st.get(), 1) == 0;
}

// Inserts the key and each of its parents.
bool CreateKeyPath(sqlite3* db, const std::string& key) {
    Statement st(db, "INSERT OR IGNORE INTO registry_keys (key) VALUES (?1)");
    if (!st.ok()) return false;
    size_t pos = 0;
    while (true) {
        size_t end = key.find('\\', pos);
        std::string prefix = key.substr(0, end);
        sqlite3_reset(st.get());
        if (!st.BindText(1, prefix) || st.Step() != SQLITE_DONE) return false;
        if (end == std::string::npos) return true;
        pos = end + 1;
    }
}

sqlite3* OpenDatabase(const std::string& path, int flags, std::string* error) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        *error = db != nullptr ? Reason(db) : "out of memory";
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, BUSY_TIMEOUT_MS);
    return db;
}

}  // namespace

std::string DefaultRegistryPath() {
    if (const char* path = std::getenv("PELMO_REGISTRY"); path != nullptr && path[0] != '\0') {
        return path;
    }
    std::string config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] != '\0') {
        config = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        config = std::string(home) + "/.config";
    } else {
        config = ".config";
    }
    return config + "/pelmo/registry.db";
}

RegistryKey::RegistryKey(RegistryKey&& other) noexcept
    : db_(other.db_), key_(std::move(other.key_)), writable_(other.writable_) {
    other.db_ = nullptr;
}

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept {
    if (this != &other) {
        Close();
        db_ = other.db_;
        key_ = std::move(other.key_);
        writable_ = other.writable_;
        other.db_ = nullptr;
    }
    return *this;
}

void RegistryKey::Close() {
    if (db_ != nullptr) {
        sqlite3_close(db_);
        db_ = nullptr;
    }
    writable_ = false;
}

bool RegistryKey::OpenForRead(const std::string& storePath, const std::string& key) {
    Close();
    error_.clear();
    std::error_code missing;
    if (!std::filesystem::exists(storePath, missing)) {
        if (missing) error_ = missing.message();
        return false;
    }
    sqlite3* db = OpenDatabase(storePath, SQLITE_OPEN_READONLY, &error_);
    if (db == nullptr) return false;
    const std::string normalized = NormalizeKey(key);
    if (!KeyExists(db, normalized, &error_)) {
        sqlite3_close(db);
        return false;
    }
    db_ = db;
    key_ = normalized;
    return true;
}

bool RegistryKey::OpenForWrite(const std::string& storePath, const std::string& key) {
    Close();
    error_.clear();
    const std::filesystem::path folder = std::filesystem::path(storePath).parent_path();
    if (!folder.empty()) {
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
    }
    sqlite3* db = OpenDatabase(storePath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, &error_);
    if (db == nullptr) return false;
    const std::string normalized = NormalizeKey(key);
    // One immediate transaction, so that two writers creating the same file
    // and key at once simply take turns.
    if (!Exec(db, "BEGIN IMMEDIATE")) {
        error_ = FailureText(db);
        sqlite3_close(db);
        return false;
    }
    if (IsOtherDatabase(db)) {
        error_ = "not a settings store (it holds other tables)";
        Exec(db, "ROLLBACK");
        sqlite3_close(db);
        return false;
    }
    const bool ok = Exec(db, SCHEMA) && CreateKeyPath(db, normalized) && Exec(db, "COMMIT");
    if (!ok) {
        error_ = FailureText(db);
        Exec(db, "ROLLBACK");
        sqlite3_close(db);
        return false;
    }
    db_ = db;
    key_ = normalized;
    writable_ = true;
    return true;
}

bool RegistryKey::QueryValue(const std::string& name, uint32_t* type, void* buffer,
                             uint32_t* size) const {
    if (db_ == nullptr || size == nullptr) return false;
    Statement st(db_, "SELECT type, data FROM registry_values WHERE key = ?1 AND name = ?2");
    if (!st.ok() || !st.BindText(1, key_) || !st.BindText(2, name)) return false;
    if (st.Step() != SQLITE_ROW) return false;
    const auto valueType = static_cast<uint32_t>(sqlite3_column_int64(st.get(), 0));
    const void* data = sqlite3_column_blob(st.get(), 1);
    const auto length = static_cast<uint32_t>(sqlite3_column_bytes(st.get(), 1));
    if (type != nullptr) *type = valueType;
    if (buffer == nullptr) {
        *size = length;
        return true;
    }
    if (length > *size) {
        *size = length;
        return false;
    }
    if (length > 0) std::memcpy(buffer, data, length);
    *size = length;
    return true;
}

bool RegistryKey::SetValue(const std::string& name, uint32_t type, const void* data,
                           uint32_t size) {
    if (db_ == nullptr || !writable_ || (data == nullptr && size > 0)) return false;
    error_.clear();
    Statement st(db_,
                 "INSERT INTO registry_values (key, name, type, data) VALUES (?1, ?2, ?3, ?4) "
                 "ON CONFLICT (key, name) DO UPDATE SET type = excluded.type, "
                 "data = excluded.data");
    static const uint8_t empty = 0;
    if (!st.ok() || !st.BindText(1, key_) || !st.BindText(2, name) ||
        sqlite3_bind_int64(st.get(), 3, type) != SQLITE_OK ||
        sqlite3_bind_blob(st.get(), 4, size > 0 ? data : &empty, static_cast<int>(size),
                          SQLITE_TRANSIENT) != SQLITE_OK ||
        st.Step() != SQLITE_DONE) {
        error_ = FailureText(db_);
        return false;
    }
    return true;
}

bool RegistryKey::DeleteValue(const std::string& name) {
    if (db_ == nullptr || !writable_) return false;
    Statement st(db_, "DELETE FROM registry_values WHERE key = ?1 AND name = ?2");
    if (!st.ok() || !st.BindText(1, key_) || !st.BindText(2, name)) return false;
    return st.Step() == SQLITE_DONE && sqlite3_changes(db_) > 0;
}

bool RegistryKey::ListValues(std::vector<RegistryEntry>* entries) const {
    if (db_ == nullptr || entries == nullptr) return false;
    entries->clear();
    Statement st(db_, "SELECT name, type, data FROM registry_values WHERE key = ?1 ORDER BY rowid");
    if (!st.ok() || !st.BindText(1, key_)) return false;
    int rc;
    while ((rc = st.Step()) == SQLITE_ROW) {
        RegistryEntry entry;
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st.get(), 0));
        entry.name = text != nullptr ? text : "";
        entry.type = static_cast<uint32_t>(sqlite3_column_int64(st.get(), 1));
        const auto* data = static_cast<const uint8_t*>(sqlite3_column_blob(st.get(), 2));
        const int length = sqlite3_column_bytes(st.get(), 2);
        if (data != nullptr) entry.data.assign(data, data + length);
        entries->push_back(std::move(entry));
    }
    return rc == SQLITE_DONE;
}

}  // namespace pelmo::platform
