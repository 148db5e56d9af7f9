// The Options page: edits the option variables that have no control elsewhere. Changes take effect
// at once and reach the registry at shut-down.
#include "options/OptionRefs.h"
#include "ui/ContactsPage.h"
#include "ui/cvMain.h"
#include "ui/cvPageTools.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

using pages::CheckBox;

void TfrmMain::createOptionsPage(QWidget* page) {
    auto* layout = static_cast<QVBoxLayout*>(page->layout());
    // The note sits at the right of the title panel.
    auto* titleLayout = new QHBoxLayout(pnlOptionsTitle);
    titleLayout->setContentsMargins(4, 0, 8, 0);
    titleLayout->addStretch();
    auto* note = new QLabel("These settings are saved in the registry", pnlOptionsTitle);
    note->setObjectName("lbOptionsNote");
    note->setPalette(pnlOptionsTitle->palette());
    titleLayout->addWidget(note);

    auto* filing = new QGroupBox("Loading and saving setup data", page);
    filing->setObjectName("gbFiling");
    auto* filingLayout = new QVBoxLayout(filing);
    chbLoadAtStartup = CheckBox(filing, "chbLoadAtStartup", "Load previous setup at startup");
    chbSaveAtShutdown = CheckBox(filing, "chbSaveAtShutdown", "Save automatically at shutdown");
    chbAutoSave = CheckBox(filing, "chbAutoSave", "Auto-save every ");
    edAutosavePeriod = new QLineEdit(filing);
    edAutosavePeriod->setObjectName("edAutosavePeriod");
    edAutosavePeriod->setMaximumWidth(60);
    auto* autoSaveRow = new QHBoxLayout;
    autoSaveRow->addWidget(chbAutoSave);
    autoSaveRow->addWidget(edAutosavePeriod);
    autoSaveRow->addWidget(new QLabel("minutes", filing));
    autoSaveRow->addStretch();
    filingLayout->addWidget(chbLoadAtStartup);
    filingLayout->addWidget(chbSaveAtShutdown);
    filingLayout->addLayout(autoSaveRow);

    auto* mailer = new QGroupBox("Mailer deamon", page);
    mailer->setObjectName("gbMailer");
    auto* mailerLayout = new QVBoxLayout(mailer);
    chbAutoStartMailer = CheckBox(mailer, "chbAutoStartMailer", "Auto-start mailer deamon at startup");
    chbWarnBeforeFirstMail = CheckBox(mailer, "chbWarnBeforeFirstMail", "Warn before sending first mail");
    chbLogMailerActivity =
        CheckBox(mailer, "chbLogMailerActivity", "Log mailer activity to a file (mailerdeamon.log)");
    chbLogLimitSize = CheckBox(mailer, "chbLogLimitSize", "Maximum size:");
    udLogMaxSize = new QSpinBox(mailer);
    udLogMaxSize->setObjectName("udLogMaxSize");
    udLogMaxSize->setRange(10, 10000);
    udLogMaxSize->setSingleStep(10);
    // The value is taken on a spin click or on leaving the field, not per keystroke.
    udLogMaxSize->setKeyboardTracking(false);
    edLogMaxSize = udLogMaxSize->findChild<QLineEdit*>();
    edLogMaxSize->setObjectName("edLogMaxSize");
    auto* sizeRow = new QHBoxLayout;
    sizeRow->addWidget(chbLogLimitSize);
    sizeRow->addWidget(udLogMaxSize);
    sizeRow->addWidget(new QLabel("Kb", mailer));
    sizeRow->addStretch();
    mailerLayout->addWidget(chbAutoStartMailer);
    mailerLayout->addWidget(chbWarnBeforeFirstMail);
    mailerLayout->addWidget(chbLogMailerActivity);
    mailerLayout->addLayout(sizeRow);

    auto* contacts = new QGroupBox("Contacts", page);
    contacts->setObjectName("gbContacts");
    auto* contactsLayout = new QVBoxLayout(contacts);
    chbContactInfoHoover =
        CheckBox(contacts, "chbContactInfoHoover", "Show information when hoovering over a contact");
    chbSortByDomain = CheckBox(contacts, "chbSortByDomain", "Sort E-mail by domain instead of name");
    chbKeepUnsubscribed = CheckBox(contacts, "chbKeepUnsubscribed", "Keep unsubscribed contacts around");
    contactsLayout->addWidget(chbContactInfoHoover);
    contactsLayout->addWidget(chbSortByDomain);
    contactsLayout->addWidget(chbKeepUnsubscribed);

    layout->addWidget(filing);
    layout->addWidget(mailer);
    layout->addWidget(contacts);
    layout->addStretch();

    const std::pair<QCheckBox*, bool*> bound[] = {
        {chbLoadAtStartup, &options::LoadAtStartup},
        {chbSaveAtShutdown, &options::SaveAtShutdown},
        {chbAutoSave, &options::AutoSave},
        {chbAutoStartMailer, &options::AutoStartMailer},
        {chbWarnBeforeFirstMail, &options::WarnBeforeFirstMail},
        {chbLogMailerActivity, &options::LogMailerActivity},
        {chbLogLimitSize, &options::LogLimitSize},
        {chbContactInfoHoover, &options::ContactInfoHoover},
        {chbSortByDomain, &options::SortByDomain},
        {chbKeepUnsubscribed, &options::KeepUnsubscribed},
    };
    for (auto [box, variable] : bound) {
        connect(box, &QCheckBox::clicked, this, [this, box = box, variable = variable] {
            if (Updating()) return;
            *variable = box->isChecked();
            // The contact list follows the sort and keep options (it filters and sorts again).
            if (box == chbSortByDomain || box == chbKeepUnsubscribed) {
                ContactsPage->UpdateFilter();
                RefreshContactsPage();
            }
            OptionClicked();
        });
    }
    connect(edAutosavePeriod, &QLineEdit::editingFinished, this, [this] {
        if (Updating()) return;
        bool ok = false;
        const int period = edAutosavePeriod->text().trimmed().toInt(&ok, 10);
        if (ok) options::AutoSavePeriod = period;
        OptionClicked();
    });
    auto takeMaxSize = [this] {
        if (Updating()) return;
        options::LogMaxSize = udLogMaxSize->value();
        OptionClicked();
    };
    connect(udLogMaxSize, &QSpinBox::valueChanged, this, takeMaxSize);
    connect(udLogMaxSize, &QSpinBox::editingFinished, this, takeMaxSize);
}

void TfrmMain::OptionClicked() {
    RefreshCommands();
    RefreshOptionsPage();
}

void TfrmMain::RefreshOptionsPage() {
    if (Updating()) return;
    BeginUpdate();
    chbLoadAtStartup->setChecked(options::LoadAtStartup);
    chbSaveAtShutdown->setChecked(options::SaveAtShutdown);
    chbAutoSave->setChecked(options::AutoSave);
    edAutosavePeriod->setText(QString::number(options::AutoSavePeriod));
    chbAutoStartMailer->setChecked(options::AutoStartMailer);
    chbWarnBeforeFirstMail->setChecked(options::WarnBeforeFirstMail);
    chbLogMailerActivity->setChecked(options::LogMailerActivity);
    chbLogLimitSize->setChecked(options::LogLimitSize);
    // The control shows the value within its range; the variable keeps what it holds.
    udLogMaxSize->setValue(options::LogMaxSize);
    chbContactInfoHoover->setChecked(options::ContactInfoHoover);
    chbSortByDomain->setChecked(options::SortByDomain);
    chbKeepUnsubscribed->setChecked(options::KeepUnsubscribed);
    EndUpdate();
}
