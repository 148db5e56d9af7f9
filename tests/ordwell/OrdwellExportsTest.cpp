#include "OrdwellFixture.h"

#include <cstring>
#include <memory>
#include <thread>

TEST_F(OrdwellTest, FieldnamesListTheServiceThenEveryTableField)
{
    const auto text = copyAndFree(getFieldnames(), freePointer);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text,
        "RegService\r\nOrderID\r\nTrackingID\r\nRegDate\r\nProductName\r\nProductID\r\nOrderType\r\n"
        "Quantity\r\nRegTotal\r\nPriceCode\r\nCDDelivery\r\nExtDownload\r\nName\r\nCompany\r\nEmail\r\n"
        "Address1\r\nAddress2\r\nAddress3\r\nCity\r\nState\r\nCountry\r\nCountryCode\r\nZIP\r\nPhone\r\n"
        "Serial\r\nSerialLeft\r\nVerifyLink\r\n");
}

TEST_F(OrdwellTest, NullBodyYieldsNull)
{
    EXPECT_EQ(preprocess("a@b.c", "subject", nullptr), nullptr);
    EXPECT_EQ(preprocess(nullptr, nullptr, nullptr), nullptr);
}

TEST_F(OrdwellTest, EveryResultIsAFreshCopy)
{
    char* first = getFieldnames();
    char* second = getFieldnames();
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first, second);
    first[0] = 'X';
    EXPECT_EQ(second[0], 'R');
    freePointer(first);
    freePointer(second);

    const char* body = "Order ID: 1\r\n";
    char* a = preprocess("", "", body);
    char* b = preprocess("", "", body);
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    EXPECT_STREQ(a, b);
    EXPECT_EQ(std::strlen(a), std::strlen("RegService=Ordwell\r\nOrderID=1\r\n"));
    freePointer(a);
    freePointer(b);
}

TEST_F(OrdwellTest, FreePointerIgnoresNull)
{
    freePointer(nullptr);
    EXPECT_EQ(run("Name: Ann"), "RegService=Ordwell\r\nName=Ann\r\n");
}

#if defined(__GNUC__) && !defined(_WIN32)
// Only the three entry points are exported; a host must not bind to internals that another
// build of the library might lack (Itanium-mangled names of ordwell::trim and the table).
TEST_F(OrdwellTest, InternalsStayHidden)
{
    EXPECT_EQ(library.symbol("_ZN7ordwell4trimESt17basic_string_viewIcSt11char_traitsIcEE"), nullptr);
    EXPECT_EQ(library.symbol("_ZN7ordwell10FieldTableE"), nullptr);
}
#endif

TEST_F(OrdwellTest, CallsFromSeveralThreadsShareNoState)
{
    const std::string bodies[] = {"Order ID: 1\nName: A\n", "Serial Number: S\nSerial Numbers Left: 2\n",
        "Email: x@y.z\nhttp://v\n", "nothing here\n"};
    std::string expected[4];
    for (int i = 0; i < 4; ++i)
        expected[i] = run(bodies[i]);

    int mismatches[4] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int n = 0; n < 2000; ++n) {
                const int i = (t + n) % 4;
                char* p = preprocess("", "", bodies[i].c_str());
                if (!p || expected[i] != p)
                    ++mismatches[t];
                freePointer(p);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (int t = 0; t < 4; ++t)
        EXPECT_EQ(mismatches[t], 0) << "thread " << t;
}

TEST(OrdwellLoading, TwoInstancesLoadAndUnloadIndependently)
{
    auto first = std::make_unique<LoadedPlugin>(ORDWELL_LIBRARY_PATH);
    LoadedPlugin second(ORDWELL_LIBRARY_PATH);
    ASSERT_TRUE(first->loaded());
    ASSERT_TRUE(second.loaded());
    auto* freePointer = second.entry<TFreePointer>("FreePointer");
    auto* getFieldnames = second.entry<TGetFieldnames>("GetFieldnames");
    ASSERT_NE(freePointer, nullptr);
    ASSERT_NE(getFieldnames, nullptr);
    first.reset();
    const auto text = copyAndFree(getFieldnames(), freePointer);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(text->substr(0, 12), "RegService\r\n");
}
