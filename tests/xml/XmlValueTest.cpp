#include "xml/sdXmlDocuments.h"

#include "platform/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

using namespace xml;

namespace {

std::string reparsedChildText(TsdXmlDocument& doc, const std::string& name) {
    TsdXmlDocument back;
    back.ParseString(doc.RenderString());
    return back.RootNode()->GetChildText(name, "<absent>");
}

}  // namespace

TEST(XmlEscape, EscapesOnlyTheFiveCharacters) {
    EXPECT_EQ(EscapeText("a<b &'c'\">"), "a&lt;b &amp;&apos;c&apos;&quot;&gt;");
    EXPECT_EQ(EscapeText("&lt;"), "&amp;lt;");
    const std::string raw = "tab\there\r\nline\x01\xE9\x80";
    EXPECT_EQ(EscapeText(raw), raw);
}

TEST(XmlEscape, UnescapeDecodesEntitiesAndNumbers) {
    EXPECT_EQ(UnescapeText("&amp;&lt;&gt;&apos;&quot;", false), "&<>'\"");
    EXPECT_EQ(UnescapeText("&#65;&#x41;&#X41;", false), "AAA");
    EXPECT_EQ(UnescapeText("&#254;", false), "\xFE");
    EXPECT_EQ(UnescapeText("a&#0;b", false), std::string("a\0b", 3));
}

TEST(XmlEscape, UnescapeLeavesUnknownCandidatesAlone) {
    for (const char* s : {"&#255;", "&#300;", "&nbsp;", "&AMP;", "&#;", "&#x;", "&#12a;", "&#-5;", "a & b", "x&amp"})
        EXPECT_EQ(UnescapeText(s, false), s) << s;
    EXPECT_EQ(UnescapeText("&nbsp;&amp;", false), "&nbsp;&");
    // The candidate runs to the first ";", so an entity inside it stays encoded.
    EXPECT_EQ(UnescapeText("&a &amp;", false), "&a &amp;");
}

TEST(XmlEscape, Utf8ModeWritesSequences) {
    EXPECT_EQ(UnescapeText("&#255;", true), "\xC3\xBF");
    EXPECT_EQ(UnescapeText("&#x20AC;", true), "\xE2\x82\xAC");
    EXPECT_EQ(UnescapeText("&#65534;", true), "\xEF\xBF\xBE");
    EXPECT_EQ(UnescapeText("&#65535;", true), "&#65535;");
    EXPECT_EQ(UnescapeText("&#65;", true), "A");
}

TEST(XmlValues, TextWithMarkupCharactersRoundTrips) {
    TsdXmlDocument doc;
    doc.RootNode()->SetName("R");
    const std::string value = "a<b & 'c'";
    doc.RootNode()->SetChildText("V", value, "");
    EXPECT_EQ(doc.RootNode()->FindChild("V")->RawText, "a&lt;b &amp; &apos;c&apos;");
    EXPECT_NE(doc.RenderString().find("<V>a&lt;b &amp; &apos;c&apos;</V>"), std::string::npos);
    EXPECT_EQ(reparsedChildText(doc, "V"), value);
}

TEST(XmlValues, MultiLineLeafSurvivesBothLayouts) {
    for (TsdXmlLayout layout : {xlCompact, xlIndented}) {
        TsdXmlDocument doc;
        doc.RootNode()->SetName("R");
        TXmlNode* group = doc.RootNode()->AddChild("G");
        group->SetChildText("V", "line one\r\n  line two\r\n", "");
        doc.Layout = layout;
        TsdXmlDocument back;
        back.ParseString(doc.RenderString());
        EXPECT_EQ(back.RootNode()->FindChild("G")->GetChildText("V", ""), "line one\r\n  line two\r\n");
        EXPECT_EQ(back.RootNode()->FindChild("G")->RawText, "");
        EXPECT_EQ(back.RootNode()->RawText, "");
    }
}

TEST(XmlValues, IntegersFallBackToDefault) {
    TsdXmlDocument doc;
    doc.ParseString("<R><A>42</A><B>-7</B><C>+3</C><D>12x</D><E></E><F> 5</F><G>99999999999</G><H>0x1F</H></R>");
    TXmlNode* r = doc.RootNode();
    EXPECT_EQ(r->GetChildInt("a", 1), 42);
    EXPECT_EQ(r->GetChildInt("B", 1), -7);
    EXPECT_EQ(r->GetChildInt("C", 1), 3);
    for (const char* n : {"D", "E", "F", "G", "H", "Missing"}) EXPECT_EQ(r->GetChildInt(n, 11), 11) << n;
    EXPECT_EQ(r->GetChildInt64("G", 0), 99999999999);
}

