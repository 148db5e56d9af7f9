#include "model/cvSetup.h"
#include "platform/DateTime.h"
#include "tests/support/TestSupport.h"
#include "xml/sdStreams.h"
#include "xml/sdXmlDocuments.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

std::string saved(TcvSetup& setup) {
    xml::TMemoryStream stream;
    setup.SaveToStream(stream);
    return stream.bytes();
}

void load(TcvSetup& setup, const std::string& text) {
    xml::TMemoryStream stream(text);
    setup.LoadFromStream(stream);
}

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A setup using every kind of value, with non-default values everywhere.
void fill(TcvSetup& s) {
    s.TotalCount = 42;
    auto* a1 = new TcvAccount;
    a1->Name = "Main";
    a1->ServerName = "mail.example.com";
    a1->Password = "p<&>\"ss";
    a1->Authentication = TcvAuthentication::Login;
    a1->UseForReceiving = true;
    s.AddAccount(a1);
    auto* a2 = new TcvAccount;
    a2->Name = "Second";
    a2->UseForSending = false;
    s.AddAccount(a2);
    auto* g = new TcvGroup;
    s.AddGroup(g);
    g->SetName("News \xE9t\xE9");
    g->Account = a2;
    g->Purpose = "line one\r\nline two";
    auto* m = new TcvMessage;
    g->AddMessage(m);
    m->SetTitle("Welcome");
    m->Subject = "Hi %FirstName";
    m->BodyPlain = "Dear%FriendlyName,\r\n\r\n  indented\r\n";
    m->BodyHtml = "<p>x</p>";
    m->Status = TcvMessageStatus::Live;
    m->Mode = TcvMessageMode::Triggered;
    m->Trigger = TcvTrigger::OnUnsubscribe;
    m->TriggerUnit = TcvTriggerUnit::Weeks;
    m->TriggerAmount = 3;
    m->Priority = 0;
    m->SendCount = 7;
    auto* f = new TcvFieldDef;
    f->Title = "Company";
    f->Checked = true;
    g->AddFieldDef(f);
    auto* p = new TcvParser;
    g->AddParser(p);
    p->Name = "Subscriptions";
    p->Account = a1;
    p->Action = TcvParserAction::UnsubscribeAll;
    p->ContactSource = TcvContactSource::AnyEmail;
    p->TriggerSubj = true;
    p->TriggerSubjWords = "remove;unsubscribe";
    p->DeleteMethod = 2;
    p->Started = true;  // not stored
    auto* c = new TcvContact;
    c->Email = "zed@b.com";
    c->FirstName = "Zed";
    c->Joined = platform::encodeDateTime(2025, 6, 7, 8, 9, 10);
    c->ValidDomain = false;
    c->Bounces = 3;
    c->Frozen = true;
    g->AddContact(c);
    c->SetCustomField(0, "ACME");
    c->AddHistory("WEL", platform::encodeDateTime(2026, 1, 2, 23, 59));
    auto* c2 = new TcvContact;
    c2->Email = "amy@a.com";
    g->AddContact(c2);
    s.AddGroup(new TcvGroup);  // a group without account
}

}  // namespace

