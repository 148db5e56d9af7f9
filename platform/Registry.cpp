#include "platform/Registry.h"

#include "platform/CodePage.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

constexpr std::string_view RootName = "HKEY_CURRENT_USER";

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// "\a\\b\" -> "a\b"
std::string normalisePath(std::string_view path) {
    std::string out;
    size_t i = 0;
    while (i < path.size()) {
        while (i < path.size() && path[i] == '\\') ++i;
        size_t j = i;
        while (j < path.size() && path[j] != '\\') ++j;
        if (j > i) {
            if (!out.empty()) out += '\\';
            out.append(path.substr(i, j - i));
        }
        i = j;
    }
    return out;
}

using Value = RegistryKey::Value;

struct HiveKey {
    std::string path;
    std::vector<Value> values;
};

struct Hive {
    std::vector<HiveKey> keys;

    HiveKey* find(std::string_view path) {
        for (auto& k : keys)
            if (equalNoCase(k.path, path)) return &k;
        return nullptr;
    }

    HiveKey& ensure(const std::string& path) {
        if (HiveKey* k = find(path)) return *k;
        const size_t slash = path.rfind('\\');
        if (slash != std::string::npos) ensure(path.substr(0, slash));
        keys.push_back(HiveKey{path, {}});
        return keys.back();
    }

    std::vector<std::string> childrenOf(std::string_view path) {
        std::vector<std::string> names;
        for (const auto& k : keys) {
            std::string_view p = k.path;
            std::string_view rest;
            if (path.empty()) {
                rest = p;
            } else {
                if (p.size() <= path.size() + 1 || p[path.size()] != '\\' ||
                    !equalNoCase(p.substr(0, path.size()), path))
                    continue;
                rest = p.substr(path.size() + 1);
            }
            if (rest.empty() || rest.find('\\') != std::string_view::npos) continue;
            names.emplace_back(rest);
        }
        return names;
    }
};

void setValue(std::vector<Value>& values, Value v) {
    for (auto& existing : values) {
        if (equalNoCase(existing.name, v.name)) {
            existing.type = v.type;
            existing.data = std::move(v.data);
            return;
        }
    }
    values.push_back(std::move(v));
}

void removeValue(std::vector<Value>& values, std::string_view name) {
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (equalNoCase(it->name, name)) {
            values.erase(it);
            return;
        }
    }
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool parseHexBytes(std::string_view text, std::string& out) {
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ',' || text[i] == ' ' || text[i] == '\t')) ++i;
        if (i >= text.size()) break;
        if (i + 1 >= text.size()) return false;
        const int hi = hexDigit(text[i]), lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
        i += 2;
    }
    return true;
}

// Reads a quoted .reg string starting at text[pos] == '"'; pos ends after the closing quote.
bool parseQuoted(std::string_view text, size_t& pos, std::string& out) {
    if (pos >= text.size() || text[pos] != '"') return false;
    ++pos;
    while (pos < text.size()) {
        const char c = text[pos++];
        if (c == '"') return true;
        if (c == '\\' && pos < text.size()) {
            out += text[pos++];
        } else {
            out += c;
        }
    }
    return false;
}

std::string utf16leToBytes(std::string_view raw) {
    QString s;
    for (size_t i = 0; i + 1 < raw.size(); i += 2) {
        const char16_t u = static_cast<char16_t>(static_cast<unsigned char>(raw[i]) |
                                                 (static_cast<unsigned char>(raw[i + 1]) << 8));
        if (u == 0) break;
        s.append(QChar(u));
    }
    return fromDisplay(s);
}

std::string bytesToUtf16le(std::string_view bytes) {
    std::string out;
    for (char c : bytes) {
        const char32_t u = byteToUnicode(static_cast<unsigned char>(c));
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>((u >> 8) & 0xFF);
    }
    out += '\0';
    out += '\0';
    return out;
}

