#include "UiTestSupport.h"

#include "ui/ContactsPage.h"
#include "ui/cvClipboard.h"
#include "ui/cvReportModel.h"
#include "mailtext/TcpProbe.h"
#include "platform/DateTime.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QHeaderView>
#include <QLabel>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <random>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

TcvContact* addContact(TcvGroup& group, const std::string& email, double joined = 45000,
                       const std::string& first = "", const std::string& last = "") {
    auto* contact = new TcvContact;
    contact->Email = email;
    contact->Joined = joined;
    contact->FirstName = first;
    contact->LastName = last;
    group.AddContact(contact);
    return contact;
}

QStringList shownEmails(TfrmMain& w) {
    QStringList emails;
    QAbstractItemModel* model = w.lvContacts->model();
    for (int i = 0; i < model->rowCount(); ++i) emails << model->data(model->index(i, 0)).toString();
    return emails;
}

std::vector<int> selectedRows(QTableView* view) {
    std::vector<int> rows;
    for (const QModelIndex& index : view->selectionModel()->selectedRows()) rows.push_back(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void clickHeader(TfrmMain& w, int column) { emit w.lvContacts->horizontalHeader()->sectionClicked(column); }

// A socket listening on a free loopback port; closed, the port refuses connections.
class Listener {
public:
    Listener() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(fd_, 4);
        socklen_t size = sizeof address;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~Listener() { close(); }
    int port() const { return port_; }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace

TEST_F(UiTest, ContactRowsShowTheFixedColumnsAndTheCheckedFields) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP");
    for (const char* title : {"City", "Hidden", "Phone"}) addField(*g, title, std::string(title) != "Hidden");
    TcvContact* c = addContact(*g, "ann@example.com", platform::encodeDateTime(2024, 3, 5, 14, 7));
    c->SetCustomField(0, "Leeds");
    c->SetCustomField(2, "555");
    c->Bounces = 2;
    c->TotalBytes = 2048;
    c->TotalDuration = 1000;
    c->Hist = {{"WEL", 45000}, {"NEW", 45001}};
    addContact(*g, "broken@", 45000);
    w->Setup->SelectGroup(g);
    QAbstractItemModel* model = w->lvContacts->model();
    const QStringList headers = {"Email", "Status", "Joined", "Received", "Bounces", "Kb/s", "City", "Phone"};
    ASSERT_EQ(model->columnCount(), headers.size());
    const int widths[] = {140, 45, 80, 140, 55, 40, 100, 100};
    for (int i = 0; i < headers.size(); ++i) {
        EXPECT_EQ(model->headerData(i, Qt::Horizontal).toString(), headers[i]);
        // The last column stretches.
        if (i < headers.size() - 1) {
            EXPECT_EQ(w->lvContacts->columnWidth(i), widths[i]) << i;
        }
    }
    const int row = shownEmails(*w).indexOf("ann@example.com");
    ASSERT_GE(row, 0);
    auto text = [&](int column) { return model->data(model->index(row, column)).toString(); };
    EXPECT_EQ(text(1), "Bounced");
    EXPECT_EQ(text(2), "05 " + QLocale::system().monthName(3, QLocale::ShortFormat) + " 2024 14:07");
    EXPECT_EQ(text(3), "WEL, NEW");
    EXPECT_EQ(text(4), "2");
    EXPECT_EQ(text(5), "2.00");
    EXPECT_EQ(text(6), "Leeds");
    EXPECT_EQ(text(7), "555");
    const QIcon valid = model->data(model->index(row, 0), Qt::DecorationRole).value<QIcon>();
    const QIcon error = model->data(model->index(1 - row, 0), Qt::DecorationRole).value<QIcon>();
    EXPECT_NE(valid.cacheKey(), error.cacheKey());

    c->Bounces = 0;
    c->TotalDuration = 0;
    c->Frozen = true;
    w->RefreshContactsPage();
    EXPECT_EQ(text(1), "Frozen");
    EXPECT_EQ(text(4), "");
    EXPECT_EQ(text(5), "");

    // A field shown no more takes its column away.
    g->FieldDefs(0)->Checked = false;
    w->Setup->FieldDefsChanged();
    EXPECT_EQ(model->columnCount(), 7);
    EXPECT_EQ(model->headerData(6, Qt::Horizontal).toString(), "Phone");
}

TEST_F(UiTest, SortKeysFollowHeaderClicksWithIndicatorAndTieBreakers) {
    options::SortByDomain = false;
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP");
    addContact(*g, "b@example.com", 45002);
    addContact(*g, "a@example.com", 45001);
    addContact(*g, "a@example.com", 45003);
    addContact(*g, "c@example.com", 45001);
    w->Setup->SelectGroup(g);
    QHeaderView* header = w->lvContacts->horizontalHeader();
    EXPECT_EQ(header->sortIndicatorSection(), 0);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);

    clickHeader(*w, 2);
    clickHeader(*w, 2);
    EXPECT_EQ(header->sortIndicatorSection(), 2);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
    EXPECT_DOUBLE_EQ(w->Filter.Items(0)->Joined, 45003);
    EXPECT_DOUBLE_EQ(w->Filter.Items(3)->Joined, 45001);

    // Email ascending, the join date descending breaking ties.
    clickHeader(*w, 0);
    EXPECT_EQ(header->sortIndicatorSection(), 0);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
    EXPECT_EQ(shownEmails(*w), QStringList({"a@example.com", "a@example.com", "b@example.com", "c@example.com"}));
    EXPECT_DOUBLE_EQ(w->Filter.Items(0)->Joined, 45003);
    EXPECT_DOUBLE_EQ(w->Filter.Items(1)->Joined, 45001);
}

TEST_F(UiTest, SortByDomainDecidesWhetherTheDomainOrTheWholeAddressComesFirst) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP");
    addContact(*g, "zed@alpha.com");
    addContact(*g, "amy@beta.com");
    options::SortByDomain = true;
    w->Setup->SelectGroup(g);
    EXPECT_EQ(shownEmails(*w), QStringList({"zed@alpha.com", "amy@beta.com"}));
    w->pcMain->setCurrentWidget(w->tsOptions);
    w->chbSortByDomain->click();
    EXPECT_FALSE(options::SortByDomain);
    EXPECT_EQ(shownEmails(*w), QStringList({"amy@beta.com", "zed@alpha.com"}));
}

