#include "settings/ValueStore.h"

#include "settings/FileSystem.h"
#include "settings/Utf16.h"
#include "settings/XdgDirs.h"

#include <sqlite3.h>

#include <clocale>
#include <cstdio>
#include <ctime>
#include <cwctype>
#include <unistd.h>

namespace {

// Long enough for any other process's single change to finish, short enough that
// a stuck store does not freeze the program for good.
constexpr int kBusyTimeoutMs = 5000;

// Waits for a busy store in steps of a millisecond. SQLite's own handler backs off
// to 100 ms steps, which lets a busy writer lose the race again and again.
int WaitWhileBusy(void*, int attempts) {
    if (attempts >= kBusyTimeoutMs)
        return 0;
    usleep(1000);
    return 1;
}

constexpr const char* kSchema = "CREATE TABLE IF NOT EXISTS keys("
                                "  folded TEXT PRIMARY KEY, path TEXT NOT NULL) WITHOUT ROWID;"
                                "CREATE TABLE IF NOT EXISTS vals("
                                "  key TEXT NOT NULL, folded TEXT NOT NULL, name TEXT NOT NULL,"
                                "  type INTEGER NOT NULL, data BLOB NOT NULL,"
                                "  PRIMARY KEY(key, folded)) WITHOUT ROWID;";

class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) == SQLITE_OK)
            m_stmt.reset(raw);
    }
    explicit operator bool() const { return m_stmt != nullptr; }

    Statement& Bind(int index, const std::string& text) {
        sqlite3_bind_text(m_stmt.get(), index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    Statement& BindBlob(int index, const std::string& bytes) {
        sqlite3_bind_blob(m_stmt.get(), index, bytes.data(), static_cast<int>(bytes.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Bind(int index, int64_t number) {
        sqlite3_bind_int64(m_stmt.get(), index, number);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step() { return m_stmt ? sqlite3_step(m_stmt.get()) : SQLITE_MISUSE; }
    bool Run() { return Step() == SQLITE_DONE; }
    void Reset() {
        sqlite3_reset(m_stmt.get());
        sqlite3_clear_bindings(m_stmt.get());
    }

    int64_t Integer(int column) { return sqlite3_column_int64(m_stmt.get(), column); }
    std::string Blob(int column) {
        const auto* bytes = static_cast<const char*>(sqlite3_column_blob(m_stmt.get(), column));
        const int size = sqlite3_column_bytes(m_stmt.get(), column);
        return bytes ? std::string(bytes, static_cast<size_t>(size)) : std::string();
    }

private:
    struct Finalizer {
        void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
    };
    std::unique_ptr<sqlite3_stmt, Finalizer> m_stmt;
};

// Rolls an unfinished change back, so a failure midway leaves the store as it was.
class Transaction {
public:
    explicit Transaction(sqlite3* db)
        : m_db(db),
          m_open(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK) {}
    ~Transaction() {
        if (m_open)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    bool IsOpen() const { return m_open; }
    bool Commit() {
        m_open = m_open && sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK;
        return !m_open;
    }

private:
    sqlite3* m_db;
    bool m_open;
};

// Case folding by full Unicode upper case, as the registry compares names; the
// C.UTF-8 locale carries the tables whatever the user's locale is.
char16_t FoldUnit(char16_t unit) {
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
    if (unit < 0x80)
        return (unit >= u'a' && unit <= u'z') ? static_cast<char16_t>(unit - 0x20) : unit;
    if (!utf8 || (unit >= 0xD800 && unit <= 0xDFFF))
        return unit;
    const wint_t upper = towupper_l(unit, utf8);
    return upper <= 0xFFFF ? static_cast<char16_t>(upper) : unit;
}

std::string Folded(const std::u16string& text) {
    std::u16string folded(text);
    for (char16_t& unit : folded)
        unit = FoldUnit(unit);
    return ToUtf8(folded);
}

// Key paths are names joined by single backslashes; the empty path is the hive's root.
bool IsValidKeyPath(const std::u16string& key) {
    if (key.empty())
        return true;
    return key.front() != u'\\' && key.back() != u'\\' && key.find(u"\\\\") == std::u16string::npos;
}

std::u16string JoinKey(const std::u16string& parent, const std::u16string& name) {
    return parent.empty() ? name : parent + u'\\' + name;
}

// A damaged file, or one that is not a database at all, fails every statement.
bool IsDamaged(sqlite3* db) {
    Statement probe(db, "SELECT count(*) FROM sqlite_master");
    const int result = probe ? probe.Step() : sqlite3_errcode(db);
    return result == SQLITE_NOTADB || result == SQLITE_CORRUPT;
}

// Keeps a damaged hive beside the fresh one, for whoever wants to look into it.
bool SetAside(const std::string& file) {
    const std::string aside = file + ".damaged-" + std::to_string(time(nullptr));
    return rename(file.c_str(), aside.c_str()) == 0;
}

} // namespace

void ValueStore::Closer::operator()(sqlite3* db) const {
    sqlite3_close_v2(db);
}

std::string ValueStore::HivePath(bool currentUser) {
    if (currentUser)
        return xdg::DataHome() + "/tesmara/registry.sqlite";
    return "/var/lib/tesmara/registry.sqlite";
}

std::optional<ValueStore> ValueStore::Open(bool currentUser, Mode mode) {
    const std::string file = HivePath(currentUser);
    // The user's hive is private; the machine's is readable by every user.
    if (mode == Mode::Create &&
        !files::MakeFolders(files::FolderOf(file), currentUser ? 0700 : 0755))
        return std::nullopt;
    int flags = SQLITE_OPEN_READONLY;
    if (mode == Mode::Modify)
        flags = SQLITE_OPEN_READWRITE;
    if (mode == Mode::Create)
        flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    Connection db = OpenFile(file, flags);
    // Only a change replaces a damaged hive; a reader leaves it alone.
    if (db && mode == Mode::Create && IsDamaged(db.get())) {
        db.reset();
        if (SetAside(file))
            db = OpenFile(file, flags);
    }
    if (!db)
        return std::nullopt;
    return ValueStore(std::move(db));
}

ValueStore::Connection ValueStore::OpenFile(const std::string& file, int flags) {
    sqlite3* raw = nullptr;
    const int result = sqlite3_open_v2(file.c_str(), &raw, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    Connection db(raw);
    if (result != SQLITE_OK)
        return nullptr;
    sqlite3_busy_handler(db.get(), WaitWhileBusy, nullptr);
    return db;
}

bool ValueStore::Execute(const char* sql) {
    return sqlite3_exec(m_db.get(), sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::optional<StoredValue> ValueStore::Read(const std::u16string& key, const std::u16string& name) {
    if (!IsValidKeyPath(key))
        return std::nullopt;
    Statement select(m_db.get(), "SELECT type, data FROM vals WHERE key = ?1 AND folded = ?2");
    if (!select || select.Bind(1, Folded(key)).Bind(2, Folded(name)).Step() != SQLITE_ROW)
        return std::nullopt;
    return StoredValue{static_cast<uint32_t>(select.Integer(0)), select.Blob(1)};
}

bool ValueStore::KeyExists(const std::string& folded) {
    if (folded.empty())
        return true;
    Statement select(m_db.get(), "SELECT 1 FROM keys WHERE folded = ?1");
    return select && select.Bind(1, folded).Step() == SQLITE_ROW;
}

bool ValueStore::HasSubKeys(const std::string& folded) {
    // Every sub-key's path sorts between "key\" and "key]", the next character.
    Statement select(m_db.get(),
                     "SELECT 1 FROM keys WHERE folded > ?1 || '\\' AND folded < ?1 || ']' LIMIT 1");
    return !select || select.Bind(1, folded).Step() != SQLITE_DONE;
}

bool ValueStore::CreateKeyPath(const std::u16string& key) {
    if (key.empty())
        return true;
    Statement insert(m_db.get(), "INSERT OR IGNORE INTO keys(folded, path) VALUES(?1, ?2)");
    if (!insert)
        return false;
    size_t end = 0;
    do {
        end = key.find(u'\\', end + 1);
        const std::u16string level = key.substr(0, end);
        if (!insert.Bind(1, Folded(level)).Bind(2, ToUtf8(level)).Run())
            return false;
        insert.Reset();
    } while (end != std::u16string::npos);
    return true;
}

bool ValueStore::Write(const std::u16string& key, const std::u16string& name,
                       const StoredValue& value) {
    if (!IsValidKeyPath(key))
        return false;
    Transaction transaction(m_db.get());
    if (!transaction.IsOpen() || !Execute(kSchema) || !CreateKeyPath(key))
        return false;
    Statement upsert(m_db.get(), "INSERT OR REPLACE INTO vals(key, folded, name, type, data) "
                                 "VALUES(?1, ?2, ?3, ?4, ?5)");
    const bool written = upsert.Bind(1, Folded(key))
                             .Bind(2, Folded(name))
                             .Bind(3, ToUtf8(name))
                             .Bind(4, static_cast<int64_t>(value.type))
                             .BindBlob(5, value.data)
                             .Run();
    return written && transaction.Commit();
}

bool ValueStore::DeleteKey(const std::u16string& parent, const std::u16string& name) {
    const std::u16string key = JoinKey(parent, name);
    if (name.empty() || !IsValidKeyPath(parent) || !IsValidKeyPath(key))
        return false;
    Transaction transaction(m_db.get());
    const std::string folded = Folded(key);
    if (!transaction.IsOpen() || !KeyExists(Folded(parent)) || !KeyExists(folded) ||
        HasSubKeys(folded))
        return false;
    Statement deleteValues(m_db.get(), "DELETE FROM vals WHERE key = ?1");
    Statement deleteKey(m_db.get(), "DELETE FROM keys WHERE folded = ?1");
    return deleteValues.Bind(1, folded).Run() && deleteKey.Bind(1, folded).Run() &&
           transaction.Commit();
}
