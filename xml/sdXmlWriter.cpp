#include "xml/sdNodePool.h"
#include "xml/sdXmlDocuments.h"
#include "xml/sdXmlOutput.h"
#include "xml/sdXmlText.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <new>

namespace xml {

namespace detail {

namespace {

// Large enough that handing a block on costs little next to filling it.
constexpr size_t OutputBlock = 64 * 1024;

}  // namespace

Output::Output(void* target, FlushFn flush, int64_t startPosition)
    : target_(target), flush_(flush), base_(startPosition) {
    allocate();
}

Output::Output(void* target, FlushFn flush, PositionFn position)
    : target_(target), flush_(flush), position_(position) {}

Output::Output() { allocate(); }

Output::~Output() {
    release(buffer_);
    for (auto& block : blocks_) release(block.first);
}

void Output::allocate() {
    Block block;
    if (!flush_) {
        block.memory = static_cast<char*>(mapLargeBlock());
        block.mapped = block.memory != nullptr;
    }
    block.bytes = block.mapped ? LargestBlockBytes : OutputBlock;
    if (!block.memory) block.memory = static_cast<char*>(std::malloc(block.bytes));
    if (!block.memory) throw std::bad_alloc();
    buffer_ = block;
    capacity_ = block.bytes;
    fill_ = 0;
}

void Output::release(Block& block) {
    if (block.mapped) unmapLargeBlock(block.memory);
    else std::free(block.memory);
    block = Block();
}

void Output::flush() {
    if (!flush_ || fill_ == 0) return;
    const size_t n = fill_;
    // Counted as handed on even when the target fails, so that nothing is handed on twice.
    fill_ = 0;
    base_ += static_cast<int64_t>(n);
    flush_(target_, buffer_.memory, n);
}

void Output::putSlow(const char* p, size_t n) {
    if (!flush_) {
        // A capture keeps its full block and goes on in a new one.
        while (n > 0) {
            if (fill_ == capacity_) {
                blocks_.emplace_back(buffer_, fill_);
                buffer_ = Block();
                base_ += static_cast<int64_t>(fill_);
                allocate();
            }
            const size_t part = std::min(n, capacity_ - fill_);
            std::memcpy(buffer_.memory + fill_, p, part);
            fill_ += part;
            p += part;
            n -= part;
        }
        return;
    }
    flush();
    if (n <= capacity_) {
        std::memcpy(buffer_.memory, p, n);
        fill_ = n;
        return;
    }
    // More than a block at once goes on directly.
    base_ += static_cast<int64_t>(n);
    flush_(target_, p, n);
}

void Output::putEscaped(std::string_view s) {
    size_t from = 0;
    for (;;) {
        const size_t at = findEscape(s, from);
        put(s.data() + from, at - from);
        if (at == s.size()) return;
        put(entityOf(s[at]));
        from = at + 1;
    }
}

}  // namespace detail

namespace {

void checkName(std::string_view name) {
    for (char c : name)
        if (detail::isBlank(c)) throw EsdXmlError("Illegal character in node name \"" + std::string(name) + "\"");
}

}  // namespace

TsdXmlWriter::TsdXmlWriter(detail::Output& out, const TsdXmlDocument& document, size_t depth,
                           std::string_view openSuffix, std::vector<uint32_t>* progress)
    : out_(out), writeDefaults_(document.WriteDefaults), indented_(document.Layout == xlIndented),
      neverSelfClose_(document.NeverSelfClose), baseDepth_(depth), openSuffix_(openSuffix),
      progress_(progress), lastEnd_(out.position()) {}

std::string_view TsdXmlWriter::indent(size_t depth) {
    if (!indented_) return {};
    if (spaces_.size() < depth * 2) spaces_.assign(depth * 2 + 32, ' ');
    return std::string_view(spaces_).substr(0, depth * 2);
}

void TsdXmlWriter::beginChild() {
    if (open_.empty()) {
        if (!baseHasChildren_) out_.put(openSuffix_);
        baseHasChildren_ = true;
    } else if (!open_.back().hasChildren) {
        out_.put('>');
        if (indented_) out_.put("\r\n");
        open_.back().hasChildren = true;
    }
    out_.put(indent(baseDepth_ + 1 + open_.size()));
}

void TsdXmlWriter::endChild() {
    if (progress_) {
        const int64_t end = out_.position();
        progress_->push_back(static_cast<uint32_t>(end - lastEnd_));
        lastEnd_ = end;
    }
    if (indented_) out_.put("\r\n");
}

void TsdXmlWriter::leaf(std::string_view name, std::string_view value, bool escape) {
    checkName(name);
    beginChild();
    out_.put('<');
    out_.put(name);
    if (value.empty() && !neverSelfClose_) {
        out_.put("/>");
    } else {
        out_.put('>');
        if (escape) out_.putEscaped(value);
        else out_.put(value);
        out_.put("</");
        out_.put(name);
        out_.put('>');
    }
    endChild();
}

void TsdXmlWriter::BeginElement(std::string_view name) {
    checkName(name);
    beginChild();
    out_.put('<');
    out_.put(name);
    open_.push_back({name, false});
}

void TsdXmlWriter::EndElement() {
    if (open_.empty()) return;
    const Open element = open_.back();
    if (!element.hasChildren) {
        if (neverSelfClose_) {
            out_.put("></");
            out_.put(element.name);
            out_.put('>');
        } else {
            out_.put("/>");
        }
    } else {
        out_.put(indent(baseDepth_ + open_.size()));
        out_.put("</");
        out_.put(element.name);
        out_.put('>');
    }
    open_.pop_back();
    endChild();
}

void TsdXmlWriter::SetChildText(std::string_view name, std::string_view value, std::string_view defaultValue) {
    if (writeDefaults_ || value != defaultValue) leaf(name, value, true);
}

void TsdXmlWriter::SetChildInt64(std::string_view name, int64_t value, int64_t defaultValue) {
    if (!writeDefaults_ && value == defaultValue) return;
    char text[24];
    const auto result = std::to_chars(text, text + sizeof text, value);
    leaf(name, std::string_view(text, static_cast<size_t>(result.ptr - text)), false);
}

void TsdXmlWriter::SetChildBool(std::string_view name, bool value, bool defaultValue) {
    if (writeDefaults_ || value != defaultValue) leaf(name, value ? "True" : "False", false);
}

void TsdXmlWriter::SetChildDate(std::string_view name, double value, double defaultValue) {
    if (!writeDefaults_ && value == defaultValue) return;
    char text[detail::DateTextMax];
    // Written as text, so escaped like any text, though no date holds such a character.
    leaf(name, std::string_view(text, detail::formatDateTime(value, text)), true);
}

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

void TsdXmlDocument::SetChildWriter(TXmlNode& node, ChildWriter writer) {
    for (auto& entry : childWriters_) {
        if (entry.first == &node) {
            entry.second = std::move(writer);
            node.hasChildWriter_ = static_cast<bool>(entry.second);
            return;
        }
    }
    if (!writer) return;
    childWriters_.emplace_back(&node, std::move(writer));
    node.hasChildWriter_ = true;
}

const TsdXmlDocument::ChildWriter* TsdXmlDocument::childWriter(const TXmlNode& node) const {
    if (!node.hasChildWriter_) return nullptr;
    for (const auto& entry : childWriters_)
        if (entry.first == &node) return &entry.second;
    return nullptr;
}

void TsdXmlDocument::render(detail::Output& sink) {
    checkRoot();

    // Written children that a progress handler must not see change: each writer's output is
    // taken now, with where each of its elements ended, and put in its place later.
    struct Capture {
        const TXmlNode* node;
        std::unique_ptr<detail::Output> out;
        std::vector<uint32_t> ends;
    };
    std::vector<Capture> captures;
    if (OnProgress && !childWriters_.empty()) {
        std::vector<std::pair<const TXmlNode*, size_t>> pending{{root_.get(), 0}};
        while (!pending.empty()) {
            const auto [node, depth] = pending.back();
            pending.pop_back();
            for (auto it = node->children_.rbegin(); it != node->children_.rend(); ++it)
                pending.emplace_back(it->get(), depth + 1);
            const ChildWriter* writer = childWriter(*node);
            if (!writer || (node->Kind != nkElement && node->Kind != nkEmptyElement)) continue;
            Capture capture{node, std::make_unique<detail::Output>(), {}};
            TsdXmlWriter w(*capture.out, *this, depth, {}, &capture.ends);
            w.baseHasChildren_ = true;
            (*writer)(w);
            captures.push_back(std::move(capture));
        }
    }
    auto captured = [&captures](const TXmlNode& node) -> Capture* {
        for (Capture& c : captures)
            if (c.node == &node) return &c;
        return nullptr;
    };

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
    auto closeTag = [&](const TXmlNode& node, size_t depth) {
        sink.put(indent(depth));
        sink.put("</");
        sink.put(node.Name());
        sink.put(">");
        progress();
    };
    // The written children of an element that has children, after its own.
    auto writtenChildren = [&](const TXmlNode& node, size_t depth) {
        if (Capture* c = captured(node)) {
            size_t block = 0, at = 0;
            auto putCaptured = [&](size_t n) {
                while (n > 0) {
                    const std::string_view bytes = c->out->block(block).substr(at, n);
                    sink.put(bytes);
                    n -= bytes.size();
                    at += bytes.size();
                    if (at == c->out->block(block).size()) {
                        ++block;
                        at = 0;
                    }
                }
            };
            size_t done = 0;
            for (uint32_t length : c->ends) {
                putCaptured(length);
                done += length;
                progress();
            }
            putCaptured(c->out->size() - done);
        } else if (const ChildWriter* writer = childWriter(node)) {
            TsdXmlWriter w(sink, *this, depth, {}, nullptr);
            w.baseHasChildren_ = true;
            (*writer)(w);
        }
    };
    // Writes a node; for an element with children only its start tag and text, returning true.
    auto open = [&](const TXmlNode& node, size_t depth) {
        const std::string_view ind = indent(depth);
        switch (node.Kind) {
        case nkElement:
        case nkEmptyElement: {
            const Capture* capture = node.hasChildWriter_ ? captured(node) : nullptr;
            const ChildWriter* writer = node.hasChildWriter_ && !capture ? childWriter(node) : nullptr;
            const bool hasChildren = !node.children_.empty() || (capture && capture->out->size() > 0);
            sink.put(ind);
            sink.put("<");
            sink.put(node.Name());
            for (const std::string& a : node.Attributes) {
                sink.put(" ");
                sink.put(a);
            }
            if (writer && !hasChildren) {
                // Whether the element gets children is known once its writer has run: the
                // start tag is completed by the first one, or else below as for a leaf.
                std::string openSuffix = ">" + node.RawText;
                openSuffix += br;
                TsdXmlWriter w(sink, *this, depth, openSuffix, nullptr);
                (*writer)(w);
                if (w.baseHasChildren_) {
                    closeTag(node, depth);
                    return false;
                }
            }
            const bool empty = node.RawText.empty() && !hasChildren && !NeverSelfClose;
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
        const size_t depth = stack.size() - 1;
        if (node.hasChildWriter_) writtenChildren(node, depth);
        closeTag(node, depth);
        stack.pop_back();
        if (!stack.empty()) sink.put(br);
    }

    fireProgress(sink.position());
}

namespace {

// Renders into an output that hands its blocks to the sink; what was collected before a failure
// still reaches the sink, as it would have written piece by piece.
template <class Target>
void renderInto(TsdXmlDocument& document, Target& target, void (*render)(TsdXmlDocument&, detail::Output&)) {
    const detail::Output::FlushFn put = [](void* t, const char* p, size_t n) { static_cast<Target*>(t)->put(p, n); };
    const detail::Output::PositionFn position = [](void* t) { return static_cast<Target*>(t)->position(); };
    detail::Output out = target.bytesUnchanged() ? detail::Output(&target, put, target.position())
                                                 : detail::Output(&target, put, position);
    try {
        render(document, out);
    } catch (...) {
        try {
            out.flush();
        } catch (...) {
        }
        throw;
    }
    out.flush();
}

struct CodecTarget {
    TsdCodecStream& codec;
    // Only then does the position move by the bytes given.
    bool bytesUnchanged() const { return codec.passesBytesOut(); }
    void put(const char* p, size_t n) { codec.putBytes(p, static_cast<int64_t>(n)); }
    int64_t position() { return codec.position(); }
};

struct StreamTarget {
    TStream& stream;
    bool bytesUnchanged() const { return true; }
    void put(const char* p, size_t n) { stream.writeAll(p, static_cast<int64_t>(n)); }
    int64_t position() { return stream.position(); }
};

struct StringTarget {
    std::string& text;
    bool bytesUnchanged() const { return true; }
    void put(const char* p, size_t n) { text.append(p, n); }
    int64_t position() { return static_cast<int64_t>(text.size()); }
};

}  // namespace

void TsdXmlDocument::RenderNodes(TStream& sink) {
    auto run = [](TsdXmlDocument& d, detail::Output& out) { d.render(out); };
    if (auto* codec = dynamic_cast<TsdCodecStream*>(&sink)) {
        CodecTarget target{*codec};
        renderInto(*this, target, run);
    } else {
        StreamTarget target{sink};
        renderInto(*this, target, run);
    }
}

std::string TsdXmlDocument::RenderString() {
    std::string text;
    StringTarget target{text};
    renderInto(*this, target, [](TsdXmlDocument& d, detail::Output& out) { d.render(out); });
    return text;
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
    CodecTarget target{*codec};
    renderInto(*this, target, [](TsdXmlDocument& d, detail::Output& out) { d.render(out); });
    buffered.flush();
}

}  // namespace xml
