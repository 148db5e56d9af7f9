#include "model/cvSetup.h"
#include "platform/Locale.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TcvContact* contact(const std::string& email) {
    auto* c = new TcvContact;
    c->Email = email;
    return c;
}

std::vector<std::string> emails(const TcvGroup& g) {
    std::vector<std::string> list;
    g.GetEmails(list);
    return list;
}

struct EventLog {
    std::vector<std::string> events;
    void attach(TcvSetup& s) {
        s.OnAccountsChanged = [this](TcvSetup&) { events.push_back("accounts"); };
        s.OnGroupsChanged = [this](TcvSetup&) { events.push_back("groups"); };
        s.OnContactsChanged = [this](TcvSetup&) { events.push_back("contacts"); };
        s.OnMessagesChanged = [this](TcvSetup&) { events.push_back("messages"); };
        s.OnFieldDefsChanged = [this](TcvSetup&) { events.push_back("fielddefs"); };
        s.OnParsersChanged = [this](TcvSetup&) { events.push_back("parsers"); };
    }
};

}  // namespace

TEST(Contacts, SortedByDomainThenLocalPartWithEqualAddressesBeforeTheirTwin) {
    TcvGroup g;
    EXPECT_EQ(g.AddContact(contact("b@x.com")), 0);
    EXPECT_EQ(g.AddContact(contact("a@y.com")), 1);
    EXPECT_EQ(g.AddContact(contact("c@x.com")), 1);
    EXPECT_EQ(emails(g), (std::vector<std::string>{"b@x.com", "c@x.com", "a@y.com"}));
    // Same address but for case: the search stops on it and inserts before it.
    EXPECT_EQ(g.AddContact(contact("B@X.com")), 0);
    EXPECT_EQ(g.Contacts(0)->Email, "B@X.com");
    EXPECT_EQ(g.Contacts(1)->Email, "b@x.com");
    EXPECT_EQ(g.IndexOfEmail("b@x.com"), 0);
    EXPECT_EQ(g.AddContact(nullptr), -1);
    // An address without "@" is all domain.
    g.AddContact(contact("x.com"));
    EXPECT_EQ(g.Contacts(0)->Email, "x.com");
}

TEST(Contacts, ManyInsertionsKeepTheListSorted) {
    TcvGroup g;
    unsigned seed = 12345;
    for (int i = 0; i < 500; ++i) {
        seed = seed * 1103515245u + 12345u;
        g.AddContact(contact("u" + std::to_string(seed % 97) + "@d" + std::to_string((seed >> 8) % 13) + ".org"));
    }
    for (int i = 1; i < g.ContactCount(); ++i)
        EXPECT_LE(CompareEmails(g.Contacts(i - 1)->Email, g.Contacts(i)->Email), 0) << i;
}

TEST(Contacts, DuplicatesAllowedAndSetEmailResorts) {
    TcvSetup s;
    auto* g = new TcvGroup;
    s.AddGroup(g);
    g->AddContact(contact("ann@a.com"));
    g->AddContact(contact("ann@a.com"));
    g->AddContact(contact("zed@z.com"));
    EXPECT_EQ(g->ContactCount(), 3);
    EXPECT_EQ(g->IndexOfEmail("ANN@A.COM"), 0);
    TcvContact* zed = g->Contacts(2);
    s.Modified = false;
    zed->SetEmail("aaron@a.com");
    EXPECT_EQ(g->Contacts(0), zed);
    EXPECT_TRUE(s.Modified);
    EXPECT_EQ(g->FindContact("nobody@a.com"), nullptr);
    EXPECT_EQ(g->IndexOfContact(zed), 0);
}

TEST(Contacts, ExtractKeepsTheContactAliveAndOwnerless) {
    TcvGroup g;
    g.AddContact(contact("a@a.com"));
    TcvContact* c = g.Contacts(0);
    std::unique_ptr<TcvContact> taken = g.ExtractContact(c);
    EXPECT_EQ(taken.get(), c);
    EXPECT_EQ(g.ContactCount(), 0);
    EXPECT_EQ(c->Group, &g);
    // Changing the address of a contact that is no longer in the list must not put it back.
    c->SetEmail("b@b.com");
    EXPECT_EQ(g.ContactCount(), 0);
    EXPECT_EQ(g.ExtractContact(c), nullptr);
}

