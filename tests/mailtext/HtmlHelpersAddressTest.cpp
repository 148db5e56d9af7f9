#include "mailtext/HtmlHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace mailtext;

TEST(ValidateAddress, ChecksRunInOrderAndTheFirstFailureWins) {
    const std::pair<const char*, int> cases[] = {
        {"", AddressEmpty},
        {"joe.example.com", AddressNoAt},
        {"jo+e@localhost", AddressNoDot},  // the dot check comes before characters
        {"joe@example.", AddressBadExtension},
        {"joe@example.c+m", AddressBadExtension},
        {"joe@exam@ple.com", AddressIllegalChar},
        {"o'neil@example.com", AddressIllegalChar},
        {"j\xF6rg@example.de", AddressIllegalChar},
        {".jo..e@example.com", AddressBadStart},
        {"joe@-example.com", AddressBadStart},
        {"jo..e@example.com", AddressDoubled},
        {"joe@exa--mple.com", AddressDoubled},
        {"Joe.Bloggs@Example.COM", AddressValid},
        {"joe_b-1@my_host.co.uk", AddressValid},
        // Without a local part only the domain's dot, extension and characters count.
        {"@.example..com", AddressValid},
        {"@exa+mple.com", AddressIllegalChar},
    };
    for (const auto& [address, result] : cases)
        EXPECT_EQ(ValidateAddress(address), result) << address;
    EXPECT_EQ(ValidationMessage(AddressDoubled), "Error: double dash or double dot");
    EXPECT_EQ(ValidationMessage(AddressValid), "");
    EXPECT_EQ(ValidationMessage(8), "");
}

TEST(DomainTable, HoldsCountryCodesThenOtherExtensions) {
    const auto& table = DomainTable();
    ASSERT_EQ(table.size(), 346u);
    EXPECT_EQ(table[243], "zw");
    EXPECT_EQ(table.back(), "turismo");
    EXPECT_TRUE(std::all_of(table.begin(), table.begin() + 244,
                            [](std::string_view e) { return e.size() == 2; }));
    EXPECT_EQ(std::count(table.begin(), table.end(), "tec"), 2);
    for (std::string_view e : table)
        EXPECT_EQ(ValidateAddress("a@b." + std::string(e)), AddressValid) << e;
    EXPECT_FALSE(IsDomainExtension(""));
    EXPECT_FALSE(IsDomainExtension("co.uk"));
}

TEST(AddressParts, SplitAtTheFirstAtSign) {
    EXPECT_EQ(LocalPart("joe@exam@ple.com"), "joe");
    EXPECT_EQ(DomainPart("joe@exam@ple.com"), "exam@ple.com");
    EXPECT_EQ(LocalPart("example.com"), "");
    EXPECT_EQ(DomainPart("example.com"), "example.com");
    EXPECT_TRUE(HasDoubled("a..b", '.'));
    EXPECT_FALSE(HasDoubled("a.-.b", '.'));
}
