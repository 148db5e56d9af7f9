#pragma once
// A per-user, typed key/value store standing in for HKEY_CURRENT_USER.
//
// Off Windows the store is one text file in the .reg export syntax (readable, keeps the value
// types): $CORVANE_REGISTRY when set, else $XDG_CONFIG_HOME/corvane/hkcu.reg (~/.config when
// XDG_CONFIG_HOME is unset). Key paths are given below the root, e.g. "\Software\Brixwold\Corvane";
// key and value names compare ignoring ASCII case as the registry does. Strings are 8-bit bytes in
// the system code page, except the Unicode ones (file paths); the file holds them as UTF-8, and a
// UTF-16 export is read too. Every change is written to a new file that then replaces the old one,
// so a kill mid-write never leaves a broken store. A file that cannot be read whole is kept aside
// under another name before the store is written again, and the user is told once.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

enum class RegType { None = 0, Sz = 1, ExpandSz = 2, Binary = 3, Dword = 4, MultiSz = 7, Qword = 11 };

class RegistryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The file that backs the store.
std::string registryFilePath();

// What the user should be told once about the store (a damaged file kept aside), or empty; the
// notice is cleared by taking it.
std::string takeRegistryNotice();

class RegistryKey {
public:
    // Opens an existing key; nullptr when it does not exist or the store cannot be read.
    static std::unique_ptr<RegistryKey> openExisting(std::string_view path);
    // Opens a key, creating it and its missing parents; nullptr when that is not possible.
    static std::unique_ptr<RegistryKey> openCreate(std::string_view path);
    static bool keyExists(std::string_view path);

    ~RegistryKey();
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    const std::string& path() const { return path_; }

    RegType valueType(std::string_view name) const;  // None when absent
    bool hasValue(std::string_view name) const { return valueType(name) != RegType::None; }

    // Typed reads throw RegistryError for an absent value or one of another type, except that an
    // absent string reads as empty.
    uint32_t readDword(std::string_view name) const;
    std::string readString(std::string_view name) const;
    std::vector<uint8_t> readBinary(std::string_view name) const;
    // A string kept as Unicode (UTF-8), such as a file path, that the code page may not hold.
    std::string readUnicodeString(std::string_view name) const;

    // Writes are kept until close (or destruction) and then stored in one replacement of the file.
    // Throws RegistryError when the store cannot be written.
    void writeDword(std::string_view name, uint32_t value);
    void writeString(std::string_view name, std::string_view value);
    void writeBinary(std::string_view name, const std::vector<uint8_t>& value);
    void writeUnicodeString(std::string_view name, std::string_view utf8);
    void deleteValue(std::string_view name);

    std::vector<std::string> subKeyNames() const;
    std::vector<std::string> valueNames() const;

    // Stores pending writes. Throws RegistryError when they cannot be stored.
    void close();

    struct Value {
        std::string name;
        RegType type = RegType::None;
        std::string data;  // Sz: bytes; Dword: 4 bytes little-endian; others: raw bytes
    };

private:
    explicit RegistryKey(std::string path);
    const Value* find(std::string_view name) const;
    void put(Value v);

    std::string path_;
    std::vector<Value> values_;
    std::vector<std::string> subKeys_;
    std::vector<Value> pending_;
    std::vector<std::string> pendingDeletes_;
};

}  // namespace platform
