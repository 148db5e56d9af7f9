#include "import/uoexpress.h"

#include "platform/DateTime.h"
#include "platform/Registry.h"

#include <QDir>
#include <QFileInfo>
#include <QString>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <set>

namespace uoexpress {

namespace {

constexpr uint64_t RootNodeOffset = 0x30;
constexpr uint64_t ItemCountOffset = 0xC4;
constexpr size_t NodeHeaderSize = 24;
constexpr size_t EntrySize = 12;
constexpr size_t RecordHeaderSize = 12;
constexpr size_t BlockHeaderSize = 16;
constexpr size_t BlockDataSize = 512;
// Real indexes are a few levels deep; a longer chain of nodes is damage, and ends there.
constexpr int MaxNodeDepth = 512;

uint32_t le32(const unsigned char* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int32_t signedWord(const unsigned char* p) { return static_cast<int32_t>(le32(p)); }

class TDbxFileSource : public TDbxSource {
public:
    explicit TDbxFileSource(const std::string& path) {
        const QFileInfo info(QString::fromStdString(path));
        if (info.isFile()) in_.open(path, std::ios::binary);
        if (!in_.is_open()) throw EStoreError("Cannot open file " + path);
        in_.seekg(0, std::ios::end);
        const std::streamoff end = in_.tellg();
        size_ = end > 0 ? static_cast<uint64_t>(end) : 0;
    }
    uint64_t Size() const override { return size_; }
    bool Read(uint64_t offset, void* buffer, size_t count) override {
        if (offset > size_ || count > size_ - offset) return false;
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(offset));
        in_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(count));
        return in_.gcount() == static_cast<std::streamsize>(count);
    }

private:
    std::ifstream in_;
    uint64_t size_ = 0;
};

bool readWord(TDbxSource& source, uint64_t offset, int32_t& value) {
    unsigned char bytes[4];
    if (!source.Read(offset, bytes, sizeof bytes)) return false;
    value = signedWord(bytes);
    return true;
}

int32_t itemCount(TDbxSource& source) {
    int32_t count = 0;
    return readWord(source, ItemCountOffset, count) ? count : 0;
}

// One item record: its attributes and its data area.
struct Record {
    std::vector<uint32_t> attributes;
    std::string data;

    bool has(uint8_t code) const {
        for (uint32_t a : attributes)
            if ((a & 0xFF) == code) return true;
        return false;
    }
    // The zero-terminated text at an offset of the data area; empty outside it.
    std::string text(uint32_t offset) const {
        if (offset >= data.size()) return {};
        const size_t end = data.find('\0', offset);
        return data.substr(offset, end == std::string::npos ? std::string::npos : end - offset);
    }
    // Little-endian bytes at an offset of the data area; false when they are not all there.
    bool number(uint32_t offset, size_t count, uint64_t& value) const {
        if (offset > data.size() || count > data.size() - offset) return false;
        value = 0;
        for (size_t i = count; i-- > 0;) value = value << 8 | static_cast<unsigned char>(data[offset + i]);
        return true;
    }
};

// Walks the index of one store file. Every node and record is read at most once, and the entries
// and record bytes read together stay within what the file can hold, so damaged indexes that
// point around in circles or at one huge record again and again end quickly.
class IndexWalker {
public:
    IndexWalker(TDbxSource& source, bool asFolders, TDbxItemList& list)
        : source_(source), asFolders_(asFolders), list_(list),
          entryBudget_(source.Size() / EntrySize + 16), recordBudget_(source.Size() + 4096) {}

    void Walk(int32_t node, int depth) {
        if (node <= 0 || depth > MaxNodeDepth || visited_.count(node)) return;
        unsigned char header[NodeHeaderSize];
        if (!source_.Read(static_cast<uint64_t>(node), header, sizeof header)) return;
        if (signedWord(header) != node) return;
        visited_.insert(node);
        Walk(signedWord(header + 12), depth + 1);
        Walk(signedWord(header + 8), depth + 1);
        const uint32_t entries = le32(header + 16) >> 8;
        uint64_t at = static_cast<uint64_t>(node) + NodeHeaderSize;
        for (uint32_t i = 0; i < entries; ++i, at += EntrySize) {
            if (entryBudget_ == 0) return;
            --entryBudget_;
            unsigned char entry[EntrySize];
            if (!source_.Read(at, entry, sizeof entry)) return;
            const int32_t item = signedWord(entry);
            if (item > 0) ReadItem(item);
            Walk(signedWord(entry + 4), depth + 1);
        }
    }

private:
    bool ReadRecord(int32_t offset, Record& record) {
        unsigned char header[RecordHeaderSize];
        const uint64_t start = static_cast<uint64_t>(offset);
        if (!source_.Read(start, header, sizeof header) || signedWord(header) != offset) return false;
        // What the file holds after the header, whatever the record claims.
        const uint64_t size = std::min<uint64_t>(le32(header + 4), source_.Size() - start - RecordHeaderSize);
        const size_t tableSize = size_t(header[10]) * 4;
        if (tableSize > size || size > recordBudget_) return false;
        recordBudget_ -= size;
        std::string bytes(size, '\0');
        if (!source_.Read(start + RecordHeaderSize, bytes.data(), bytes.size())) return false;
        record.attributes.resize(header[10]);
        for (size_t i = 0; i < record.attributes.size(); ++i)
            record.attributes[i] = le32(reinterpret_cast<const unsigned char*>(bytes.data()) + 4 * i);
        record.data = bytes.substr(tableSize);
        return true;
    }