TEST_F(UiTest, SearchIgnoresLetterCaseAndTheTitleRepeatsTheTextAsTyped) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP");
    addContact(*g, "ann@example.com", 45000, "Bob", "Smith");
    addContact(*g, "carl@example.com", 45000, "Carl", "Annand");
    addContact(*g, "dora@example.com", 45000, "Dora", "Day");
    w->Setup->SelectGroup(g);
    w->ContactsPage->chbSearch->click();
    EXPECT_TRUE(w->acContactSearch->isChecked());
    EXPECT_FALSE(w->edSearch->isHidden());
    typeAndLeave(w->edSearch, "ann");
    const QStringList lower = shownEmails(*w);
    EXPECT_EQ(lower, QStringList({"ann@example.com", "carl@example.com"}));
    EXPECT_EQ(w->pnlContactsTitle->text(), "Search results for \"ann\" (found 2 items)");
    EXPECT_EQ(w->StatusText(0), "3 Contacts, 2 Shown");
    typeAndLeave(w->edSearch, "ANN");
    EXPECT_EQ(shownEmails(*w), lower);
    EXPECT_EQ(w->pnlContactsTitle->text(), "Search results for \"ANN\" (found 2 items)");
    typeAndLeave(w->edSearch, "smith");
    EXPECT_EQ(shownEmails(*w), QStringList({"ann@example.com"}));

    // Off, the text no longer narrows the list.
    w->acContactSearch->trigger();
    EXPECT_EQ(shownEmails(*w).size(), 3);
    EXPECT_EQ(w->pnlContactsTitle->text(), " 3 contacts in group GRP group ");
}

