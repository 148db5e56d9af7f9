#include "import/TextImport.h"

#include "platform/DateTime.h"
#include "platform/Locale.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <random>

using namespace textimport;

namespace {

class TextImportTest : public ::testing::Test {
protected:
    void SetUp() override {
        setup.AddGroup(group);
        info.AvailableFields = AvailableFieldsOf(group);
    }
    void TearDown() override { platform::setDateOrder(""); }

    // Writes the file and scans it as the wizard does.
    void scan(const std::string& content, char delimiter) {
        info.FileName = dir.file("contacts.txt");
        testsupport::writeFile(info.FileName, content);
        info.Delimiter = delimiter;
        ScanFile(info);
    }
    std::vector<std::string> emails() const {
        std::vector<std::string> result;
        for (int i = 0; i < group->ContactCount(); ++i) result.push_back(group->Contacts(i)->Email);
        return result;
    }

    testsupport::TempDir dir;
    TcvSetup setup;
    TcvGroup* group = new TcvGroup;
    TcvImportTextInfo info;
};

TEST(TextImportSplit, LinesEndWithCrLfOrCrOrLfAndALastLineNeedsNoEnding) {
    EXPECT_EQ(SplitLines("a\r\nb\rc\nd"), (TStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(SplitLines("a\n\nb\n"), (TStringList{"a", "", "b"}));
    EXPECT_EQ(SplitLines("a\r\r\nb"), (TStringList{"a", "", "b"}));
    EXPECT_TRUE(SplitLines("").empty());
}

TEST(TextImportSplit, AdjacentDelimitersGiveEmptyFieldsAndATrailingOneAddsNone) {
    EXPECT_EQ(LineFields("a;;b", ';'), (TStringList{"a", "", "b"}));
    EXPECT_EQ(LineFields("a;b;", ';'), (TStringList{"a", "b"}));
    EXPECT_EQ(LineFields(";", ';'), (TStringList{""}));
    EXPECT_TRUE(LineFields("", ';').empty());
}

TEST(TextImportSplit, QuotesAreRemovedWithDoubledQuotesKeptOnce) {
    EXPECT_EQ(Unquote("'O''Brien'"), "O'Brien");
    EXPECT_EQ(Unquote("\"abc\" x"), "abc");
    EXPECT_EQ(Unquote("\"open"), "open");
    EXPECT_EQ(Unquote("plain \"x\""), "plain \"x\"");
    EXPECT_EQ(Unquote("\""), "");
    EXPECT_EQ(TrimField(" \t a b \x01"), "a b");
    // Bytes above 127 are letters of the code page, not control characters.
    EXPECT_EQ(TrimField("\xE9t\xE9"), "\xE9t\xE9");
}

TEST_F(TextImportTest, HyphenatedHeadersAssignNothingButAddressesBelowAssignEmail) {
    scan("E-mail;First name;Last name\r\nann@example.com;Ann;Lee\r\nbob@example.com;Bob;Ray\r\n", ';');
    EXPECT_FALSE(info.LoadFailed);
    EXPECT_EQ(info.RecordCount, 3);
    EXPECT_EQ(info.FieldCount, 3);
    EXPECT_EQ(info.ColumnFields, (TStringList{"Email", "", ""}));
    EXPECT_EQ(info.ColumnChecked, (std::vector<bool>{true, false, false}));

    ImportTextLines(*group, info);
    // The header line is a contact like any other.
    EXPECT_EQ(group->ContactCount(), 3);
    for (const char* email : {"E-mail", "ann@example.com", "bob@example.com"})
        EXPECT_NE(group->FindContact(email), nullptr) << email;
}

TEST_F(TextImportTest, HeaderNamesAssignColumnsAndTheLaterNameWins) {
    scan("Email address,FirstName/LastName,Town\n", ',');
    EXPECT_EQ(info.ColumnFields, (TStringList{"Email", "LastName", ""}));
    EXPECT_EQ(info.ColumnChecked, (std::vector<bool>{true, true, false}));
}

TEST_F(TextImportTest, AddressesAreOnlyLookedForInLinesTwoToTen) {
    std::string content = "x\n";
    for (int i = 0; i < 9; ++i) content += "y\n";
    content += "y\tlate@example.com\n";
    scan(content, '\t');
    EXPECT_EQ(info.FieldCount, 2);
    EXPECT_EQ(info.ColumnFields, (TStringList{"", ""}));
}

TEST_F(TextImportTest, AssignmentsOfTheLastImportStayInColumnsTheFileStillHas) {
    info.ColumnFields = {"", "", "FirstName", "LastName"};
    info.ColumnChecked = {false, false, true, true};
    // The first line is narrower than the file: the third column keeps its field all the same.
    scan("a@b.c\na@b.c;x;Ann\n", ';');
    EXPECT_EQ(info.ColumnFields, (TStringList{"Email", "", "FirstName"}));
    EXPECT_EQ(info.ColumnChecked, (std::vector<bool>{true, false, true}));
}

TEST_F(TextImportTest, AFileThatCannotBeReadFailsTheScanAndImportsNothing) {
    info.FileName = dir.file("missing.txt");
    ScanFile(info);
    EXPECT_TRUE(info.LoadFailed);
    ImportTextLines(*group, info);
    EXPECT_EQ(group->ContactCount(), 0);
}

TEST_F(TextImportTest, FieldsAreTrimmedUnquotedPaddedAndNamesNormalised) {
    scan("ann@example.com;'O''Brien';\"abc\" x\n  bob@example.com ;JOHN\n", ';');
    info.ColumnFields = {"Email", "LastName", "FirstName"};
    info.ColumnChecked = {true, true, true};
    ImportTextLines(*group, info);
    ASSERT_EQ(group->ContactCount(), 2);
    TcvContact* ann = group->Contacts(0);
    EXPECT_EQ(ann->Email, "ann@example.com");
    EXPECT_EQ(ann->LastName, "O'brien");
    EXPECT_EQ(ann->FirstName, "Abc");
    TcvContact* bob = group->Contacts(1);
    EXPECT_EQ(bob->Email, "bob@example.com");
    EXPECT_EQ(bob->LastName, "John");
    EXPECT_EQ(bob->FirstName, "");
}

TEST_F(TextImportTest, UncheckedColumnsAndQuotesKeptWhenRemovalIsOff) {
    scan("'a@b.c';Ann\n", ';');
    info.ColumnFields = {"Email", "FirstName"};
    info.ColumnChecked = {true, false};
    info.RemoveQuotes = false;
    ImportTextLines(*group, info);
    ASSERT_EQ(group->ContactCount(), 1);
    EXPECT_EQ(group->Contacts(0)->Email, "'a@b.c'");
    EXPECT_EQ(group->Contacts(0)->FirstName, "");
}

TEST_F(TextImportTest, JoinedColumnReadsTheLocaleDateAndFallsBackToTheJoinDate) {
    platform::setDateOrder("dmy");
    info.JoinDate = platform::encodeDate(2020, 1, 2);
    scan("a@b.c;31/12/2025 13:05\nb@b.c;not a date\nc@b.c\n", ';');
    info.ColumnFields = {"Email", "Joined"};
    info.ColumnChecked = {true, true};
    ImportTextLines(*group, info);
    ASSERT_EQ(group->ContactCount(), 3);
    EXPECT_DOUBLE_EQ(group->Contacts(0)->Joined, platform::encodeDateTime(2025, 12, 31, 13, 5));
    EXPECT_DOUBLE_EQ(group->Contacts(1)->Joined, info.JoinDate);
    EXPECT_DOUBLE_EQ(group->Contacts(2)->Joined, info.JoinDate);
}

TEST_F(TextImportTest, TheJoinDateChoiceOverridesAJoinedColumnAndWithoutEitherTheDateIsZero) {
    scan("a@b.c;31/12/2025\n", ';');
    info.ColumnFields = {"Email", "Joined"};
    info.ColumnChecked = {true, true};
    info.SetJoinDate = true;
    info.JoinDate = platform::encodeDate(2021, 6, 1);
    ImportTextLines(*group, info);
    EXPECT_DOUBLE_EQ(group->Contacts(0)->Joined, info.JoinDate);

    info.SetJoinDate = false;
    info.ColumnChecked = {true, false};
    ImportTextLines(*group, info);
    ASSERT_EQ(group->ContactCount(), 2);
    EXPECT_EQ(group->Contacts(0)->Joined + group->Contacts(1)->Joined, info.JoinDate);
}

TEST_F(TextImportTest, CustomFieldsAreFoundByTitleIgnoringCaseAndTheSameFileTwiceAddsTwice) {
    auto* town = new TcvFieldDef;
    town->Title = "Town";
    group->AddFieldDef(town);
    info.AvailableFields = AvailableFieldsOf(group);
    EXPECT_EQ(info.AvailableFields, (TStringList{"Email", "FirstName", "LastName", "Joined", "Town"}));
    scan("b@x.org;Paris;1\na@x.org;Rome;2\n", ';');
    info.ColumnFields = {"Email", "TOWN", "Nowhere"};
    info.ColumnChecked = {true, true, true};
    ImportTextLines(*group, info);
    ImportTextLines(*group, info);
    EXPECT_EQ(emails(), (std::vector<std::string>{"a@x.org", "a@x.org", "b@x.org", "b@x.org"}));
    EXPECT_EQ(group->Contacts(0)->CustomField(0), "Rome");
    EXPECT_EQ(group->Contacts(3)->CustomField(0), "Paris");
}

TEST_F(TextImportTest, ProgressCountsEveryLineAndAGroupDeletedMeanwhileEndsTheImport) {
    scan("a@x.org\nb@x.org\nc@x.org\n", ';');
    std::vector<std::pair<int, int>> progress;
    info.OnImportProgress = [&](int current, int total) {
        progress.emplace_back(current, total);
        if (current == 2) setup.DeleteGroup(0);
    };
    ImportTextLines(*group, info);
    EXPECT_EQ(progress, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}}));
    EXPECT_EQ(setup.GroupCount(), 0);
}

