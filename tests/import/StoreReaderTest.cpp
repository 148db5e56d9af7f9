#include "import/uoexpress.h"

#include "options/OptionRefs.h"
#include "platform/DateTime.h"
#include "platform/Registry.h"
#include "tests/support/DbxWriter.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

using testsupport::DbxWriter;
namespace fs = std::filesystem;

namespace {

// Beside the project folder, as the shared data is laid out.
fs::path realStore() { return fs::path(CORVANE_SOURCE_DIR) / ".." / "shared" / "realdata" / "dbx"; }

template <class T>
std::vector<T*> itemsOf(const TDbxItemList& list) {
    std::vector<T*> result;
    for (const auto& item : list)
        if (auto* typed = dynamic_cast<T*>(item.get())) result.push_back(typed);
    return result;
}

std::vector<Toe5_MessageInfo*> mailsOf(DbxWriter& store, TDbxItemList& list) {
    uoexpress::TDbxMemorySource source(store.bytes);
    uoexpress::ReadDbxItems(source, false, list);
    return itemsOf<Toe5_MessageInfo>(list);
}

std::string textOf(const DbxWriter& store, int32_t firstBlock, size_t limit = 0) {
    uoexpress::TDbxMemorySource source(store.bytes);
    std::string text = "old";
    uoexpress::ReadMessageText(source, firstBlock, text, limit);
    return text;
}

void writeString(const std::string& keyPath, const std::string& name, const std::string& value) {
    auto key = platform::RegistryKey::openCreate(keyPath);
    ASSERT_TRUE(key);
    key->writeString(name, value);
    key->close();
}

// A store with three mails under a root node with one child node.
struct ThreeMails {
    DbxWriter store;
    int32_t root = 0, child = 0;
    ThreeMails() {
        const int32_t a = store.Mail("Ann", "first", 0, store.TextChain("Subject: a\r\n\r\nbody a"));
        const int32_t b = store.Mail("Bob", "second", 0, store.TextChain("Subject: b\r\n\r\nbody b"));
        const int32_t c = store.Mail("Cy", "third", 0, 0);
        child = store.Node({{b, 0}});
        root = store.Node({{a, child}, {c, 0}});
        store.SetRoot(root);
        store.SetItemCount(3);
    }
};

TEST(StoreIndex, MailsAreListedInIndexOrderWithTheirAttributes) {
    ThreeMails s;
    TDbxItemList list;
    auto mails = mailsOf(s.store, list);
    ASSERT_EQ(mails.size(), 3u);
    EXPECT_EQ(mails[0]->SenderName, "Ann");
    EXPECT_EQ(mails[1]->Subject, "second");
    EXPECT_EQ(mails[2]->SenderName, "Cy");
    EXPECT_EQ(mails[2]->FirstBlock, 0);
    EXPECT_EQ(textOf(s.store, mails[1]->FirstBlock), "Subject: b\r\n\r\nbody b");
    EXPECT_EQ(textOf(s.store, mails[2]->FirstBlock), "");
    EXPECT_GT(mails[0]->InfoOffset, 0);
}

TEST(StoreIndex, AZeroItemCountYieldsNothing) {
    ThreeMails s;
    s.store.SetItemCount(0);
    TDbxItemList list;
    EXPECT_TRUE(mailsOf(s.store, list).empty());
    EXPECT_EQ(textOf(s.store, 0x200), "");
}

TEST(StoreIndex, NodesPointingBackOrInCirclesAreWalkedOnce) {
    ThreeMails s;
    // The child names the root as its other node, and the root names the child as well.
    s.store.Put32(s.child + 12, static_cast<uint32_t>(s.root));
    s.store.Put32(s.root + 8, static_cast<uint32_t>(s.child));
    s.store.Put32(s.child + 8, static_cast<uint32_t>(s.child));
    TDbxItemList list;
    auto mails = mailsOf(s.store, list);
    // The child is walked from the root's word 8, before the root's entries.
    ASSERT_EQ(mails.size(), 3u);
    EXPECT_EQ(mails[0]->SenderName, "Bob");
    EXPECT_EQ(mails[1]->SenderName, "Ann");
}

TEST(StoreIndex, ANodeOrRecordNotHoldingItsOwnOffsetEndsThatBranch) {
    ThreeMails s;
    s.store.Put32(s.child, 4);
    TDbxItemList list;
    auto mails = mailsOf(s.store, list);
    ASSERT_EQ(mails.size(), 2u);
    EXPECT_EQ(mails[1]->SenderName, "Cy");
}

TEST(StoreIndex, OffsetsAndCountsBeyondTheFileEndQuietly) {
    ThreeMails s;
    s.store.Put32(s.root + 16, 0xFFFFFF00);  // far more entries than the file holds
    s.store.SetEntry(s.root, 1, {0x7FFFFFF0, -5});
    TDbxItemList list;
    auto mails = mailsOf(s.store, list);
    EXPECT_EQ(mails.size(), 2u);

    DbxWriter cut = s.store;
    cut.bytes.resize(0x100);
    list.clear();
    EXPECT_TRUE(mailsOf(cut, list).empty());
    DbxWriter tiny;
    tiny.bytes = "abc";
    EXPECT_TRUE(mailsOf(tiny, list).empty());
    EXPECT_EQ(textOf(tiny, 1), "");
}

TEST(StoreIndex, AttributesOutsideTheDataAreaOrTwiceAreHandled) {
    DbxWriter store;
    const int32_t mail = store.Record({DbxWriter::Text(8, "old"), DbxWriter::Text(8, "new"),
                                       DbxWriter::Direct(0x84, 0x1234), {0x0D, 0, ""}, DbxWriter::Number(0x12, 7, 4)});
    // The sender's offset points past the data area; the date has only four bytes.
    store.Put32(mail + 12 + 12, 0x0D | 0xFFFF00);
    store.SetRoot(store.Node({{mail, 0}}));
    store.SetItemCount(1);
    TDbxItemList list;
    auto mails = mailsOf(store, list);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0]->Subject, "new");
    EXPECT_EQ(mails[0]->FirstBlock, 0x1234);
    EXPECT_EQ(mails[0]->SenderName, "");
    EXPECT_EQ(mails[0]->ReceivedTime, 0u);
}