TEST_F(UiTest, DuplicatesModeShowsCopiesSideBySideAndSelectsTheExtraOnes) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP");
    addContact(*g, "Ann@Example.com", 45000);
    addContact(*g, "ann@example.com", 45001);
    addContact(*g, "solo@example.com");
    addContact(*g, "x@y.com");
    addContact(*g, "X@Y.COM");
    addContact(*g, "x@Y.com");
    addContact(*g, "bad address");
    addContact(*g, "BAD ADDRESS");
    w->Setup->SelectGroup(g);
    clickHeader(*w, 2);
    w->lvContacts->selectRow(0);
    w->acContactDupes->trigger();
    EXPECT_TRUE(w->ContactsPage->chbDuplicates->isChecked());
    // The e-mail column became the primary key.
    EXPECT_EQ(w->lvContacts->horizontalHeader()->sortIndicatorSection(), 0);
    const QStringList shown = shownEmails(*w);
    ASSERT_EQ(shown.size(), 7);
    EXPECT_FALSE(shown.contains("solo@example.com"));
    // Equal addresses stand in one run: an address whose run ended does not come again.
    QStringList ended;
    for (int row = 0; row < shown.size(); ++row) {
        EXPECT_FALSE(ended.contains(shown[row].toLower())) << shown[row].toStdString();
        if (row + 1 == shown.size() || shown[row + 1].compare(shown[row], Qt::CaseInsensitive) != 0)
            ended << shown[row].toLower();
    }
    // All but the first of each run: one delete removes the extra copies.
    std::vector<int> expected;
    for (int row = 1; row < shown.size(); ++row)
        if (shown[row].compare(shown[row - 1], Qt::CaseInsensitive) == 0) expected.push_back(row);
    EXPECT_EQ(selectedRows(w->lvContacts), expected);
    EXPECT_EQ(expected.size(), 4u);

    // With Email errors as well only the invalid addresses stay.
    w->acContactErrors->trigger();
    EXPECT_EQ(shownEmails(*w), QStringList({"bad address", "BAD ADDRESS"}));
    w->acContactDupes->trigger();
    EXPECT_EQ(shownEmails(*w).size(), 2);
    EXPECT_FALSE(w->lvContacts->selectionModel()->hasSelection());
    w->acContactErrors->trigger();
    EXPECT_EQ(shownEmails(*w).size(), 8);
}

TEST_F(UiTest, DeletingOneContactAsksNothingAndSeveralAskWithTheirNumber) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP", {"a@example.com", "b@example.com", "c@example.com", "d@example.com"});
    w->Setup->SelectGroup(g);
    w->lvContacts->selectRow(1);
    EXPECT_EQ(w->SelContact->Email, "b@example.com");
    w->acContactDelete->trigger();
    EXPECT_TRUE(w->questions.empty());
    EXPECT_EQ(g->ContactCount(), 3);
    EXPECT_EQ(g->FindContact("b@example.com"), nullptr);
    EXPECT_EQ(w->StatusText(0), "Removed 1 contacts from \"GRP group\"");
    EXPECT_EQ(w->SelContact.get(), nullptr);
    EXPECT_NE(logText().find(" Delete "), std::string::npos);

    selectRows(w->lvContacts, {0, 2});
    w->answers = {QMessageBox::No};
    w->acContactDelete->trigger();
    ASSERT_EQ(w->questions.size(), 1u);
    EXPECT_EQ(w->questions[0].text, "Are you sure you want to delete these 2 contacts?");
    EXPECT_EQ(w->questions[0].icon, QMessageBox::Warning);
    EXPECT_EQ(g->ContactCount(), 3);

    w->answers = {QMessageBox::Yes};
    w->acContactDelete->trigger();
    EXPECT_EQ(g->ContactCount(), 1);
    EXPECT_EQ(shownEmails(*w), QStringList({"c@example.com"}));
    EXPECT_EQ(w->StatusText(0), "Removed 2 contacts from \"GRP group\"");

    // The Delete key runs the same command.
    w->lvContacts->selectRow(0);
    QTest::keyClick(w->lvContacts, Qt::Key_Delete);
    EXPECT_EQ(g->ContactCount(), 0);
    EXPECT_EQ(w->pnlContactsTitle->text(), " 0 contacts in group GRP group ");
}

