#include "xml/sdXmlDocuments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace xml;

namespace {

template <class Error = EsdXmlFormatError> std::string parseError(const std::string& text) {
    TsdXmlDocument doc;
    try {
        doc.ParseString(text);
    } catch (const Error& e) {
        return e.what();
    }
    return "<no error>";
}

}  // namespace

TEST(XmlReader, FailureMessages) {
    EXPECT_EQ(parseError(""), "No root element found in xml");
    EXPECT_EQ(parseError("  stray <!-- c -->"), "No root element found in xml");
    EXPECT_EQ(parseError("<a/><b/>"), "More than one root element found in xml");
    EXPECT_EQ(parseError("<>"), "Missing element name");
    EXPECT_EQ(parseError("<R><V>x"), "Missing close tag in element V");
    EXPECT_EQ(parseError("<R><V>x<"), "Missing data after \"<\" in element V");
    EXPECT_EQ(parseError("<R><V>x<  "), "Missing data after \"<\" in element V");
    EXPECT_EQ(parseError("<R><V>x</V"), "Missing \">\" in close tag of element V");
    EXPECT_EQ(parseError("<Group></Grp>"), "Incorrect close tag in element Group");
    EXPECT_EQ(parseError("<?xml-stylesheet a?><?xml-stylesheet b?><R/>"), "Multiple stylesheets in root not supported");
    EXPECT_EQ(parseError("<![CDATA[x]]><R/>"), "No CDATA allowed in root");
}

TEST(XmlReader, FormatErrorsAreStreamErrorsAndClearTheRoot) {
    TsdXmlDocument doc;
    doc.ParseString("<Old><x/></Old>");
    EXPECT_THROW(doc.ParseString("<New><y></New>"), EsdStreamError);
    EXPECT_EQ(doc.RootNode()->Name(), "");
    EXPECT_EQ(doc.RootNode()->childCount(), 0);
}

TEST(XmlReader, CloseTagIgnoresCaseAndBlanks) {
    TsdXmlDocument doc;
    doc.ParseString("<Group><Name>x</Name ></GROUP >");
    EXPECT_EQ(doc.RootNode()->Name(), "Group");
    EXPECT_EQ(doc.RootNode()->GetChildText("Name", ""), "x");
    EXPECT_EQ(parseError("<a><b>1</b>< /b2 ></a>"), "Incorrect close tag in element a");
}

TEST(XmlReader, StrayTextAndBlankOutsideRootIgnored) {
    TsdXmlDocument doc;
    doc.ParseString("junk \r\n<R>v</R> more junk\r\n");
    EXPECT_EQ(doc.RootNode()->Name(), "R");
    EXPECT_EQ(doc.RootNode()->Text(), "v");
    EXPECT_TRUE(doc.ExtraNodes.empty());
}

TEST(XmlReader, TopLevelNodesGoToTheirPlaces) {
    TsdXmlDocument doc;
    doc.ParseString("<?xml version=\"1.1\" encoding='ISO-8859-1'?>\r\n<!-- first &amp; -->\r\n"
                    "<?xml-stylesheet type=\"text/xsl\" href=\"s.xsl\" ?>\r\n<!DOCTYPE R SYSTEM \"r.dtd\">\r\n"
                    "<!ENTITY e \"v\">\r\n<?pi data?>\r\n<R a = \"1\"/>\r\n<!--after-->\r\n</stray>");
    EXPECT_EQ(doc.VersionText, "1.1");
    EXPECT_EQ(doc.EncodingText, "ISO-8859-1");
    EXPECT_EQ(doc.StylesheetText, "type=\"text/xsl\" href=\"s.xsl\"");
    EXPECT_EQ(doc.CommentLines, (std::vector<std::string>{" first & ", "after"}));
    ASSERT_EQ(doc.ExtraNodes.size(), 4u);
    EXPECT_EQ(doc.ExtraNodes[0]->Kind, nkDoctype);
    EXPECT_EQ(doc.ExtraNodes[0]->Name(), "DTD");
    EXPECT_EQ(doc.ExtraNodes[0]->RawText, " R SYSTEM \"r.dtd\"");
    EXPECT_EQ(doc.ExtraNodes[1]->Kind, nkSpecial);
    EXPECT_EQ(doc.ExtraNodes[1]->RawText, "ENTITY e \"v\"");
    EXPECT_EQ(doc.ExtraNodes[2]->Kind, nkInstruction);
    EXPECT_EQ(doc.ExtraNodes[2]->Name(), "Special");
    EXPECT_EQ(doc.ExtraNodes[3]->Kind, nkCloseTag);
    EXPECT_EQ(doc.ExtraNodes[3]->Name(), "Unknown");
    EXPECT_EQ(doc.ExtraNodes[3]->parent(), nullptr);
    EXPECT_EQ(doc.RootNode()->Kind, nkEmptyElement);
    EXPECT_EQ(doc.RootNode()->Attributes, (std::vector<std::string>{"a=\"1\""}));
    EXPECT_EQ(doc.RootNode()->parent(), nullptr);

    doc.Layout = xlIndented;
    EXPECT_EQ(doc.RenderString(),
              "<?xml version=\"1.1\" encoding=\"ISO-8859-1\"?>\r\n<?xml-stylesheet type=\"text/xsl\" href=\"s.xsl\"?>\r\n"
              "<!-- first &amp; -->\r\n<!--after-->\r\n<!DOCTYPE R SYSTEM \"r.dtd\">\r\n<!ENTITY e \"v\">\r\n<?pi data?>\r\n"
              "<R a=\"1\"/>");
}

