#include "model/cvSetup.h"
#include "platform/Clock.h"
#include "platform/DateTime.h"

#include <gtest/gtest.h>

namespace {

struct GroupFixture : ::testing::Test {
    GroupFixture() {
        group = new TcvGroup;
        setup.AddGroup(group);
        group->SetName("Friends");
        contact = new TcvContact;
        contact->Email = "ann.b@example.com";
        group->AddContact(contact);
    }
    void addField(const std::string& title) {
        auto* f = new TcvFieldDef;
        f->Title = title;
        group->AddFieldDef(f);
    }
    TcvSetup setup;
    TcvGroup* group;
    TcvContact* contact;
};

}  // namespace

TEST(Names, CapitalizeName) {
    EXPECT_EQ(CapitalizeName("JOHN"), "John");
    EXPECT_EQ(CapitalizeName("j r r tolkien"), "J. R. R. Tolkien");
    EXPECT_EQ(CapitalizeName("mary-ann"), "Mary-ann");
    EXPECT_EQ(CapitalizeName("j"), "J.");
    EXPECT_EQ(CapitalizeName("  van  der  berg "), "Van Der Berg");
    EXPECT_EQ(CapitalizeName("o.brien"), "O.Brien");
    EXPECT_EQ(CapitalizeName("   "), "");
    EXPECT_EQ(CapitalizeName("\xE9lodie"), "\xE9lodie");  // only ASCII letters change case
}

TEST(Names, FullAndFriendlyNames) {
    TcvContact c;
    c.Email = "ann.b@example.com";
    EXPECT_EQ(c.FullName(), "ann.b");
    EXPECT_EQ(c.FriendlyName(), " ann.b");
    c.SetFirstName("J.");
    c.SetLastName("smith");
    EXPECT_EQ(c.FirstName, "J.");
    EXPECT_EQ(c.LastName, "Smith");
    EXPECT_EQ(c.FullName(), "J. Smith");
    EXPECT_EQ(c.FriendlyName(), " Mr/Mrs Smith");
    c.SetFirstName("al");
    EXPECT_EQ(c.FriendlyName(), " Al");
    c.Email = "";
    c.FirstName = "";
    c.LastName = "X";
    EXPECT_EQ(c.FriendlyName(), "");
}

TEST_F(GroupFixture, PersonaliseGreetingsAndTokens) {
    EXPECT_EQ(contact->Personalise("Dear%FriendlyName,"), "Dear ann.b,");
    contact->FirstName = "Ann";
    EXPECT_EQ(contact->Personalise("Dear%FriendlyName,"), "Dear Ann,");
    EXPECT_EQ(contact->Personalise("Bye %FirstName"), "Bye Ann");
    EXPECT_EQ(contact->Personalise("50%"), "50%");
    EXPECT_EQ(contact->Personalise("100% sure"), "100% sure");
    EXPECT_EQ(contact->Personalise("%Unknown here"), "%Unknown here");
    EXPECT_EQ(contact->Personalise("%firstname"), "Ann");
    EXPECT_EQ(contact->Personalise("%FirstName%,"), "Ann%,");
    EXPECT_EQ(contact->Personalise("%GroupCode/%GroupName"), "FRI/Friends");
    EXPECT_EQ(contact->Personalise(""), "");
    // A name longer than 99 characters is cut into a token of 99 and plain text.
    const std::string longName(120, 'a');
    EXPECT_EQ(contact->Personalise("%" + longName), "%" + longName);
}

TEST_F(GroupFixture, PersonaliseCustomFieldsAndDates) {
    addField("Code.Nr");
    addField("Order Id");
    contact->SetCustomField(0, "A-17");
    contact->SetCustomField(1, "99");
    EXPECT_EQ(contact->Personalise("[%code.nr]"), "[A-17]");
    EXPECT_EQ(contact->Personalise("%Order Id"), "%Order Id");
    platform::ManualClock clock(platform::encodeDateTime(2026, 12, 9, 12));
    platform::ScopedClock guard(clock);
    contact->Joined = platform::encodeDateTime(2026, 11, 27, 8);
    EXPECT_EQ(contact->VariableValue("%JoinedRel"), "1 week ago");
    EXPECT_EQ(contact->VariableValue("%JoinedDayOfWeek"), "Friday");
    TcvContact loose;
    EXPECT_EQ(loose.VariableValue("%GroupName"), "%GroupName");
    EXPECT_EQ(loose.VariableValue("%Code.Nr"), "%Code.Nr");
}