TEST(StoreFolders, FoldersNeedCode3Or6AndKeepTheirNumbers) {
    DbxWriter store;
    const int32_t inbox = store.Folder(1, 0, "Inbox", "Inbox.dbx");
    const int32_t news = store.Record({DbxWriter::Direct(0x80, 2), DbxWriter::Text(2, "News"), DbxWriter::Text(6, "x")});
    const int32_t bare = store.Record({DbxWriter::Direct(0x80, 3), DbxWriter::Text(2, "Root")});
    store.SetRoot(store.Node({{inbox, 0}, {news, 0}, {bare, 0}}));
    store.SetItemCount(3);
    uoexpress::TDbxMemorySource source(store.bytes);
    TDbxItemList list;
    uoexpress::ReadDbxItems(source, true, list);
    auto folders = itemsOf<Toe5_FolderInfo>(list);
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders[0]->FolderName, "Inbox");
    EXPECT_EQ(folders[0]->DbxFileName, "Inbox.dbx");
    EXPECT_EQ(folders[0]->FolderId, 1);
    EXPECT_EQ(folders[1]->FolderName, "News");
    EXPECT_EQ(folders[1]->DbxFileName, "");
}

TEST(StoreText, BlocksStopAtAZeroByteAtTheValidCountAndAtABlockReadBefore) {
    DbxWriter store;
    store.SetItemCount(1);
    const int32_t last = store.Block(std::string("tail\0ignored", 12), 12);
    const int32_t first = store.Block("head-and-more", 4, last);
    EXPECT_EQ(textOf(store, first), "headtail");
    // A chain that comes back to its first block ends there.
    store.SetNext(last, first);
    EXPECT_EQ(textOf(store, first), "headtail");
    // A count larger than a block reads the block.
    const int32_t big = store.Block(std::string(512, 'x'), 0xFFFFFFFF);
    EXPECT_EQ(textOf(store, big), std::string(512, 'x'));
    EXPECT_EQ(textOf(store, first + 4), "");
}

