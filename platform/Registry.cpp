#include "platform/Registry.h"

#include "platform/CodePage.h"
#include "platform/SafeFile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <cstdio>
#include <cstdlib>
#include <unordered_map>
#include <utility>

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

std::string lowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

// Values of one key, with an index by lower-case name so that large keys load in linear time.
struct ValueList {
    std::vector<Value> items;
    std::unordered_map<std::string, size_t> index;

    void set(Value v) {
        const auto [it, added] = index.try_emplace(lowerAscii(v.name), items.size());
        if (added) {
            items.push_back(std::move(v));
            return;
        }
        Value& existing = items[it->second];
        existing.type = v.type;
        existing.data = std::move(v.data);
    }

    void remove(std::string_view name) {
        const auto it = index.find(lowerAscii(name));
        if (it == index.end()) return;
        items.erase(items.begin() + static_cast<std::ptrdiff_t>(it->second));
        index.clear();
        for (size_t i = 0; i < items.size(); ++i) index.emplace(lowerAscii(items[i].name), i);
    }
};

struct HiveKey {
    std::string path;
    ValueList values;
    std::vector<size_t> children;  // positions in Hive::keys
};

// The whole store, its keys in file order, found by lower-case path.
struct Hive {
    std::vector<HiveKey> keys;
    std::unordered_map<std::string, size_t> index;

    HiveKey* find(std::string_view path) {
        const auto it = index.find(lowerAscii(path));
        return it == index.end() ? nullptr : &keys[it->second];
    }

    size_t ensure(const std::string& path) {
        if (const auto it = index.find(lowerAscii(path)); it != index.end()) return it->second;
        const size_t slash = path.rfind('\\');
        long parent = -1;
        if (!path.empty()) parent = static_cast<long>(ensure(slash == std::string::npos ? std::string() : path.substr(0, slash)));
        const size_t position = keys.size();
        keys.push_back(HiveKey{path, {}, {}});
        index.emplace(lowerAscii(path), position);
        if (parent >= 0) keys[static_cast<size_t>(parent)].children.push_back(position);
        return position;
    }

    std::vector<std::string> childrenOf(const HiveKey& key) const {
        std::vector<std::string> names;
        for (const size_t child : key.children) {
            const std::string& p = keys[child].path;
            const size_t slash = p.rfind('\\');
            names.push_back(slash == std::string::npos ? p : p.substr(slash + 1));
        }
        return names;
    }
};

// The few values a key holds while open.
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

// Strings are held as UTF-8 while the store is open, as the file has them.
std::string utf16leToUtf8(std::string_view raw) {
    QString s;
    for (size_t i = 0; i + 1 < raw.size(); i += 2) {
        const char16_t u = static_cast<char16_t>(static_cast<unsigned char>(raw[i]) |
                                                 (static_cast<unsigned char>(raw[i + 1]) << 8));
        if (u == 0) break;
        s.append(QChar(u));
    }
    return s.toStdString();
}

std::string utf8ToUtf16le(std::string_view utf8) {
    std::string out;
    for (const char16_t u : QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())).toStdU16String()) {
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
        v.data = std::move(s);
        return true;
    }
    if (data.substr(0, 6) == "dword:") {
        // Eight hex digits at most: a longer number does not fit and is refused, not cut.
        const std::string_view digits = data.substr(6);
        if (digits.empty() || digits.size() > 8) return false;
        uint32_t d = 0;
        for (const char c : digits) {
            const int h = hexDigit(c);
            if (h < 0) return false;
            d = d << 4 | static_cast<uint32_t>(h);
        }
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
        v.data = v.type == RegType::Sz ? utf16leToUtf8(raw) : raw;
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
        if (hasControl(v.data)) line += "hex(1):" + hexList(utf8ToUtf16le(v.data));
        else line += quote(v.data);
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

std::string& pendingNotice() {
    static std::string notice;
    return notice;
}

// The store's text as UTF-8: a UTF-16 export (as the registry editor writes) is converted. False
// when the bytes are no text at all.
bool storeText(const QByteArray& all, std::string& text) {
    if (all.startsWith("\xFF\xFE") || all.startsWith("\xFE\xFF")) {
        if (all.size() % 2) return false;
        const bool little = all.startsWith("\xFF\xFE");
        std::u16string units;
        units.reserve(static_cast<size_t>(all.size() / 2));
        for (qsizetype i = 2; i + 1 < all.size(); i += 2) {
            const auto a = static_cast<unsigned char>(all[i]), b = static_cast<unsigned char>(all[i + 1]);
            units.push_back(static_cast<char16_t>(little ? (a | b << 8) : (a << 8 | b)));
        }
        text = QString::fromStdU16String(units).toStdString();
    } else {
        QStringDecoder decoder(QStringDecoder::Utf8);
        const QString decoded = decoder.decode(all);
        if (decoder.hasError()) return false;
        text.assign(all.constData(), static_cast<size_t>(all.size()));
        if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    }
    return text.find('\0') == std::string::npos;
}

bool isHeader(std::string_view line) {
    return line == "Windows Registry Editor Version 5.00" || line == "REGEDIT4";
}

// Reads the store's lines into the hive; false when any line is damaged (what could be read is
// kept all the same).
bool parseHive(std::string_view text, Hive& hive) {
    bool sound = true, headerSeen = false;
    long current = -1;  // index, since adding keys moves them
    std::string logical;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t eol = text.find('\n', pos);
        if (eol == std::string_view::npos) eol = text.size();
        std::string_view line = text.substr(pos, eol - pos);
        pos = eol + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const bool continued = !logical.empty();
        logical += line;
        // A hex list may go on over several lines, each but the last ending in a backslash.
        if (!logical.empty() && logical.back() == '\\' && pos < text.size() &&
            (continued || logical.find("=hex") != std::string::npos)) {
            logical.pop_back();
            continue;
        }
        std::string_view l = logical;
        while (!l.empty() && (l.front() == ' ' || l.front() == '\t')) l.remove_prefix(1);
        while (!l.empty() && (l.back() == ' ' || l.back() == '\t')) l.remove_suffix(1);
        if (l.empty() || l.front() == ';') {
        } else if (!headerSeen) {
            headerSeen = isHeader(l);
            if (!headerSeen) sound = false;
        } else if (l.front() == '[' && l.back() == ']') {
            std::string_view p = l.substr(1, l.size() - 2);
            current = -1;
            if (p.size() >= RootName.size() && equalNoCase(p.substr(0, RootName.size()), RootName) &&
                (p.size() == RootName.size() || p[RootName.size()] == '\\'))
                current = static_cast<long>(hive.ensure(normalisePath(fromUtf8(p.substr(RootName.size())))));
        } else if (l.front() == '"' || l.front() == '@') {
            Value v;
            if (!parseValueLine(l, v)) sound = false;
            else if (current >= 0) hive.keys[static_cast<size_t>(current)].values.set(std::move(v));
        } else {
            sound = false;
        }
        logical.clear();
    }
    return sound && headerSeen;
}

