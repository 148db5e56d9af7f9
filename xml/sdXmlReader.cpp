#include "xml/sdNodePool.h"
#include "xml/sdXmlDocuments.h"
#include "xml/sdXmlText.h"

#include <cstring>

namespace xml {

using detail::isBlank;
using detail::isQuote;

const TTagType TagTypes[TagTypeCount] = {
    {"<![CDATA[", "]]>", nkCData},
    {"<!DOCTYPE", ">", nkDoctype},
    {"<?xml-stylesheet", "?>", nkStylesheet},
    {"<?xml", "?>", nkDeclaration},
    {"<!--", "-->", nkComment},
    {"<!", ">", nkSpecial},
    {"<?", "?>", nkInstruction},
    {"</", ">", nkCloseTag},
    {"<", ">", nkElement},
};

namespace {

// The character sources the reader runs on. Each one is a concrete type so that reading a
// character compiles to a few inline instructions; window()/consume() let the reader take
// runs of plain bytes at once where the encoding allows it.
class MemorySource {
public:
    explicit MemorySource(std::string_view text) : begin_(text.data()), cur_(begin_), end_(begin_ + text.size()) {}
    void start() {}
    bool next(char& c) {
        if (cur_ == end_) return false;
        c = *cur_++;
        return true;
    }
    void back(int count) { cur_ = count > cur_ - begin_ ? begin_ : cur_ - count; }
    const char* window(int64_t& length) const {
        length = end_ - cur_;
        return cur_;
    }
    void consume(int64_t count) { cur_ += count; }
    int64_t position() const { return cur_ - begin_; }
    int64_t size() const { return end_ - begin_; }
    void declareUtf8() {}
    bool utf8Values(const std::string&) const { return false; }

private:
    const char* begin_;
    const char* cur_;
    const char* end_;
};

class CodecSource {
public:
    // loading: the document's UTF-8 flag follows the encoding once the parse is over.
    CodecSource(TsdCodecStream& codec, bool loading) : codec_(codec), loading_(loading) {}
    void start() { codec_.beginRead(); }
    bool next(char& c) { return codec_.getChar(c); }
    void back(int count) { codec_.stepBack(count); }
    const char* window(int64_t& length) const { return codec_.window(length); }
    void consume(int64_t count) { codec_.consume(count); }
    int64_t position() const { return codec_.position(); }
    int64_t size() const { return codec_.size(); }
    // Only 8-bit input switches: both read a byte per character, but the document then knows
    // its values are UTF-8. A 16-bit file keeps its own decoding, whatever it declares.
    void declareUtf8() {
        if (codec_.encodingKind() == ekAnsi) codec_.setEncodingKind(ekUtf8);
    }
    // Whether the values read so far are UTF-8, as the finished load will tell.
    bool utf8Values(const std::string& encodingText) const {
        return loading_ && (codec_.encodingKind() == ekUtf8 || encodingText == "UTF-8");
    }

private:
    TsdCodecStream& codec_;
    bool loading_;
};

class StreamSource {
public:
    explicit StreamSource(TStream& stream) : stream_(stream) {}
    void start() {}
    bool next(char& c) { return stream_.Read(&c, 1) == 1; }
    void back(int count) { stream_.Seek(-count, SeekOrigin::Current); }
    const char* window(int64_t& length) const {
        length = 0;
        return nullptr;
    }
    void consume(int64_t) {}
    int64_t position() const { return stream_.position(); }
    int64_t size() const { return stream_.size(); }
    void declareUtf8() {}
    bool utf8Values(const std::string&) const { return false; }

private:
    TStream& stream_;
};

[[noreturn]] void formatError(const std::string& message) { throw EsdXmlFormatError(message); }

// Splits tag text into words: blanks outside quotes separate words, blanks around "=" vanish and
// a quoted value stays one word with its blanks.
void splitWords(std::string_view text, std::vector<std::string>& words) {
    words.clear();
    text = detail::trimBlanks(text);
    if (text.empty()) return;
    bool plain = true;
    for (char c : text)
        if (isBlank(c) || isQuote(c) || c == '=') plain = false;
    if (plain) {
        words.emplace_back(text);
        return;
    }
    std::string current;
    char quote = 0;
    auto endLine = [&] {
        const std::string_view t = detail::trimBlanks(current);
        if (!t.empty()) words.emplace_back(t);
        current.clear();
    };
    for (char c : text) {
        if (quote) {
            if (c == quote) quote = 0;
            if (c == '\r' || c == '\n') endLine();
            else current += c;
        } else if (isQuote(c)) {
            quote = c;
            current += c;
        } else if (isBlank(c)) {
            endLine();
        } else {
            current += c;
        }
    }
    endLine();
    // Joining a line to the one before it, taken from the last line backwards, gives the same
    // result as appending each such line to the previous kept one going forwards; the forward
    // pass stays linear however many words a tag holds.
    auto joinLines = [&words](auto startsJoined) {
        size_t kept = 0;
        for (size_t i = 0; i < words.size(); ++i) {
            if (kept > 0 && startsJoined(words[i][0])) words[kept - 1] += words[i];
            else if (kept++ != i) words[kept - 1] = std::move(words[i]);
        }
        words.resize(kept);
    };
    joinLines([](char c) { return c == '='; });
    joinLines([](char c) { return isQuote(c); });
}

}  // namespace

template <class Source> class NodeReader {
public:
    NodeReader(TsdXmlDocument& document, Source& source) : document_(document), source_(source) {}

    // Reads one node, with everything nested in it, into a node already attached to its parent.
    // Nesting is followed with an explicit stack, so depth costs heap, never the call stack.
    void readNode(TXmlNode* node) {
        if (!beginNode(node, 0)) return;
        while (depth_ > 0) readContent();
    }

private:
    struct Frame {
        TXmlNode* node = nullptr;
        // Children are gathered here and handed over in one allocation when the element ends.
        std::vector<std::unique_ptr<TXmlNode>> kids;
        bool hasChild = false;
        bool crNoted = false;
        // A child was handed to OnElementRead and is gone.
        bool taken = false;
    };

    // Reads the markup of a node; true when it is an element whose content follows (its frame
    // is then on the stack).
    bool beginNode(TXmlNode* node, size_t level) {
        char c = 0;
        do {
            if (!source_.next(c)) return complete(node);
        } while (isBlank(c));
        if (c != '<') return complete(node);

        const TTagType& tag = identifyMarkup();
        node->Kind = tag.kind;
        if (tag.kind == nkElement) {
            // An element's opening leaves nothing over, so when its ">" is in sight the tag is
            // taken where it stands instead of being copied.
            int64_t length = 0;
            const char* p = source_.window(length);
            if (length > 0) {
                if (const auto* gt = static_cast<const char*>(std::memchr(p, '>', static_cast<size_t>(length)))) {
                    source_.consume(gt - p + 1);
                    return beginElement(node, std::string_view(p, static_cast<size_t>(gt - p)), level, true);
                }
            }
        }
        std::string& text = scratch_;
        text.assign(surplus_);
        const bool closed = readUpTo(tag.closing, text);
        if (tag.kind == nkElement) return beginElement(node, text, level, closed);

        switch (tag.kind) {
        case nkDeclaration:
        case nkStylesheet: break;
        case nkCData: node->name_ = "CData"; break;
        case nkComment: node->name_ = "Comment"; break;
        case nkDoctype: node->name_ = "DTD"; break;
        case nkCloseTag: node->name_ = "Unknown"; break;
        default: node->name_ = "Special"; break;
        }
        if (tag.kind != nkDeclaration && tag.kind != nkStylesheet) {
            node->RawText = text;
            return complete(node);
        }
        splitWords(text, words_);
        if (tag.kind == nkDeclaration) {
            node->name_ = "xml";
            node->Attributes = words_;
            return complete(node);
        }
        node->name_ = "xml-stylesheet";
        node->Attributes = words_;
        node->RawText = detail::trimBlanks(text);
        return complete(node);
    }

    // The tag text of an element, between "<" and ">".
    bool beginElement(TXmlNode* node, std::string_view text, size_t level, bool closed) {
        if (!text.empty() && text.back() == '/') {
            node->Kind = nkEmptyElement;
            text.remove_suffix(1);
        }
        const std::string_view trimmed = detail::trimBlanks(text);
        bool plain = !trimmed.empty();
        for (char ch : trimmed) {
            if (isBlank(ch) || isQuote(ch) || ch == '=') {
                plain = false;
                break;
            }
        }
        if (plain) return openElement(node, trimmed, level, closed);
        splitWords(text, words_);
        if (words_.empty()) formatError("Missing element name");
        node->Attributes.assign(words_.begin() + 1, words_.end());
        return openElement(node, words_[0], level, closed);
    }

    bool openElement(TXmlNode* node, std::string_view name, size_t level, bool closed) {
        node->name_ = name;
        if (node->Kind == nkEmptyElement) return complete(node);
        if (!closed) formatError("Missing close tag in element " + node->name_);
        if (level >= static_cast<size_t>(MaxNestingDepth))
            formatError("Elements nested too deeply in element " + node->name_);
        if (stack_.size() <= depth_) stack_.emplace_back();
        Frame& frame = stack_[depth_++];
        frame.node = node;
        frame.kids.clear();
        frame.hasChild = false;
        frame.crNoted = false;
        frame.taken = false;
        return true;
    }

    // Offers a complete element below the root to OnElementRead; its parent's frame is on top.
    void offer(TXmlNode* node) {
        if (depth_ == 0 || static_cast<int>(depth_) > document_.ElementReadMaxLevel || !document_.OnElementRead)
            return;
        // The element's values decode as they will once the load is finished.
        struct FlagScope {
            bool& flag;
            const bool saved;
            ~FlagScope() { flag = saved; }
        } scope{document_.Utf8Flag, document_.Utf8Flag};
        document_.Utf8Flag = source_.utf8Values(document_.EncodingText);
        if (!document_.OnElementRead(*node, static_cast<int>(depth_))) return;
        Frame& parent = stack_[depth_ - 1];
        parent.kids.pop_back();
        parent.taken = true;
    }

    bool complete(TXmlNode*) {
        if (document_.OnProgress) document_.OnProgress(document_, source_.position());
        return false;
    }

    // Reads while some opening of the markup table still matches; the longest one matched in
    // full wins. Characters read past the winner are kept in surplus_ for the node's text.
    const TTagType& identifyMarkup() {
        surplus_.clear();
        char c = 0;
        if (!source_.next(c)) return TagTypes[TagTypeCount - 1];
        // Only "!", "?" and "/" continue a longer opening; anything else starts an element name.
        if (c != '!' && c != '?' && c != '/') {
            source_.back(1);
            return TagTypes[TagTypeCount - 1];
        }
        std::string& read = markup_;
        read.assign(1, '<');
        read += c;
        while (source_.next(c)) {
            read += c;
            bool any = false;
            for (const TTagType& t : TagTypes) {
                if (std::strncmp(t.opening, read.c_str(), read.size()) == 0) {
                    any = true;
                    break;
                }
            }
            if (!any) {
                read.pop_back();
                source_.back(1);
                break;
            }
        }
        const TTagType* best = &TagTypes[TagTypeCount - 1];
        size_t bestLength = 1;
        for (const TTagType& t : TagTypes) {
            const size_t n = std::strlen(t.opening);
            if (n > bestLength && read.compare(0, n, t.opening) == 0) {
                best = &t;
                bestLength = n;
            }
        }
        surplus_.assign(read, bestLength, std::string::npos);
        return *best;
    }

    // Appends characters up to the closing string and drops it; false when the source ended first.
    bool readUpTo(std::string_view closing, std::string& out) {
        const char last = closing.back();
        auto ended = [&] {
            return out.size() >= closing.size() && out.compare(out.size() - closing.size(), closing.size(), closing) == 0;
        };
        for (;;) {
            int64_t length = 0;
            const char* p = source_.window(length);
            if (length > 0) {
                const auto* hit = static_cast<const char*>(std::memchr(p, last, static_cast<size_t>(length)));
                if (hit && closing.size() == 1) {
                    out.append(p, static_cast<size_t>(hit - p));
                    source_.consume(hit - p + 1);
                    return true;
                }
                const int64_t take = hit ? hit - p + 1 : length;
                out.append(p, static_cast<size_t>(take));
                source_.consume(take);
                if (hit && ended()) {
                    out.resize(out.size() - closing.size());
                    return true;
                }
                continue;
            }
            char c = 0;
            if (!source_.next(c)) return false;
            out += c;
            if (c == last && ended()) {
                out.resize(out.size() - closing.size());
                return true;
            }
        }
    }

    // Reads the content of the innermost open element up to the next markup and handles it.
    // Text before the first child goes straight into the element's value.
    void readContent() {
        Frame& frame = stack_[depth_ - 1];
        int64_t length = 0;
        const char* p = source_.window(length);
        if (length > 0) {
            const auto* lt = static_cast<const char*>(std::memchr(p, '<', static_cast<size_t>(length)));
            const int64_t take = lt ? lt - p : length;
            if (!frame.hasChild) frame.node->RawText.append(p, static_cast<size_t>(take));
            else if (std::memchr(p, '\r', static_cast<size_t>(take))) frame.crNoted = true;
            source_.consume(take);
            if (!lt) return;
            // A close tag in sight is checked where it stands.
            const int64_t rest = length - take;
            if (rest > 2 && lt[1] == '/') {
                if (const auto* gt = static_cast<const char*>(std::memchr(lt + 2, '>', static_cast<size_t>(rest - 2)))) {
                    source_.consume(gt - lt + 1);
                    closeElement(frame, std::string_view(lt + 2, static_cast<size_t>(gt - lt - 2)));
                    return;
                }
            } else if (rest > 1 && lt[1] != '!' && lt[1] != '?' && lt[1] != '/' && !isBlank(lt[1])) {
                // So is the start tag of a child element, as the steps below would read it.
                if (const auto* gt = static_cast<const char*>(std::memchr(lt + 1, '>', static_cast<size_t>(rest - 1)))) {
                    source_.consume(gt - lt + 1);
                    TXmlNode* child = newChild(frame);
                    const size_t parentLevel = depth_ - 1;
                    if (beginElement(child, std::string_view(lt + 1, static_cast<size_t>(gt - lt - 1)), depth_, true))
                        return;
                    childRead(child, parentLevel);
                    return;
                }
            }
        }
        char c = 0;
        if (!source_.next(c)) formatError("Missing close tag in element " + frame.node->name_);
        if (c != '<') {
            if (!frame.hasChild) frame.node->RawText += c;
            else if (c == '\r') frame.crNoted = true;
            return;
        }
        do {
            if (!source_.next(c)) formatError("Missing data after \"<\" in element " + frame.node->name_);
        } while (isBlank(c));

        if (c == '/') {
            std::string& closeText = scratch_;
            closeText.clear();
            if (!readUpTo(">", closeText))
                formatError("Missing \">\" in close tag of element " + frame.node->name_);
            closeElement(frame, closeText);
            return;
        }

        source_.back(2);
        TXmlNode* child = newChild(frame);
        const size_t parentLevel = depth_ - 1;
        // beginNode may grow the stack, so frame must not be used after this.
        if (beginNode(child, depth_)) return;
        childRead(child, parentLevel);
    }

    // A new last child of the innermost open element.
    TXmlNode* newChild(Frame& frame) {
        frame.hasChild = true;
        frame.crNoted = false;
        auto owned = TXmlNode::create(&document_, *document_.pool_);
        TXmlNode* child = owned.get();
        child->parent_ = frame.node;
        frame.kids.push_back(std::move(owned));
        return child;
    }

    // A child whose markup is read and that has no content to follow.
    void childRead(TXmlNode* child, size_t parentLevel) {
        if (child->Kind == nkComment && document_.DropComments) stack_[parentLevel].kids.pop_back();
        else if (child->Kind == nkEmptyElement) offer(child);
    }

    // closeText is what stands between "</" and ">".
    void closeElement(Frame& frame, std::string_view closeText) {
        if (!detail::sameName(detail::trimBlanks(closeText), frame.node->name_))
            formatError("Incorrect close tag in element " + frame.node->name_);
        finishElement(frame);
        --depth_;
        complete(frame.node);
        offer(frame.node);
    }

    // The indented layout puts a line break and indentation after the last child; those are
    // cut at the last CR. A leaf keeps its text exactly.
    static void finishElement(Frame& frame) {
        TXmlNode* node = frame.node;
        if (!frame.kids.empty()) {
            node->children_.reserve(frame.kids.size());
            for (auto& kid : frame.kids) node->children_.push_back(std::move(kid));
            frame.kids.clear();
        }
        if ((!node->children_.empty() || frame.taken) && frame.crNoted) {
            const size_t cr = node->RawText.rfind('\r');
            node->RawText.resize(cr == std::string::npos ? 0 : cr);
        }
    }

    TsdXmlDocument& document_;
    Source& source_;
    std::vector<Frame> stack_;
    size_t depth_ = 0;
    std::string markup_;
    std::string surplus_;
    std::string scratch_;
    std::vector<std::string> words_;
};

void TsdXmlDocument::restoreDefaults() {
    CommentLines.clear();
    EncodingText = "windows-1252";
    EncodingKind = ekAnsi;
    VersionText = "1.0";
    StylesheetText.clear();
    ExtraNodes.clear();
    Layout = xlCompact;
    WriteDefaults = true;
    Utf8Flag = false;
}

template <class Source> void TsdXmlDocument::parse(Source& source) {
    restoreDefaults();
    root_->clear();
    childWriters_.clear();
    source.start();

    auto container = TXmlNode::create(this, *pool_);
    fireProgress(0);
    auto applyDeclaration = [this](const TXmlNode& node) {
        if (node.HasAttribute("version")) VersionText = node.AttributeText("version");
        if (node.HasAttribute("encoding")) EncodingText = node.AttributeText("encoding");
    };
    NodeReader<Source> reader(*this, source);
    for (int64_t pos = source.position(); pos < source.size();) {
        TXmlNode* node = container->addNode(TXmlNode::create(this, *pool_));
        reader.readNode(node);
        // A trailing fragment that makes no character (half a 16-bit unit) must not stall the loop.
        const int64_t now = source.position();
        if (now == pos && node->name_.empty()) {
            container->children_.pop_back();
            break;
        }
        pos = now;
        if (node->Kind == nkDeclaration) {
            applyDeclaration(*node);
            if (EncodingText == "UTF-8") source.declareUtf8();
            // The declaration itself goes, wherever it stands among the top-level nodes.
            container->children_.pop_back();
        } else if (node->name_.empty()) {
            container->children_.pop_back();
        }
    }
    fireProgress(source.size());

    int rootIndex = -1;
    for (int i = 0; i < container->childCount(); ++i) {
        const TsdNodeKind kind = container->child(i)->Kind;
        if (kind != nkElement && kind != nkEmptyElement) continue;
        if (rootIndex >= 0) formatError("More than one root element found in xml");
        rootIndex = i;
    }
    if (rootIndex < 0) formatError("No root element found in xml");

    bool haveStylesheet = false;
    for (int i = 0; i < container->childCount(); ++i) {
        std::unique_ptr<TXmlNode>& node = container->children_[static_cast<size_t>(i)];
        switch (node->Kind) {
        case nkElement:
        case nkEmptyElement: break;
        case nkDeclaration: applyDeclaration(*node); break;
        case nkStylesheet:
            if (haveStylesheet) formatError("Multiple stylesheets in root not supported");
            haveStylesheet = true;
            StylesheetText = node->Text();
            break;
        case nkComment: CommentLines.push_back(node->Text()); break;
        case nkCData: formatError("No CDATA allowed in root");
        default:
            node->parent_ = nullptr;
            ExtraNodes.push_back(std::move(node));
        }
    }
    root_ = std::move(container->children_[static_cast<size_t>(rootIndex)]);
    root_->parent_ = nullptr;
}

void TsdXmlDocument::LoadStream(TStream& stream) {
    TsdBufferedReadStream buffered(&stream, false);
    std::unique_ptr<TsdCodecStream> codec;
    if (Utf8Flag) codec = std::make_unique<TsdUtf8Stream>(&buffered);
    else codec = std::make_unique<TsdAnsiStream>(&buffered);
    CodecSource source(*codec, true);
    parse(source);
    EncodingKind = codec->encodingKind();
    Utf8Flag = EncodingKind == ekUtf8 || EncodingText == "UTF-8";
}

void TsdXmlDocument::ParseString(std::string_view text) {
    MemorySource source(text);
    parse(source);
}

void TsdXmlDocument::ParseNodes(TStream& source) {
    if (auto* codec = dynamic_cast<TsdCodecStream*>(&source)) {
        CodecSource s(*codec, false);
        parse(s);
    } else {
        StreamSource s(source);
        parse(s);
    }
}

}  // namespace xml