TEST(SetupFile, RoundTripKeepsEveryPersistedField) {
    TcvSetup original;
    fill(original);
    const std::string text = saved(original);
    TcvSetup copy;
    load(copy, text);
    EXPECT_TRUE(copy.Modified);
    ASSERT_EQ(copy.AccountCount(), 2);
    ASSERT_EQ(copy.GroupCount(), 2);
    EXPECT_EQ(copy.TotalCount, 42);
    const TcvAccount* a1 = copy.Accounts(0);
    EXPECT_EQ(a1->Password, "p<&>\"ss");
    EXPECT_EQ(a1->Authentication, TcvAuthentication::Login);
    EXPECT_EQ(a1->PortPop3, 110);
    EXPECT_TRUE(a1->UseForReceiving);
    EXPECT_FALSE(copy.Accounts(1)->UseForSending);
    const TcvGroup* g = copy.Groups(0);
    EXPECT_EQ(g->Name, "News \xE9t\xE9");
    EXPECT_EQ(g->Code, "NEW");
    EXPECT_EQ(g->Account, copy.Accounts(1));
    EXPECT_EQ(g->Purpose, "line one\r\nline two");
    EXPECT_EQ(copy.Groups(1)->Account, nullptr);
    const TcvMessage* m = g->Messages(0);
    EXPECT_EQ(m->Code, "WEL");
    EXPECT_EQ(m->BodyPlain, "Dear%FriendlyName,\r\n\r\n  indented\r\n");
    EXPECT_EQ(m->Status, TcvMessageStatus::Live);
    EXPECT_EQ(m->Mode, TcvMessageMode::Triggered);
    EXPECT_EQ(m->Trigger, TcvTrigger::OnUnsubscribe);
    EXPECT_EQ(m->TriggerUnit, TcvTriggerUnit::Weeks);
    EXPECT_EQ(m->TriggerAmount, 3);
    EXPECT_EQ(m->Priority, 0);
    EXPECT_EQ(m->SendCount, 7);
    EXPECT_EQ(g->FieldDefs(0)->Title, "Company");
    EXPECT_TRUE(g->FieldDefs(0)->Checked);
    const TcvParser* p = g->Parsers(0);
    EXPECT_EQ(p->Account, copy.Accounts(0));
    EXPECT_EQ(p->Action, TcvParserAction::UnsubscribeAll);
    EXPECT_EQ(p->ContactSource, TcvContactSource::AnyEmail);
    EXPECT_EQ(p->TriggerSubjWords, "remove;unsubscribe");
    EXPECT_EQ(p->DeleteMethod, 2);
    EXPECT_FALSE(p->Started);
    ASSERT_EQ(g->ContactCount(), 2);
    EXPECT_EQ(g->Contacts(0)->Email, "amy@a.com");
    const TcvContact* c = g->Contacts(1);
    EXPECT_EQ(c->FirstName, "Zed");
    EXPECT_DOUBLE_EQ(c->Joined, platform::encodeDateTime(2025, 6, 7, 8, 9, 10));
    EXPECT_FALSE(c->ValidDomain);
    EXPECT_TRUE(c->Frozen);
    EXPECT_EQ(c->Bounces, 3);
    EXPECT_EQ(c->CustomField(0), "ACME");
    ASSERT_EQ(c->HistoryCount(), 1);
    EXPECT_EQ(c->HistoryItem(0)->Date, static_cast<int32_t>(platform::encodeDate(2026, 1, 2)));
    EXPECT_TRUE(g->Contacts(0)->ValidDomain);
    // Saving the copy gives the same file.
    EXPECT_EQ(saved(copy), text);
}

TEST(SetupFile, DefaultsAreLeftOutOfTheFileButKeptInCopies) {
    TcvSetup s;
    EXPECT_EQ(saved(s), "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<Corvane/>");
    auto* a = new TcvAccount;
    a->Name = "A";
    s.AddAccount(a);
    auto* g = new TcvGroup;
    s.AddGroup(g);
    g->Account = a;
    auto* m = new TcvMessage;
    m->Priority = 0;
    g->AddMessage(m);
    auto* c = new TcvContact;
    c->Email = "x@y.z";
    g->AddContact(c);
    const std::string text = saved(s);
    EXPECT_TRUE(has(text, "<PortPop3>110</PortPop3>"));
    EXPECT_FALSE(has(text, "ServerName"));
    EXPECT_FALSE(has(text, "AccountIndex"));  // the first account is position 0, the default
    EXPECT_FALSE(has(text, "Priority"));
    EXPECT_FALSE(has(text, "ValidDomain"));
    EXPECT_TRUE(has(text, "<Status>Stopped</Status>"));
    EXPECT_TRUE(has(text, "<FieldDefs/>") || has(text, "<FieldDefs></FieldDefs>"));
    TcvSetup back;
    load(back, text);
    EXPECT_EQ(back.Groups(0)->Account, back.Accounts(0));
    EXPECT_EQ(back.Groups(0)->Messages(0)->Priority, 0);
    EXPECT_EQ(back.Groups(0)->Messages(0)->TriggerAmount, 1);
    load(back, "<Corvane><Group><Messages><Message><Title>t</Title></Message></Messages></Group></Corvane>");
    EXPECT_EQ(back.Groups(0)->Messages(0)->TriggerAmount, 0);  // the element default, not the constructor's
    EXPECT_EQ(back.Groups(0)->Messages(0)->Priority, 0);
    const std::string clip = m->SaveToString();
    EXPECT_TRUE(has(clip, "<TcvMessage>"));
    EXPECT_TRUE(has(clip, "<Priority>0</Priority>"));
    // A port absent from the file reads as 0.
    load(back, "<Corvane><Account><Name>B</Name></Account></Corvane>");
    EXPECT_EQ(back.Accounts(0)->PortPop3, 0);
}

