// libFuzzer target for the XML reader: the first byte picks the entry point, the rest is the
// document. A parsed document is also written back and read again to exercise the writer.
#include "xml/sdXmlDocuments.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void exerciseValues(const xml::TXmlNode& node) {
    for (int i = 0; i < node.childCount() && i < 8; ++i) {
        const xml::TXmlNode* child = node.child(i);
        node.GetChildText(child->Name(), "");
        node.GetChildInt(child->Name(), 0);
        node.GetChildBool(child->Name(), false);
        node.GetChildDate(child->Name(), 0);
        child->AttributeText("a");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    xml::TsdXmlDocument doc;
    doc.DropComments = (mode & 4) != 0;
    doc.NeverSelfClose = (mode & 8) != 0;
    if (mode & 64) {
        // Elements of the upper two levels are offered as they complete; some are taken.
        doc.ElementReadMaxLevel = 2;
        doc.OnElementRead = [](xml::TXmlNode& element, int level) {
            exerciseValues(element);
            return level == 2 && element.Name().size() % 2 == 1;
        };
    }
    try {
        if (mode & 1) {
            doc.Utf8Flag = (mode & 2) != 0;
            xml::TMemoryStream stream(text);
            doc.LoadStream(stream);
        } else {
            doc.ParseString(text);
        }
    } catch (const xml::EsdStreamError&) {
        return 0;
    }
    exerciseValues(*doc.RootNode());
    doc.Layout = (mode & 16) ? xml::xlIndented : xml::xlCompact;
    if (mode & 128) {
        // The root's first child gets further children written straight into the output: copies
        // of the root's children as values, nested once.
        xml::TXmlNode* target = doc.RootNode()->childCount() ? doc.RootNode()->child(0) : doc.RootNode();
        const xml::TXmlNode* source = doc.RootNode();
        doc.SetChildWriter(*target, [source](xml::TsdXmlWriter& w) {
            for (int i = 0; i < source->childCount() && i < 8; ++i) {
                const xml::TXmlNode* child = source->child(i);
                w.BeginElement("Copy");
                w.SetChildText(child->Name(), child->Text(), "");
                w.SetChildInt64("Size", static_cast<int64_t>(child->RawText.size()), 0);
                w.SetChildDate("Date", child->DateValue(0), 0);
                w.EndElement();
            }
        });
        if (mode & 64) doc.OnProgress = [](xml::TsdXmlDocument&, int64_t) {};
    }
    try {
        std::string rendered;
        if (mode & 32) {
            xml::TMemoryStream out;
            doc.SaveStream(out);
            rendered = out.bytes();
        } else {
            rendered = doc.RenderString();
        }
        xml::TsdXmlDocument again;
        again.ParseString(rendered);
    } catch (const xml::EsdStreamError&) {
    } catch (const xml::EsdXmlError&) {
        // A written name may hold what no name may (a name read from a comment's text cannot).
    }
    return 0;
}
