#pragma once
// The system's own small XML layer: a document as a tree of nodes, a reader that works one
// character at a time and a writer with a compact and an indented layout. Values live as the
// text of child elements; there are no namespaces, DTDs or validation.
#include "xml/sdCodecStreams.h"
#include "xml/sdStreams.h"
#include "xml/sdXmlErrors.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace xml {

enum TsdNodeKind : uint8_t {
    nkElement = 0,
    nkCloseTag = 1,
    nkEmptyElement = 2,
    nkComment = 3,
    nkCData = 4,
    nkDeclaration = 5,
    nkStylesheet = 6,
    nkDoctype = 7,
    nkSpecial = 8,
    nkInstruction = 9
};

enum TsdXmlLayout : uint8_t { xlIndented = 0, xlCompact = 1 };

struct TTagType {
    const char* opening;
    const char* closing;
    TsdNodeKind kind;
};
inline constexpr int TagTypeCount = 9;
extern const TTagType TagTypes[TagTypeCount];

// Elements nested deeper than this are refused while reading, with an XML format error.
inline constexpr int MaxNestingDepth = 1000;

// "&" first, then "<", ">", "'" and the double quote become entities; nothing else changes.
std::string EscapeText(std::string_view s);
// Decodes the five entities and numeric references ("&#65;", "&#x41;"); in 8-bit mode numbers
// 0-254 become that byte, in UTF-8 mode 0-65534 become their UTF-8 sequence. Anything else is
// kept as written.
std::string UnescapeText(std::string_view s, bool utf8);

// The text form of date-times: a date alone at midnight, else date and time with milliseconds
// and a literal "Z" (the local time is written unconverted).
std::string DateTimeToXmlText(double value);
// False when the text does not hold a valid date.
bool XmlTextToDateTime(std::string_view text, double& value);

class TsdXmlDocument;
template <class Source> class NodeReader;
namespace detail {
class NodePool;
class Output;
}

// Writes elements straight into a document's output while it renders, byte for byte as the
// same elements held as nodes would be written, in the document's layout and with its
// WriteDefaults rule. A large list written this way needs no node per value.
class TsdXmlWriter {
public:
    bool WriteDefaults() const { return writeDefaults_; }

    // Starts a child of the element being written; its children follow until EndElement. The
    // name must stay valid until then. Names are checked as TXmlNode::SetName checks them.
    void BeginElement(std::string_view name);
    void EndElement();

    // A child element holding one value, under the same rules as the TXmlNode setters; each call
    // writes a new child, where a node's setter would change the child it already has.
    void SetChildText(std::string_view name, std::string_view value, std::string_view defaultValue);
    void SetChildInt(std::string_view name, int value, int defaultValue) { SetChildInt64(name, value, defaultValue); }
    void SetChildInt64(std::string_view name, int64_t value, int64_t defaultValue);
    void SetChildBool(std::string_view name, bool value, bool defaultValue);
    void SetChildDate(std::string_view name, double value, double defaultValue);

private:
    friend class TsdXmlDocument;
    struct Open {
        std::string_view name;
        bool hasChildren;
    };
    TsdXmlWriter(detail::Output& out, const TsdXmlDocument& document, size_t depth, std::string_view openSuffix,
                 std::vector<uint32_t>* progress);
    // Closes the start tag of the element that is getting its first child.
    void beginChild();
    void leaf(std::string_view name, std::string_view rawValue, bool escape);
    void endChild();
    std::string_view indent(size_t depth);

    detail::Output& out_;
    const bool writeDefaults_;
    const bool indented_;
    const bool neverSelfClose_;
    const size_t baseDepth_;
    // What completes the start tag of the element the writer fills, before its first child.
    std::string_view openSuffix_;
    bool baseHasChildren_ = false;
    std::vector<Open> open_;
    std::string spaces_;
    // Where each element ended, as the distance from the previous end, for progress events.
    std::vector<uint32_t>* progress_;
    int64_t lastEnd_ = 0;
};