TEST_F(GroupFixture, CustomFieldPaddingExchangeAndDelete) {
    addField("A");
    addField("B");
    addField("C");
    contact->SetCustomField(5, "x");
    ASSERT_TRUE(contact->HasCustomFields());  // created, but nothing stored
    EXPECT_EQ(contact->CustomFields->size(), 0u);
    addField("D");
    addField("E");
    addField("F");
    contact->SetCustomField(5, "x");
    EXPECT_EQ(contact->CustomFields->size(), 6u);
    EXPECT_EQ(contact->CustomField(5), "x");
    EXPECT_EQ(contact->CustomField(9), "");
    contact->ExchangeCustomFields(0, 1);  // both empty: nothing
    contact->ExchangeCustomFields(5, 0);
    EXPECT_EQ(contact->CustomField(0), "x");
    EXPECT_EQ(contact->CustomField(5), "");
    contact->DeleteCustomField(0);
    EXPECT_EQ(contact->CustomFields->size(), 5u);
    EXPECT_EQ(contact->CustomField(0), "");
    // A line break would split the value in two when saved; it is stored as a blank.
    contact->SetCustomField(1, "two\r\nlines\nhere");
    EXPECT_EQ(contact->CustomField(1), "two lines here");
    TcvContact loose;
    loose.SetCustomField(0, "v");
    EXPECT_FALSE(loose.HasCustomFields());
}

TEST_F(GroupFixture, HistoryIsKeyedByExactCodeAndKeepsTheDay) {
    setup.Modified = false;
    const double lateEvening = platform::encodeDateTime(2026, 5, 1, 23, 59);
    contact->AddHistory("WEL", lateEvening);
    EXPECT_TRUE(setup.Modified);
    contact->AddHistory("WEL", lateEvening + 3);
    contact->AddHistory("wel", lateEvening + 5);
    ASSERT_EQ(contact->HistoryCount(), 2);
    EXPECT_EQ(contact->HistoryItem(0)->Date, static_cast<int32_t>(platform::encodeDate(2026, 5, 1)));
    EXPECT_EQ(contact->IndexOfHistory("wel"), 1);
    EXPECT_EQ(contact->HistoryText(), "WEL, wel");
    setup.Modified = false;
    contact->DeleteHistory(0);
    contact->DeleteHistory(4);
    EXPECT_FALSE(setup.Modified);
    EXPECT_EQ(contact->HistoryText(), "wel");
    EXPECT_EQ(contact->FindHistory("WEL"), nullptr);
    EXPECT_EQ(contact->HistoryItem(1), nullptr);
}

TEST_F(GroupFixture, StatusBouncesAndSpeed) {
    EXPECT_TRUE(contact->AllowsMail());
    EXPECT_TRUE(contact->HasValidEmail());
    EXPECT_EQ(contact->StatusText(), "");
    setup.Modified = false;
    contact->SetBounces(0);
    EXPECT_FALSE(setup.Modified);
    contact->SetBounces(2);
    EXPECT_TRUE(setup.Modified);
    EXPECT_EQ(contact->StatusText(), "Bounced");
    contact->Frozen = true;
    EXPECT_EQ(contact->StatusText(), "Frozen");
    contact->Unsubscribed = true;
    EXPECT_EQ(contact->StatusText(), "Unsubscribed");
    EXPECT_FALSE(contact->AllowsMail());
    EXPECT_EQ(contact->AverageSpeed(), 0);
    contact->TotalBytes = 2048;
    contact->TotalDuration = 500;
    EXPECT_DOUBLE_EQ(contact->AverageSpeed(), 4.0);
    contact->Email = "not an address";
    EXPECT_FALSE(contact->HasValidEmail());
}