bool parseValueLine(std::string_view line, Value& v) {
    size_t pos = 0;
    if (line.empty()) return false;
    if (line[0] == '@') {
        v.name.clear();
        pos = 1;
    } else {
        std::string name;
        if (!parseQuoted(line, pos, name)) return false;
        v.name = fromUtf8(name);
    }
    if (pos >= line.size() || line[pos] != '=') return false;
    std::string_view data = line.substr(pos + 1);
    if (!data.empty() && data[0] == '"') {
        size_t p = 0;
        std::string s;
        if (!parseQuoted(data, p, s)) return false;
        v.type = RegType::Sz;
        v.data = fromUtf8(s);
        return true;
    }
    if (data.substr(0, 6) == "dword:") {
        const std::string digits(data.substr(6));
        char* end = nullptr;
        const unsigned long n = std::strtoul(digits.c_str(), &end, 16);
        if (digits.empty() || (end && *end)) return false;
        const uint32_t d = static_cast<uint32_t>(n);
        v.type = RegType::Dword;
        v.data.assign({static_cast<char>(d & 0xFF), static_cast<char>((d >> 8) & 0xFF),
                       static_cast<char>((d >> 16) & 0xFF), static_cast<char>((d >> 24) & 0xFF)});
        return true;
    }
    if (data.substr(0, 4) == "hex:") {
        v.type = RegType::Binary;
        return parseHexBytes(data.substr(4), v.data);
    }
    if (data.substr(0, 4) == "hex(") {
        const size_t close = data.find("):");
        if (close == std::string_view::npos) return false;
        const std::string typeText(data.substr(4, close - 4));
        char* end = nullptr;
        const long t = std::strtol(typeText.c_str(), &end, 16);
        if (typeText.empty() || (end && *end)) return false;
        std::string raw;
        if (!parseHexBytes(data.substr(close + 2), raw)) return false;
        v.type = static_cast<RegType>(t);
        v.data = v.type == RegType::Sz ? utf16leToBytes(raw) : raw;
        return true;
    }
    return false;
}

std::string quote(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

std::string hexList(std::string_view raw) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < raw.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(raw[i]));
        if (i) out += ',';
        out += buf;
    }
    return out;
}

bool hasControl(std::string_view s) {
    for (char c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

std::string formatValue(const Value& v) {
    std::string line = v.name.empty() ? "@" : quote(toUtf8(v.name));
    line += '=';
    switch (v.type) {
    case RegType::Sz:
        // Line breaks cannot stand in a quoted .reg string; such strings go in their UTF-16 hex form.
        if (hasControl(v.data)) line += "hex(1):" + hexList(bytesToUtf16le(v.data));
        else line += quote(toUtf8(v.data));
        break;
    case RegType::Dword: {
        uint32_t d = 0;
        for (int i = 3; i >= 0; --i) d = (d << 8) | static_cast<unsigned char>(v.data[static_cast<size_t>(i)]);
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", d);
        line += buf;
        break;
    }
    case RegType::Binary:
        line += "hex:" + hexList(v.data);
        break;
    default: {
        char buf[16];
        std::snprintf(buf, sizeof buf, "hex(%x):", static_cast<int>(v.type));
        line += buf + hexList(v.data);
        break;
    }
    }
    return line;
}

// Loads the store; a missing file is an empty store. False when the file exists but cannot be read.
bool loadHive(Hive& hive) {
    QFile f(QString::fromStdString(registryFilePath()));
    if (!f.exists()) return true;
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray all = f.readAll();
    std::string_view text(all.constData(), static_cast<size_t>(all.size()));
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    long current = -1;  // index, since adding keys moves them
    std::string logical;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        std::string_view line = text.substr(pos, eol - pos);
        pos = eol + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        logical += line;
        // A hex list may go on over several lines, each but the last ending in a backslash.
        if (!logical.empty() && logical.back() == '\\' && logical.find("=hex") != std::string::npos &&
            pos < text.size()) {
            logical.pop_back();
            continue;
        }
        std::string_view l = logical;
        while (!l.empty() && (l.front() == ' ' || l.front() == '\t')) l.remove_prefix(1);
        if (!l.empty() && l.front() == '[' && l.back() == ']') {
            std::string_view p = l.substr(1, l.size() - 2);
            current = -1;
            if (p.size() >= RootName.size() && equalNoCase(p.substr(0, RootName.size()), RootName) &&
                (p.size() == RootName.size() || p[RootName.size()] == '\\')) {
                const std::string path = normalisePath(fromUtf8(p.substr(RootName.size())));
                hive.ensure(path);
                current = static_cast<long>(hive.find(path) - hive.keys.data());
            }
        } else if (current >= 0 && !l.empty() && (l.front() == '"' || l.front() == '@')) {
            Value v;
            if (parseValueLine(l, v)) setValue(hive.keys[static_cast<size_t>(current)].values, std::move(v));
        }
        logical.clear();
    }
    return true;
}

void saveHive(const Hive& hive) {
    std::string out = "Windows Registry Editor Version 5.00\r\n";
    for (const auto& k : hive.keys) {
        out += "\r\n[";
        out += RootName;
        if (!k.path.empty()) out += "\\" + toUtf8(k.path);
        out += "]\r\n";
        for (const auto& v : k.values) out += formatValue(v) + "\r\n";
    }
    const QString file = QString::fromStdString(registryFilePath());
    QDir().mkpath(QFileInfo(file).absolutePath());
    QSaveFile f(file);
    if (!f.open(QIODevice::WriteOnly) ||
        f.write(out.data(), static_cast<qint64>(out.size())) != static_cast<qint64>(out.size()) ||
        !f.commit())
        throw RegistryError("Cannot write the registry file " + registryFilePath());
}

}  // namespace

