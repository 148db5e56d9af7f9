#include "options/OptionRefs.h"
#include "platform/Registry.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>

using platform::RegistryKey;
using testsupport::ScopedRegistry;

namespace {

const std::string Base = options::RegistryBase;

class OptionTable : public ::testing::Test {
protected:
    void SetUp() override {
        options::ResetToDefaults();
        options::RegisterOptions(manager);
    }
    void TearDown() override { options::ResetToDefaults(); }
    ScopedRegistry registry;
    TOptionsManager manager;
};

}  // namespace

TEST(OptionsManager, RegistrationNamesAndRefusals) {
    TOptionsManager m;
    int a = 0, b = 0;
    EXPECT_EQ(m.AddOption(&a, TOptionKind::okInteger, "", ""), 0);
    EXPECT_EQ(m.AddInteger(&b, "Sec", ""), 1);
    EXPECT_EQ(m.Items(0)->Name, "Option0000");
    EXPECT_EQ(m.Items(0)->Section, "Options");
    EXPECT_EQ(m.Items(1)->Name, "Option0001");
    EXPECT_EQ(m.Items(1)->Section, "Sec");
    try {
        m.AddOption(nullptr, TOptionKind::okBoolean, "X", "Y");
        FAIL() << "a binding without a variable was accepted";
    } catch (const EOptionsError& e) {
        EXPECT_STREQ(e.what(), "Option must be assigned");
    }
    EXPECT_EQ(m.Count(), 2);
    EXPECT_EQ(m.Items(2), nullptr);
    EXPECT_EQ(m.Items(-1), nullptr);
}

TEST_F(OptionTable, FirstRunKeepsDefaultsAndWritesAllBindingsIntoEightKeys) {
    ASSERT_EQ(manager.Count(), 25);
    manager.LoadFromRegistry(Base);
    EXPECT_TRUE(options::MaskPasswords);
    EXPECT_EQ(options::LogMaxSize, 500);
    EXPECT_EQ(options::TestEmailSubject, "Test email subject");
    EXPECT_EQ(options::Identity, -1);
    EXPECT_EQ(options::MailMaxSize, 51200);

    manager.SaveToRegistry(Base);
    auto root = RegistryKey::openExisting(Base);
    ASSERT_NE(root, nullptr);
    std::vector<std::string> keys = root->subKeyNames();
    EXPECT_EQ(keys, (std::vector<std::string>{"Setup", "Prefs", "Testdata", "Filing", "Mailing", "Contacts",
                                              "Interface", "OEImport"}));
    size_t values = 0;
    for (const auto& k : keys) values += RegistryKey::openExisting(Base + "\\" + k)->valueNames().size();
    // 23 single values and two rectangles of four.
    EXPECT_EQ(values, 23u + 2 * 4);
    auto iface = RegistryKey::openExisting(Base + "\\Interface");
    EXPECT_EQ(iface->readDword("MainWindow_Right"), 800u);
}

TEST_F(OptionTable, SavedValuesComeBackAndPartialRectanglesKeepDefaults) {
    options::SetupName = "/home/u/setup.xml";
    options::AutoSavePeriod = -3;
    options::KeepUnsubscribed = true;
    options::MainWindow = TOptionRect{10, 20, 30, 40};
    manager.SaveToRegistry(Base);
    {
        auto k = RegistryKey::openExisting(Base + "\\Interface");
        k->deleteValue("MainWindow_Right");
    }
    options::ResetToDefaults();
    manager.LoadFromRegistry(Base);
    EXPECT_EQ(options::SetupName, "/home/u/setup.xml");
    EXPECT_EQ(options::AutoSavePeriod, -3);
    EXPECT_TRUE(options::KeepUnsubscribed);
    // Left and top were read before the missing right; bottom is never reached.
    EXPECT_EQ(options::MainWindow, (TOptionRect{10, 20, 800, 600}));
}

TEST_F(OptionTable, WrongTypeIsIgnoredAtLoadAndOverwrittenAtSave) {
    {
        auto k = RegistryKey::openCreate(Base + "\\Prefs");
        k->writeString("MaskPasswords", "0");
    }
    manager.LoadFromRegistry(Base);
    EXPECT_TRUE(options::MaskPasswords);
    manager.SaveToRegistry(Base);
    EXPECT_EQ(RegistryKey::openExisting(Base + "\\Prefs")->valueType("MaskPasswords"), platform::RegType::Dword);
}