class TXmlNode {
public:
    explicit TXmlNode(TsdXmlDocument* document = nullptr);
    // Frees the whole subtree, however deep, without recursion.
    ~TXmlNode();
    TXmlNode(const TXmlNode&) = delete;
    TXmlNode& operator=(const TXmlNode&) = delete;

    // Nodes made by a document (while reading, or by AddChild) come from its node pool; new
    // takes them from the heap. Either kind is freed with delete, which returns the memory to
    // where it came from.
    static void* operator new(std::size_t size);
    static void operator delete(TXmlNode* node, std::destroying_delete_t);
    static void operator delete(void* memory);

    // Each entry is name=quotedvalue, the value escaped and quoted exactly as it is written.
    std::vector<std::string> Attributes;
    TsdNodeKind Kind = nkElement;

private:
    // Whether the node lives in a node pool; placed here it takes what would be padding.
    bool pooled_;
    // Whether its document holds a writer of further children for it.
    bool hasChildWriter_ = false;

public:
    // The value in stored (escaped) form.
    std::string RawText;

    TsdXmlDocument* document() const { return document_; }
    TXmlNode* parent() const { return parent_; }

    const std::string& Name() const { return name_; }
    // Fails with EsdXmlError "Illegal character in node name "..."" for a name holding a blank.
    void SetName(const std::string& name);

    std::string Text() const;
    void SetText(std::string_view value);

    int childCount() const { return static_cast<int>(children_.size()); }
    // Null out of range.
    TXmlNode* child(int index) const;
    // Appends a node and takes ownership; returns it.
    TXmlNode* addNode(std::unique_ptr<TXmlNode> node);
    // Removes and frees; nothing out of range.
    void deleteChild(int index);
    // Removes without freeing; null out of range.
    std::unique_ptr<TXmlNode> extractChild(int index);
    void clearChildren();
    // Name, text, attributes and children.
    void clear();

    // Name comparisons ignore case in the user's locale; the first match in document order wins.
    static bool SameName(std::string_view a, std::string_view b);
    TXmlNode* FindChild(std::string_view name) const;
    TXmlNode* AddChild(const std::string& name);
    TXmlNode* FindOrAddChild(const std::string& name);
    int ChildIndex(std::string_view name) const;
    void CollectChildren(std::string_view name, std::vector<TXmlNode*>& list) const;

    std::string GetChildText(std::string_view name, const std::string& defaultValue) const;
    int GetChildInt(std::string_view name, int defaultValue) const;
    int64_t GetChildInt64(std::string_view name, int64_t defaultValue) const;
    bool GetChildBool(std::string_view name, bool defaultValue) const;
    double GetChildDate(std::string_view name, double defaultValue) const;
    // The node's own value, read as the GetChild... operations read a child's: a reader that
    // takes many values of one element finds their nodes in one pass.
    int64_t Int64Value(int64_t defaultValue) const;
    int IntValue(int defaultValue) const;
    bool BoolValue(bool defaultValue) const;
    double DateValue(double defaultValue) const;

    // Write the child only when the document writes defaults or the value differs from the
    // default; otherwise an existing child stays as it is and none is created.
    void SetChildText(const std::string& name, std::string_view value, std::string_view defaultValue);
    void SetChildInt(const std::string& name, int value, int defaultValue);
    void SetChildInt64(const std::string& name, int64_t value, int64_t defaultValue);
    void SetChildBool(const std::string& name, bool value, bool defaultValue);
    void SetChildDate(const std::string& name, double value, double defaultValue);

    bool HasAttribute(std::string_view name) const;
    // The value of the first attribute of that name, unquoted and decoded like Text.
    std::string AttributeText(std::string_view name) const;

private:
    friend class TsdXmlDocument;
    template <class Source> friend class NodeReader;