TEST_F(UiTest, UnsubscribingKeepsOrDeletesTheContactsAfterTheQuestion) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP", {"a@example.com", "b@example.com", "c@example.com"});
    w->Setup->SelectGroup(g);
    options::KeepUnsubscribed = true;
    selectRows(w->lvContacts, {0, 1});
    w->answers = {QMessageBox::Yes};
    w->acContactUnsubscribe->trigger();
    ASSERT_EQ(w->questions.size(), 1u);
    EXPECT_EQ(w->questions[0].text, "Are you sure you want to unsubscribe these 2 contacts?");
    EXPECT_TRUE(g->Contacts(0)->Unsubscribed);
    EXPECT_TRUE(g->Contacts(1)->Unsubscribed);
    EXPECT_FALSE(g->Contacts(2)->Unsubscribed);
    EXPECT_EQ(w->StatusText(0), "Unsubscribed 2 contacts from \"GRP group\"");
    EXPECT_EQ(w->lvContacts->model()->data(w->lvContacts->model()->index(0, 1)).toString(), "Unsubscribed");

    options::KeepUnsubscribed = false;
    w->lvContacts->selectRow(2);
    w->acContactUnsubscribe->trigger();
    EXPECT_EQ(g->ContactCount(), 2);
    EXPECT_EQ(w->questions.size(), 1u);
}

TEST_F(UiTest, CopiedContactsPasteIntoAnotherGroupEachTimeAndOtherTextPastesNothing) {
    auto w = makeWindow();
    TcvGroup* from = addGroup(*w->Setup, "FRM", {"a@example.com", "b@example.com", "c@example.com", "d@example.com"});
    TcvGroup* to = addGroup(*w->Setup, "TO", {"z@example.com"});
    from->Contacts(0)->FirstName = "Ann";
    w->Setup->SelectGroup(from);
    selectRows(w->lvContacts, {3, 0, 2});
    w->acContactCopy->trigger();
    const QString copied = QGuiApplication::clipboard()->text();
    EXPECT_TRUE(copied.startsWith("<Contacts>\r\n  <Contact>") || copied.contains("\n  <Contact>"))
        << copied.toStdString();
    EXPECT_EQ(copied.count("<Contact>"), 3);
    EXPECT_LT(copied.indexOf("a@example.com"), copied.indexOf("c@example.com"));
    EXPECT_LT(copied.indexOf("c@example.com"), copied.indexOf("d@example.com"));

    w->Setup->SelectGroup(to);
    w->Setup->Modified = false;
    w->acContactPaste->trigger();
    EXPECT_EQ(to->ContactCount(), 4);
    EXPECT_TRUE(w->Setup->Modified);
    w->acContactPaste->trigger();
    EXPECT_EQ(to->ContactCount(), 7);
    EXPECT_EQ(shownEmails(*w).count("a@example.com"), 2);
    EXPECT_EQ(to->FindContact("a@example.com")->FirstName, "Ann");
    EXPECT_EQ(w->lvContacts->model()->rowCount(), 7);

    for (const char* text : {"<Contact><Email>x@example.com</Email></Contact>", "<Contacts><Contact>", "plain"}) {
        clipboard::SetText(text);
        w->acContactPaste->trigger();
        EXPECT_EQ(to->ContactCount(), 7) << text;
    }
    EXPECT_TRUE(w->messages.empty());
}

TEST_F(UiTest, NewContactGetsTheNextPlaceholderAddressAndBecomesCurrent) {
    platform::ManualClock clock(platform::encodeDateTime(2024, 6, 1, 9, 30), 0);
    platform::ScopedClock useClock(clock);
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP", {"a@example.com", "b@example.com", "c@example.com", "d@example.com"});
    w->Setup->SelectGroup(g);
    w->acContactNew->trigger();
    ASSERT_EQ(g->ContactCount(), 5);
    TcvContact* added = g->FindContact("contact5@example.com");
    ASSERT_NE(added, nullptr);
    EXPECT_DOUBLE_EQ(added->Joined, platform::encodeDateTime(2024, 6, 1, 9, 30));
    EXPECT_EQ(w->SelContact.get(), added);
    EXPECT_EQ(selectedRows(w->lvContacts), std::vector<int>{w->Filter.IndexOf(added)});
    EXPECT_EQ(w->ContactsPage->edContactEmail->text(), "contact5@example.com");
    EXPECT_EQ(w->pnlContactsTitle->text(), " 5 contacts in group GRP group [contact5@example.com]");
    EXPECT_EQ(w->StatusText(0), "5 Contacts, 1 Selected (contact5@example.com)");

    TcvGroup* empty = addGroup(*w->Setup, "EMP");
    w->Setup->SelectGroup(empty);
    w->acContactNew->trigger();
    EXPECT_EQ(empty->Contacts(0)->Email, "contact1@example.com");
}

