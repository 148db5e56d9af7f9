// Files that replace files never lose the old one, and a damaged options store is never silently
// overwritten.
#include "platform/Registry.h"
#include "platform/SafeFile.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <QDir>

#include <filesystem>

using namespace platform;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

int filesIn(const std::string& folder) { return static_cast<int>(QDir(q(folder)).entryList(QDir::Files).size()); }

}  // namespace

TEST(SafeFile, AWriteCutShortByAFullDiskFailsAndKeepsTheOldFile) {
    testsupport::TempDir dir;
    const std::string path = dir.file("data");
    writeFile(path, "old content");
    {
        testsupport::FileSizeLimit full(32 * 1024);
        EXPECT_THROW(replaceFileContents(q(path), std::string(48 * 1024, 'x')), FileWriteError);
        // Small enough to sit in the buffer until the last flush.
        testsupport::FileSizeLimit tiny(10);
        EXPECT_THROW(replaceFileContents(q(path), "new content, longer"), FileWriteError);
    }
    EXPECT_EQ(readFile(path), "old content");
    EXPECT_EQ(filesIn(dir.path()), 1);
    replaceFileContents(q(path), "new");
    EXPECT_EQ(readFile(path), "new");
}

TEST(SafeFile, TheBackupIsTheOldFileAndOnlyItsOwnerMayReadIt) {
    testsupport::TempDir dir;
    const std::string path = dir.file("s.xml"), fresh = dir.file("s.xml.saving"), bak = dir.file("s.bak");
    writeFile(path, "old");
    std::filesystem::permissions(path, std::filesystem::perms::others_read, std::filesystem::perm_options::add);
    writeFile(bak, "older");
    writeFile(fresh, "new");
    replaceKeepingBackup(q(fresh), q(path), q(bak));
    EXPECT_EQ(readFile(path), "new");
    EXPECT_EQ(readFile(bak), "old");
    EXPECT_FALSE(testsupport::fileExists(fresh));
    EXPECT_EQ(std::filesystem::status(bak).permissions() & std::filesystem::perms::others_all,
              std::filesystem::perms::none);

    // Without an old file there is nothing to back up.
    writeFile(dir.file("n.saving"), "first");
    replaceKeepingBackup(q(dir.file("n.saving")), q(dir.file("n.xml")), q(dir.file("n.bak")));
    EXPECT_EQ(readFile(dir.file("n.xml")), "first");
    EXPECT_FALSE(testsupport::fileExists(dir.file("n.bak")));
}

TEST(SafeFile, ABackupThatCannotBeMadeIsAnErrorAndChangesNothing) {
    testsupport::TempDir dir;
    const std::string path = dir.file("s.xml"), fresh = dir.file("s.xml.saving"), bak = dir.file("s.bak");
    writeFile(path, "old");
    writeFile(fresh, "new");
    std::filesystem::create_directory(bak);
    EXPECT_THROW(replaceKeepingBackup(q(fresh), q(path), q(bak)), FileWriteError);
    EXPECT_EQ(readFile(path), "old");
    EXPECT_EQ(readFile(fresh), "new");
    EXPECT_TRUE(std::filesystem::is_directory(bak));
    EXPECT_FALSE(std::filesystem::exists(bak + ".new"));
}

TEST(RegistryStore, AFullDiskFailsTheWriteAndKeepsTheStore) {
    testsupport::ScopedRegistry reg;
    {
        auto k = RegistryKey::openCreate("\\K");
        k->writeString("Kept", "yes");
    }
    const std::string before = readFile(reg.file());
    {
        auto k = RegistryKey::openExisting("\\K");
        k->writeString("Big", std::string(64 * 1024, 'b'));
        testsupport::FileSizeLimit full(static_cast<long>(before.size()) + 100);
        EXPECT_THROW(k->close(), RegistryError);
    }
    EXPECT_EQ(readFile(reg.file()), before);
}

TEST(RegistryStore, ADamagedStoreIsKeptAsideOnceAndItsReadableValuesStay) {
    testsupport::ScopedRegistry reg;
    const std::string damaged =
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n"
        "\"Good\"=dword:00000005\r\n\"Cut\"=dword:1ffffffff\r\n%%% junk\r\n";
    writeFile(reg.file(), damaged);
    {
        auto k = RegistryKey::openExisting("\\K");
        ASSERT_NE(k, nullptr);
        EXPECT_EQ(k->readDword("Good"), 5u);
        // Nine digits do not fit: refused rather than cut to ffffffff.
        EXPECT_FALSE(k->hasValue("Cut"));
    }
    EXPECT_EQ(readFile(reg.file() + ".unreadable"), damaged);
    const std::string notice = takeRegistryNotice();
    EXPECT_NE(notice.find(reg.file() + ".unreadable"), std::string::npos);
    EXPECT_EQ(takeRegistryNotice(), "");
    // The store was written again from what could be read: nothing more to tell at the next open.
    ASSERT_NE(RegistryKey::openExisting("\\K"), nullptr);
    EXPECT_EQ(takeRegistryNotice(), "");
    EXPECT_FALSE(testsupport::fileExists(reg.file() + ".unreadable-2"));

    // A binary file has nothing readable: the next one is kept under a name of its own.
    writeFile(reg.file(), std::string("\0\0\x13\x37 binary", 10));
    EXPECT_EQ(RegistryKey::openExisting("\\K"), nullptr);
    EXPECT_EQ(readFile(reg.file() + ".unreadable-2"), std::string("\0\0\x13\x37 binary", 10));
    EXPECT_NE(takeRegistryNotice(), "");
}

TEST(RegistryStore, ReadsAUtf16ExportAndKeepsUnicodeStrings) {
    testsupport::ScopedRegistry reg;
    const QString text =
        "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\K]\r\n"
        "\"Name\"=\"Caf\u00e9\"\r\n\"Path\"=\"/home/\u0444\u0430\u0439\u043b.xml\"\r\n";
    std::string raw = "\xFF\xFE";
    for (const char16_t u : text.toStdU16String()) {
        raw += static_cast<char>(u & 0xFF);
        raw += static_cast<char>(u >> 8);
    }
    writeFile(reg.file(), raw);
    {
        auto k = RegistryKey::openExisting("\\K");
        ASSERT_NE(k, nullptr);
        EXPECT_EQ(k->readString("Name"), "Caf\xE9");
        EXPECT_EQ(k->readUnicodeString("Path"), "/home/\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.xml");
        k->writeUnicodeString("Other", "/tmp/\xE2\x9C\x93\r\nx");
    }
    EXPECT_EQ(takeRegistryNotice(), "");
    auto k = RegistryKey::openExisting("\\K");
    EXPECT_EQ(k->readUnicodeString("Other"), "/tmp/\xE2\x9C\x93\r\nx");
    EXPECT_EQ(k->readUnicodeString("Path"), "/home/\xD1\x84\xD0\xB0\xD0\xB9\xD0\xBB.xml");
}

TEST(RegistryStore, AStoreOfManyKeysLoads) {
    testsupport::ScopedRegistry reg;
    std::string text = "Windows Registry Editor Version 5.00\r\n";
    for (int i = 0; i < 30000; ++i)
        text += "\r\n[HKEY_CURRENT_USER\\Software\\Many\\Key" + std::to_string(i) + "]\r\n\"V\"=dword:00000001\r\n";
    writeFile(reg.file(), text);
    auto k = RegistryKey::openExisting("\\Software\\Many");
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->subKeyNames().size(), 30000u);
    EXPECT_EQ(k->subKeyNames().back(), "Key29999");
}