TEST(SetupFile, ReadingIsForgivingButRefusesOtherDocuments) {
    TcvSetup s;
    fill(s);
    const std::string before = saved(s);
    EXPECT_THROW(load(s, "<corvane/>"), std::runtime_error);
    try {
        load(s, "<?xml version=\"1.0\"?><Other/>");
        FAIL();
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "LoadFromStream: not a Corvane setup file");
    }
    EXPECT_THROW(load(s, "<Corvane><Group>"), std::exception);
    EXPECT_THROW(load(s, ""), std::exception);
    EXPECT_EQ(saved(s), before);  // unchanged by every failure

    load(s, "<Corvane><account><NAME>lower</NAME></account>"
            "<Group><Contacts><Contact><Email>b@x.com</Email></Contact><Contact><Email>a@x.com</Email>"
            "<Hist><Code>A</Code><Date>2026-01-02T13:14:15.000Z</Date></Hist></Contact></Contacts>"
            "<Messages><Message><Status>live</Status><Priority>abc</Priority><Unknown>1</Unknown></Message>"
            "</Messages><AccountIndex>7</AccountIndex></Group></Corvane>");
    EXPECT_EQ(s.Accounts(0)->Name, "lower");
    const TcvGroup* g = s.Groups(0);
    EXPECT_EQ(g->Contacts(0)->Email, "a@x.com");  // sorted on reading
    EXPECT_EQ(g->Contacts(0)->HistoryItem(0)->Date, static_cast<int32_t>(platform::encodeDate(2026, 1, 2)));
    EXPECT_EQ(g->Messages(0)->Status, TcvMessageStatus::Stopped);
    EXPECT_EQ(g->Messages(0)->Priority, 0);
    EXPECT_EQ(g->Account, nullptr);
}

TEST(SetupFile, ClipboardCopiesAndAssign) {
    TcvSetup s;
    fill(s);
    TcvGroup* g = s.Groups(0);
    const std::string groupText = g->SaveToString();
    TcvMessage message;
    message.Title = "kept";
    message.LoadFromString(groupText);  // another class's root: nothing happens
    EXPECT_EQ(message.Title, "kept");
    EXPECT_THROW(message.LoadFromString("not xml <"), std::exception);

    TcvMessage copy;
    copy.Assign(*g->Messages(0));
    EXPECT_EQ(copy.Code, "WEL");
    EXPECT_EQ(copy.BodyHtml, "<p>x</p>");
    EXPECT_EQ(copy.Group, g);

    TcvGroup pasted;
    pasted.LoadFromString(groupText);
    EXPECT_EQ(pasted.AccountIndex, 1);
    EXPECT_EQ(pasted.ContactCount(), 2);
    EXPECT_EQ(pasted.Contacts(1)->CustomField(0), "ACME");
}