TEST_F(UiTest, ContactDetailsAreEditedOnLeavingAndTheHistoryCanBeCleared) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP", {"b@example.com", "m@example.com"});
    addMessage(*g, "WEL", TcvMessageMode::OneTime, "Welcome");
    TcvContact* c = g->Contacts(0);
    c->Hist = {{"WEL", 45000}, {"OLD", 45001}, {"NEW", 45002}};
    w->Setup->SelectGroup(g);
    w->lvContacts->selectRow(0);
    TContactsPage& page = *w->ContactsPage;
    EXPECT_TRUE(page.edContactEmail->isEnabled());
    EXPECT_EQ(page.lbValidationError->text(), "");
    QAbstractItemModel* history = page.lvContactHistory->model();
    ASSERT_EQ(history->rowCount(), 3);
    EXPECT_EQ(history->data(history->index(0, 2)).toString(), "Welcome");
    EXPECT_EQ(history->data(history->index(1, 2)).toString(), "");
    EXPECT_EQ(history->data(history->index(0, 1)).toString(),
              "15 " + QLocale::system().monthName(3, QLocale::ShortFormat) + " 23");

    w->Setup->Modified = false;
    typeAndLeave(page.edContactFirstName, "mARY ann");
    typeAndLeave(page.edContactLastName, "o'neil");
    EXPECT_EQ(c->FirstName, CapitalizeName("mARY ann"));
    EXPECT_EQ(c->LastName, CapitalizeName("o'neil"));
    EXPECT_EQ(page.lbFullname->text(), QString::fromStdString(c->FullName()));
    EXPECT_FALSE(w->Setup->Modified);

    // A new address sorts the contact to its place and keeps it current.
    typeAndLeave(page.edContactEmail, "z@example.com");
    EXPECT_EQ(c->Email, "z@example.com");
    EXPECT_EQ(g->Contacts(1), c);
    EXPECT_EQ(w->SelContact.get(), c);
    EXPECT_EQ(shownEmails(*w), QStringList({"m@example.com", "z@example.com"}));
    typeAndLeave(page.edContactEmail, "no at sign");
    EXPECT_FALSE(page.lbValidationError->text().isEmpty());
    EXPECT_FALSE(w->acCheckDomain->isEnabled());

    selectRows(page.lvContactHistory, {0, 2});
    EXPECT_TRUE(w->acHistClear->isEnabled());
    EXPECT_FALSE(w->acHistPreview->isEnabled());
    w->answers = {QMessageBox::No};
    w->acHistClear->trigger();
    EXPECT_EQ(c->HistoryCount(), 3);
    w->answers = {QMessageBox::Yes};
    w->acHistClear->trigger();
    ASSERT_EQ(w->questions.size(), 2u);
    EXPECT_EQ(w->questions[1].text, "Do you really want to clear all history items?");
    ASSERT_EQ(c->HistoryCount(), 1);
    EXPECT_EQ(c->HistoryItem(0)->Code, "OLD");
    EXPECT_EQ(history->rowCount(), 1);
}

TEST_F(UiTest, HoveringShowsTheContactUnderTheMouseWithoutSelectingIt) {
    options::ContactInfoHoover = true;
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP", {"a@example.com", "b@example.com"});
    w->Setup->SelectGroup(g);
    w->lvContacts->selectRow(0);
    w->resize(800, 600);
    w->pcMain->setCurrentWidget(w->tsContacts);
    w->show();
    emit w->lvContacts->entered(w->lvContacts->model()->index(1, 0));
    EXPECT_EQ(w->SelContact.get(), g->Contacts(1));
    EXPECT_EQ(w->ContactsPage->edContactEmail->text(), "b@example.com");
    EXPECT_EQ(selectedRows(w->lvContacts), std::vector<int>{0});

    options::ContactInfoHoover = false;
    emit w->lvContacts->entered(w->lvContacts->model()->index(0, 0));
    EXPECT_EQ(w->SelContact.get(), g->Contacts(1));
}

