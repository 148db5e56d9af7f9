#include "bench/setup/SetupGenerator.h"

#include "platform/DateTime.h"

#include <random>
#include <string>
#include <vector>

std::unique_ptr<TcvSetup> GenerateSetup(int contactCount, unsigned seed) {
    std::mt19937 random(seed);
    auto setup = std::make_unique<TcvSetup>();
    for (int a = 0; a < 2; ++a) {
        auto* account = new TcvAccount;
        account->Name = "Account " + std::to_string(a + 1);
        account->ServerName = "mail" + std::to_string(a + 1) + ".example.com";
        account->UserName = "user" + std::to_string(a + 1);
        account->Password = "secret";
        account->Sender = "news@example.com";
        setup->AddAccount(account);
    }
    static const char* const firstNames[] = {"Ann", "Bob", "Carla", "Dirk", "Eva", "Frank", "Greta", "Hans"};
    static const char* const lastNames[] = {"Smith", "Jones", "de Vries", "Miller", "Brown", "Jansen"};
    static const char* const domains[] = {"example.com", "example.org", "mail.example.net", "example.co.uk",
                                          "example.de", "example.nl"};
    const double start = platform::encodeDate(2020, 1, 1);
    for (int g = 0; g < 5; ++g) {
        auto* group = new TcvGroup;
        setup->AddGroup(group);
        group->SetName("Group " + std::to_string(g + 1));
        group->Account = setup->Accounts(g % 2);
        group->Purpose = "Follow-up programme\r\nfor generated contacts";
        for (const char* title : {"Company", "City", "OrderID"}) {
            auto* field = new TcvFieldDef;
            field->Title = title;
            field->Checked = true;
            group->AddFieldDef(field);
        }
        for (int m = 0; m < 10; ++m) {
            auto* message = new TcvMessage;
            group->AddMessage(message);
            message->SetTitle("Message " + std::to_string(m + 1));
            message->Subject = "News for %FirstName";
            message->BodyPlain = "Dear%FriendlyName,\r\n\r\nThis is message " + std::to_string(m + 1) +
                                 " of the programme.\r\n\r\nRegards";
            message->Status = TcvMessageStatus::Live;
            message->Mode = m < 5 ? TcvMessageMode::OneTime : TcvMessageMode::Triggered;
            message->TriggerAmount = m;
            message->TriggerUnit = TcvTriggerUnit::Days;
        }
        const int count = contactCount / 5 + (g < contactCount % 5 ? 1 : 0);
        std::vector<std::unique_ptr<TcvContact>> contacts;
        for (int c = 0; c < count; ++c) {
            auto* contact = contacts.emplace_back(std::make_unique<TcvContact>()).get();
            const unsigned r = random();
            contact->Email = "user" + std::to_string(r % 1000000) + "." + std::to_string(c) + "@" + domains[r % 6];
            contact->FirstName = firstNames[(r >> 8) % 8];
            contact->LastName = lastNames[(r >> 12) % 6];
            contact->Joined = start + (r % 2000) + (r % 86400) / 86400.0;
            contact->TotalBytes = static_cast<int32_t>(r % 100000);
            contact->TotalDuration = static_cast<int32_t>(r % 5000);
            // Custom fields need the group; the contacts join its list all at once below.
            contact->Group = group;
            contact->SetCustomField(0, "Company " + std::to_string(r % 977));
            contact->SetCustomField(1, "City " + std::to_string(r % 211));
            contact->SetCustomField(2, std::to_string(100000 + c));
            for (int h = 0; h < 5; ++h) contact->AddHistory(group->Messages(h)->Code, contact->Joined + h);
        }
        group->AddContacts(std::move(contacts));
    }
    setup->Modified = false;
    return setup;
}