    void ReadItem(int32_t offset) {
        if (!records_.insert(offset).second) return;
        Record record;
        if (!ReadRecord(offset, record)) return;
        if (asFolders_) {
            if (!record.has(3) && !record.has(6)) return;
            auto folder = std::make_unique<Toe5_FolderInfo>();
            for (uint32_t a : record.attributes) {
                const uint32_t value = a >> 8;
                switch (a & 0xFF) {
                case 0x80: folder->FolderId = static_cast<int32_t>(value); break;
                case 0x81: folder->ParentId = static_cast<int32_t>(value); break;
                case 2: folder->FolderName = record.text(value); break;
                case 3: folder->DbxFileName = record.text(value); break;
                }
            }
            list_.push_back(std::move(folder));
            return;
        }
        auto mail = std::make_unique<Toe5_MessageInfo>();
        mail->InfoOffset = offset;
        for (uint32_t a : record.attributes) {
            const uint8_t code = a & 0xFF;
            const uint32_t value = a >> 8;
            uint64_t number = 0;
            switch (code) {
            case 0x0D: mail->SenderName = record.text(value); break;
            case 8: mail->Subject = record.text(value); break;
            case 0x12:
                if (record.number(value, 8, number)) mail->ReceivedTime = number;
                break;
            case 4:
                if (record.number(value, 4, number)) mail->FirstBlock = static_cast<int32_t>(number);
                break;
            case 0x84: mail->FirstBlock = static_cast<int32_t>(value); break;
            case 0x80: mail->MessageIndex = static_cast<int32_t>(value); break;
            case 1:
                if (record.number(value, 3, number)) mail->Flags = static_cast<int32_t>(number);
                break;
            case 0x81: mail->Flags = static_cast<int32_t>(value); break;
            case 2:
                if (record.number(value, 8, number)) mail->CreatedTime = number;
                break;
            case 0x91: mail->Value91 = static_cast<int32_t>(value); break;
            default:
                for (size_t i = 0; i < std::size(Toe5_MessageInfo::OtherTextCodes); ++i)
                    if (Toe5_MessageInfo::OtherTextCodes[i] == code) mail->OtherTexts[i] = record.text(value);
            }
        }
        list_.push_back(std::move(mail));
    }

    TDbxSource& source_;
    bool asFolders_;
    TDbxItemList& list_;
    std::set<int32_t> visited_;
    std::set<int32_t> records_;
    uint64_t entryBudget_;
    uint64_t recordBudget_;
};

std::string storePath(const std::string& fileName, const std::string& identityKey) {
    return StoreFilePath(GetStoreRoot(identityKey), fileName);
}

}  // namespace

bool TDbxMemorySource::Read(uint64_t offset, void* buffer, size_t count) {
    if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
    if (count > 0) std::memcpy(buffer, bytes_.data() + offset, count);
    return true;
}

void ReadDbxItems(TDbxSource& source, bool asFolders, TDbxItemList& list) {
    if (itemCount(source) <= 0) return;
    int32_t root = 0;
    if (!readWord(source, RootNodeOffset, root)) return;
    IndexWalker(source, asFolders, list).Walk(root, 0);
}

void ReadMessageText(TDbxSource& source, int32_t firstBlock, std::string& text, size_t limit) {
    text.clear();
    if (firstBlock <= 0 || itemCount(source) <= 0) return;
    // A chain that comes back to a block already read is damaged: it ends there.
    std::set<int32_t> visited;
    for (int32_t block = firstBlock; block > 0 && visited.insert(block).second;) {
        unsigned char header[BlockHeaderSize];
        const uint64_t start = static_cast<uint64_t>(block);
        if (!source.Read(start, header, sizeof header) || signedWord(header) != block) break;
        const uint64_t available = source.Size() - start - BlockHeaderSize;
        const size_t count = static_cast<size_t>(std::min<uint64_t>({le32(header + 8), BlockDataSize, available}));
        char data[BlockDataSize];
        if (!source.Read(start + BlockHeaderSize, data, count)) break;
        text.append(data, strnlen(data, count));
        if (limit > 0 && text.size() > limit) break;
        block = signedWord(header + 12);
    }
}