TEST_F(UiTest, SelectionAndScrollPositionSurviveMailsSentAndParsed) {
    auto w = makeWindow();
    std::vector<std::string> emails;
    for (int i = 0; i < 300; ++i) emails.push_back("m" + std::to_string(1000 + i) + "@example.com");
    TcvGroup* g = addGroup(*w->Setup, "GRP", emails);
    TcvMessage* m = addMessage(*g, "WEL", TcvMessageMode::OneTime);
    w->Setup->SelectGroup(g);
    w->resize(800, 600);
    w->pcMain->setCurrentWidget(w->tsContacts);
    w->show();
    selectRows(w->lvContacts, {150, 152});
    w->lvContacts->scrollTo(w->lvContacts->model()->index(150, 0), QAbstractItemView::PositionAtTop);
    const int scroll = w->lvContacts->verticalScrollBar()->value();
    ASSERT_GT(scroll, 0);
    TcvContact* selected = w->Filter.Items(150);
    QSignalSpy resets(w->lvContacts->model(), &QAbstractItemModel::modelReset);

    g->Contacts(151)->AddHistory("WEL", 45000);
    w->Mailer->OnMailed(*w->Mailer, *g->Contacts(151), *m, "s", "b");
    // A parser subscribes a contact that sorts before the selected rows.
    auto* joined = new TcvContact;
    joined->Email = "a@example.com";
    g->AddContact(joined);
    w->Setup->OnParserAction(nullptr, joined, g, 0);

    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(w->lvContacts->model()->rowCount(), 301);
    EXPECT_EQ(selectedRows(w->lvContacts), (std::vector<int>{151, 153}));
    EXPECT_EQ(w->Filter.Items(151), selected);
    EXPECT_EQ(w->lvContacts->model()->data(w->lvContacts->model()->index(152, 3)).toString(), "WEL");
    EXPECT_NEAR(w->lvContacts->verticalScrollBar()->value(), scroll, 1);
}

TEST_F(UiTest, DomainCheckConnectsToTheMailHostAndRecordsTheAnswer) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP", {"ann@example.org"});
    w->Setup->SelectGroup(g);
    w->lvContacts->selectRow(0);
    TcvContact* c = g->Contacts(0);
    Listener listener;
    std::vector<std::string> hosts;
    std::vector<int> ports;
    bool runningMeanwhile = false;
    w->ContactsPage->ConnectProbe = [&](const std::string& host, int port) {
        hosts.push_back(host);
        ports.push_back(port);
        runningMeanwhile = w->CheckingDomain && !w->acCheckDomain->isEnabled();
        mailtext::TcpConnectAndClose("127.0.0.1", listener.port());
    };
    ASSERT_TRUE(w->acCheckDomain->isEnabled());
    w->Setup->Modified = false;
    w->acCheckDomain->trigger();
    ASSERT_EQ(hosts.size(), 1u);
    EXPECT_EQ(hosts[0], "mail.example.org");
    EXPECT_EQ(ports[0], 25);
    EXPECT_TRUE(runningMeanwhile);
    ASSERT_EQ(w->messages.size(), 1u);
    EXPECT_EQ(w->messages[0], "The domain is responding OK");
    EXPECT_TRUE(c->ValidDomain);
    EXPECT_FALSE(w->CheckingDomain);
    EXPECT_EQ(w->StatusText(0), "");

    listener.close();
    w->acCheckDomain->trigger();
    EXPECT_EQ(w->messages.size(), 1u);
    EXPECT_FALSE(c->ValidDomain);
    EXPECT_FALSE(w->Setup->Modified);
    EXPECT_EQ(w->ContactsPage->lbValidationError->text(), "Warning: domain is not responding");
    EXPECT_FALSE(w->CheckingDomain);
    EXPECT_TRUE(w->acCheckDomain->isEnabled());
    EXPECT_EQ(w->StatusText(0), "");
}

