#include "settings/RegEdit.h"

#include "settings/ValueStore.h"

namespace {

// What a registry read with a 1024-unit buffer takes: longer values do not fit.
constexpr size_t kReadStringBytes = 2048;
constexpr uint32_t kNoDword = 0xFFFFFFFF;

std::string StringData(const std::u16string& text) {
    std::string bytes;
    bytes.reserve((text.size() + 1) * 2);
    for (const char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    bytes.append(2, '\0');
    return bytes;
}

char16_t UnitAt(const std::string& bytes, size_t index) {
    return static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * index]) |
                                 static_cast<unsigned char>(bytes[2 * index + 1]) << 8);
}

// Only whole units ending in a terminating 0 make a string, as the registry's own
// readers insist; anything else reads as no string at all.
std::u16string TextOf(const StoredValue& value) {
    const bool isString = value.type == REG_SZ || value.type == REG_EXPAND_SZ;
    const size_t size = value.data.size();
    if (!isString || size > kReadStringBytes || size % 2 != 0)
        return {};
    if (size > 0 && UnitAt(value.data, size / 2 - 1) != 0)
        return {};
    std::u16string text;
    for (size_t i = 0; i < size / 2 && UnitAt(value.data, i) != 0; ++i)
        text += UnitAt(value.data, i);
    return text;
}

std::string DwordData(uint32_t value) {
    std::string bytes(4, '\0');
    for (size_t i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

uint32_t DwordOf(const StoredValue& value) {
    if (value.type != REG_DWORD || value.data.size() != 4)
        return kNoDword;
    uint32_t number = 0;
    for (size_t i = 0; i < 4; ++i)
        number |= static_cast<uint32_t>(static_cast<unsigned char>(value.data[i])) << (8 * i);
    return number;
}

void Write(bool currentUser, const std::u16string& key, const std::u16string& name,
           const StoredValue& value) {
    if (auto store = ValueStore::Open(currentUser, ValueStore::Mode::Create))
        store->Write(key, name, value);
}

std::optional<StoredValue> Read(bool currentUser, const std::u16string& key,
                                const std::u16string& name) {
    auto store = ValueStore::Open(currentUser, ValueStore::Mode::Read);
    return store ? store->Read(key, name) : std::nullopt;
}

} // namespace

std::u16string CRegEdit::ReadString(bool currentUser, const std::u16string& key,
                                    const std::u16string& name) {
    const auto value = Read(currentUser, key, name);
    return value ? TextOf(*value) : std::u16string();
}

void CRegEdit::WriteString(bool currentUser, const std::u16string& key, const std::u16string& name,
                           const std::u16string& value) {
    Write(currentUser, key, name, {REG_SZ, StringData(value)});
}

uint32_t CRegEdit::ReadDword(bool currentUser, const std::u16string& key,
                             const std::u16string& name) {
    const auto value = Read(currentUser, key, name);
    return value ? DwordOf(*value) : kNoDword;
}

void CRegEdit::WriteDword(bool currentUser, const std::u16string& key, const std::u16string& name,
                          uint32_t value) {
    Write(currentUser, key, name, {REG_DWORD, DwordData(value)});
}

void CRegEdit::WriteStringIfEmpty(bool currentUser, const std::u16string& key,
                                  const std::u16string& name, const std::u16string& value) {
    if (ReadString(currentUser, key, name).empty())
        WriteString(currentUser, key, name, value);
}

void CRegEdit::DeleteKey(bool currentUser, const std::u16string& parent,
                         const std::u16string& name) {
    if (auto store = ValueStore::Open(currentUser, ValueStore::Mode::Modify))
        store->DeleteKey(parent, name);
}
