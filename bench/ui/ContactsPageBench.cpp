// The Contacts page over one group of 100 000 contacts, driven through the real main window
// offscreen: switching to the group, sorting by every column, searching, the duplicates mode,
// selecting all, deleting 1 000 selected rows, a mail sent and a subscription parsed, the selected
// rows helper and the rows a scroll asks for. Prints milliseconds per operation.
#include "bench/setup/SetupGenerator.h"
#include "model/cvSetup.h"
#include "options/OptionRefs.h"
#include "platform/DateTime.h"
#include "mailer/cvMailer.h"
#include "ui/ContactsPage.h"
#include "ui/Filters.h"
#include "ui/cvMain.h"
#include "ui/cvReportModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <random>
#include <set>
#include <string>

namespace {

// Answers every question with Yes and shows no message.
class BenchWindow : public TfrmMain {
public:
    QMessageBox::StandardButton Ask(const QString&, QMessageBox::Icon, QMessageBox::StandardButtons) override {
        return QMessageBox::Yes;
    }
    void ShowMessage(const QString&, QMessageBox::Icon) override {}
};

double cpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Wall time, and the processor time of this thread (what a busy machine does not inflate).
struct Times {
    double wall, cpu;
};

Times timed(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    const double cpu = cpuMs();
    work();
    QCoreApplication::processEvents();
    return {std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count(), cpuMs() - cpu};
}

void report(const char* what, Times t) { std::printf("%-52s %9.1f ms %9.1f ms cpu\n", what, t.wall, t.cpu); }

// A group of contacts like the generator's (names, join dates, speeds, three custom fields and five
// history entries each), with one address in a hundred also present in other letter case and one
// in two hundred invalid. Built before it joins the setup, in address order, so each addition is
// an append.
TcvGroup* bigGroup(TcvGroup& model, int count) {
    std::mt19937 random(7);
    static const char* const domains[] = {"example.com", "example.org", "mail.example.net", "example.co.uk",
                                          "example.de", "example.nl"};
    static const char* const firstNames[] = {"Ann", "Bob", "Carla", "Dirk", "Eva", "Frank", "Greta", "Hans"};
    std::vector<std::string> emails;
    emails.reserve(static_cast<size_t>(count));
    for (int c = 0; static_cast<int>(emails.size()) < count; ++c) {
        const unsigned r = random();
        std::string email = "user" + std::to_string(r % 1000000) + "." + std::to_string(c) + "@" + domains[r % 6];
        if (c % 200 == 0) email.erase(email.find('@'), 1);
        emails.push_back(email);
        if (c % 100 == 1 && static_cast<int>(emails.size()) < count) {
            std::string copy = email;
            std::transform(copy.begin(), copy.end(), copy.begin(), ::toupper);
            emails.push_back(copy);
        }
    }
    std::stable_sort(emails.begin(), emails.end(),
                     [](const std::string& a, const std::string& b) { return CompareEmails(a, b) < 0; });
    auto* group = new TcvGroup;
    group->Assign(model);
    while (group->ContactCount() > 0) group->DeleteContact(group->ContactCount() - 1);
    group->Name = "Big group";
    group->Code = "BIG";
    const double start = platform::encodeDate(2020, 1, 1);
    for (size_t i = 0; i < emails.size(); ++i) {
        const unsigned r = random();
        auto* contact = new TcvContact;
        contact->Email = emails[i];
        contact->FirstName = firstNames[(r >> 8) % 8];
        contact->LastName = "Miller";
        contact->Joined = start + (r % 2000) + (r % 86400) / 86400.0;
        contact->TotalBytes = static_cast<int32_t>(r % 100000);
        contact->TotalDuration = static_cast<int32_t>(r % 5000);
        contact->Bounces = r % 17 == 0 ? 1 : 0;
        group->AddContact(contact);
        contact->SetCustomField(0, "Company " + std::to_string(r % 977));
        contact->SetCustomField(1, "City " + std::to_string(r % 211));
        contact->SetCustomField(2, std::to_string(100000 + i));
        for (int h = 0; h < 5; ++h) contact->AddHistory(group->Messages(h)->Code, contact->Joined + h);
    }
    return group;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir folder;
    const int count = argc > 1 ? std::atoi(argv[1]) : 100000;

    BenchWindow w;
    w.tmMailer->stop();
    SetLogFilePath((folder.path() + "/mailerdeamon.log").toStdString());
    options::SortByDomain = true;
    options::KeepUnsubscribed = true;
    std::unique_ptr<TcvSetup> generated = GenerateSetup(0);
    TcvGroup* big = bigGroup(*generated->Groups(0), count);
    TcvGroup* small = bigGroup(*generated->Groups(1), 10);
    w.Setup->AddGroup(small);
    w.Setup->AddGroup(big);
    w.resize(800, 600);
    w.pcMain->setCurrentWidget(w.tsContacts);
    w.show();
    w.Setup->SelectGroup(small);
    QCoreApplication::processEvents();
    std::printf("%d contacts, SortByDomain on, %d columns\n", big->ContactCount(), w.lvContacts->model()->columnCount());

    report("switch to the group", timed([&] { w.Setup->SelectGroup(big); }));
    QHeaderView* header = w.lvContacts->horizontalHeader();
    const char* const names[] = {"Email", "Status", "Joined", "Received", "Bounces", "Kb/s", "Company", "City", "OrderID"};
    for (int column = 0; column < w.lvContacts->model()->columnCount(); ++column) {
        const std::string what = std::string("sort by ") + names[column] + " (header click)";
        report(what.c_str(), timed([&] { emit header->sectionClicked(column); }));
    }
    report("sort by Email again, descending", timed([&] { emit header->sectionClicked(0); }));
    report("sort by Email again, ascending", timed([&] { emit header->sectionClicked(0); }));

    // Scrolling: count the rows the list asks for.
    std::set<int> asked;
    auto cell = w.ContactsModel->Cell;
    w.ContactsModel->Cell = [&](int row, int column) {
        asked.insert(row);
        return cell(row, column);
    };
    asked.clear();
    w.lvContacts->verticalScrollBar()->setValue(w.lvContacts->verticalScrollBar()->maximum() / 2);
    w.lvContacts->viewport()->repaint();
    const int visible = w.lvContacts->viewport()->height() / w.lvContacts->verticalHeader()->defaultSectionSize() + 1;
    std::printf("%-52s %6zu rows (%d fit the view)\n", "rows asked for by a scroll to the middle", asked.size(), visible);
    w.ContactsModel->Cell = cell;

    TcvMessage* message = big->Messages(0);
    TcvContact* someone = w.Filter.Items(w.Filter.Count() / 2);
    report("a mail sent (one contact's row)", timed([&] {
               someone->AddHistory("XXX", 46000);
               w.Mailer->OnMailed(*w.Mailer, *someone, *message, "subject", "body");
           }));
    report("a subscription parsed (filter and list follow)", timed([&] {
               auto* joined = new TcvContact;
               joined->Email = "new.subscriber@example.com";
               big->AddContact(joined);
               w.Setup->OnParserAction(nullptr, joined, big, 0);
           }));

    w.ContactsPage->chbSearch->click();
    report("search \"USER12\"", timed([&] {
               w.edSearch->setText("user12");
               w.edSearch->returnPressed();
           }));
    std::printf("%-52s %6d rows\n", "  found", w.Filter.Count());
    report("search off", timed([&] { w.ContactsPage->chbSearch->click(); }));

    report("duplicates on (sort, filter, select extra copies)", timed([&] { w.ContactsPage->chbDuplicates->click(); }));
    std::printf("%-52s %6d rows, %d selected\n", "  shown", w.Filter.Count(), SelectedCount(*w.lvContacts));
    report("duplicates off", timed([&] { w.ContactsPage->chbDuplicates->click(); }));

    report("select all", timed([&] { w.lvContacts->selectAll(); }));
    report("  SelectedIndices of all rows", timed([&] { SelectedIndices(*w.lvContacts); }));
    report("  refresh commands and page with all selected", timed([&] {
               w.RefreshCommands();
               w.RefreshContactsPage();
           }));

    QItemSelection three;
    for (int row : {10, w.Filter.Count() / 2, w.Filter.Count() - 10})
        three.select(w.ContactsModel->index(row, 0), w.ContactsModel->index(row, 0));
    w.lvContacts->selectionModel()->select(three, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    const Times t = timed([&] {
        for (int i = 0; i < 1000; ++i) SelectedIndices(*w.lvContacts);
    });
    std::printf("%-52s %9.4f ms %9.4f ms cpu\n", "SelectedIndices with 3 rows selected", t.wall / 1000, t.cpu / 1000);

    QItemSelection spread;
    const int last = w.ContactsModel->columnCount() - 1;
    for (int i = 0; i < 1000; ++i) {
        const int row = i * (w.Filter.Count() / 1000);
        spread.select(w.ContactsModel->index(row, 0), w.ContactsModel->index(row, last));
    }
    w.lvContacts->selectionModel()->select(spread, QItemSelectionModel::ClearAndSelect);
    report("delete 1000 selected rows spread over the list", timed([&] { w.acContactDelete->trigger(); }));
    std::printf("%-52s %6d contacts left\n", "", big->ContactCount());

    QItemSelection block;
    block.select(w.ContactsModel->index(5000, 0), w.ContactsModel->index(5999, last));
    w.lvContacts->selectionModel()->select(block, QItemSelectionModel::ClearAndSelect);
    report("delete 1000 selected neighbouring rows", timed([&] { w.acContactDelete->trigger(); }));
    report("switch to another group and back", timed([&] {
               w.Setup->SelectGroup(small);
               w.Setup->SelectGroup(big);
           }));
    return 0;
}
