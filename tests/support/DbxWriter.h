#pragma once
// Lays out small mail store files of the old mail client: the file header with the index root and
// the item count, index nodes with their entries, item records with attribute tables and data areas,
// and chains of 512-byte text blocks. Tests build well-formed stores and then break them on purpose.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

class DbxWriter {
public:
    static constexpr int32_t RootOffset = 0x30;
    static constexpr int32_t CountOffset = 0xC4;

    struct Attribute {
        uint8_t code;
        // The value itself for codes of 128 and more.
        uint32_t direct = 0;
        // The value's bytes in the data area for codes below 128.
        std::string data;
    };
    struct Entry {
        int32_t item = 0;
        int32_t child = 0;
    };

    DbxWriter() : bytes(0x200, '\0') {}

    static Attribute Direct(uint8_t code, uint32_t value) { return {code, value, {}}; }
    static Attribute Text(uint8_t code, const std::string& text) { return {code, 0, text + '\0'}; }
    static Attribute Number(uint8_t code, uint64_t value, size_t size) {
        std::string data;
        for (size_t i = 0; i < size; ++i) data += static_cast<char>(value >> (8 * i) & 0xFF);
        return {code, 0, data};
    }

    int32_t Alloc(size_t size) {
        while (bytes.size() % 4) bytes += '\0';
        const auto offset = static_cast<int32_t>(bytes.size());
        bytes.append(size, '\0');
        return offset;
    }
    void Put32(int32_t offset, uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes[static_cast<size_t>(offset) + i] = static_cast<char>(value >> (8 * i) & 0xFF);
    }
    void SetItemCount(int32_t count) { Put32(CountOffset, static_cast<uint32_t>(count)); }
    void SetRoot(int32_t node) { Put32(RootOffset, static_cast<uint32_t>(node)); }

    int32_t Node(const std::vector<Entry>& entries, int32_t child = 0, int32_t other = 0) {
        const int32_t at = Alloc(24 + 12 * entries.size());
        Put32(at, static_cast<uint32_t>(at));
        Put32(at + 8, static_cast<uint32_t>(child));
        Put32(at + 12, static_cast<uint32_t>(other));
        Put32(at + 16, static_cast<uint32_t>(entries.size()) << 8);
        for (size_t i = 0; i < entries.size(); ++i) SetEntry(at, i, entries[i]);
        return at;
    }
    void SetEntry(int32_t node, size_t index, Entry entry) {
        const auto at = static_cast<int32_t>(node + 24 + 12 * index);
        Put32(at, static_cast<uint32_t>(entry.item));
        Put32(at + 4, static_cast<uint32_t>(entry.child));
    }

    int32_t Record(const std::vector<Attribute>& attributes) {
        std::string table, data;
        for (const Attribute& a : attributes) {
            uint32_t value = a.direct;
            if (a.code < 128) {
                value = static_cast<uint32_t>(data.size());
                data += a.data;
            }
            const uint32_t word = a.code | value << 8;
            for (int i = 0; i < 4; ++i) table += static_cast<char>(word >> (8 * i) & 0xFF);
        }
        const int32_t at = Alloc(12 + table.size() + data.size());
        Put32(at, static_cast<uint32_t>(at));
        Put32(at + 4, static_cast<uint32_t>(table.size() + data.size()));
        bytes[static_cast<size_t>(at) + 10] = static_cast<char>(attributes.size());
        bytes.replace(static_cast<size_t>(at) + 12, table.size() + data.size(), table + data);
        return at;
    }
    int32_t Folder(int32_t id, int32_t parent, const std::string& name, const std::string& file) {
        return Record({Direct(0x80, static_cast<uint32_t>(id)), Direct(0x81, static_cast<uint32_t>(parent)),
                       Text(2, name), Text(3, file)});
    }
    int32_t Mail(const std::string& sender, const std::string& subject, uint64_t received, int32_t firstBlock) {
        return Record({Text(0x0D, sender), Text(8, subject), Number(0x12, received, 8),
                       Number(4, static_cast<uint32_t>(firstBlock), 4)});
    }

    // One block with up to 512 data bytes; count is written as the valid-byte count.
    int32_t Block(const std::string& data, uint32_t count, int32_t next = 0) {
        const int32_t at = Alloc(16 + 512);
        Put32(at, static_cast<uint32_t>(at));
        Put32(at + 4, 512);
        Put32(at + 8, count);
        Put32(at + 12, static_cast<uint32_t>(next));
        bytes.replace(static_cast<size_t>(at) + 16, data.size(), data);
        return at;
    }
    void SetNext(int32_t block, int32_t next) { Put32(block + 12, static_cast<uint32_t>(next)); }
    // The text in a chain of full blocks; the offset of the first.
    int32_t TextChain(const std::string& text) {
        std::vector<int32_t> blocks;
        for (size_t at = 0; at < text.size() || blocks.empty(); at += 512) {
            const std::string piece = text.substr(at, 512);
            blocks.push_back(Block(piece, static_cast<uint32_t>(piece.size())));
        }
        for (size_t i = 0; i + 1 < blocks.size(); ++i) SetNext(blocks[i], blocks[i + 1]);
        return blocks.front();
    }

    std::string bytes;
};

}  // namespace testsupport
