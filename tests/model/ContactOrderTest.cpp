#include "model/cvSetup.h"
#include "platform/Locale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// Short addresses from a small alphabet, so that equal addresses, case variants (ASCII and
// accented), addresses without "@" and with "@" first all come up often.
std::string randomAddress(std::mt19937& random) {
    static const char* const pieces[] = {"a", "A", "b", "B", "\xe9", "\xc9", ".", "z"};
    static const char* const domains[] = {"x.org", "X.ORG", "y.com", "\xe9.de", "\xc9.DE", ""};
    auto pick = [&](size_t n) { return static_cast<size_t>(random() % n); };
    std::string local;
    for (size_t i = pick(3); i > 0; --i) local += pieces[pick(8)];
    const std::string domain = domains[pick(6)];
    switch (pick(6)) {
    case 0:
        return domain + local;
    case 1:
        return "@" + domain;
    default:
        return local + "@" + domain;
    }
}

int linearIndexOfEmail(const TcvGroup& g, const std::string& address) {
    for (int i = 0; i < g.ContactCount(); ++i)
        if (platform::sameText(g.Contacts(i)->Email, address)) return i;
    return -1;
}

// Every address of the list, a case variant of each, and some that are absent.
void expectSearchesMatchLinear(const TcvGroup& g, std::mt19937& random, const std::string& context) {
    std::vector<std::string> probes;
    for (int i = 0; i < g.ContactCount(); ++i) {
        probes.push_back(g.Contacts(i)->Email);
        probes.push_back(platform::asciiUpper(g.Contacts(i)->Email));
    }
    for (int i = 0; i < 20; ++i) probes.push_back(randomAddress(random));
    for (const std::string& address : probes)
        ASSERT_EQ(g.IndexOfEmail(address), linearIndexOfEmail(g, address)) << context << " address " << address;
    for (int i = 0; i < g.ContactCount(); ++i) ASSERT_EQ(g.IndexOfContact(g.Contacts(i)), i) << context;
}

std::unique_ptr<TcvContact> tagged(const std::string& address, int tag) {
    auto c = std::make_unique<TcvContact>();
    c->Email = address;
    c->FirstName = std::to_string(tag);
    return c;
}

std::vector<std::string> tagsOf(const TcvGroup& g) {
    std::vector<std::string> tags;
    for (int i = 0; i < g.ContactCount(); ++i) tags.push_back(g.Contacts(i)->FirstName);
    return tags;
}

}  // namespace

TEST(ContactOrder, AddressSearchGivesTheLinearSearchResultInSortedAndDisorderedLists) {
    std::mt19937 random(20261209);
    for (int round = 0; round < 60; ++round) {
        TcvGroup g;
        const int count = 1 + static_cast<int>(random() % 80);
        for (int i = 0; i < count; ++i) g.AddContact(tagged(randomAddress(random), i).release());
        const std::string context = "round " + std::to_string(round);
        expectSearchesMatchLinear(g, random, context + " sorted");

        // Addresses written in place put the list out of order without the group being asked.
        for (int k = static_cast<int>(random() % 3); k >= 0; --k)
            g.Contacts(static_cast<int>(random() % static_cast<unsigned>(g.ContactCount())))->Email =
                randomAddress(random);
        expectSearchesMatchLinear(g, random, context + " written");

        // Insertions into a disordered list, then deletions that may or may not restore order.
        for (int i = 0; i < 5; ++i) g.AddContact(tagged(randomAddress(random), 1000 + i).release());
        expectSearchesMatchLinear(g, random, context + " inserted");
        while (g.ContactCount() > count / 2) {
            g.DeleteContact(static_cast<int>(random() % static_cast<unsigned>(g.ContactCount())));
            expectSearchesMatchLinear(g, random, context + " deleted");
        }
    }
}

TEST(ContactOrder, SortKeysOrderAddressesAsTheirComparison) {
    std::mt19937 random(5);
    auto sign = [](int v) { return (v > 0) - (v < 0); };
    for (int i = 0; i < 5000; ++i) {
        const std::string a = randomAddress(random), b = randomAddress(random);
        const std::string ka = EmailSortKey(a), kb = EmailSortKey(b);
        ASSERT_EQ(sign(ka.compare(kb)), CompareEmails(a, b)) << a << " / " << b;
    }
}