TEST(Codes, MakeIdentifierAndUniqueCodeNumbering) {
    EXPECT_EQ(MakeIdentifier("new group!"), "new_group");
    EXPECT_EQ(MakeIdentifier("a#b-c^d~e\xE9" "f"), "a#b-c^d~ef");
    EXPECT_EQ(UniqueCode("ABC", "ABC\tAB2\t"), "AB3");
    EXPECT_EQ(UniqueCode("", ""), "");
    EXPECT_EQ(UniqueCode("", "X\t"), "2");
    EXPECT_EQ(UniqueCode("", "X\t2\t3\t"), "4");
    EXPECT_EQ(UniqueCode("new", "NEW\t"), "ne2");
    // The test is a substring search, so a candidate that ends another code counts as used.
    EXPECT_EQ(UniqueCode("EW", "NEW\t"), "E2");
    std::string used = "NEW\t";
    for (int i = 2; i <= 9; ++i) used += "NE" + std::to_string(i) + "\t";
    EXPECT_EQ(UniqueCode("NEW", used), "N10");
    for (int i = 10; i <= 99; ++i) used += "N" + std::to_string(i) + "\t";
    EXPECT_EQ(UniqueCode("NEW", used), "100");
}

TEST(Codes, GroupCodeFollowsNameAgainstOtherGroupsOnly) {
    TcvSetup s;
    auto* g = new TcvGroup;
    s.AddGroup(g);
    g->SetName("new group!");
    EXPECT_EQ(g->Code, "NEW");
    g->SetName("news letter");
    EXPECT_EQ(g->Code, "NEW");
    auto* other = new TcvGroup;
    s.AddGroup(other);
    other->SetName("Newcomers");
    EXPECT_EQ(other->Code, "NE2");
    EXPECT_EQ(s.FindGroup("ne2"), other);
    EXPECT_EQ(s.FindGroup("none"), nullptr);
    // A group without a setup gets the first candidate.
    TcvGroup loose;
    loose.SetName("New");
    EXPECT_EQ(loose.Code, "NEW");
    // SetCode stores as given, without a uniqueness test.
    other->SetCode("NEW");
    EXPECT_EQ(other->Code, "NEW");
}

TEST(Accounts, DeletingAnAccountClearsEveryReference) {
    TcvSetup s;
    auto* used = new TcvAccount;
    auto* kept = new TcvAccount;
    s.AddAccount(used);
    s.AddAccount(kept);
    auto* g = new TcvGroup;
    s.AddGroup(g);
    g->Account = used;
    auto* p1 = new TcvParser;
    auto* p2 = new TcvParser;
    auto* p3 = new TcvParser;
    g->AddParser(p1);
    g->AddParser(p2);
    g->AddParser(p3);
    p1->Account = used;
    p2->Account = used;
    p3->Account = kept;
    std::weak_ptr<const void> alive = used->Alive();
    s.DeleteAccount(5);
    EXPECT_EQ(s.AccountCount(), 2);
    s.DeleteAccount(0);
    EXPECT_TRUE(alive.expired());
    EXPECT_EQ(g->Account, nullptr);
    EXPECT_EQ(p1->Account, nullptr);
    EXPECT_EQ(p2->Account, nullptr);
    EXPECT_EQ(p3->Account, kept);
    EXPECT_EQ(s.Accounts(0), kept);
    EXPECT_EQ(s.Accounts(1), nullptr);
    EXPECT_EQ(s.IndexOfAccount(kept), 0);
}

