#include "mailtext/HtmlText.h"

#include "platform/CodePage.h"

#include <libxml/HTMLparser.h>
#include <libxml/tree.h>

#include <climits>
#include <cstring>
#include <memory>
#include <vector>

namespace mailtext {

namespace {

bool isName(const xmlNode* node, std::initializer_list<const char*> names) {
    const char* name = reinterpret_cast<const char*>(node->name);
    if (!name) return false;
    for (const char* n : names)
        if (std::strcmp(name, n) == 0) return true;
    return false;
}

// Collects visible text as UTF-8, turning blocks into line breaks and collapsing white space the
// way a browser lays out text.
class TextCollector {
public:
    void text(const char* s, bool preformatted) {
        for (; *s; ++s) {
            char c = *s;
            if (!preformatted && (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f')) {
                pendingSpace_ = true;
                continue;
            }
            if (preformatted && c == '\r') continue;
            flushBreaks();
            if (pendingSpace_ && !atLineStart()) out_ += ' ';
            pendingSpace_ = false;
            out_ += c;
        }
    }
    // 1: the next text starts a new line; 2: it starts a new paragraph.
    void block(int breaks) {
        if (breaks > pendingBreaks_) pendingBreaks_ = breaks;
        pendingSpace_ = false;
    }
    void lineBreak() {
        flushBreaks();
        out_ += '\n';
        pendingSpace_ = false;
    }
    std::string result() const {
        std::string crlf;
        crlf.reserve(out_.size() + out_.size() / 16);
        size_t start = 0;
        while (start < out_.size()) {
            size_t end = out_.find('\n', start);
            if (end == std::string::npos) end = out_.size();
            size_t e = end;
            while (e > start && out_[e - 1] == ' ') --e;
            crlf.append(out_, start, e - start);
            crlf += "\r\n";
            start = end + 1;
        }
        return crlf;
    }

private:
    bool atLineStart() const { return out_.empty() || out_.back() == '\n'; }
    void flushBreaks() {
        if (out_.empty()) {
            pendingBreaks_ = 0;
            return;
        }
        while (pendingBreaks_ > 0) {
            int have = 0;
            for (size_t i = out_.size(); i > 0 && out_[i - 1] == '\n' && have < 2; --i) ++have;
            if (have < pendingBreaks_) out_ += '\n';
            else pendingBreaks_ = 0;
        }
        pendingSpace_ = pendingSpace_ && !atLineStart();
    }

    std::string out_;
    int pendingBreaks_ = 0;
    bool pendingSpace_ = false;
};

int breaksAround(const xmlNode* node) {
    if (isName(node, {"p", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote", "pre", "table", "ul",
                      "ol", "dl", "hr", "address", "fieldset"}))
        return 2;
    if (isName(node, {"div", "li", "tr", "dt", "dd", "section", "article", "header", "footer", "nav",
                      "aside", "form", "center", "caption", "main", "figure", "body"}))
        return 1;
    return 0;
}

struct DocFree {
    void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};

// Mails from anyone carry broken HTML and bad bytes; the library would report each on stderr.
void quiet(void*, const char*, ...) {}

}  // namespace

std::string htmlToText(std::string_view html) {
    if (html.empty() || html.size() > static_cast<size_t>(INT_MAX)) return {};
    xmlSetGenericErrorFunc(nullptr, quiet);
    std::unique_ptr<xmlDoc, DocFree> doc(htmlReadMemory(
        html.data(), static_cast<int>(html.size()), nullptr, platform::codePageName(),
        HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET |
            HTML_PARSE_COMPACT | XML_PARSE_HUGE));
    if (!doc) return {};
    xmlNode* root = xmlDocGetRootElement(doc.get());
    if (!root) return {};

    TextCollector out;
    // Walked without recursion: hostile documents can nest deeper than the stack allows.
    struct Frame {
        xmlNode* node;
        bool leaving;
        bool pre;
    };
    std::vector<Frame> stack{{root, false, false}};
    while (!stack.empty()) {
        Frame f = stack.back();
        stack.pop_back();
        xmlNode* n = f.node;
        if (f.leaving) {
            if (int b = breaksAround(n)) out.block(b);
            continue;
        }
        if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE) {
            if (n->content) out.text(reinterpret_cast<const char*>(n->content), f.pre);
            continue;
        }
        if (n->type != XML_ELEMENT_NODE) continue;
        if (isName(n, {"script", "style", "head", "title", "noscript", "template", "object"}))
            continue;
        if (isName(n, {"br"})) {
            out.lineBreak();
            continue;
        }
        if (isName(n, {"td", "th"})) out.text(" ", false);
        if (int b = breaksAround(n)) out.block(b);
        bool pre = f.pre || isName(n, {"pre", "textarea", "listing", "xmp", "plaintext"});
        stack.push_back({n, true, pre});
        std::vector<xmlNode*> children;
        for (xmlNode* c = n->children; c; c = c->next) children.push_back(c);
        for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back({*it, false, pre});
    }
    return platform::fromUtf8(out.result());
}

}  // namespace mailtext
