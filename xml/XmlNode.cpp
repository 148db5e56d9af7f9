#include "xml/sdNodePool.h"
#include "xml/sdXmlDocuments.h"
#include "xml/sdXmlText.h"

namespace xml {

using detail::sameName;

TXmlNode::TXmlNode(TsdXmlDocument* document) : pooled_(false), document_(document) {}

TXmlNode::TXmlNode(TsdXmlDocument* document, PooledTag) : pooled_(true), document_(document) {}

void* TXmlNode::operator new(std::size_t size) { return ::operator new(size); }

void TXmlNode::operator delete(void* memory) { ::operator delete(memory); }

void TXmlNode::operator delete(TXmlNode* node, std::destroying_delete_t) {
    const bool pooled = node->pooled_;
    node->~TXmlNode();
    if (pooled) detail::NodePool::release(node);
    else ::operator delete(node);
}

std::unique_ptr<TXmlNode> TXmlNode::createNear(TsdXmlDocument* document) const {
    if (pooled_) return create(document, detail::NodePool::of(this));
    return std::make_unique<TXmlNode>(document);
}

namespace {

// Below this depth a subtree is freed by recursion, children in the order they were made,
// which is the kindest order for the allocator; deeper trees are flattened onto the heap.
constexpr int RecursiveFreeDepth = 128;

}  // namespace

TXmlNode::~TXmlNode() {
    if (!children_.empty()) freeChildren(children_, 0);
}

void TXmlNode::clearChildren() { freeChildren(children_, 0); }

void TXmlNode::freeChildren(std::vector<std::unique_ptr<TXmlNode>>& children, int depth) {
    if (depth < RecursiveFreeDepth) {
        for (auto& c : children) {
            if (c && !c->children_.empty()) freeChildren(c->children_, depth + 1);
            c.reset();
        }
        children.clear();
        return;
    }
    std::vector<std::unique_ptr<TXmlNode>> pending = std::move(children);
    children.clear();
    while (!pending.empty()) {
        std::unique_ptr<TXmlNode> node = std::move(pending.back());
        pending.pop_back();
        if (!node) continue;
        for (auto& c : node->children_) pending.push_back(std::move(c));
        node->children_.clear();
    }
}

void TXmlNode::clear() {
    hasChildWriter_ = false;
    name_.clear();
    RawText.clear();
    Attributes.clear();
    clearChildren();
}

void TXmlNode::SetName(const std::string& name) {
    if (name == name_) return;
    for (char c : name)
        if (detail::isBlank(c)) throw EsdXmlError("Illegal character in node name \"" + name + "\"");
    name_ = name;
}

bool TXmlNode::writeDefaults() const { return document_ ? document_->WriteDefaults : true; }

bool TXmlNode::utf8() const { return document_ && document_->Utf8Flag; }

std::string TXmlNode::Text() const { return UnescapeText(RawText, utf8()); }

void TXmlNode::SetText(std::string_view value) { RawText = EscapeText(value); }

TXmlNode* TXmlNode::child(int index) const {
    if (index < 0 || index >= childCount()) return nullptr;
    return children_[static_cast<size_t>(index)].get();
}

TXmlNode* TXmlNode::addNode(std::unique_ptr<TXmlNode> node) {
    if (!node) return nullptr;
    node->parent_ = this;
    children_.push_back(std::move(node));
    return children_.back().get();
}

void TXmlNode::deleteChild(int index) { extractChild(index); }

std::unique_ptr<TXmlNode> TXmlNode::extractChild(int index) {
    if (index < 0 || index >= childCount()) return nullptr;
    std::unique_ptr<TXmlNode> node = std::move(children_[static_cast<size_t>(index)]);
    children_.erase(children_.begin() + index);
    node->parent_ = nullptr;
    return node;
}

bool TXmlNode::SameName(std::string_view a, std::string_view b) { return sameName(a, b); }

TXmlNode* TXmlNode::FindChild(std::string_view name) const {
    for (const auto& c : children_)
        if (sameName(c->name_, name)) return c.get();
    return nullptr;
}

TXmlNode* TXmlNode::AddChild(const std::string& name) {
    auto node = createNear(document_);
    node->SetName(name);
    return addNode(std::move(node));
}

TXmlNode* TXmlNode::FindOrAddChild(const std::string& name) {
    TXmlNode* node = FindChild(name);
    return node ? node : AddChild(name);
}

int TXmlNode::ChildIndex(std::string_view name) const {
    for (size_t i = 0; i < children_.size(); ++i)
        if (sameName(children_[i]->name_, name)) return static_cast<int>(i);
    return -1;
}

void TXmlNode::CollectChildren(std::string_view name, std::vector<TXmlNode*>& list) const {
    list.clear();
    for (const auto& c : children_)
        if (sameName(c->name_, name)) list.push_back(c.get());
}

std::string TXmlNode::GetChildText(std::string_view name, const std::string& defaultValue) const {
    const TXmlNode* node = FindChild(name);
    return node ? node->Text() : defaultValue;
}

int64_t TXmlNode::Int64Value(int64_t defaultValue) const {
    int64_t value = 0;
    return detail::parseInt64(RawText, value) ? value : defaultValue;
}

int TXmlNode::IntValue(int defaultValue) const {
    const int64_t value = Int64Value(defaultValue);
    if (value < INT32_MIN || value > INT32_MAX) return defaultValue;
    return static_cast<int>(value);
}

bool TXmlNode::BoolValue(bool defaultValue) const {
    if (RawText.empty()) return defaultValue;
    const std::string& s = RawText;
    const char first = static_cast<char>(s[0] >= 'a' && s[0] <= 'z' ? s[0] - 32 : s[0]);
    // "TRUE" and "FALSE" begin with T and F, so the first letter decides.
    if (first == 'T' || first == 'Y') return true;
    if (first == 'F' || first == 'N') return false;
    return defaultValue;
}

double TXmlNode::DateValue(double defaultValue) const {
    double value = 0;
    // Without an entity the text is the stored form itself, and needs no decoded copy.
    if (RawText.find('&') == std::string::npos) return XmlTextToDateTime(RawText, value) ? value : defaultValue;
    return XmlTextToDateTime(Text(), value) ? value : defaultValue;
}

namespace {

// The value of the first child of that name, or the default when there is none.
template <class T> T childValue(const TXmlNode& node, std::string_view name, T defaultValue, T (TXmlNode::*read)(T) const) {
    const TXmlNode* child = node.FindChild(name);
    return child ? (child->*read)(defaultValue) : defaultValue;
}

}  // namespace

int64_t TXmlNode::GetChildInt64(std::string_view name, int64_t defaultValue) const {
    return childValue(*this, name, defaultValue, &TXmlNode::Int64Value);
}

int TXmlNode::GetChildInt(std::string_view name, int defaultValue) const {
    return childValue(*this, name, defaultValue, &TXmlNode::IntValue);
}

bool TXmlNode::GetChildBool(std::string_view name, bool defaultValue) const {
    return childValue(*this, name, defaultValue, &TXmlNode::BoolValue);
}

double TXmlNode::GetChildDate(std::string_view name, double defaultValue) const {
    return childValue(*this, name, defaultValue, &TXmlNode::DateValue);
}

void TXmlNode::SetChildText(const std::string& name, std::string_view value, std::string_view defaultValue) {
    if (writeDefaults() || value != defaultValue) FindOrAddChild(name)->SetText(value);
}

void TXmlNode::SetChildInt(const std::string& name, int value, int defaultValue) {
    SetChildInt64(name, value, defaultValue);
}

void TXmlNode::SetChildInt64(const std::string& name, int64_t value, int64_t defaultValue) {
    if (writeDefaults() || value != defaultValue) FindOrAddChild(name)->SetText(std::to_string(value));
}

void TXmlNode::SetChildBool(const std::string& name, bool value, bool defaultValue) {
    if (writeDefaults() || value != defaultValue) FindOrAddChild(name)->SetText(value ? "True" : "False");
}

void TXmlNode::SetChildDate(const std::string& name, double value, double defaultValue) {
    if (writeDefaults() || value != defaultValue) SetChildText(name, DateTimeToXmlText(value), "");
}

namespace {

std::string_view attributeName(std::string_view attribute) {
    const size_t eq = attribute.find('=');
    return eq == std::string_view::npos ? attribute : attribute.substr(0, eq);
}

}  // namespace

bool TXmlNode::HasAttribute(std::string_view name) const {
    for (const std::string& a : Attributes)
        if (sameName(attributeName(a), name)) return true;
    return false;
}

std::string TXmlNode::AttributeText(std::string_view name) const {
    for (const std::string& a : Attributes) {
        if (!sameName(attributeName(a), name)) continue;
        const size_t eq = a.find('=');
        if (eq == std::string::npos) return std::string();
        return UnescapeText(detail::dequoted(std::string_view(a).substr(eq + 1)), utf8());
    }
    return std::string();
}

}  // namespace xml