TEST_F(TextImportTest, OddFilesImportWithoutHarm) {
    std::string content = "a@x.org;Ann\rb@x.org\r\n\n";
    content += std::string(1 << 20, 'w') + ";" + std::string("\0\xff\x01", 3) + "\n";
    content += "c@x.org";
    scan(content, ';');
    EXPECT_EQ(info.RecordCount, 5);
    EXPECT_EQ(info.FieldCount, 2);
    info.ColumnFields = {"Email", "FirstName"};
    info.ColumnChecked = {true, true};
    ImportTextLines(*group, info);
    ASSERT_EQ(group->ContactCount(), 5);
    // The empty line becomes a contact without an address.
    EXPECT_NE(group->FindContact(""), nullptr);
    EXPECT_NE(group->FindContact(std::string(1 << 20, 'w')), nullptr);
    EXPECT_EQ(group->FindContact("a@x.org")->FirstName, "Ann");
}

}  // namespace

namespace {

// Adding contacts together gives the order of adding them one by one.
TEST(TextImportOrder, ContactsAddedTogetherSortAsWhenAddedOneByOne) {
    std::mt19937 random(7);
    auto address = [&](int i) {
        const char* domains[] = {"b.org", "A.org", "a.org", "c.net"};
        std::string local = std::to_string(random() % 50);
        if (i % 7 == 0) local = "Dup";
        if (i % 11 == 0) local = "dup";
        return local + "@" + domains[random() % 4];
    };
    TcvSetup setup;
    auto* oneByOne = new TcvGroup;
    auto* together = new TcvGroup;
    setup.AddGroup(oneByOne);
    setup.AddGroup(together);
    for (int i = 0; i < 300; ++i) {
        const std::string email = address(i);
        for (TcvGroup* g : {oneByOne, together}) {
            auto* c = new TcvContact;
            c->Email = email;
            g->AddContact(c);
        }
    }
    std::vector<std::unique_ptr<TcvContact>> batch;
    batch.push_back(nullptr);
    for (int i = 0; i < 500; ++i) {
        const std::string email = address(i);
        auto* c = new TcvContact;
        c->Email = email;
        oneByOne->AddContact(c);
        batch.push_back(std::make_unique<TcvContact>());
        batch.back()->Email = email;
    }
    int notified = 0;
    setup.OnContactsChanged = [&](TcvSetup&) { ++notified; };
    together->AddContacts(std::move(batch));
    EXPECT_EQ(notified, 1);
    ASSERT_EQ(together->ContactCount(), oneByOne->ContactCount());
    for (int i = 0; i < together->ContactCount(); ++i) {
        EXPECT_EQ(together->Contacts(i)->Group, together);
        EXPECT_EQ(together->Contacts(i)->Email, oneByOne->Contacts(i)->Email);
        if (i > 0) {
            EXPECT_LE(CompareEmails(together->Contacts(i - 1)->Email, together->Contacts(i)->Email), 0);
        }
    }
}

}  // namespace