TEST(SetupFile, SavingReplacesTheFileOnlyWhenComplete) {
    testsupport::TempDir dir;
    const std::string path = dir.file("setup.xml");
    TcvSetup s;
    fill(s);
    s.SaveToFile(path);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);  // passwords inside
    TcvSetup back;
    back.LoadFromFile(path);
    EXPECT_EQ(back.Groups(0)->ContactCount(), 2);
    back.LoadFromFile("");  // nothing
    EXPECT_EQ(back.GroupCount(), 2);
    EXPECT_THROW(back.LoadFromFile(dir.file("missing.xml")), std::exception);
    EXPECT_EQ(back.GroupCount(), 2);
    // A folder that cannot hold the file: the error reaches the caller, nothing is left behind.
    EXPECT_THROW(s.SaveToFile(dir.file("no/such/folder/setup.xml")), std::exception);
    const std::string before = testsupport::readFile(path);
    s.Groups(0)->Purpose = "changed";
    s.SaveToFile(path);
    EXPECT_NE(testsupport::readFile(path), before);
}

TEST(SetupFile, BadFilesLeaveTheSetupAsItWas) {
    testsupport::TempDir dir;
    TcvSetup s;
    fill(s);
    const std::string path = dir.file("good.xml");
    s.SaveToFile(path);
    const std::string good = testsupport::readFile(path);
    const std::string before = saved(s);
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("<Corvane><TotalCount>5</TotalCount></Corvane>")) {
        utf16 += c;
        utf16 += '\0';
    }
    const std::vector<std::string> bad = {
        "",                                      // empty file
        good.substr(0, good.size() / 2),         // truncated
        "<Corvane><Group></Account></Corvane>",  // malformed
        "<Other><TotalCount>1</TotalCount></Other>",
        "\x01\x02 binary",
    };
    for (const std::string& content : bad) {
        testsupport::writeFile(dir.file("bad.xml"), content);
        EXPECT_THROW(s.LoadFromFile(dir.file("bad.xml")), std::exception) << content.substr(0, 20);
        EXPECT_EQ(saved(s), before);
    }
    // A UTF-16 file is either refused or read whole; it never leaves a half-read setup.
    testsupport::writeFile(dir.file("utf16.xml"), utf16);
    try {
        s.LoadFromFile(dir.file("utf16.xml"));
        EXPECT_EQ(s.TotalCount, 5);
        EXPECT_EQ(s.GroupCount(), 0);
    } catch (const std::exception&) {
        EXPECT_EQ(saved(s), before);
    }
}

TEST(SetupFile, Utf8FilesAreReadIntoTheCodePage) {
    TcvSetup s;
    load(s, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Corvane><Group><Name>Caf\xC3\xA9 \xE2\x82\xAC</Name>"
            "<Contacts><Contact><Email>a@x.com</Email><FirstName>Ren\xC3\xA9</FirstName>"
            "<Hist><Code>\xC3\x89T</Code></Hist></Contact></Contacts></Group></Corvane>");
    EXPECT_EQ(s.Groups(0)->Name, "Caf\xE9 \x80");
    EXPECT_EQ(s.Groups(0)->Contacts(0)->FirstName, "Ren\xE9");
    EXPECT_EQ(s.Groups(0)->Contacts(0)->HistoryItem(0)->Code, "\xC9T");
}

TEST(SetupFile, DeliveryReportSourceAndCountTemporaryAreStoredAtTheEndOfTheParser) {
    TcvSetup s;
    auto* g = new TcvGroup;
    s.AddGroup(g);
    auto* plain = new TcvParser;
    g->AddParser(plain);
    auto* p = new TcvParser;
    g->AddParser(p);
    p->ContactSource = TcvContactSource::DeliveryReport;
    p->Preprocessor = "none.so";
    p->CountTemporary = true;
    const std::string text = saved(s);
    EXPECT_TRUE(has(text, "<ContactSource>DeliveryReport</ContactSource>"));
    // Only the parser that counts temporary failures has the element, and it comes last.
    const size_t first = text.find("<CountTemporary>");
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(text.find("<CountTemporary>", first + 1), std::string::npos);
    EXPECT_LT(text.find("<Preprocessor>none.so</Preprocessor>"), first);
    EXPECT_TRUE(has(text, "<CountTemporary>True</CountTemporary></Parser>"));
    TcvSetup back;
    load(back, text);
    const TcvParser* read = back.Groups(0)->Parsers(1);
    EXPECT_EQ(read->ContactSource, TcvContactSource::DeliveryReport);
    EXPECT_TRUE(read->CountTemporary);
    EXPECT_FALSE(back.Groups(0)->Parsers(0)->CountTemporary);
    EXPECT_EQ(back.Groups(0)->Parsers(0)->ContactSource, TcvContactSource::Sender);
}