TEST(XmlReader, ParseRestoresDefaultsButKeepsReaderSwitches) {
    TsdXmlDocument doc;
    doc.Layout = xlIndented;
    doc.WriteDefaults = false;
    doc.Utf8Flag = true;
    doc.NeverSelfClose = true;
    doc.EncodingText = "x";
    doc.CommentLines.push_back("old");
    doc.ParseString("<R/>");
    EXPECT_EQ(doc.Layout, xlCompact);
    EXPECT_TRUE(doc.WriteDefaults);
    EXPECT_FALSE(doc.Utf8Flag);
    EXPECT_TRUE(doc.NeverSelfClose);
    EXPECT_EQ(doc.EncodingText, "windows-1252");
    EXPECT_EQ(doc.VersionText, "1.0");
    EXPECT_TRUE(doc.CommentLines.empty());
    EXPECT_EQ(doc.RenderString(), "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<R></R>");
}

TEST(XmlReader, MarkupIdentifiedByLongestOpening) {
    TsdXmlDocument doc;
    doc.ParseString("<R><!--c--><![CDATA[a<b]]><!-x><?xmlfoo a='1'?><?xml-stylesheet h?><!DOCTYPEz></R>");
    TXmlNode* r = doc.RootNode();
    ASSERT_EQ(r->childCount(), 6);
    EXPECT_EQ(r->child(0)->Kind, nkComment);
    EXPECT_EQ(r->child(0)->RawText, "c");
    EXPECT_EQ(r->child(1)->Kind, nkCData);
    EXPECT_EQ(r->child(1)->RawText, "a<b");
    // The characters read while a longer opening still matched stay in the node's text.
    EXPECT_EQ(r->child(2)->Kind, nkSpecial);
    EXPECT_EQ(r->child(2)->RawText, "-x");
    EXPECT_EQ(r->child(3)->Kind, nkDeclaration);
    EXPECT_EQ(r->child(3)->Attributes, (std::vector<std::string>{"foo", "a='1'"}));
    EXPECT_EQ(r->child(4)->Kind, nkStylesheet);
    EXPECT_EQ(r->child(4)->RawText, "h");
    EXPECT_EQ(r->child(5)->Kind, nkDoctype);
    EXPECT_EQ(r->child(5)->RawText, "z");
}

TEST(XmlReader, TagWordsAndAttributes) {
    TsdXmlDocument doc;
    doc.ParseString("<R\r\n  a = \"x y\"\tb= 'p \"q\"'  c =d e/>");
    TXmlNode* r = doc.RootNode();
    EXPECT_EQ(r->Name(), "R");
    EXPECT_EQ(r->Attributes, (std::vector<std::string>{"a=\"x y\"", "b='p \"q\"'", "c=d", "e"}));
    EXPECT_EQ(r->AttributeText("A"), "x y");
    EXPECT_EQ(r->AttributeText("b"), "p \"q\"");
    EXPECT_EQ(r->AttributeText("c"), "d");
    EXPECT_TRUE(r->HasAttribute("e"));
    EXPECT_FALSE(r->HasAttribute("f"));
    r->Attributes = {"v=\"it\"\"s &amp; &#65;\""};
    EXPECT_EQ(r->AttributeText("v"), "it\"s & A");
}

TEST(XmlReader, ElementTextRules) {
    TsdXmlDocument doc;
    // Text before the first child is kept; after it only a CR counts, to cut the indentation.
    doc.ParseString("<R>head\r\n  <a>1</a>\r\n  tail<b/>\r\n</R>");
    EXPECT_EQ(doc.RootNode()->RawText, "head");
    doc.ParseString("<R>head<a>1</a>tail</R>");
    EXPECT_EQ(doc.RootNode()->RawText, "head");
    doc.ParseString("<R>no cr here  <a/>\r\n</R>");
    EXPECT_EQ(doc.RootNode()->RawText, "");
    doc.ParseString("<R> leaf\r\n  kept \r\n</R>");
    EXPECT_EQ(doc.RootNode()->RawText, " leaf\r\n  kept \r\n");
    doc.ParseString("<R>&lt;raw&gt;</R>");
    EXPECT_EQ(doc.RootNode()->RawText, "&lt;raw&gt;");
    EXPECT_EQ(doc.RootNode()->Text(), "<raw>");
}

