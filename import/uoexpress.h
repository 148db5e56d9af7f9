#pragma once
// Reading the local mail store of Outlook Express 5: the user identities and the store folder from
// the per-user registry, the mail folders from the store's folder file "folders.dbx", the mails of
// one folder from that folder's own file, and the source text of one mail. Nothing is written.
//
// Store files come from old disks and are often damaged, so every offset and length read from a
// file is checked against the file before it is used: a node, record or block that does not hold
// its own offset ends that branch silently, nothing is read twice, and the work done is bounded by
// the size of the file.
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The store file could not be opened (missing, or held by another program).
class EStoreError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Toe5_FileHeader {
    int32_t ItemCount = 0;
};

struct Toe5_ItemInfo {
    virtual ~Toe5_ItemInfo() = default;
};

struct Toe5_FolderInfo : Toe5_ItemInfo {
    int32_t FolderId = 0;
    int32_t ParentId = 0;
    std::string FolderName;
    std::string DbxFileName;
    // Left empty by the reader; the import window keeps the folder's tree node here.
    void* TreeNode = nullptr;
};

struct Toe5_MessageInfo : Toe5_ItemInfo {
    std::string SenderName;
    std::string Subject;
    // FILETIME: 100-nanosecond intervals since 1601-01-01, universal time.
    uint64_t ReceivedTime = 0;
    int32_t FirstBlock = 0;
    int32_t InfoOffset = 0;
    // Kept from the record though nothing reads them yet.
    int32_t MessageIndex = 0;
    int32_t Flags = 0;
    uint64_t CreatedTime = 0;
    int32_t Value91 = 0;
    // The texts of codes 7, 9, 10, 11, 14, 19, 26 and 27, in that order.
    static constexpr uint8_t OtherTextCodes[8] = {7, 9, 10, 11, 14, 19, 26, 27};
    std::string OtherTexts[8];
};

using TDbxItemList = std::vector<std::unique_ptr<Toe5_ItemInfo>>;

namespace uoexpress {

// The registry keys the reader looks in, below the current user's root.
inline constexpr const char* IdentitiesKey = "\\Identities";
inline constexpr const char* DefaultStoreKey = "\\Software\\Microsoft\\Outlook Express";
inline constexpr const char* FolderFileName = "folders.dbx";
// Where the store folder the user chose is remembered, for systems whose registry does not name
// one (any system but the one the mail client ran on).
inline constexpr const char* ChosenStoreKey = "\\Software\\Brixwold\\Corvane\\OEImport";
inline constexpr const char* ChosenStoreValue = "StoreFolder";

// Bytes of a store file: the file itself, or a buffer (fuzzing, tests).
class TDbxSource {
public:
    virtual ~TDbxSource() = default;
    virtual uint64_t Size() const = 0;
    // Reads exactly count bytes at offset; false when they are not all in the source.
    virtual bool Read(uint64_t offset, void* buffer, size_t count) = 0;
};

class TDbxMemorySource : public TDbxSource {
public:
    explicit TDbxMemorySource(std::string_view bytes) : bytes_(bytes) {}
    uint64_t Size() const override { return bytes_.size(); }
    bool Read(uint64_t offset, void* buffer, size_t count) override;

private:
    std::string_view bytes_;
};

// Reads the items of a store held in source: folders when asFolders, else mails.
void ReadDbxItems(TDbxSource& source, bool asFolders, TDbxItemList& list);
// The source of the mail whose text starts at firstBlock; a limit of 0 means none.
void ReadMessageText(TDbxSource& source, int32_t firstBlock, std::string& text, size_t limit);

// The path of a file of the store folder, found ignoring letter case when the exact name is not
// there (the store comes from a system whose file names ignore case).
std::string StoreFilePath(const std::string& root, const std::string& fileName);

// The folder the user chose for the store, or empty.
std::string ChosenStoreFolder();
// Remembers the chosen folder in the per-user store; an empty path forgets it.
void SetChosenStoreFolder(const std::string& folder);

// The store folder the registry names for an identity (the identity-less one for an empty key),
// with environment references expanded; empty when it names none.
std::string RegistryStoreRoot(const std::string& identityKey);

// %NAME% references replaced by the environment's values; a reference to an unknown variable stays.
std::string ExpandEnvironment(const std::string& value);

}  // namespace uoexpress

// The identity keys and their display names (both cleared first) and the position of the default
// identity. Without identities the one name is "Default Identity".
void ReadIdentities(std::vector<std::string>& keys, std::vector<std::string>& names, int& defaultIndex);

// The store folder of an identity (the identity-less one for an empty key), or the folder the user
// chose when the registry names none, or empty.
std::string GetStoreRoot(const std::string& identityKey);

// Appends the folders of "folders.dbx" (exactly that name) or the mails of any other store file of
// the identity. Throws EStoreError when the file cannot be opened. Nothing without a list.
void ReadDbxItems(const std::string& fileName, TDbxItemList* list, const std::string& identityKey);

// The source of one mail (header lines and body, exactly as stored); empty for a first block that
// is not positive. A positive limit stops after the block that made the text longer than it.
void ReadMessageText(const std::string& fileName, int32_t firstBlock, std::string& text, size_t limit,
                     const std::string& identityKey);

// A FILETIME as a local date-time (days since 30 December 1899); 0 for 0 or a time out of range.
double FileTimeToLocal(uint64_t fileTime);