TEST(SetupFile, ConnectionSecurityAndUnsubscribeAddressAreStoredLastAndOnlyWhenSet) {
    TcvSetup s;
    auto* plain = new TcvAccount;
    plain->Name = "Plain";
    s.AddAccount(plain);
    auto* plainGroup = new TcvGroup;
    s.AddGroup(plainGroup);
    const std::string before = saved(s);
    EXPECT_FALSE(has(before, "Security"));
    EXPECT_FALSE(has(before, "TrustedCertificate"));
    EXPECT_FALSE(has(before, "UnsubscribeAddress"));

    auto* secure = new TcvAccount;
    secure->Name = "Secure";
    secure->SecuritySmtp = 1;
    secure->SecurityPop3 = 2;
    const std::string print(64, 'a');
    secure->TrustedCertificate = print;
    s.AddAccount(secure);
    auto* g = new TcvGroup;
    g->UnsubscribeAddress = "leave@list.example";
    s.AddGroup(g);
    const std::string text = saved(s);
    // The plain objects are written exactly as before.
    auto element = [](const std::string& t, const std::string& name) {
        const size_t start = t.find("<" + name + ">");
        return t.substr(start, t.find("</" + name + ">", start) - start);
    };
    EXPECT_EQ(element(text, "Account"), element(before, "Account"));
    EXPECT_EQ(element(text, "Group"), element(before, "Group"));
    EXPECT_TRUE(has(text, "<UseForSending>True</UseForSending><SecuritySmtp>1</SecuritySmtp><SecurityPop3>2</SecurityPop3>"
                          "<TrustedCertificate>" + print + "</TrustedCertificate></Account>"));
    EXPECT_TRUE(has(text, "<UnsubscribeAddress>leave@list.example</UnsubscribeAddress></Group>"));
    TcvSetup back;
    load(back, text);
    EXPECT_EQ(back.Accounts(1)->SecuritySmtp, 1);
    EXPECT_EQ(back.Accounts(1)->SecurityPop3, 2);
    EXPECT_EQ(back.Accounts(1)->TrustedCertificate, print);
    EXPECT_EQ(back.Accounts(0)->SecuritySmtp, 0);
    EXPECT_EQ(back.Groups(1)->UnsubscribeAddress, "leave@list.example");
    EXPECT_EQ(saved(back), text);

    // Fingerprints as tools print them are taken; choices and fingerprints that mean nothing are not.
    std::string colons;
    for (int i = 0; i < 32; ++i) colons += std::string(i ? ":" : "") + "AB";
    load(back, "<Corvane><Account><SecuritySmtp>7</SecuritySmtp><SecurityPop3>-1</SecurityPop3>"
               "<TrustedCertificate>" + colons + "</TrustedCertificate></Account>"
               "<Account><TrustedCertificate>abc</TrustedCertificate></Account></Corvane>");
    EXPECT_EQ(back.Accounts(0)->SecuritySmtp, 0);
    EXPECT_EQ(back.Accounts(0)->SecurityPop3, 0);
    std::string lowered;
    for (int i = 0; i < 32; ++i) lowered += "ab";
    EXPECT_EQ(back.Accounts(0)->TrustedCertificate, lowered);
    EXPECT_EQ(back.Accounts(1)->TrustedCertificate, "");
}