void saveHive(const Hive& hive);

// A store that cannot be read whole is kept under a name of its own, and the store rewritten with
// what could be read, so that nothing the user had is overwritten and the user is told only once.
bool setAside(const QString& file, const QByteArray& original, const Hive& hive) {
    QString aside = file + ".unreadable";
    for (int n = 2; QFileInfo::exists(aside); ++n) aside = file + ".unreadable-" + QString::number(n);
    try {
        replaceFileContents(aside, std::string_view(original.constData(), static_cast<size_t>(original.size())));
        saveHive(hive);
    } catch (const std::exception&) {
        return false;
    }
    pendingNotice() = "The options file \"" + file.toStdString() +
                      "\" could not be read completely. It was kept as \"" + aside.toStdString() +
                      "\"; the options it held that could not be read start from their defaults.";
    return true;
}

// Loads the store; a missing file is an empty store. False when the file exists but can neither
// be read nor be set aside.
bool loadHive(Hive& hive) {
    const QString file = QString::fromStdString(registryFilePath());
    QFile f(file);
    if (!f.exists()) return true;
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray all = f.readAll();
    f.close();
    std::string text;
    const bool isText = storeText(all, text);
    if (isText && parseHive(text, hive)) return true;
    if (!isText) hive = Hive();
    return setAside(file, all, hive);
}

void saveHive(const Hive& hive) {
    std::string out = "Windows Registry Editor Version 5.00\r\n";
    for (const auto& k : hive.keys) {
        out += "\r\n[";
        out += RootName;
        if (!k.path.empty()) out += "\\" + toUtf8(k.path);
        out += "]\r\n";
        for (const auto& v : k.values.items) out += formatValue(v) + "\r\n";
    }
    const QString file = QString::fromStdString(registryFilePath());
    try {
        replaceFileContents(file, out);
    } catch (const FileWriteError& e) {
        throw RegistryError(std::string("Cannot write the registry file ") + registryFilePath() + ": " + e.what());
    }
}

}  // namespace

std::string takeRegistryNotice() { return std::exchange(pendingNotice(), std::string()); }

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
        k = &hive.keys[hive.ensure(p)];
    }
    std::unique_ptr<RegistryKey> key(new RegistryKey(k->path));
    key->values_ = k->values.items;
    key->subKeys_ = hive.childrenOf(*k);
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
    if (v->type == RegType::Sz) return fromUtf8(v->data);
    if (v->type != RegType::ExpandSz) throw RegistryError("Invalid data type for '" + std::string(name) + "'");
    return v->data;
}

std::string RegistryKey::readUnicodeString(std::string_view name) const {
    const Value* v = find(name);
    if (!v) return {};
    if (v->type != RegType::Sz) throw RegistryError("Invalid data type for '" + std::string(name) + "'");
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
    put(Value{std::string(name), RegType::Sz, toUtf8(value)});
}

void RegistryKey::writeUnicodeString(std::string_view name, std::string_view utf8) {
    put(Value{std::string(name), RegType::Sz, std::string(utf8)});
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
    HiveKey& k = hive.keys[hive.ensure(path_)];
    for (const auto& name : pendingDeletes_) k.values.remove(name);
    for (auto& v : pending_) k.values.set(v);
    pending_.clear();
    pendingDeletes_.clear();
    saveHive(hive);
}

}  // namespace platform