std::string registryFilePath() {
    if (const char* env = std::getenv("CORVANE_REGISTRY"); env && *env) return env;
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg) base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home) base = std::string(home) + "/.config";
    else base = ".";
    return base + "/corvane/hkcu.reg";
}

RegistryKey::RegistryKey(std::string path) : path_(std::move(path)) {}

RegistryKey::~RegistryKey() {
    try {
        close();
    } catch (...) {
    }
}

std::unique_ptr<RegistryKey> RegistryKey::openExisting(std::string_view path) {
    Hive hive;
    if (!loadHive(hive)) return nullptr;
    const std::string p = normalisePath(path);
    HiveKey* k = hive.find(p);
    if (!k) {
        if (!p.empty()) return nullptr;
        k = &hive.ensure(p);
    }
    std::unique_ptr<RegistryKey> key(new RegistryKey(k->path));
    key->values_ = k->values;
    key->subKeys_ = hive.childrenOf(k->path);
    return key;
}

std::unique_ptr<RegistryKey> RegistryKey::openCreate(std::string_view path) {
    Hive hive;
    if (!loadHive(hive)) return nullptr;
    const std::string p = normalisePath(path);
    if (!hive.find(p)) {
        hive.ensure(p);
        try {
            saveHive(hive);
        } catch (const RegistryError&) {
            return nullptr;
        }
    }
    return openExisting(p);
}

bool RegistryKey::keyExists(std::string_view path) {
    Hive hive;
    return loadHive(hive) && hive.find(normalisePath(path)) != nullptr;
}

const RegistryKey::Value* RegistryKey::find(std::string_view name) const {
    for (const auto& v : values_)
        if (equalNoCase(v.name, name)) return &v;
    return nullptr;
}

RegType RegistryKey::valueType(std::string_view name) const {
    const Value* v = find(name);
    return v ? v->type : RegType::None;
}

uint32_t RegistryKey::readDword(std::string_view name) const {
    const Value* v = find(name);
    if (!v || v->type != RegType::Dword || v->data.size() != 4)
        throw RegistryError("Invalid data type for '" + std::string(name) + "'");
    uint32_t d = 0;
    for (int i = 3; i >= 0; --i) d = (d << 8) | static_cast<unsigned char>(v->data[static_cast<size_t>(i)]);
    return d;
}

std::string RegistryKey::readString(std::string_view name) const {
    const Value* v = find(name);
    if (!v) return {};
    if (v->type != RegType::Sz && v->type != RegType::ExpandSz)
        throw RegistryError("Invalid data type for '" + std::string(name) + "'");
    return v->data;
}

std::vector<uint8_t> RegistryKey::readBinary(std::string_view name) const {
    const Value* v = find(name);
    if (!v || v->type != RegType::Binary) throw RegistryError("Invalid data type for '" + std::string(name) + "'");
    return std::vector<uint8_t>(v->data.begin(), v->data.end());
}

void RegistryKey::put(Value v) {
    setValue(values_, v);
    setValue(pending_, std::move(v));
}

void RegistryKey::writeDword(std::string_view name, uint32_t d) {
    put(Value{std::string(name), RegType::Dword,
              std::string{static_cast<char>(d & 0xFF), static_cast<char>((d >> 8) & 0xFF),
                          static_cast<char>((d >> 16) & 0xFF), static_cast<char>((d >> 24) & 0xFF)}});
}

void RegistryKey::writeString(std::string_view name, std::string_view value) {
    put(Value{std::string(name), RegType::Sz, std::string(value)});
}

void RegistryKey::writeBinary(std::string_view name, const std::vector<uint8_t>& value) {
    put(Value{std::string(name), RegType::Binary, std::string(value.begin(), value.end())});
}

void RegistryKey::deleteValue(std::string_view name) {
    removeValue(values_, name);
    removeValue(pending_, name);
    pendingDeletes_.emplace_back(name);
}

std::vector<std::string> RegistryKey::subKeyNames() const { return subKeys_; }

std::vector<std::string> RegistryKey::valueNames() const {
    std::vector<std::string> names;
    for (const auto& v : values_) names.push_back(v.name);
    return names;
}

void RegistryKey::close() {
    if (pending_.empty() && pendingDeletes_.empty()) return;
    Hive hive;
    if (!loadHive(hive)) throw RegistryError("Cannot read the registry file " + registryFilePath());
    HiveKey& k = hive.ensure(path_);
    for (const auto& name : pendingDeletes_) removeValue(k.values, name);
    for (auto& v : pending_) setValue(k.values, v);
    pending_.clear();
    pendingDeletes_.clear();
    saveHive(hive);
}

}  // namespace platform
