#pragma once

#include <cstdint>
#include <string>

// Single named values under backslash-separated keys in a per-user store (one
// SQLite database per hive), read and written one operation at a time. Key paths
// and value names compare without regard to case. No operation reports an error:
// reads give an empty string or 0xFFFFFFFF, failed writes change nothing.
// The first argument picks the hive: true for the current user, false for the machine.
class CRegEdit {
public:
    virtual ~CRegEdit() = default;

    virtual std::u16string ReadString(bool currentUser, const std::u16string& key,
                                      const std::u16string& name);
    virtual void WriteString(bool currentUser, const std::u16string& key,
                             const std::u16string& name, const std::u16string& value);
    virtual uint32_t ReadDword(bool currentUser, const std::u16string& key,
                               const std::u16string& name);
    virtual void WriteDword(bool currentUser, const std::u16string& key,
                            const std::u16string& name, uint32_t value);
    virtual void WriteStringIfEmpty(bool currentUser, const std::u16string& key,
                                    const std::u16string& name, const std::u16string& value);
    virtual void DeleteKey(bool currentUser, const std::u16string& parent,
                           const std::u16string& name);
};
