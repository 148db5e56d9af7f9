#include "mailtext/IdMessageHelpers.h"
#include "model/cvSetup.h"
#include "platform/SharedLibrary.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

// The counting plug-in's own counters, reached through a second handle on the same library.
struct Counters {
    Counters() : library(platform::SharedLibrary::load(COUNTING_PLUGIN_PATH)) {
        reset = reinterpret_cast<void (*)()>(library->symbol("ResetCount"));
        frees = reinterpret_cast<int (*)()>(library->symbol("FreeCount"));
        results = reinterpret_cast<int (*)()>(library->symbol("ResultCount"));
        bad = reinterpret_cast<int (*)()>(library->symbol("BadFreeCount"));
        reset();
    }
    std::unique_ptr<platform::SharedLibrary> library;
    void (*reset)();
    int (*frees)();
    int (*results)();
    int (*bad)();
};

std::unique_ptr<mailtext::Mail> mail(const std::string& from, const std::string& body) {
    return mailtext::MessageFromText("From: " + from + "\r\nSubject: Order\r\n\r\n" + body + "\r\n");
}

struct HostFixture : ::testing::Test {
    HostFixture() {
        group = new TcvGroup;
        setup.AddGroup(group);
        parser = new TcvParser;
        group->AddParser(parser);
        parser->ContactSource = TcvContactSource::EmailVar;
        parser->ImportVars = true;
    }
    TcvSetup setup;
    TcvGroup* group;
    TcvParser* parser;
};

}  // namespace

TEST_F(HostFixture, EveryReturnedPointerGoesBackOnceNullIncluded) {
    Counters counters;
    parser->Preprocessor = COUNTING_PLUGIN_PATH;
    ASSERT_TRUE(parser->HasPreprocessor());
    EXPECT_TRUE(parser->ParseMessage(mail("a@x.com", "email=buyer@x.com").get()));
    EXPECT_NE(group->FindContact("buyer@x.com"), nullptr);
    // A mail whose readable body is empty makes the plug-in answer null; that is handed back too.
    EXPECT_FALSE(parser->ParseMessage(mail("a@x.com", "").get()));
    parser->AddPluginFields();
    EXPECT_EQ(counters.results(), 3);
    EXPECT_EQ(counters.frees(), 3);
    EXPECT_EQ(counters.bad(), 0);
}

TEST_F(HostFixture, PluginFieldsSkipEmailAndExistingTitles) {
    auto* existing = new TcvFieldDef;
    existing->Title = "orderid";
    group->AddFieldDef(existing);
    parser->Preprocessor = COUNTING_PLUGIN_PATH;
    parser->AddPluginFields();
    ASSERT_EQ(group->FieldDefCount(), 2);
    EXPECT_EQ(group->FieldDefs(1)->Title, "RegService");
    EXPECT_TRUE(group->FieldDefs(1)->Checked);
    TcvParser loose;
    loose.Preprocessor = COUNTING_PLUGIN_PATH;
    loose.AddPluginFields();  // no group: nothing
}

TEST_F(HostFixture, PluginWithoutFreePointerGivesNoVariables) {
    parser->Preprocessor = NOFREE_PLUGIN_PATH;
    ASSERT_TRUE(parser->HasPreprocessor());
    EXPECT_EQ(parser->FreePointer, nullptr);
    EXPECT_FALSE(parser->ParseMessage(mail("a@x.com", "email=buyer@x.com").get()));
    EXPECT_EQ(group->ContactCount(), 0);
    auto callCount = reinterpret_cast<int (*)()>(parser->LibraryHandle->symbol("CallCount"));
    EXPECT_EQ(callCount(), 0);
}

TEST_F(HostFixture, OrdwellSubscribesTheBuyerWithOrderFields) {
    parser->Preprocessor = ORDWELL_LIBRARY_PATH;
    parser->AddPluginFields();
    EXPECT_EQ(group->IndexOfFieldDef("Email"), -1);
    ASSERT_GE(group->IndexOfFieldDef("OrderID"), 0);
    EXPECT_TRUE(parser->ParseMessage(
        mail("orders@shop.example", "Order ID: 123\r\nName: Ann Smith\r\nEmail: ann@buyer.example\r\n").get()));
    TcvContact* buyer = group->FindContact("ann@buyer.example");
    ASSERT_NE(buyer, nullptr);
    EXPECT_EQ(buyer->CustomField(group->IndexOfFieldDef("OrderID")), "123");
    EXPECT_EQ(buyer->CustomField(group->IndexOfFieldDef("RegService")), "Ordwell");
    EXPECT_EQ(buyer->CustomField(group->IndexOfFieldDef("Name")), "Ann Smith");
}

TEST_F(HostFixture, ReadingFromXmlLoadsAndReleasesTheLibrary) {
    parser->Preprocessor = ORDWELL_LIBRARY_PATH;
    const std::string text = parser->SaveToString();
    TcvParser copy;
    copy.LoadFromString(text);
    EXPECT_NE(copy.LibraryHandle, nullptr);
    EXPECT_NE(copy.Preprocess, nullptr);
    // Read again naming a file that is gone: the old library is released, nothing replaces it.
    copy.Preprocessor = "/nonexistent/libgone.so";
    copy.LoadFromString(copy.SaveToString());
    EXPECT_EQ(copy.LibraryHandle, nullptr);
    EXPECT_EQ(copy.Preprocess, nullptr);
    EXPECT_FALSE(copy.HasPreprocessor());
    // A file that is not a library at all is ignored quietly.
    testsupport::TempDir dir;
    testsupport::writeFile(dir.file("fake.so"), "not a library");
    copy.Preprocessor = dir.file("fake.so");
    EXPECT_FALSE(copy.HasPreprocessor());
}
