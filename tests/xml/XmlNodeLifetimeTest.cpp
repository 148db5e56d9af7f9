// Nodes share their memory with the other nodes of their document; these check that a node
// kept, moved or freed on its own never loses memory it still uses, nor hands out memory twice.
#include "xml/sdXmlDocuments.h"

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

using namespace xml;

TEST(XmlNodeLifetime, NodeMovedToAnotherDocumentOutlivesItsOwn) {
    auto target = TsdXmlDocument::CreateWithRoot("T");
    {
        TsdXmlDocument source;
        source.ParseString("<S><Moved a=\"1\">text<Inner>deep</Inner></Moved><Stays/></S>");
        target->RootNode()->addNode(source.RootNode()->extractChild(0));
    }
    TXmlNode* moved = target->RootNode()->child(0);
    ASSERT_NE(moved, nullptr);
    EXPECT_EQ(moved->parent(), target->RootNode());
    // A child made now comes from the memory of the document that is gone.
    moved->AddChild("Late")->SetText("x & y");
    EXPECT_EQ(target->RenderString(),
              "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n"
              "<T><Moved a=\"1\">text<Inner>deep</Inner><Late>x &amp; y</Late></Moved></T>");
    target->RootNode()->deleteChild(0);
    EXPECT_EQ(target->RootNode()->childCount(), 0);
}

TEST(XmlNodeLifetime, ExtractedSubtreeOutlivesItsDocument) {
    std::unique_ptr<TXmlNode> kept;
    {
        auto doc = std::make_unique<TsdXmlDocument>();
        doc->ParseString("<R><Keep><A>1</A><B>2</B></Keep><Other/></R>");
        kept = doc->RootNode()->extractChild(0);
    }
    ASSERT_EQ(kept->childCount(), 2);
    EXPECT_EQ(kept->parent(), nullptr);
    EXPECT_EQ(kept->child(1)->RawText, "2");
    for (int i = 0; i < 1000; ++i) kept->AddChild("N" + std::to_string(i));
    kept->deleteChild(0);
    EXPECT_EQ(kept->childCount(), 1001);
    EXPECT_EQ(kept->child(0)->Name(), "B");
    EXPECT_EQ(kept->child(1000)->Name(), "N999");
    kept.reset();
}

TEST(XmlNodeLifetime, FreedNodesComeBackEmptyAndDistinct) {
    auto doc = TsdXmlDocument::CreateWithRoot("R");
    TXmlNode* root = doc->RootNode();
    for (int i = 0; i < 500; ++i) {
        TXmlNode* n = root->AddChild("Old");
        n->SetText("a value long enough to need its own memory " + std::to_string(i));
        n->Attributes.push_back("k=\"v\"");
        n->AddChild("Grandchild")->SetText("g");
    }
    root->clearChildren();
    std::set<TXmlNode*> seen;
    for (int i = 0; i < 1500; ++i) {
        TXmlNode* n = root->AddChild("New");
        EXPECT_TRUE(seen.insert(n).second);
        EXPECT_TRUE(n->RawText.empty());
        EXPECT_TRUE(n->Attributes.empty());
        EXPECT_EQ(n->childCount(), 0);
        EXPECT_EQ(n->parent(), root);
        EXPECT_EQ(n->document(), doc.get());
        n->SetText(std::to_string(i));
    }
    for (int i = 0; i < 1500; ++i) EXPECT_EQ(root->child(i)->RawText, std::to_string(i));
}

TEST(XmlNodeLifetime, ReparsingReusesTheTreeMemoryCorrectly) {
    TsdXmlDocument doc;
    std::string first = "<R>";
    for (int i = 0; i < 300; ++i) first += "<Item n=\"" + std::to_string(i) + "\"><V>" + std::to_string(i) + "</V></Item>";
    first += "</R>";
    doc.ParseString(first);
    doc.ParseString("<Q><Only>one</Only></Q>");
    EXPECT_EQ(doc.RenderString(),
              "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<Q><Only>one</Only></Q>");
    doc.ParseString(first);
    ASSERT_EQ(doc.RootNode()->childCount(), 300);
    EXPECT_EQ(doc.RootNode()->child(299)->AttributeText("n"), "299");
    EXPECT_EQ(doc.RootNode()->child(299)->GetChildText("V", ""), "299");
}

TEST(XmlNodeLifetime, NodesWithoutDocumentMixWithDocumentNodes) {
    TXmlNode local;
    local.SetName("Local");
    local.AddChild("Own")->SetText("heap");
    {
        TsdXmlDocument doc;
        doc.ParseString("<R><FromDoc>pooled</FromDoc></R>");
        local.addNode(doc.RootNode()->extractChild(0));
        doc.RootNode()->addNode(local.extractChild(0));
        EXPECT_EQ(doc.RootNode()->child(0)->Name(), "Own");
        EXPECT_EQ(doc.RootNode()->child(0)->document(), nullptr);
    }
    ASSERT_EQ(local.childCount(), 1);
    EXPECT_EQ(local.child(0)->RawText, "pooled");
    EXPECT_EQ(local.child(0)->AddChild("Sub")->parent(), local.child(0));
}

TEST(XmlNodeLifetime, DocumentsFreedInEitherOrder) {
    auto a = TsdXmlDocument::CreateWithRoot("A");
    auto b = TsdXmlDocument::CreateWithRoot("B");
    for (int i = 0; i < 2000; ++i) {
        a->RootNode()->AddChild("a")->SetText(std::to_string(i));
        b->RootNode()->AddChild("b")->SetText(std::to_string(-i));
    }
    // Half of each document's children move to the other one.
    for (int i = 0; i < 1000; ++i) {
        a->RootNode()->addNode(b->RootNode()->extractChild(0));
        b->RootNode()->addNode(a->RootNode()->extractChild(0));
    }
    a.reset();
    ASSERT_EQ(b->RootNode()->childCount(), 2000);
    EXPECT_EQ(b->RootNode()->child(1999)->Name(), "a");
    EXPECT_EQ(b->RootNode()->child(1999)->RawText, "999");
    EXPECT_EQ(b->RootNode()->child(0)->RawText, "-1000");
    b.reset();
}