    static void* operator new(std::size_t size, detail::NodePool& pool);
    static void operator delete(void* memory, detail::NodePool& pool);
    struct PooledTag {};
    TXmlNode(TsdXmlDocument* document, PooledTag);
    // A node in the given pool.
    static std::unique_ptr<TXmlNode> create(TsdXmlDocument* document, detail::NodePool& pool);
    // A new node from where this one lives: its pool (which lives as long as this node does,
    // unlike the document), or the heap.
    std::unique_ptr<TXmlNode> createNear(TsdXmlDocument* document) const;

    bool writeDefaults() const;
    bool utf8() const;
    static void freeChildren(std::vector<std::unique_ptr<TXmlNode>>& children, int depth);

    TsdXmlDocument* document_;
    TXmlNode* parent_ = nullptr;
    std::string name_;
    std::vector<std::unique_ptr<TXmlNode>> children_;
};

class TsdXmlDocument {
public:
    using ProgressEvent = std::function<void(TsdXmlDocument& document, int64_t position)>;

    TsdXmlDocument();
    // Fails like TXmlNode::SetName.
    static std::unique_ptr<TsdXmlDocument> CreateWithRoot(const std::string& name);
    ~TsdXmlDocument();
    TsdXmlDocument(const TsdXmlDocument&) = delete;
    TsdXmlDocument& operator=(const TsdXmlDocument&) = delete;

    // The single root element; replaced by every parse, so earlier references die with it.
    TXmlNode* RootNode() const { return root_.get(); }

    std::vector<std::string> CommentLines;
    std::string EncodingText;
    TsdEncodingKind EncodingKind = ekAnsi;
    std::string VersionText;
    std::string StylesheetText;
    // Doctype, special and instruction nodes met outside the root.
    std::vector<std::unique_ptr<TXmlNode>> ExtraNodes;
    TsdXmlLayout Layout = xlCompact;
    bool WriteDefaults = true;
    bool Utf8Flag = false;
    bool NeverSelfClose = false;
    bool DropComments = false;
    ProgressEvent OnProgress;
    // Raised during a parse as each element below the root is complete with all it holds, while
    // it is still the last child of its parent; level 1 is a child of the root. Returning true
    // takes the element out of the tree and frees it, so a reader of a large document can use
    // parts of it as they arrive instead of holding the whole tree.
    std::function<bool(TXmlNode& element, int level)> OnElementRead;
    // Elements deeper than this level are not offered to OnElementRead: a reader that wants only
    // the upper levels is then not called for every value below them.
    int ElementReadMaxLevel = MaxNestingDepth + 1;

    // Parses from the stream's current position through an encoding-detecting codec.
    void LoadStream(TStream& stream);
    // Every byte is one character; no encoding detection.
    void ParseString(std::string_view text);
    // Writes at the stream's current position in the encoding given by EncodingKind.
    void SaveStream(TStream& stream);
    std::string RenderString();

    // Parse from, or render into, any character source or sink; the codec-based operations
    // above are built on these.
    void ParseNodes(TStream& source);
    void RenderNodes(TStream& sink);

    // Lets writer put children of the node straight into the output, after the node's own
    // children, each time the document is rendered; they never exist as nodes, so nothing that
    // reads the tree sees them. With an OnProgress handler (which may let other code run) every
    // writer runs before anything is written, so what the writers read cannot change under
    // them; without one they run in place. Replaces an earlier writer of the node; clearing the
    // node or parsing drops it.
    using ChildWriter = std::function<void(TsdXmlWriter& writer)>;
    void SetChildWriter(TXmlNode& node, ChildWriter writer);

private:
    template <class Source> friend class NodeReader;
    void restoreDefaults();
    void checkRoot() const;
    void fireProgress(int64_t position) {
        if (OnProgress) OnProgress(*this, position);
    }
    template <class Source> void parse(Source& source);
    void render(detail::Output& out);
    const ChildWriter* childWriter(const TXmlNode& node) const;

    std::vector<std::pair<const TXmlNode*, ChildWriter>> childWriters_;

    // Shared with the nodes: it goes when the document and all of its nodes have gone.
    detail::NodePool* pool_;
    std::unique_ptr<TXmlNode> root_;
};

}  // namespace xml