std::string StoreFilePath(const std::string& root, const std::string& fileName) {
    std::string path = root;
    if (path.empty() || path.back() != '/') path += '/';
    const std::string exact = path + fileName;
    if (QFileInfo::exists(QString::fromStdString(exact)) || root.empty()) return exact;
    const QDir dir(QString::fromStdString(root));
    const QString wanted = QString::fromStdString(fileName);
    for (const QString& entry : dir.entryList(QDir::Files | QDir::Hidden | QDir::System))
        if (entry.compare(wanted, Qt::CaseInsensitive) == 0) return path + entry.toStdString();
    return exact;
}

std::string ChosenStoreFolder() {
    auto key = platform::RegistryKey::openExisting(ChosenStoreKey);
    if (!key) return {};
    try {
        return key->readUnicodeString(ChosenStoreValue);
    } catch (const platform::RegistryError&) {
        return {};
    }
}

void SetChosenStoreFolder(const std::string& folder) {
    auto key = platform::RegistryKey::openCreate(ChosenStoreKey);
    if (!key) return;
    if (folder.empty()) key->deleteValue(ChosenStoreValue);
    else key->writeUnicodeString(ChosenStoreValue, folder);
    key->close();
}

std::string ExpandEnvironment(const std::string& value) {
    std::string result;
    size_t i = 0;
    while (i < value.size()) {
        const size_t open = value.find('%', i);
        const size_t close = open == std::string::npos ? std::string::npos : value.find('%', open + 1);
        if (close == std::string::npos) break;
        result.append(value, i, open - i);
        const std::string name = value.substr(open + 1, close - open - 1);
        const char* found = name.empty() ? nullptr : std::getenv(name.c_str());
        if (found) {
            result += found;
            i = close + 1;
        } else {
            // The closing sign may open the next reference.
            result.append(value, open, close - open);
            i = close;
        }
    }
    result.append(value, i, std::string::npos);
    return result;
}

}  // namespace uoexpress

using namespace uoexpress;

namespace {
std::string readText(const platform::RegistryKey& key, const char* name) {
    try {
        return key.valueType(name) == platform::RegType::Sz ? key.readUnicodeString(name) : key.readString(name);
    } catch (const platform::RegistryError&) {
        return {};
    }
}
}  // namespace

void ReadIdentities(std::vector<std::string>& keys, std::vector<std::string>& names, int& defaultIndex) {
    keys.clear();
    names.clear();
    defaultIndex = 0;
    std::string defaultKey;
    if (auto root = platform::RegistryKey::openExisting(IdentitiesKey)) {
        keys = root->subKeyNames();
        defaultKey = readText(*root, "Default User ID");
        for (const std::string& key : keys)
            if (auto identity = platform::RegistryKey::openExisting(std::string(IdentitiesKey) + "\\" + key))
                names.push_back(readText(*identity, "Username"));
    }
    if (keys.empty()) {
        names.push_back("Default Identity");
        return;
    }
    for (size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] != defaultKey) continue;
        defaultIndex = static_cast<int>(i);
        break;
    }
}

std::string uoexpress::RegistryStoreRoot(const std::string& identityKey) {
    const std::string path = identityKey.empty()
                                 ? std::string(DefaultStoreKey)
                                 : std::string(IdentitiesKey) + "\\" + identityKey +
                                       "\\Software\\Microsoft\\Outlook Express\\5.0";
    std::string root;
    if (auto key = platform::RegistryKey::openExisting(path)) root = readText(*key, "Store Root");
    return root.empty() ? root : ExpandEnvironment(root);
}

std::string GetStoreRoot(const std::string& identityKey) {
    std::string root = RegistryStoreRoot(identityKey);
    return root.empty() ? ChosenStoreFolder() : root;
}

void ReadDbxItems(const std::string& fileName, TDbxItemList* list, const std::string& identityKey) {
    if (!list) return;
    TDbxFileSource source(storePath(fileName, identityKey));
    uoexpress::ReadDbxItems(source, fileName == FolderFileName, *list);
}

void ReadMessageText(const std::string& fileName, int32_t firstBlock, std::string& text, size_t limit,
                     const std::string& identityKey) {
    text.clear();
    if (firstBlock <= 0) return;
    TDbxFileSource source(storePath(fileName, identityKey));
    uoexpress::ReadMessageText(source, firstBlock, text, limit);
}

double FileTimeToLocal(uint64_t fileTime) {
    if (fileTime == 0) return 0;
    constexpr uint64_t TicksPerSecond = 10000000;
    constexpr int64_t UnixEpochSeconds = 11644473600;  // 1601-01-01 to 1970-01-01
    const time_t seconds = static_cast<time_t>(static_cast<int64_t>(fileTime / TicksPerSecond) - UnixEpochSeconds);
    const int msec = static_cast<int>(fileTime % TicksPerSecond / 10000);
    std::tm local{};
    if (!localtime_r(&seconds, &local)) return 0;
    double result = 0;
    try {
        result = platform::encodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                                          local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec, msec);
    } catch (const std::exception&) {
        return 0;
    }
    return result;
}
