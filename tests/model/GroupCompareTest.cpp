#include "model/cvGroupCompare.h"
#include "platform/Locale.h"

#include <gtest/gtest.h>

namespace {

TcvGroup* groupWith(TcvSetup& setup, const std::vector<std::string>& emails) {
    auto* group = new TcvGroup;
    setup.AddGroup(group);
    for (const std::string& email : emails) {
        auto* contact = new TcvContact;
        contact->Email = email;
        group->AddContact(contact);
    }
    return group;
}

TStringList lower(TStringList list) {
    for (std::string& s : list) s = platform::asciiLower(s);
    return list;
}

}  // namespace

TEST(GroupCompare, ListsEachAddressOnceIgnoringCaseAndSortsEveryList) {
    TcvSetup setup;
    TcvGroup* one = groupWith(setup, {"zed@b.org", "Ann@a.com", "ann@A.com", "joe@c.net", "amy@d.com", "AMY@d.com"});
    TcvGroup* two = groupWith(setup, {"ANN@a.com", "joe@C.NET", "kim@e.com", "kim@E.com", "bo@f.com"});
    const TcvGroupComparison c = CompareGroupEmails(*one, *two);
    // Each address once, in address order; the shared ones spelled as in the first group.
    EXPECT_EQ(lower(c.Common), (TStringList{"ann@a.com", "joe@c.net"}));
    EXPECT_NE(c.Common[0], "ANN@a.com");
    EXPECT_EQ(c.Common[1], "joe@c.net");
    EXPECT_EQ(lower(c.Unique1), (TStringList{"amy@d.com", "zed@b.org"}));
    EXPECT_EQ(lower(c.Unique2), (TStringList{"bo@f.com", "kim@e.com"}));

    const TcvGroupComparison none = CompareGroupEmails(*one, *groupWith(setup, {"x@y.com"}));
    EXPECT_TRUE(none.Common.empty());
    EXPECT_EQ(none.Unique1.size(), 4u);
}

TEST(GroupCompare, DeletesEveryContactOfEachAddressWhateverItsCase) {
    TcvSetup setup;
    TcvGroup* group = groupWith(setup, {"ann@a.com", "ANN@a.com", "joe@c.net", "kim@e.com", "Ann@A.com"});
    setup.Modified = false;
    EXPECT_EQ(DeleteContactsWithEmails(*group, {"ann@a.com", "KIM@e.com", "nobody@x.com"}), 4);
    ASSERT_EQ(group->ContactCount(), 1);
    EXPECT_EQ(group->Contacts(0)->Email, "joe@c.net");
    EXPECT_TRUE(setup.Modified);
    EXPECT_EQ(DeleteContactsWithEmails(*group, {}), 0);
}
