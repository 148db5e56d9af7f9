#include "platform/Registry.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

using namespace platform;
using testsupport::ScopedRegistry;

TEST(Registry, MissingKeysAndCreationWithParents) {
    ScopedRegistry reg;
    EXPECT_EQ(RegistryKey::openExisting("\\Software\\Brixwold\\Corvane"), nullptr);
    {
        auto k = RegistryKey::openCreate("\\Software\\Brixwold\\Corvane\\Mailing");
        ASSERT_NE(k, nullptr);
    }
    EXPECT_TRUE(RegistryKey::keyExists("\\Software\\Brixwold"));
    auto parent = RegistryKey::openExisting("\\software\\BRIXWOLD\\corvane");
    ASSERT_NE(parent, nullptr);
    EXPECT_EQ(parent->subKeyNames(), std::vector<std::string>{"Mailing"});
}

TEST(Registry, TypedValuesSurviveTheFile) {
    ScopedRegistry reg;
    {
        auto k = RegistryKey::openCreate("\\Software\\Test");
        ASSERT_NE(k, nullptr);
        k->writeDword("Count", 0xFFFFFFFFu);
        k->writeString("Path", "C:\\a \"b\" \xE9");
        k->writeString("Body", "line 1\r\nline 2");
        k->writeBinary("Raw", {0, 1, 0xFE, 0xFF});
    }
    auto k = RegistryKey::openExisting("\\Software\\Test");
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->readDword("count"), 0xFFFFFFFFu);
    EXPECT_EQ(k->readString("Path"), "C:\\a \"b\" \xE9");
    EXPECT_EQ(k->readString("Body"), "line 1\r\nline 2");
    EXPECT_EQ(k->readBinary("Raw"), (std::vector<uint8_t>{0, 1, 0xFE, 0xFF}));
    EXPECT_EQ(k->valueType("Raw"), RegType::Binary);
    const std::string text = testsupport::readFile(reg.file());
    EXPECT_NE(text.find("\"Count\"=dword:ffffffff"), std::string::npos);
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Test]"), std::string::npos);
}

TEST(Registry, WrongTypesAndAbsentValues) {
    ScopedRegistry reg;
    {
        auto k = RegistryKey::openCreate("\\K");
        k->writeString("S", "1");
        k->writeDword("D", 1);
    }
    auto k = RegistryKey::openExisting("\\K");
    EXPECT_THROW(k->readDword("S"), RegistryError);
    EXPECT_THROW(k->readDword("Missing"), RegistryError);
    EXPECT_THROW(k->readString("D"), RegistryError);
    EXPECT_THROW(k->readBinary("Missing"), RegistryError);
    EXPECT_EQ(k->readString("Missing"), "");
}

TEST(Registry, ReadsHandWrittenExportAndKeepsUnknownTypes) {
    ScopedRegistry reg;
    testsupport::writeFile(reg.file(),
                           "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n"
                           "[HKEY_CURRENT_USER\\A\\B]\n"
                           "\"Q\"=hex(b):01,00,00,00,\\\n  00,00,00,00\n"
                           "\"W\"=hex(1):41,00,0d,00,0a,00,42,00,00,00\n"
                           "garbage line\n"
                           "[HKEY_LOCAL_MACHINE\\Other]\n\"X\"=dword:1\n");
    {
        auto k = RegistryKey::openCreate("\\A\\B");
        ASSERT_NE(k, nullptr);
        EXPECT_EQ(k->valueType("Q"), RegType::Qword);
        EXPECT_EQ(k->readString("W"), "A\r\nB");
        k->writeDword("New", 7);
    }
    auto k = RegistryKey::openExisting("\\A\\B");
    EXPECT_EQ(k->valueType("Q"), RegType::Qword);
    EXPECT_EQ(k->readDword("New"), 7u);
    EXPECT_EQ(RegistryKey::openExisting("\\Other"), nullptr);
}

TEST(Registry, DeleteValue) {
    ScopedRegistry reg;
    {
        auto k = RegistryKey::openCreate("\\K");
        k->writeDword("A", 1);
        k->writeDword("B", 2);
    }
    {
        auto k = RegistryKey::openExisting("\\K");
        k->deleteValue("a");
    }
    auto k = RegistryKey::openExisting("\\K");
    EXPECT_EQ(k->valueNames(), std::vector<std::string>{"B"});
}