TEST(XmlValues, BooleansReadByFirstLetter) {
    TsdXmlDocument doc;
    doc.ParseString("<R><a>yes</a><b>Y</b><c>true</c><d>t</d><e>no</e><f>N</f><g>FALSE</g><h>f</h>"
                    "<i></i><j>maybe</j><k>1</k></R>");
    TXmlNode* r = doc.RootNode();
    for (const char* n : {"a", "b", "c", "d"}) {
        EXPECT_TRUE(r->GetChildBool(n, false)) << n;
    }
    for (const char* n : {"e", "f", "g", "h"}) {
        EXPECT_FALSE(r->GetChildBool(n, true)) << n;
    }
    for (const char* n : {"i", "j", "k", "missing"}) {
        EXPECT_TRUE(r->GetChildBool(n, true)) << n;
        EXPECT_FALSE(r->GetChildBool(n, false)) << n;
    }
}

TEST(XmlValues, DateForms) {
    TsdXmlDocument doc;
    TXmlNode* r = doc.RootNode();
    r->SetName("R");
    const double midnight = platform::encodeDate(2021, 3, 4);
    const double withTime = platform::encodeDateTime(2021, 3, 4, 5, 6, 7, 89);
    r->SetChildDate("A", midnight, 0);
    r->SetChildDate("B", withTime, 0);
    EXPECT_EQ(r->GetChildText("A", ""), "2021-03-04");
    EXPECT_EQ(r->GetChildText("B", ""), "2021-03-04T05:06:07.089Z");
    EXPECT_EQ(r->GetChildDate("A", -1), midnight);
    EXPECT_NEAR(r->GetChildDate("B", -1), withTime, 1e-9);
}

TEST(XmlValues, DateReadingToleratesMissingSecondsOnly) {
    TsdXmlDocument doc;
    doc.ParseString("<R><a>2021-03-04T05:06</a><b>2021-03-04T05:06:xx.yyyZ</b><c>2021-02-30</c>"
                    "<d>2021-03-04T25:00:00.000Z</d><e>21-3-4</e><f></f><g>2021-03-04T05:06:07</g></R>");
    TXmlNode* r = doc.RootNode();
    EXPECT_EQ(r->GetChildDate("a", -1), platform::encodeDate(2021, 3, 4));
    EXPECT_NEAR(r->GetChildDate("b", -1), platform::encodeDateTime(2021, 3, 4, 5, 6), 1e-9);
    EXPECT_NEAR(r->GetChildDate("g", -1), platform::encodeDateTime(2021, 3, 4, 5, 6, 7), 1e-9);
    for (const char* n : {"c", "d", "e", "f", "missing"}) EXPECT_EQ(r->GetChildDate(n, -1), -1) << n;
}

TEST(XmlValues, WriteDefaultsOffLeavesDefaultsOut) {
    TsdXmlDocument doc;
    TXmlNode* r = doc.RootNode();
    r->SetName("R");
    doc.WriteDefaults = false;
    r->SetChildInt("I", 0, 0);
    r->SetChildText("T", "", "");
    r->SetChildBool("B", false, false);
    r->SetChildDate("D", 0, 0);
    EXPECT_EQ(r->childCount(), 0);
    EXPECT_EQ(doc.RenderString(), "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<R/>");
    EXPECT_EQ(r->GetChildInt("I", 0), 0);
    EXPECT_EQ(r->GetChildText("T", ""), "");

    r->SetChildBool("V", true, true);
    EXPECT_EQ(r->FindChild("V"), nullptr);
    r->SetChildBool("V", false, true);
    EXPECT_EQ(r->GetChildText("V", ""), "False");
    // A default value leaves an existing child as it is.
    r->SetChildBool("V", true, true);
    EXPECT_EQ(r->GetChildText("V", ""), "False");

    doc.WriteDefaults = true;
    r->SetChildInt("I", 0, 0);
    r->SetChildBool("B", true, false);
    EXPECT_EQ(r->GetChildText("I", "x"), "0");
    EXPECT_EQ(r->GetChildText("B", "x"), "True");
}

TEST(XmlNodes, NameValidation) {
    TXmlNode node;
    node.SetName("Good");
    for (const char* bad : {"a b", "a\tb", "a\nb", "a\rb", " "}) {
        try {
            node.SetName(bad);
            ADD_FAILURE() << bad;
        } catch (const EsdXmlError& e) {
            EXPECT_EQ(std::string(e.what()), std::string("Illegal character in node name \"") + bad + "\"");
        }
    }
    EXPECT_EQ(node.Name(), "Good");
    node.SetName("");
    EXPECT_EQ(node.Name(), "");
    EXPECT_THROW(TsdXmlDocument::CreateWithRoot("Two words"), EsdXmlError);
    EXPECT_EQ(TsdXmlDocument::CreateWithRoot("Corvane")->RootNode()->Name(), "Corvane");
}

