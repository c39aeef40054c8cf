#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

struct sqlite3;

// Registry value types, numbered as the registry numbers them.
enum RegValueType : uint32_t {
    REG_SZ = 1,
    REG_EXPAND_SZ = 2,
    REG_DWORD = 4,
};

struct StoredValue {
    uint32_t type = 0;
    std::string data; // the value's bytes: strings as UTF-16LE with their terminating 0
};

// One hive of typed values under backslash-separated keys, kept in an SQLite file
// that every process of the user opens for itself. Key paths and value names are
// kept as first written but compared without regard to case. Each change is one
// transaction; a writer that finds the file busy waits for its turn.
class ValueStore {
public:
    enum class Mode {
        Read,   // an existing hive, read only
        Modify, // an existing hive, for changes
        Create, // the hive and its folder are made when missing
    };

    // The hive's database file: the user's under the XDG data home, the machine's
    // under /var/lib.
    static std::string HivePath(bool currentUser);
    // Empty when the hive cannot be opened that way. Opened to create, a damaged
    // hive is renamed aside (kept, "<file>.damaged-<time>") and a fresh one made.
    static std::optional<ValueStore> Open(bool currentUser, Mode mode);

    std::optional<StoredValue> Read(const std::u16string& key, const std::u16string& name);
    // Creates the key and every key above it when missing.
    bool Write(const std::u16string& key, const std::u16string& name, const StoredValue& value);
    // Deletes parent\name with its values, unless it has sub-keys or parent is missing.
    bool DeleteKey(const std::u16string& parent, const std::u16string& name);

private:
    struct Closer {
        void operator()(sqlite3* db) const;
    };
    using Connection = std::unique_ptr<sqlite3, Closer>;

    static Connection OpenFile(const std::string& file, int flags);
    explicit ValueStore(Connection db) : m_db(std::move(db)) {}
    bool Execute(const char* sql);
    bool KeyExists(const std::string& folded);
    bool HasSubKeys(const std::string& folded);
    bool CreateKeyPath(const std::u16string& key);

    Connection m_db;
};