TEST_F(UiTest, DomainCheckSurvivesTheContactBeingDeletedWhileItWaits) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP", {"ann@example.org", "bob@example.org"});
    w->Setup->SelectGroup(g);
    w->lvContacts->selectRow(0);
    w->ContactsPage->ConnectProbe = [&](const std::string&, int) {
        w->Setup->DeleteGroup(0);
        throw std::runtime_error("refused");
    };
    w->acCheckDomain->trigger();
    EXPECT_EQ(w->Setup->GroupCount(), 0);
    EXPECT_FALSE(w->CheckingDomain);
    EXPECT_TRUE(w->messages.empty());
    EXPECT_EQ(w->pnlContactsTitle->text(), " Select group first");
}

TEST_F(UiTest, SortingByPreparedKeysOrdersExactlyAsTheCompareFunction) {
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP");
    addField(*g, "City");
    std::mt19937 random(11);
    const char* const domains[] = {"b.com", "A.com", "a.org"};
    for (int i = 0; i < 400; ++i) {
        const unsigned r = random();
        TcvContact* c = addContact(*g, (r % 5 ? "u" : "U") + std::to_string(r % 37) + "@" + domains[r % 3],
                                   45000 + r % 9);
        c->Bounces = static_cast<int>(r % 3);
        c->Frozen = r % 11 == 0;
        c->Unsubscribed = r % 13 == 0;
        c->TotalBytes = static_cast<int32_t>(r % 4000);
        c->TotalDuration = static_cast<int32_t>(r % 7);
        if (r % 4) c->AddHistory(r % 2 ? "WEL" : "wel", 45000);
        if (r % 3) c->SetCustomField(0, r % 2 ? "leeds" : "Leeds");
    }
    w->Setup->SelectGroup(g);
    // The same filter without prepared keys.
    TFilter plain;
    plain.OnFilter = w->Filter.OnFilter;
    plain.OnCompare = w->Filter.OnCompare;
    for (bool byDomain : {true, false}) {
        options::SortByDomain = byDomain;
        for (int column : {2, 0, 3, 6, 1, 3, 5, 4, 4, 0, 6, 6}) {
            clickHeader(*w, column);
            plain.SetSource(g);
            ASSERT_EQ(plain.Count(), w->Filter.Count());
            for (int i = 0; i < plain.Count(); ++i)
                ASSERT_EQ(plain.Items(i), w->Filter.Items(i)) << "column " << column << " row " << i;
        }
    }
}

TEST_F(UiTest, SortKeyOfAColumnThatDisappearedFallsBackToTheEmailColumn) {
    options::SortByDomain = false;
    auto w = makeWindow();
    TcvGroup* g = addGroup(*w->Setup, "GRP");
    TcvFieldDef* field = addField(*g, "City");
    addContact(*g, "a@example.com")->SetCustomField(0, "York");
    addContact(*g, "b@example.com")->SetCustomField(0, "Bath");
    addContact(*g, "c@example.com")->SetCustomField(0, "Leeds");
    w->Setup->SelectGroup(g);
    clickHeader(*w, 6);
    EXPECT_EQ(shownEmails(*w), QStringList({"b@example.com", "c@example.com", "a@example.com"}));
    EXPECT_EQ(w->lvContacts->horizontalHeader()->sortIndicatorSection(), 6);

    field->Checked = false;
    w->Setup->FieldDefsChanged();
    EXPECT_EQ(w->lvContacts->model()->columnCount(), 6);
    EXPECT_EQ(w->ContactsPage->SortKeys[0].Column, 0);
    EXPECT_FALSE(w->ContactsPage->SortKeys[0].Descending);
    EXPECT_EQ(w->lvContacts->horizontalHeader()->sortIndicatorSection(), 0);
    EXPECT_EQ(w->lvContacts->horizontalHeader()->sortIndicatorOrder(), Qt::AscendingOrder);
    EXPECT_EQ(shownEmails(*w), QStringList({"a@example.com", "b@example.com", "c@example.com"}));
}