TEST_F(OptionTable, AbsentStringInExistingKeyReadsEmpty) {
    {
        auto k = RegistryKey::openCreate(Base + "\\Testdata");
        k->writeString("Unrelated", "x");
    }
    manager.LoadFromRegistry(Base);
    EXPECT_EQ(options::TestEmailSubject, "");
    EXPECT_EQ(options::TestContentType, "");
    // Sections that do not exist are skipped.
    EXPECT_EQ(options::LogMaxSize, 500);
}

TEST(OptionsManager, EveryKindRoundTripsWithNarrowingOnRead) {
    ScopedRegistry registry;
    bool b = true;
    uint8_t by = 200;
    uint16_t w = 60000;
    int32_t i = -5;
    std::string s = "text \xE9";
    float f = 1.5f;
    double d = -2.25;
    TOptionFont font{"Arial", 10, 0x00FF00, true, false};
    TOptionRect r{-1, -2, 3, 4};
    TOptionsManager m;
    m.AddOption(&b, TOptionKind::okBoolean, "B", "S");
    m.AddOption(&by, TOptionKind::okByte, "By", "S");
    m.AddOption(&w, TOptionKind::okWord, "W", "S");
    m.AddOption(&i, TOptionKind::okInteger, "I", "S");
    m.AddOption(&s, TOptionKind::okString, "Str", "S");
    m.AddOption(&f, TOptionKind::okSingle, "F", "S");
    m.AddOption(&d, TOptionKind::okDouble, "D", "S");
    m.AddOption(&font, TOptionKind::okFont, "Font", "S");
    m.AddOption(&r, TOptionKind::okRect, "R", "S");
    m.SaveToRegistry("\\Base");
    b = false, by = 0, w = 0, i = 0, s.clear(), f = 0, d = 0, font = {}, r = {};
    {
        auto k = RegistryKey::openExisting("\\Base\\S");
        EXPECT_EQ(k->readBinary("F").size(), 8u);  // a single is stored as a double
        EXPECT_EQ(k->readString("Font_Name"), "Arial");
        k->writeDword("By", 0x1234);  // only the low byte is kept
        k->writeDword("W", 0x12345678);
    }
    m.LoadFromRegistry("\\Base");
    EXPECT_TRUE(b);
    EXPECT_EQ(by, 0x34);
    EXPECT_EQ(w, 0x5678);
    EXPECT_EQ(i, -5);
    EXPECT_EQ(s, "text \xE9");
    EXPECT_FLOAT_EQ(f, 1.5f);
    EXPECT_DOUBLE_EQ(d, -2.25);
    EXPECT_EQ(font, (TOptionFont{"Arial", 10, 0x00FF00, true, false}));
    EXPECT_EQ(r, (TOptionRect{-1, -2, 3, 4}));
}

TEST(OptionsManager, UnknownKindIsIgnoredOnLoadAndRefusedOnSave) {
    ScopedRegistry registry;
    int32_t before = 1, odd = 42;
    TOptionsManager m;
    m.AddInteger(&before, "S", "Before");
    m.AddOption(&odd, static_cast<TOptionKind>(7), "Odd", "S");
    {
        auto k = RegistryKey::openCreate("\\Base\\S");
        k->writeDword("Odd", 5);
    }
    m.LoadFromRegistry("\\Base");
    EXPECT_EQ(odd, 42);
    try {
        m.SaveToRegistry("\\Base");
        FAIL();
    } catch (const EOptionsError& e) {
        EXPECT_STREQ(e.what(), "Unknown option type");
    }
    EXPECT_EQ(RegistryKey::openExisting("\\Base\\S")->readDword("Before"), 1u);
}

TEST(OptionsManager, SaveStopsAtTheFirstKeyThatCannotBeOpened) {
    testsupport::TempDir dir;
    // A registry file inside a folder that is really a file cannot be created.
    testsupport::writeFile(dir.file("blocker"), "x");
    const std::string previous = std::getenv("CORVANE_REGISTRY") ? std::getenv("CORVANE_REGISTRY") : "";
    setenv("CORVANE_REGISTRY", dir.file("blocker/hkcu.reg").c_str(), 1);
    int32_t v = 1;
    TOptionsManager m;
    m.AddInteger(&v, "S", "V");
    try {
        m.SaveToRegistry("\\Base");
        FAIL();
    } catch (const EOptionsError& e) {
        EXPECT_STREQ(e.what(), "Cannot open registry key \\Base\\S");
    }
    if (previous.empty()) unsetenv("CORVANE_REGISTRY");
    else setenv("CORVANE_REGISTRY", previous.c_str(), 1);
}