TEST(ContactOrder, ReadingAContactInPlaceIsSeenByTheSearch) {
    TcvGroup g;
    for (const char* a : {"a@x.org", "b@x.org", "c@x.org"}) g.AddContact(tagged(a, 0).release());
    // Asked once before the write, so that an answer kept from then would show below.
    EXPECT_EQ(g.IndexOfEmail("a@x.org"), 0);
    TcvContact source;
    source.Email = "zz@aa.org";
    g.Contacts(0)->Assign(source);
    EXPECT_EQ(g.IndexOfEmail("ZZ@AA.ORG"), 0);
    EXPECT_EQ(g.IndexOfEmail("a@x.org"), -1);
    // SetEmail puts a contact back in order, after which the list is sorted again.
    g.Contacts(0)->SetEmail("d@x.org");
    EXPECT_EQ(g.IndexOfEmail("d@x.org"), 2);
    EXPECT_EQ(g.IndexOfEmail("b@x.org"), 0);
    g.DeleteContact(0);
    EXPECT_EQ(g.IndexOfEmail("b@x.org"), -1);
    EXPECT_EQ(g.IndexOfEmail("d@x.org"), 1);
}

TEST(ContactOrder, BulkAdditionGivesTheOrderOfAddingOneByOne) {
    std::mt19937 random(77);
    for (int round = 0; round < 40; ++round) {
        // Few distinct addresses, so that runs of equal ones, and case variants, are long.
        std::vector<std::string> pool;
        for (int i = 0; i < 1 + round % 12; ++i) pool.push_back(randomAddress(random));
        std::vector<std::string> existing, added;
        for (int i = static_cast<int>(random() % 40); i > 0; --i) existing.push_back(pool[random() % pool.size()]);
        for (int i = 1 + static_cast<int>(random() % 120); i > 0; --i) added.push_back(pool[random() % pool.size()]);
        std::shuffle(added.begin(), added.end(), random);

        TcvGroup one, bulk;
        for (size_t i = 0; i < existing.size(); ++i) {
            one.AddContact(tagged(existing[i], static_cast<int>(i)).release());
            bulk.AddContact(tagged(existing[i], static_cast<int>(i)).release());
        }
        if (round % 4 == 3 && one.ContactCount() > 1) {
            // A disordered list takes the contacts the same way.
            one.Contacts(0)->Email = "zzz@zzz.zz";
            bulk.Contacts(0)->Email = "zzz@zzz.zz";
        }
        std::vector<std::unique_ptr<TcvContact>> batch;
        for (size_t i = 0; i < added.size(); ++i) {
            one.AddContact(tagged(added[i], 1000 + static_cast<int>(i)).release());
            batch.push_back(tagged(added[i], 1000 + static_cast<int>(i)));
        }
        batch.insert(batch.begin() + static_cast<std::ptrdiff_t>(batch.size() / 2), nullptr);
        bulk.AddContacts(std::move(batch));
        ASSERT_EQ(tagsOf(bulk), tagsOf(one)) << "round " << round;
        for (int i = 0; i < bulk.ContactCount(); ++i) ASSERT_EQ(bulk.Contacts(i)->Group, &bulk);
        expectSearchesMatchLinear(bulk, random, "bulk round " + std::to_string(round));
    }
}

TEST(ContactOrder, BulkAdditionNotifiesOnce) {
    TcvSetup s;
    auto* g = new TcvGroup;
    s.AddGroup(g);
    int changes = 0;
    s.OnContactsChanged = [&](TcvSetup&) { ++changes; };
    g->AddContacts({});
    EXPECT_EQ(changes, 0);
    std::vector<std::unique_ptr<TcvContact>> batch;
    for (int i = 0; i < 5; ++i) batch.push_back(tagged("u" + std::to_string(4 - i) + "@x.org", i));
    g->AddContacts(std::move(batch));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(tagsOf(*g), (std::vector<std::string>{"4", "3", "2", "1", "0"}));
    EXPECT_TRUE(s.Modified);
}