TEST(StoreText, TheLimitStopsAfterTheBlockThatPassesIt) {
    DbxWriter store;
    store.SetItemCount(1);
    const std::string text(12000, 'a');
    const int32_t first = store.TextChain(text);
    const std::string limited = textOf(store, first, 10000);
    // 20 blocks reach 10240 characters, the first count above the limit.
    EXPECT_EQ(limited.size(), 10240u);
    EXPECT_LE(limited.size(), 10000u + 511u);
    EXPECT_EQ(textOf(store, first, 0), text);
    EXPECT_EQ(textOf(store, first, 10240).size(), 10752u);
}

class StoreFiles : public ::testing::Test {
protected:
    void useRoot(const std::string& root) { writeString(uoexpress::DefaultStoreKey, "Store Root", root); }
    testsupport::ScopedRegistry registry;
    testsupport::TempDir dir;
};

TEST_F(StoreFiles, FolderFileIsFoundIgnoringCaseButReadAsMailsWhenNamedWithACapital) {
    DbxWriter store;
    store.SetRoot(store.Node({{store.Folder(4, 0, "Inbox", "Inbox.dbx"), 0}}));
    store.SetItemCount(1);
    testsupport::writeFile(dir.file("Folders.dbx"), store.bytes);
    useRoot(dir.path());

    TDbxItemList list;
    ReadDbxItems("folders.dbx", &list, "");
    ASSERT_EQ(itemsOf<Toe5_FolderInfo>(list).size(), 1u);
    EXPECT_EQ(itemsOf<Toe5_FolderInfo>(list)[0]->FolderName, "Inbox");
    list.clear();
    ReadDbxItems("Folders.dbx", &list, "");
    EXPECT_EQ(itemsOf<Toe5_MessageInfo>(list).size(), 1u);
    ReadDbxItems("folders.dbx", nullptr, "");
    EXPECT_THROW(ReadDbxItems("Missing.dbx", &list, ""), EStoreError);
    std::string text;
    EXPECT_THROW(ReadMessageText("Missing.dbx", 0x200, text, 0, ""), EStoreError);
    EXPECT_NO_THROW(ReadMessageText("Missing.dbx", 0, text, 0, ""));
}

TEST_F(StoreFiles, IdentitiesAndTheirStoreRoots) {
    std::vector<std::string> keys{"stale"}, names;
    int defaultIndex = 7;
    ReadIdentities(keys, names, defaultIndex);
    EXPECT_TRUE(keys.empty());
    EXPECT_EQ(names, (std::vector<std::string>{"Default Identity"}));
    EXPECT_EQ(defaultIndex, 0);
    EXPECT_EQ(GetStoreRoot(""), "");

    writeString("\\Identities\\{A}", "Username", "Main");
    writeString("\\Identities\\{B}", "Username", "Second");
    writeString("\\Identities", "Default User ID", "{B}");
    writeString("\\Identities\\{B}\\Software\\Microsoft\\Outlook Express\\5.0", "Store Root", "%CORVANE_TEST_HOME%/b");
    useRoot("/plain");
    ReadIdentities(keys, names, defaultIndex);
    EXPECT_EQ(keys, (std::vector<std::string>{"{A}", "{B}"}));
    EXPECT_EQ(names, (std::vector<std::string>{"Main", "Second"}));
    EXPECT_EQ(defaultIndex, 1);
    setenv("CORVANE_TEST_HOME", "/home/x", 1);
    EXPECT_EQ(GetStoreRoot("{B}"), "/home/x/b");
    unsetenv("CORVANE_TEST_HOME");
    EXPECT_EQ(GetStoreRoot("{B}"), "%CORVANE_TEST_HOME%/b");
    EXPECT_EQ(GetStoreRoot("{A}"), "");
    EXPECT_EQ(GetStoreRoot(""), "/plain");

    // The folder the user chose stands in where the registry names none.
    uoexpress::SetChosenStoreFolder("/chosen");
    EXPECT_EQ(GetStoreRoot("{A}"), "/chosen");
    EXPECT_EQ(GetStoreRoot("{B}"), "%CORVANE_TEST_HOME%/b");
    // Saving the program's options beside it at shut-down keeps it.
    TOptionsManager store;
    options::RegisterOptions(store);
    store.SaveToRegistry(options::RegistryBase);
    EXPECT_EQ(uoexpress::ChosenStoreFolder(), "/chosen");
    uoexpress::SetChosenStoreFolder("");
    EXPECT_EQ(GetStoreRoot("{A}"), "");
}

