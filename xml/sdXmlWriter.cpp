#include "xml/sdNodePool.h"
#include "xml/sdXmlDocuments.h"
#include "xml/sdXmlText.h"

namespace xml {

namespace {

class StringSink {
public:
    void put(std::string_view s) { out.append(s); }
    int64_t position() const { return static_cast<int64_t>(out.size()); }
    std::string out;
};

class CodecSink {
public:
    explicit CodecSink(TsdCodecStream& codec) : codec_(codec) {}
    void put(std::string_view s) {
        if (!s.empty()) codec_.putBytes(s.data(), static_cast<int64_t>(s.size()));
    }
    int64_t position() const { return codec_.position(); }

private:
    TsdCodecStream& codec_;
};

class StreamSink {
public:
    explicit StreamSink(TStream& stream) : stream_(stream) {}
    void put(std::string_view s) { stream_.writeAll(s); }
    int64_t position() const { return stream_.position(); }

private:
    TStream& stream_;
};

}  // namespace

TsdXmlDocument::TsdXmlDocument() : pool_(new detail::NodePool(sizeof(TXmlNode))) {
    try {
        root_ = TXmlNode::create(this, *pool_);
    } catch (...) {
        pool_->disown();
        throw;
    }
    restoreDefaults();
}

TsdXmlDocument::~TsdXmlDocument() {
    // The nodes go first; the pool stays for any node still held elsewhere.
    root_.reset();
    ExtraNodes.clear();
    pool_->disown();
}

std::unique_ptr<TsdXmlDocument> TsdXmlDocument::CreateWithRoot(const std::string& name) {
    auto document = std::make_unique<TsdXmlDocument>();
    document->root_->SetName(name);
    return document;
}

void TsdXmlDocument::checkRoot() const {
    // An unnamed root would be written as "</>", which no reader takes back as a document.
    if (!root_ || root_->Name().empty()) throw EsdXmlFormatError("XML root element not defined.");
}

template <class Sink> void TsdXmlDocument::render(Sink& sink) {
    checkRoot();
    fireProgress(0);

    const bool indented = Layout == xlIndented;
    const std::string_view lineEnd = indented ? "\r\n" : "\n";
    const std::string_view br = indented ? "\r\n" : "";

    if (!VersionText.empty() || !EncodingText.empty()) {
        sink.put("<?xml ");
        if (!VersionText.empty()) {
            sink.put("version=");
            sink.put(detail::quoted(EscapeText(VersionText)));
        }
        if (!EncodingText.empty()) {
            sink.put(" encoding=");
            sink.put(detail::quoted(EscapeText(EncodingText)));
        }
        sink.put("?>");
        sink.put(lineEnd);
    }
    if (!StylesheetText.empty()) {
        sink.put("<?xml-stylesheet ");
        sink.put(StylesheetText);
        sink.put("?>");
        sink.put(lineEnd);
    }
    for (const std::string& line : CommentLines) {
        if (line.empty()) continue;
        sink.put("<!--");
        sink.put(EscapeText(line));
        sink.put("-->");
        sink.put(lineEnd);
    }
    for (const auto& node : ExtraNodes) {
        if (node->Kind == nkDoctype) {
            sink.put("<!DOCTYPE");
            sink.put(node->RawText);
            sink.put(">");
        } else if (node->Kind == nkSpecial) {
            sink.put("<!");
            sink.put(node->RawText);
            sink.put(">");
        } else if (node->Kind == nkInstruction) {
            sink.put("<?");
            sink.put(node->RawText);
            sink.put("?>");
        } else {
            continue;
        }
        sink.put(lineEnd);
    }

    std::string spaces;
    auto indent = [&](size_t depth) -> std::string_view {
        if (!indented) return {};
        if (spaces.size() < depth * 2) spaces.assign(depth * 2 + 32, ' ');
        return std::string_view(spaces).substr(0, depth * 2);
    };
    auto progress = [&] {
        if (OnProgress) OnProgress(*this, sink.position());
    };
    // Writes a node; for an element with children only its start tag and text, returning true.
    auto open = [&](const TXmlNode& node, size_t depth) {
        const std::string_view ind = indent(depth);
        switch (node.Kind) {
        case nkElement:
        case nkEmptyElement: {
            const bool hasChildren = !node.children_.empty();
            const bool empty = node.RawText.empty() && !hasChildren && !NeverSelfClose;
            sink.put(ind);
            sink.put("<");
            sink.put(node.Name());
            for (const std::string& a : node.Attributes) {
                sink.put(" ");
                sink.put(a);
            }
            sink.put(empty ? "/>" : ">");
            sink.put(node.RawText);
            if (hasChildren) {
                sink.put(br);
                return true;
            }
            if (!empty) {
                sink.put("</");
                sink.put(node.Name());
                sink.put(">");
            }
            break;
        }
        case nkComment:
        case nkCData:
        case nkDoctype:
        case nkSpecial:
        case nkInstruction:
            // These are written with the same markup the reader recognises them by.
            for (const TTagType& t : TagTypes) {
                if (t.kind != node.Kind) continue;
                sink.put(ind);
                sink.put(t.opening);
                sink.put(node.RawText);
                sink.put(t.closing);
                break;
            }
            break;
        default: break;
        }
        progress();
        return false;
    };

    // Depth-first with an explicit stack, so a deep tree built in code cannot exhaust the call stack.
    struct Open {
        const TXmlNode* node;
        size_t next;
    };
    std::vector<Open> stack;
    if (open(*root_, 0)) stack.push_back({root_.get(), 0});
    while (!stack.empty()) {
        Open& top = stack.back();
        if (top.next < top.node->children_.size()) {
            const TXmlNode& child = *top.node->children_[top.next++];
            if (open(child, stack.size())) stack.push_back({&child, 0});
            else sink.put(br);
            continue;
        }
        const TXmlNode& node = *top.node;
        sink.put(indent(stack.size() - 1));
        sink.put("</");
        sink.put(node.Name());
        sink.put(">");
        progress();
        stack.pop_back();
        if (!stack.empty()) sink.put(br);
    }

    fireProgress(sink.position());
}

void TsdXmlDocument::RenderNodes(TStream& sink) {
    if (auto* codec = dynamic_cast<TsdCodecStream*>(&sink)) {
        CodecSink s(*codec);
        render(s);
    } else {
        StreamSink s(sink);
        render(s);
    }
}

std::string TsdXmlDocument::RenderString() {
    StringSink sink;
    render(sink);
    return std::move(sink.out);
}

void TsdXmlDocument::SaveStream(TStream& stream) {
    checkRoot();
    TsdBufferedWriteStream buffered(&stream, false);
    std::unique_ptr<TsdCodecStream> codec;
    if (Utf8Flag) codec = std::make_unique<TsdUtf8Stream>(&buffered);
    else codec = std::make_unique<TsdAnsiStream>(&buffered);
    codec->setEncodingKind(EncodingKind);
    // An empty write starts the codec, so a refused encoding fails before anything is written.
    codec->Write("", 0);
    CodecSink sink(*codec);
    render(sink);
    buffered.flush();
}

}  // namespace xml