TEST(XmlReader, BlankAfterLessThanMakesAnUnnamedChild) {
    TsdXmlDocument doc;
    doc.ParseString("<R>x< y>z</R>");
    ASSERT_EQ(doc.RootNode()->childCount(), 1);
    EXPECT_EQ(doc.RootNode()->child(0)->Name(), "");
    EXPECT_EQ(doc.RootNode()->RawText, "x");
}

TEST(XmlReader, DropComments) {
    TsdXmlDocument doc;
    doc.DropComments = true;
    doc.ParseString("<!--top--><R><!--in--><a/><!--in2--></R>");
    EXPECT_EQ(doc.RootNode()->childCount(), 1);
    EXPECT_EQ(doc.CommentLines, std::vector<std::string>{"top"});
    doc.DropComments = false;
    doc.ParseString("<R><!--in--><a/></R>");
    EXPECT_EQ(doc.RootNode()->childCount(), 2);
}

TEST(XmlReader, DeclarationAnywhereIsTakenWithoutLosingOtherNodes) {
    TsdXmlDocument doc;
    doc.ParseString("<R/><?xml version=\"2.0\"?>");
    EXPECT_EQ(doc.RootNode()->Name(), "R");
    EXPECT_EQ(doc.VersionText, "2.0");
    doc.ParseString("<!--c--><?xml version='3'?><R/>");
    EXPECT_EQ(doc.CommentLines, std::vector<std::string>{"c"});
    EXPECT_EQ(doc.VersionText, "3");
}

TEST(XmlReader, DeepNestingIsAFormatError) {
    std::string text;
    for (int i = 0; i < 50000; ++i) text += "<a>";
    EXPECT_EQ(parseError(text), "Elements nested too deeply in element a");
    std::string ok;
    for (int i = 0; i < MaxNestingDepth; ++i) ok += "<a>";
    for (int i = 0; i < MaxNestingDepth; ++i) ok += "</a>";
    TsdXmlDocument doc;
    EXPECT_NO_THROW(doc.ParseString(ok));
    std::string tooDeep = "<a>" + ok + "</a>";
    EXPECT_EQ(parseError(tooDeep), "Elements nested too deeply in element a");
}

TEST(XmlWriter, Layouts) {
    auto doc = TsdXmlDocument::CreateWithRoot("Contacts");
    for (const char* mail : {"a@x.org", "b@y.org"}) {
        TXmlNode* c = doc->RootNode()->AddChild("Contact");
        c->SetChildText("Email", mail, "");
        c->SetChildText("Note", "", "");
    }
    doc->Layout = xlIndented;
    const std::string indented = doc->RenderString();
    EXPECT_EQ(indented, "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n<Contacts>\r\n  <Contact>\r\n"
                        "    <Email>a@x.org</Email>\r\n    <Note/>\r\n  </Contact>\r\n  <Contact>\r\n"
                        "    <Email>b@y.org</Email>\r\n    <Note/>\r\n  </Contact>\r\n</Contacts>");
    doc->Layout = xlCompact;
    EXPECT_EQ(doc->RenderString(), "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<Contacts><Contact>"
                                   "<Email>a@x.org</Email><Note/></Contact><Contact><Email>b@y.org</Email>"
                                   "<Note/></Contact></Contacts>");
    TsdXmlDocument back;
    back.ParseString(indented);
    std::vector<TXmlNode*> contacts;
    back.RootNode()->CollectChildren("Contact", contacts);
    ASSERT_EQ(contacts.size(), 2u);
    EXPECT_EQ(contacts[1]->GetChildText("Email", ""), "b@y.org");
    EXPECT_EQ(contacts[1]->RawText, "");
    EXPECT_EQ(contacts[1]->FindChild("Note")->Kind, nkEmptyElement);
    EXPECT_EQ(contacts[1]->GetChildText("Note", "x"), "");
}

TEST(XmlWriter, PrologueAndOtherNodeKinds) {
    auto doc = TsdXmlDocument::CreateWithRoot("R");
    doc->VersionText = "";
    doc->EncodingText = "a\"b";
    doc->CommentLines = {"x<y", ""};
    doc->NeverSelfClose = true;
    TXmlNode* r = doc->RootNode();
    r->AddChild("e");
    r->addNode(std::make_unique<TXmlNode>())->Kind = nkCData;
    r->child(1)->RawText = "<c>";
    r->addNode(std::make_unique<TXmlNode>())->Kind = nkInstruction;
    r->child(2)->RawText = "pi";
    EXPECT_EQ(doc->RenderString(),
              "<?xml  encoding=\"a&quot;b\"?>\n<!--x&lt;y-->\n<R><e></e><![CDATA[<c>]]><?pi?></R>");
    doc->EncodingText = "";
    EXPECT_EQ(doc->RenderString().substr(0, 9), "<!--x&lt;");
}

