#include "xml/sdXmlDocuments.h"

#include <gtest/gtest.h>

using namespace xml;

namespace {

// The same children once as nodes and once through a writer; both documents must render alike.
struct Item {
    std::string text;
    int number;
    bool flag;
    double date;
    std::vector<std::string> notes;
};

const std::vector<Item> Items = {
    {"<start", 0, true, 0, {}},
    {"end>", 7, false, 45000.5, {"a&b", ""}},
    {"&&''\"\"<>", -3, true, 45000, {"x"}},
    {"", 0, false, 0, {""}},
    {"plain\r\nlines\t\xE9", 2147483647, true, -1.25, {}},
};

template <class Target> void writeItem(Target& target, const Item& item) {
    target.SetChildText("Text", item.text, "");
    target.SetChildInt("Number", item.number, 0);
    target.SetChildBool("Flag", item.flag, false);
    target.SetChildDate("Date", item.date, 0);
}

void fillTree(TXmlNode& list, int count) {
    for (int i = 0; i < count; ++i) {
        const Item& item = Items[static_cast<size_t>(i) % Items.size()];
        TXmlNode* node = list.AddChild("Item");
        writeItem(*node, item);
        for (const std::string& note : item.notes) node->AddChild("Note")->SetText(note);
    }
}

TsdXmlDocument::ChildWriter writerOf(int count) {
    return [count](TsdXmlWriter& w) {
        for (int i = 0; i < count; ++i) {
            const Item& item = Items[static_cast<size_t>(i) % Items.size()];
            w.BeginElement("Item");
            writeItem(w, item);
            for (const std::string& note : item.notes) w.SetChildText("Note", note, "\x01");
            w.EndElement();
        }
    };
}

struct Rendered {
    std::string text;
    std::vector<int64_t> progress;
};

// A root with a value, a list before and after the written one, and the written list itself,
// which may also hold text and children of its own.
Rendered render(bool written, int count, TsdXmlLayout layout, bool writeDefaults, bool neverSelfClose,
                bool withProgress, const std::string& listText, int ownChildren) {
    auto doc = TsdXmlDocument::CreateWithRoot("Root");
    doc->Layout = layout;
    doc->WriteDefaults = writeDefaults;
    doc->NeverSelfClose = neverSelfClose;
    Rendered out;
    if (withProgress) doc->OnProgress = [&out](TsdXmlDocument&, int64_t at) { out.progress.push_back(at); };
    doc->RootNode()->SetChildText("Name", "n", "");
    doc->RootNode()->AddChild("Before");
    TXmlNode* list = doc->RootNode()->AddChild("List");
    list->RawText = listText;
    fillTree(*list, ownChildren);
    if (written) doc->SetChildWriter(*list, writerOf(count));
    else fillTree(*list, count);
    doc->RootNode()->AddChild("After")->SetText("z");
    out.text = doc->RenderString();
    return out;
}

}  // namespace

TEST(XmlChildWriter, WritesWhatTheSameNodesWouldInEveryLayoutAndSetting) {
    for (TsdXmlLayout layout : {xlCompact, xlIndented})
        for (bool writeDefaults : {false, true})
            for (bool neverSelfClose : {false, true})
                for (bool withProgress : {false, true})
                    for (int count : {0, 1, 7})
                        for (const std::string listText : {"", "t&amp;"})
                            for (int own : {0, 2}) {
                                const auto tree = render(false, count, layout, writeDefaults, neverSelfClose,
                                                         withProgress, listText, own);
                                const auto written = render(true, count, layout, writeDefaults, neverSelfClose,
                                                            withProgress, listText, own);
                                const std::string where = "layout " + std::to_string(layout) + " defaults " +
                                                          std::to_string(writeDefaults) + " never " +
                                                          std::to_string(neverSelfClose) + " count " +
                                                          std::to_string(count) + " text '" + listText +
                                                          "' own " + std::to_string(own);
                                EXPECT_EQ(written.text, tree.text) << where;
                                EXPECT_EQ(written.progress, tree.progress) << where;
                            }
}

TEST(XmlChildWriter, WrittenChildrenAreNotNodesAndGoWithAParse) {
    auto doc = TsdXmlDocument::CreateWithRoot("Root");
    TXmlNode* list = doc->RootNode()->AddChild("List");
    doc->SetChildWriter(*list, writerOf(2));
    EXPECT_EQ(list->childCount(), 0);
    TsdXmlDocument back;
    back.ParseString(doc->RenderString());
    EXPECT_EQ(back.RootNode()->FindChild("List")->childCount(), 2);

    // The stream goes through the same writer.
    TMemoryStream saved;
    doc->SaveStream(saved);
    EXPECT_EQ(saved.bytes(), doc->RenderString());

    // Clearing the node drops its writer, and an empty writer removes it.
    list->clear();
    list->SetName("List");
    EXPECT_EQ(doc->RenderString(), "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<Root><List/></Root>");
    doc->SetChildWriter(*list, writerOf(1));
    doc->SetChildWriter(*list, nullptr);
    EXPECT_EQ(doc->RenderString(), "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<Root><List/></Root>");
    doc->SetChildWriter(*doc->RootNode(), writerOf(1));
    doc->ParseString("<Other/>");
    EXPECT_EQ(doc->RenderString(), "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n<Other/>");
}

TEST(XmlChildWriter, NamesAreCheckedAndAFailureKeepsWhatWasWritten) {
    auto doc = TsdXmlDocument::CreateWithRoot("Root");
    doc->RootNode()->SetChildText("First", std::string(1000, 'v'), "");
    doc->SetChildWriter(*doc->RootNode(), [](TsdXmlWriter& w) { w.SetChildText("Bad name", "x", ""); });
    TMemoryStream out;
    EXPECT_THROW(doc->RenderNodes(out), EsdXmlError);
    // As when the output went out piece by piece, the text before the failure reached the stream.
    EXPECT_GT(out.size(), 1000);
}

TEST(XmlEscape, CleanRunsAroundEscapedCharactersAtEveryPlace) {
    EXPECT_EQ(EscapeText(""), "");
    EXPECT_EQ(EscapeText("&"), "&amp;");
    EXPECT_EQ(EscapeText("<abc"), "&lt;abc");
    EXPECT_EQ(EscapeText("abc>"), "abc&gt;");
    EXPECT_EQ(EscapeText("''\"\""), "&apos;&apos;&quot;&quot;");
    EXPECT_EQ(EscapeText("a<>b&c"), "a&lt;&gt;b&amp;c");
    const std::string clean(5000, 'x');
    EXPECT_EQ(EscapeText(clean + "<" + clean), clean + "&lt;" + clean);
}

TEST(XmlChildWriter, OutputTakenAheadSpansManyBlocks) {
    // Several megabytes written ahead for a progress handler come back whole and in order.
    const auto tree = render(false, 30000, xlCompact, true, false, true, "", 0);
    const auto written = render(true, 30000, xlCompact, true, false, true, "", 0);
    ASSERT_GT(written.text.size(), size_t{3} << 20);
    EXPECT_TRUE(written.text == tree.text);
    EXPECT_TRUE(written.progress == tree.progress);
}