TEST(XmlNodes, LookupsIgnoreCaseAndTakeTheFirst) {
    TsdXmlDocument doc;
    doc.ParseString("<R><Item>1</Item><other/><ITEM>2</ITEM><item>3</item></R>");
    TXmlNode* r = doc.RootNode();
    EXPECT_EQ(r->FindChild("iTeM")->Text(), "1");
    EXPECT_EQ(r->ChildIndex("OTHER"), 1);
    EXPECT_EQ(r->ChildIndex("none"), -1);
    std::vector<TXmlNode*> list{r};
    r->CollectChildren("item", list);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[2]->Text(), "3");
    EXPECT_EQ(r->FindOrAddChild("Other"), r->child(1));
    TXmlNode* added = r->FindOrAddChild("New");
    EXPECT_EQ(r->child(4), added);
    EXPECT_EQ(added->parent(), r);
    EXPECT_EQ(added->document(), &doc);
    EXPECT_EQ(r->child(5), nullptr);
    EXPECT_EQ(r->child(-1), nullptr);
}

TEST(XmlNodes, DeepTreeBuiltInCodeIsWrittenAndFreed) {
    auto doc = TsdXmlDocument::CreateWithRoot("R");
    TXmlNode* n = doc->RootNode();
    for (int i = 0; i < 200000; ++i) n = n->AddChild("d");
    std::string expected = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<R>";
    for (int i = 1; i < 200000; ++i) expected += "<d>";
    expected += "<d/>";
    for (int i = 1; i < 200000; ++i) expected += "</d>";
    expected += "</R>";
    EXPECT_EQ(doc->RenderString(), expected);
    doc.reset();
}

TEST(XmlValues, DateTextIsThePrintedFormForEveryValue) {
    // The form written digit by digit must be exactly what printing the parts gives, also for
    // values whose parts leave the usual ranges.
    const double samples[] = {0, -1, -0.5, 1.25, 45000, 45000.999999, 2958465.9999, -693593, 1e7, -1e7, 36525.0001};
    for (int i = 0; i < 2000; ++i) {
        const double value = i < 11 ? samples[i] : (i * 7919 % 3000000) - 700000 + (i % 3 ? (i % 997) / 997.0 : 0);
        const platform::DateParts p = platform::decodeDateTime(value);
        char expected[64];
        if (value == std::trunc(value))
            std::snprintf(expected, sizeof expected, "%.4d-%.2d-%.2d", p.year, p.month, p.day);
        else
            std::snprintf(expected, sizeof expected, "%.4d-%.2d-%.2dT%.2d:%.2d:%.2d.%.3dZ", p.year, p.month, p.day,
                          p.hour, p.minute, p.second, p.msec);
        ASSERT_EQ(DateTimeToXmlText(value), expected) << value;
    }
}

TEST(XmlValues, DatesReadBackAsTheirPartsInBothFormsAndAroundThem) {
    // Written dates are read by a direct path; it must give exactly the encoded parts.
    for (int i = 0; i < 2000; ++i) {
        const double value = (i * 7919 % 3000000) - 700000 + (i % 3 ? (i % 997) / 997.0 : 0);
        const platform::DateParts p = platform::decodeDateTime(value);
        if (p.year < 1 || p.year > 9999) continue;
        double back = -12345;
        ASSERT_TRUE(XmlTextToDateTime(DateTimeToXmlText(value), back)) << value;
        EXPECT_EQ(back, platform::encodeDateTime(p.year, p.month, p.day, p.hour, p.minute, p.second, p.msec))
            << value;
    }
    // Texts near those forms take the general reading: signs, missing or broken seconds and
    // milliseconds, blanks.
    const struct {
        const char* text;
        double expected;
    } cases[] = {
        {"+021-03-04", platform::encodeDate(21, 3, 4)},
        {"2021-03-04T05:06:07.089", platform::encodeDateTime(2021, 3, 4, 5, 6, 7, 89)},
        {"2021-03-04T05:06:07.0x9Z", platform::encodeDateTime(2021, 3, 4, 5, 6, 7)},
        {"2021-03-04T05:06:+7.089Z", platform::encodeDateTime(2021, 3, 4, 5, 6, 7, 89)},
        {"2021-03-04T05:06:0", platform::encodeDateTime(2021, 3, 4, 5, 6)},
        {"2021-03-04 ends", platform::encodeDate(2021, 3, 4)},
        {"2021-03-04 and more", -1},
        {"1899-12-29T18:00:00.000Z", -1.75},
        {" 2021-03-04", -1},
        {"2021-13-04", -1},
        {"2021-03-04T05:60:00.000Z", -1},
        {"2021/03/04", platform::encodeDate(2021, 3, 4)},
    };
    for (const auto& c : cases) {
        double value = -1;
        if (!XmlTextToDateTime(c.text, value)) value = -1;
        EXPECT_EQ(value, c.expected) << c.text;
    }
}
