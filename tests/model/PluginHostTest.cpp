#include "mailtext/IdMessageHelpers.h"
#include "model/cvSetup.h"
#include "platform/SharedLibrary.h"
#include "platform/UiHooks.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

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
        for (const char* path : {COUNTING_PLUGIN_PATH, NOFREE_PLUGIN_PATH, ORDWELL_LIBRARY_PATH})
            AcceptPreprocessor(path);
        group = new TcvGroup;
        setup.AddGroup(group);
        parser = new TcvParser;
        group->AddParser(parser);
        parser->ContactSource = TcvContactSource::EmailVar;
        parser->ImportVars = true;
    }
    testsupport::ScopedRegistry registry;
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

TEST_F(HostFixture, ReadingFromXmlReleasesTheLibraryAndLoadsNothing) {
    parser->Preprocessor = ORDWELL_LIBRARY_PATH;
    ASSERT_TRUE(parser->HasPreprocessor());
    const std::string text = parser->SaveToString();
    TcvParser copy;
    copy.LoadFromString(text);
    // Reading names the library; only a parser that needs it loads it.
    EXPECT_EQ(copy.LibraryHandle, nullptr);
    EXPECT_TRUE(copy.HasPreprocessor());
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
    AcceptPreprocessor(copy.Preprocessor);
    EXPECT_FALSE(copy.HasPreprocessor());
}

// Setup files and clipboard text come from anywhere: a library they name is loaded only from a full
// path the user accepted on this computer, and the user is asked once about any other.
TEST_F(HostFixture, OnlyAcceptedLibrariesByTheirFullPathAreLoaded) {
    Counters counters;
    testsupport::ScopedRegistry fresh;  // nothing accepted on this "computer"
    std::vector<std::string> questions;
    bool answer = false;
    platform::UiHooks hooks;
    hooks.confirm = [&](const std::string& text) {
        questions.push_back(text);
        return answer;
    };
    const platform::UiHooks previous = platform::setUiHooks(hooks);
    parser->Name = "Orders";
    parser->Preprocessor = COUNTING_PLUGIN_PATH;
    const auto order = [] { return mail("a@x.com", "email=buyer@x.com"); };

    // Declined: no library, the built-in extraction, and no second question in this run.
    EXPECT_TRUE(parser->ParseMessage(order().get()));
    EXPECT_EQ(parser->LibraryHandle, nullptr);
    EXPECT_EQ(counters.results(), 0);
    parser->ParseMessage(order().get());
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_NE(questions[0].find(COUNTING_PLUGIN_PATH), std::string::npos);
    EXPECT_FALSE(PreprocessorAccepted(COUNTING_PLUGIN_PATH));

    // Accepted by the user: loaded, and remembered for later runs.
    AcceptPreprocessor(COUNTING_PLUGIN_PATH);
    EXPECT_TRUE(parser->ParseMessage(order().get()));
    EXPECT_NE(parser->LibraryHandle, nullptr);
    EXPECT_EQ(counters.results(), 1);
    EXPECT_EQ(questions.size(), 1u);

    // A relative name is never loaded, whatever was accepted, and nobody is asked about it.
    TcvParser relative;
    relative.Preprocessor = std::filesystem::path(COUNTING_PLUGIN_PATH).filename().string();
    AcceptPreprocessor(relative.Preprocessor);
    EXPECT_FALSE(relative.HasPreprocessor());

    // The question lets the user work: a parser deleted meanwhile parses nothing more.
    parser->Preprocessor = NOFREE_PLUGIN_PATH;
    parser->LoadFromString(parser->SaveToString());
    hooks.confirm = [&](const std::string&) {
        group->DeleteParser(0);
        return true;
    };
    platform::setUiHooks(hooks);
    EXPECT_FALSE(parser->ParseMessage(order().get()));
    EXPECT_EQ(group->ParserCount(), 0);
    // Without a user to ask, nothing is accepted.
    platform::setUiHooks({});
    EXPECT_FALSE(platform::confirmOkCancel("load?", false));
    platform::setUiHooks(previous);
}