TEST(Notifications, ListChangesAndNamedSettersNotifyPlainWritesDoNot) {
    TcvSetup s;
    EventLog log;
    log.attach(s);
    auto* a = new TcvAccount;
    EXPECT_EQ(s.AddAccount(a), 0);
    a->SetName("Main");
    a->SetName("Main");
    auto* g = new TcvGroup;
    s.AddGroup(g);
    g->SetName("G");
    g->SetCode("G");  // same code: nothing
    g->AddContact(contact("x@y.z"));
    g->AddFieldDef(new TcvFieldDef);
    g->AddFieldDef(new TcvFieldDef);
    g->ExchangeFieldDefs(0, 1);
    g->ExchangeFieldDefs(0, 7);
    g->AddMessage(new TcvMessage);
    g->AddParser(new TcvParser);
    g->DeleteParser(0);
    g->DeleteMessage(0);
    g->DeleteFieldDef(0);
    EXPECT_EQ(log.events, (std::vector<std::string>{"accounts", "accounts", "groups", "groups", "contacts",
                                                    "fielddefs", "fielddefs", "fielddefs", "messages", "parsers",
                                                    "parsers", "messages", "fielddefs"}));
    s.Modified = false;
    log.events.clear();
    g->Purpose = "plain write";
    g->Contacts(0)->Frozen = true;
    g->DeleteMessage(3);
    g->DeleteFieldDef(-1);
    EXPECT_FALSE(s.Modified);
    EXPECT_TRUE(log.events.empty());
    s.Clear();
    EXPECT_EQ(s.GroupCount(), 0);
    EXPECT_TRUE(log.events.empty());
}

TEST(Notifications, SelectEventsCarryTheObject) {
    TcvSetup s;
    auto* g = new TcvGroup;
    s.AddGroup(g);
    auto* m = new TcvMessage;
    g->AddMessage(m);
    TcvGroup* selectedGroup = nullptr;
    TcvMessage* selectedMessage = nullptr;
    s.OnGroupSelect = [&](TcvSetup&, TcvGroup* x) { selectedGroup = x; };
    s.OnMessageSelect = [&](TcvGroup*, TcvMessage* x) { selectedMessage = x; };
    s.SelectGroup(g);
    g->SelectMessage(m);
    s.SelectAccount(nullptr);  // unset event: nothing happens
    EXPECT_EQ(selectedGroup, g);
    EXPECT_EQ(selectedMessage, m);
}

TEST(Groups, VariablesAndNameTables) {
    TcvGroup g;
    auto* company = new TcvFieldDef;
    company->Title = "Company";
    auto* city = new TcvFieldDef;
    city->Title = "City";
    g.AddFieldDef(company);
    g.AddFieldDef(city);
    EXPECT_EQ(g.VariableCount(), 12);
    EXPECT_EQ(g.VariableName(10), "Company");
    EXPECT_EQ(g.VariableName(0), "Email");
    EXPECT_EQ(g.VariableName(9), "JoinedDayOfWeek");
    EXPECT_EQ(g.VariableName(12), "");
    EXPECT_EQ(g.IndexOfFieldDef("city"), 1);
    EXPECT_EQ(IndexOfName(ParserActionNames, "Unsubscribe All"), 3);
    EXPECT_EQ(IndexOfName(MessageStatusNames, "live"), -1);
    EXPECT_EQ(UnitSeconds[static_cast<int>(TcvTriggerUnit::Months)], 30 * 86400);
    EXPECT_EQ(CompareFloat(1, 2), -1);
    EXPECT_EQ(CompareFloat(2, 2), 0);
    EXPECT_EQ(CompareFloat(3, 2), 1);
}

TEST(Contacts, AddressSearchFindsTheFirstMatchInLargeAndDisorderedLists) {
    TcvGroup g;
    for (int i = 0; i < 2000; ++i) g.AddContact(contact("u" + std::to_string(i % 700) + "@d" + std::to_string(i % 9) + ".org"));
    for (int i = 0; i < 700; i += 37) {
        const std::string address = "U" + std::to_string(i) + "@D" + std::to_string(i % 9) + ".ORG";
        int first = -1;
        for (int c = 0; c < g.ContactCount() && first < 0; ++c)
            if (platform::sameText(g.Contacts(c)->Email, address)) first = c;
        EXPECT_EQ(g.IndexOfEmail(address), first) << address;
    }
    EXPECT_EQ(g.IndexOfEmail("u1@nowhere.org"), -1);
    // An address written past the sorted insertion is still found.
    g.Contacts(5)->Email = "zz@aa.org";
    EXPECT_EQ(g.IndexOfEmail("ZZ@AA.org"), 5);
}
