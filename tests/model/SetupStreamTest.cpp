#include "model/cvSetup.h"
#include "xml/sdStreams.h"
#include "xml/sdXmlDocuments.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string saved(TcvSetup& setup) {
    xml::TMemoryStream stream;
    setup.SaveToStream(stream);
    return stream.bytes();
}

// The setup read from the finished tree, as reading went before contacts were taken early.
std::string readFromTree(const std::string& text) {
    xml::TsdXmlDocument document;
    xml::TMemoryStream stream(text);
    document.LoadStream(stream);
    TcvSetup setup;
    setup.ReadXml(*document.RootNode());
    return saved(setup);
}

std::string loaded(const std::string& text) {
    xml::TMemoryStream stream(text);
    TcvSetup setup;
    setup.LoadFromStream(stream);
    return saved(setup);
}

TcvGroup* addGroup(TcvSetup& setup, const std::string& name) {
    auto* group = new TcvGroup;
    group->Name = name;
    setup.AddGroup(group);
    return group;
}

}  // namespace

TEST(SetupStream, ContactsTakenWhileParsingGiveTheSetupOfTheWholeTree) {
    const std::string head = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n";
    const std::string documents[] = {
        // Out of order, with a second list that is not read, a comment and an empty contact.
        "<Corvane><Group><Name>A</Name><Contacts>\r\n  <Contact><Email>b@y.org</Email></Contact>\r\n"
        "  <!-- note --><CONTACT><Email>a@y.org</Email><Hist><Code>M1</Code></Hist></CONTACT><Contact/>\r\n"
        "</Contacts><contacts><Contact><Email>second@list.org</Email></Contact></contacts></Group>"
        "<Group><Contacts/><Contacts><Contact><Email>late@list.org</Email></Contact></Contacts></Group>"
        "<Group><Name>nested</Name><Inner><Contacts><Contact><Email>deep@x.org</Email></Contact></Contacts></Inner>"
        "<Contacts><Contact><Email>c@x.org</Email><FirstName>Cy</FirstName></Contact></Contacts></Group>"
        "<Account><Name>Mail</Name></Account><TotalCount>5</TotalCount></Corvane>",
        // Contacts inside a root of another name are never the setup's.
        "<Other><Group><Contacts><Contact><Email>x@y.org</Email></Contact></Contacts></Group></Other>",
    };
    EXPECT_EQ(loaded(head + documents[0]), readFromTree(head + documents[0]));
    EXPECT_NE(loaded(head + documents[0]).find("c@x.org"), std::string::npos);
    EXPECT_EQ(loaded(head + documents[0]).find("second@list.org"), std::string::npos);
    EXPECT_THROW(loaded(head + documents[1]), std::runtime_error);

    // Values are decoded by the encoding the whole file declares, even when it says so late.
    for (const char* text :
         {"\xEF\xBB\xBF<Corvane><Group><Contacts><Contact><FirstName>Ren\xC3\xA9</FirstName></Contact></Contacts>"
          "</Group></Corvane>",
          "<Corvane><Group><Contacts><Contact><FirstName>Ren\xC3\xA9 &#8364;</FirstName></Contact></Contacts></Group>"
          "</Corvane><?xml version=\"1.0\" encoding=\"UTF-8\"?>"}) {
        EXPECT_EQ(loaded(text), readFromTree(text));
        EXPECT_NE(loaded(text).find("Ren\xE9"), std::string::npos) << text;
    }
}

TEST(SetupStream, AFileThatFailsLateLeavesTheSetupAsItWas) {
    TcvSetup setup;
    auto* group = new TcvGroup;
    group->Name = "Kept";
    setup.AddGroup(group);
    const std::string before = saved(setup);
    xml::TMemoryStream broken(
        std::string("<Corvane><Group><Contacts><Contact><Email>a@b.org</Email></Contact>"
                    "</Contacts></Group><Group><Contacts>"));
    EXPECT_THROW(setup.LoadFromStream(broken), xml::EsdXmlFormatError);
    EXPECT_EQ(saved(setup), before);
}

TEST(SetupStream, SavedContactsAreWrittenAsTheTreeOfTheSetupWouldBe) {
    TcvSetup setup;
    for (int g = 0; g < 2; ++g) {
        TcvGroup* group = addGroup(setup, "G" + std::to_string(g));
        for (int i = 0; i < 6 * g; ++i) {
            auto* c = new TcvContact;
            c->Email = "c" + std::to_string(i) + "@x.org";
            c->FirstName = i % 2 ? "A<&>'\"" : "";
            c->Joined = i % 3 ? 45000.25 * i : 0;
            c->ValidDomain = i % 4 != 1;
            c->TotalBytes = -i;
            c->Frozen = i == 2;
            if (i % 2) c->CustomFields = std::make_unique<TStringList>(TStringList{"x&y", "", "z"});
            if (i == 3) c->CustomFields = std::make_unique<TStringList>();
            for (int h = 0; h < i % 3; ++h) c->Hist.push_back(TcvHist{h ? "M" + std::to_string(h) : "", 40000 + h});
            group->AddContact(c);
        }
    }
    auto tree = xml::TsdXmlDocument::CreateWithRoot("Corvane");
    tree->WriteDefaults = false;
    std::vector<int64_t> treeProgress;
    tree->OnProgress = [&](xml::TsdXmlDocument&, int64_t at) { treeProgress.push_back(at); };
    setup.WriteXml(*tree->RootNode());
    ASSERT_EQ(tree->RootNode()->child(1)->FindChild("Contacts")->childCount(), 6);
    const std::string expected = tree->RenderString();

    EXPECT_EQ(saved(setup), expected);
    // With a progress handler the contacts are written ahead, and reported at the same places.
    std::vector<int64_t> progress;
    setup.OnProgress = [&](xml::TsdXmlDocument&, int64_t at) { progress.push_back(at); };
    EXPECT_EQ(saved(setup), expected);
    EXPECT_EQ(progress, treeProgress);
    // Copies still carry the contacts as nodes.
    TcvGroup copy;
    copy.Assign(*setup.Groups(1));
    EXPECT_EQ(copy.ContactCount(), 6);
}

TEST(SetupStream, WhatTheProgressHandlerDeletesIsSavedAsItWasWhenTheSaveStarted) {
    TcvSetup setup;
    for (int g = 0; g < 2; ++g) {
        TcvGroup* group = addGroup(setup, "G" + std::to_string(g));
        std::vector<std::unique_ptr<TcvContact>> contacts;
        for (int i = 0; i < 2000; ++i) {
            contacts.push_back(std::make_unique<TcvContact>());
            contacts.back()->Email = "c" + std::to_string(i) + "@g" + std::to_string(g) + ".org";
            contacts.back()->Hist.push_back(TcvHist{"M1", 40000});
        }
        group->AddContacts(std::move(contacts));
    }
    const std::string expected = saved(setup);
    // The window's handler lets the user work: here the user empties one group and deletes the
    // other at the first report, and once more later on.
    int reports = 0;
    setup.OnProgress = [&](xml::TsdXmlDocument&, int64_t) {
        ++reports;
        if (reports == 1) {
            while (setup.Groups(1)->ContactCount() > 0) setup.Groups(1)->DeleteContact(0);
            setup.DeleteGroup(0);
        } else if (reports == 20 && setup.GroupCount() > 0) {
            setup.DeleteGroup(0);
        }
    };
    EXPECT_EQ(saved(setup), expected);
    EXPECT_GT(reports, 20);
    EXPECT_EQ(setup.GroupCount(), 0);
}