TEST(StoreTime, FileTimesBecomeLocalDateTimes) {
    EXPECT_EQ(FileTimeToLocal(0), 0);
    // 2001-09-09 01:46:40 UTC.
    const uint64_t ft = (1000000000ull + 11644473600ull) * 10000000ull;
    const time_t t = 1000000000;
    std::tm local{};
    localtime_r(&t, &local);
    EXPECT_DOUBLE_EQ(FileTimeToLocal(ft), platform::encodeDateTime(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                                                   local.tm_hour, local.tm_min, local.tm_sec));
    EXPECT_EQ(FileTimeToLocal(~0ull), 0);
}

class RealStore : public StoreFiles {
protected:
    void SetUp() override {
        if (!fs::exists(realStore())) GTEST_SKIP() << "no real store files here";
        useRoot(realStore().string());
    }
};

TEST_F(RealStore, TheFolderFileListsTheFoldersWithAStoreFileOrCode6) {
    TDbxItemList list;
    ReadDbxItems("folders.dbx", &list, "");
    // Eight folder records; Sent Items, Deleted Items and Drafts have neither code 3 nor code 6.
    auto folders = itemsOf<Toe5_FolderInfo>(list);
    std::vector<std::string> names, files;
    for (auto* f : folders) {
        names.push_back(f->FolderName);
        files.push_back(f->DbxFileName);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Outlook Express", "Local Folders", "Inbox", "Outbox", "Hotmail"}));
    EXPECT_EQ(files, (std::vector<std::string>{"", "", "Inbox.dbx", "Outbox.dbx", ""}));
    ASSERT_EQ(folders.size(), 5u);
    EXPECT_EQ(folders[2]->FolderId, 4);
    EXPECT_EQ(folders[2]->ParentId, 1);
    EXPECT_EQ(folders[1]->FolderId, 1);
}

TEST_F(RealStore, TheInboxHoldsOneMailWhoseSourceReads) {
    TDbxItemList list;
    ReadDbxItems("Inbox.dbx", &list, "");
    auto mails = itemsOf<Toe5_MessageInfo>(list);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_FALSE(mails[0]->Subject.empty());
    EXPECT_GT(FileTimeToLocal(mails[0]->ReceivedTime), platform::encodeDate(1996, 1, 1));
    std::string text;
    ReadMessageText("Inbox.dbx", mails[0]->FirstBlock, text, 0, "");
    EXPECT_NE(text.find("Subject:"), std::string::npos);
    std::string preview;
    ReadMessageText("Inbox.dbx", mails[0]->FirstBlock, preview, 100, "");
    EXPECT_EQ(preview, text.substr(0, preview.size()));
    EXPECT_LE(preview.size(), std::min(text.size(), size_t(100 + 511)));
}

TEST_F(RealStore, AnEmptyOutboxAndAFileOfAnotherKindListNothing) {
    TDbxItemList list;
    ReadDbxItems("Outbox.dbx", &list, "");
    ReadDbxItems("Offline.dbx", &list, "");
    EXPECT_TRUE(list.empty());
}

}  // namespace