TEST(XmlWriter, UnnamedRootIsNotWritten) {
    TsdXmlDocument doc;
    try {
        doc.RenderString();
        ADD_FAILURE();
    } catch (const EsdXmlFormatError& e) {
        EXPECT_STREQ(e.what(), "XML root element not defined.");
    }
}

TEST(XmlProgress, ReportedForEveryNodeBothWays) {
    const std::string text = "<R><a>1</a><b><c/></b></R>";
    TsdXmlDocument doc;
    std::vector<int64_t> seen;
    doc.OnProgress = [&](TsdXmlDocument& d, int64_t pos) {
        EXPECT_EQ(&d, &doc);
        seen.push_back(pos);
    };
    doc.ParseString(text);
    // Start, then a, c, b, R as each completes, then the size.
    EXPECT_EQ(seen, (std::vector<int64_t>{0, 11, 18, 22, 26, 26}));
    seen.clear();
    const std::string out = doc.RenderString();
    const int64_t prologue = static_cast<int64_t>(out.find('<', 1));
    EXPECT_EQ(seen, (std::vector<int64_t>{0, prologue + 11, prologue + 18, prologue + 22, prologue + 26,
                                          prologue + 26}));
}

TEST(XmlReader, EqualsAndQuotesJoinTheirNeighbours) {
    TsdXmlDocument probe;
    probe.ParseString("<R =a b = = c 'q' \"r s\" t ='u'/>");
    EXPECT_EQ(probe.RootNode()->Name(), "R=a");
    EXPECT_EQ(probe.RootNode()->Attributes, (std::vector<std::string>{"b==", "c'q'\"r s\"", "t='u'"}));
}

TEST(XmlReaderEarly, ElementsTakenWhileParsingLeaveTheRestOfTheTree) {
    xml::TsdXmlDocument document;
    std::vector<std::string> seen;
    document.OnElementRead = [&](xml::TXmlNode& element, int level) {
        seen.push_back(element.Name() + ":" + std::to_string(level) + ":" + std::to_string(element.childCount()) +
                       ":" + element.GetChildText("v", "-"));
        return element.Name() == "item";
    };
    document.ParseString("<root>\r\n  <item><v>1</v><w/></item>\r\n  <keep>text</keep>\r\n  <item/>\r\n"
                         "  <list>\r\n    <item><v>2</v></item>\r\n  </list>\r\n</root>");
    EXPECT_EQ(seen, (std::vector<std::string>{"v:2:0:-", "w:2:0:-", "item:1:2:1", "keep:1:0:-", "item:1:0:-",
                                              "v:3:0:-", "item:2:1:2", "list:1:0:-"}));
    const xml::TXmlNode* root = document.RootNode();
    ASSERT_EQ(root->childCount(), 2);
    EXPECT_EQ(root->child(0)->Name(), "keep");
    EXPECT_EQ(root->child(0)->Text(), "text");
    EXPECT_EQ(root->child(1)->Name(), "list");
    EXPECT_EQ(root->child(1)->childCount(), 0);
    // The line breaks that stood between the taken elements are cut as between kept ones.
    EXPECT_EQ(root->child(1)->RawText, "");
}

TEST(XmlReaderEarly, ElementsBelowTheChosenLevelAreNotOffered) {
    xml::TsdXmlDocument document;
    std::vector<std::string> seen;
    document.ElementReadMaxLevel = 2;
    document.OnElementRead = [&](xml::TXmlNode& element, int level) {
        seen.push_back(element.Name() + ":" + std::to_string(level));
        return false;
    };
    document.ParseString("<root><a><b><c/></b></a><d/></root>");
    EXPECT_EQ(seen, (std::vector<std::string>{"b:2", "a:1", "d:1"}));
    EXPECT_EQ(document.RootNode()->child(0)->child(0)->child(0)->Name(), "c");
}

TEST(XmlReaderEarly, NamesMatchIgnoringCaseButNeverAcrossLengths) {
    EXPECT_TRUE(xml::TXmlNode::SameName("CONTACT", "Contact"));
    EXPECT_FALSE(xml::TXmlNode::SameName("Contact", "Contacts"));
    EXPECT_FALSE(xml::TXmlNode::SameName("Caf\xe9", "Caf\xe9s"));
    EXPECT_TRUE(xml::TXmlNode::SameName("Caf\xe9", "CAF\xc9"));
}
