// Pages through gumbo's HTML parser and out again as XHTML that EPUB
// checkers accept.
//
// The parser repairs what browsers repair (unclosed elements, misnested
// tags, tables); what remains is made valid here, on the tree: elements of
// today's HTML are kept with the attributes they may have, the old
// presentational ones are mapped (center to div, tt to code) or give up
// their element and keep their content (font, nobr, unknown tags), scripts,
// plug-ins, frames and form controls are left out. An inline element that
// holds a block becomes a div, list and definition-list items outside their
// lists become divs, and what a list holds outside its items joins the item
// before it. Every id becomes a valid XML name, unique in the page, and the
// name of an <a> becomes its id, so that links to it keep working.
//
// The tree is walked to a fixed depth; deeper elements give their text
// alone, and the tree is flattened before gumbo frees it (gumbo frees it
// recursively), so no page makes anything recurse without bound.
#include <gumbo.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "host/export/export.h"
#include "platform/text.h"

namespace {

// Elements below this depth give their text alone.
constexpr int MaxDepth = 200;

enum class Role {
    Keep,    // written, perhaps under another name
    Unwrap,  // its content without the element
    Drop,    // left out with its content
    Head,    // title, style, link, meta: read, not written where they stand
};
enum Kind : unsigned {
    Block = 1,         // only where flow content may be
    PhrasingOnly = 2,  // holds only inline content
    Void = 4,          // no content, written as <x/>
};
struct Rule {
    Role role = Role::Unwrap;
    const char* name = nullptr;  // written name
    unsigned kind = 0;
};

struct RuleEntry {
    const char* tag;
    Rule rule;
};

const RuleEntry RuleTable[] = {
    // Flow containers and blocks.
    {"div", {Role::Keep, "div", Block}},
    {"p", {Role::Keep, "p", Block | PhrasingOnly}},
    {"blockquote", {Role::Keep, "blockquote", Block}},
    {"center", {Role::Keep, "div", Block}},
    {"address", {Role::Keep, "address", Block}},
    {"article", {Role::Keep, "article", Block}},
    {"aside", {Role::Keep, "aside", Block}},
    {"section", {Role::Keep, "section", Block}},
    {"header", {Role::Keep, "header", Block}},
    {"footer", {Role::Keep, "footer", Block}},
    {"main", {Role::Keep, "div", Block}},
    {"nav", {Role::Keep, "div", Block}},
    {"figure", {Role::Keep, "figure", Block}},
    {"figcaption", {Role::Keep, "figcaption", Block}},
    {"details", {Role::Keep, "div", Block}},
    {"summary", {Role::Keep, "div", Block}},
    {"h1", {Role::Keep, "h1", Block | PhrasingOnly}},
    {"h2", {Role::Keep, "h2", Block | PhrasingOnly}},
    {"h3", {Role::Keep, "h3", Block | PhrasingOnly}},
    {"h4", {Role::Keep, "h4", Block | PhrasingOnly}},
    {"h5", {Role::Keep, "h5", Block | PhrasingOnly}},
    {"h6", {Role::Keep, "h6", Block | PhrasingOnly}},
    {"pre", {Role::Keep, "pre", Block | PhrasingOnly}},
    {"listing", {Role::Keep, "pre", Block | PhrasingOnly}},
    {"xmp", {Role::Keep, "pre", Block | PhrasingOnly}},
    {"plaintext", {Role::Keep, "pre", Block | PhrasingOnly}},
    {"hr", {Role::Keep, "hr", Block | Void}},
    {"ul", {Role::Keep, "ul", Block}},
    {"ol", {Role::Keep, "ol", Block}},
    {"dir", {Role::Keep, "ul", Block}},
    {"menu", {Role::Keep, "ul", Block}},
    {"li", {Role::Keep, "li", Block}},
    {"dl", {Role::Keep, "dl", Block}},
    {"dt", {Role::Keep, "dt", Block}},
    {"dd", {Role::Keep, "dd", Block}},
    {"table", {Role::Keep, "table", Block}},
    {"caption", {Role::Keep, "caption", Block}},
    {"colgroup", {Role::Keep, "colgroup", Block}},
    {"col", {Role::Keep, "col", Block | Void}},
    {"thead", {Role::Keep, "thead", Block}},
    {"tbody", {Role::Keep, "tbody", Block}},
    {"tfoot", {Role::Keep, "tfoot", Block}},
    {"tr", {Role::Keep, "tr", Block}},
    {"td", {Role::Keep, "td", Block}},
    {"th", {Role::Keep, "th", Block}},
    // Inline.
    {"a", {Role::Keep, "a", 0}},
    {"span", {Role::Keep, "span", PhrasingOnly}},
    {"b", {Role::Keep, "b", PhrasingOnly}},
    {"i", {Role::Keep, "i", PhrasingOnly}},
    {"u", {Role::Keep, "u", PhrasingOnly}},
    {"s", {Role::Keep, "s", PhrasingOnly}},
    {"strike", {Role::Keep, "s", PhrasingOnly}},
    {"em", {Role::Keep, "em", PhrasingOnly}},
    {"strong", {Role::Keep, "strong", PhrasingOnly}},
    {"small", {Role::Keep, "small", PhrasingOnly}},
    {"sub", {Role::Keep, "sub", PhrasingOnly}},
    {"sup", {Role::Keep, "sup", PhrasingOnly}},
    {"code", {Role::Keep, "code", PhrasingOnly}},
    {"tt", {Role::Keep, "code", PhrasingOnly}},
    {"kbd", {Role::Keep, "kbd", PhrasingOnly}},
    {"samp", {Role::Keep, "samp", PhrasingOnly}},
    {"var", {Role::Keep, "var", PhrasingOnly}},
    {"cite", {Role::Keep, "cite", PhrasingOnly}},
    {"dfn", {Role::Keep, "dfn", PhrasingOnly}},
    {"abbr", {Role::Keep, "abbr", PhrasingOnly}},
    {"acronym", {Role::Keep, "abbr", PhrasingOnly}},
    {"q", {Role::Keep, "q", PhrasingOnly}},
    {"mark", {Role::Keep, "mark", PhrasingOnly}},
    {"bdo", {Role::Keep, "bdo", PhrasingOnly}},
    {"bdi", {Role::Keep, "bdi", PhrasingOnly}},
    {"time", {Role::Keep, "span", PhrasingOnly}},
    {"ruby", {Role::Keep, "ruby", PhrasingOnly}},
    {"rt", {Role::Keep, "rt", PhrasingOnly}},
    {"rp", {Role::Keep, "rp", PhrasingOnly}},
    {"ins", {Role::Unwrap, nullptr, 0}},
    {"del", {Role::Unwrap, nullptr, 0}},
    {"br", {Role::Keep, "br", Void}},
    {"wbr", {Role::Keep, "wbr", Void}},
    {"img", {Role::Keep, "img", Void}},
    // Their content without them.
    {"font", {Role::Unwrap, nullptr, 0}},
    {"big", {Role::Unwrap, nullptr, 0}},
    {"nobr", {Role::Unwrap, nullptr, 0}},
    {"blink", {Role::Unwrap, nullptr, 0}},
    {"marquee", {Role::Unwrap, nullptr, 0}},
    {"form", {Role::Unwrap, nullptr, 0}},
    {"label", {Role::Unwrap, nullptr, 0}},
    {"fieldset", {Role::Unwrap, nullptr, 0}},
    {"legend", {Role::Unwrap, nullptr, 0}},
    {"noscript", {Role::Unwrap, nullptr, 0}},
    {"noframes", {Role::Unwrap, nullptr, 0}},
    {"body", {Role::Unwrap, nullptr, 0}},
    {"html", {Role::Unwrap, nullptr, 0}},
    // Left out.
    {"script", {Role::Drop, nullptr, 0}},
    {"object", {Role::Drop, nullptr, 0}},
    {"embed", {Role::Drop, nullptr, 0}},
    {"applet", {Role::Drop, nullptr, 0}},
    {"param", {Role::Drop, nullptr, 0}},
    {"iframe", {Role::Drop, nullptr, 0}},
    {"frame", {Role::Drop, nullptr, 0}},
    {"frameset", {Role::Drop, nullptr, 0}},
    {"map", {Role::Drop, nullptr, 0}},
    {"area", {Role::Drop, nullptr, 0}},
    {"canvas", {Role::Drop, nullptr, 0}},
    {"audio", {Role::Drop, nullptr, 0}},
    {"video", {Role::Drop, nullptr, 0}},
    {"source", {Role::Drop, nullptr, 0}},
    {"track", {Role::Drop, nullptr, 0}},
    {"template", {Role::Drop, nullptr, 0}},
    {"input", {Role::Drop, nullptr, 0}},
    {"button", {Role::Drop, nullptr, 0}},
    {"select", {Role::Drop, nullptr, 0}},
    {"textarea", {Role::Drop, nullptr, 0}},
    {"option", {Role::Drop, nullptr, 0}},
    {"optgroup", {Role::Drop, nullptr, 0}},
    {"datalist", {Role::Drop, nullptr, 0}},
    {"keygen", {Role::Drop, nullptr, 0}},
    {"output", {Role::Drop, nullptr, 0}},
    {"progress", {Role::Drop, nullptr, 0}},
    {"meter", {Role::Drop, nullptr, 0}},
    {"dialog", {Role::Drop, nullptr, 0}},
    {"basefont", {Role::Drop, nullptr, 0}},
    {"bgsound", {Role::Drop, nullptr, 0}},
    {"base", {Role::Drop, nullptr, 0}},
    {"head", {Role::Drop, nullptr, 0}},
    {"title", {Role::Head, nullptr, 0}},
    {"style", {Role::Head, nullptr, 0}},
    {"link", {Role::Head, nullptr, 0}},
    {"meta", {Role::Head, nullptr, 0}},
};

// The rule of every gumbo tag, made once.
const std::array<Rule, GUMBO_TAG_LAST + 1>& Rules()
{
    static const std::array<Rule, GUMBO_TAG_LAST + 1> rules = [] {
        std::array<Rule, GUMBO_TAG_LAST + 1> made {};
        std::unordered_map<std::string, Rule> byName;
        for (const RuleEntry& entry : RuleTable)
            byName[entry.tag] = entry.rule;
        for (int tag = 0; tag < GUMBO_TAG_LAST; ++tag) {
            auto found = byName.find(gumbo_normalized_tagname((GumboTag)tag));
            if (found != byName.end())
                made[tag] = found->second;
        }
        return made;
    }();
    return rules;
}

bool IsElement(const GumboNode* node)
{
    return node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE;
}

// An element's rule: elements of SVG and MathML are left out.
Rule RuleOf(const GumboNode* node)
{
    if (node->type == GUMBO_NODE_TEMPLATE || node->v.element.tag_namespace != GUMBO_NAMESPACE_HTML)
        return {Role::Drop, nullptr, 0};
    GumboTag tag = node->v.element.tag;
    if (tag < 0 || tag >= GUMBO_TAG_LAST)
        return {};
    return Rules()[tag];
}

const char* Attribute(const GumboNode* node, const char* name)
{
    const GumboAttribute* attribute = gumbo_get_attribute(&node->v.element.attributes, name);
    return attribute ? attribute->value : nullptr;
}

bool IsTag(const GumboNode* node, GumboTag tag)
{
    return IsElement(node) && node->v.element.tag == tag &&
        node->v.element.tag_namespace == GUMBO_NAMESPACE_HTML;
}

const GumboVector* Children(const GumboNode* node)
{
    if (node->type == GUMBO_NODE_DOCUMENT)
        return &node->v.document.children;
    if (IsElement(node))
        return &node->v.element.children;
    return nullptr;
}

// "a b" as "a_b": an id as a valid XML name, never empty.
std::string IdName(const std::string& value)
{
    std::string id;
    for (unsigned char c : value)
        id += (IsAsciiAlnum((char)c) || c == '_' || c == '-' || c == '.') ? (char)c : '_';
    if (id.empty() ||
        !((id[0] >= 'A' && id[0] <= 'Z') || (id[0] >= 'a' && id[0] <= 'z') || id[0] == '_'))
        id = "a" + id;
    return id;
}

std::string Trimmed(const std::string& text)
{
    std::string out;
    bool space = false;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f') {
            space = !out.empty();
            continue;
        }
        if (space)
            out += ' ';
        space = false;
        out += c;
    }
    return out;
}

// The text of a subtree, without recursion.
std::string SubtreeText(const GumboNode* node)
{
    std::string text;
    std::vector<const GumboNode*> stack {node};
    while (!stack.empty()) {
        const GumboNode* top = stack.back();
        stack.pop_back();
        if (top->type == GUMBO_NODE_TEXT || top->type == GUMBO_NODE_WHITESPACE ||
            top->type == GUMBO_NODE_CDATA) {
            text += top->v.text.text;
            continue;
        }
        // Below node, what is not written gives no text (node itself may be
        // a title).
        if (IsElement(top) &&
            (top == node || (RuleOf(top).role != Role::Drop && RuleOf(top).role != Role::Head))) {
            const GumboVector* children = Children(top);
            for (unsigned i = children->length; i > 0; --i)
                stack.push_back((const GumboNode*)children->data[i - 1]);
        }
    }
    return text;
}

// The body, or null for a page without one (a frameset).
const GumboNode* Body(const GumboOutput* output)
{
    const GumboVector& children = output->root->v.element.children;
    for (unsigned i = 0; i < children.length; ++i)
        if (IsTag((const GumboNode*)children.data[i], GUMBO_TAG_BODY))
            return (const GumboNode*)children.data[i];
    return nullptr;
}

// What the walk over the body finds before anything is written: the ids
// every element gets and which elements hold a block.
struct Analysis {
    std::unordered_map<const GumboNode*, std::string> idOf;
    std::unordered_map<std::string, std::string> ids;  // anchor as linked -> id
    std::unordered_set<std::string> taken;
    std::unordered_set<const GumboNode*> holdsBlock;
    std::vector<std::string> anchors;  // as written, in document order

    void Name(const GumboNode* node)
    {
        const char* id = Attribute(node, "id");
        const char* name = IsTag(node, GUMBO_TAG_A) ? Attribute(node, "name") : nullptr;
        if ((id == nullptr || *id == '\0') && (name == nullptr || *name == '\0'))
            return;
        std::string wanted = IdName(id && *id ? id : name);
        std::string chosen = wanted;
        for (int n = 2; taken.count(chosen); ++n)
            chosen = wanted + "_" + std::to_string(n);
        taken.insert(chosen);
        idOf[node] = chosen;
        anchors.push_back(id && *id ? id : name);
        if (id && *id)
            ids.emplace(id, chosen);
        if (name && *name)
            ids.emplace(name, chosen);
    }

    // Whether node's written content holds a block element.
    bool Walk(const GumboNode* node, int depth)
    {
        bool block = false;
        const GumboVector* children = Children(node);
        for (unsigned i = 0; children && i < children->length; ++i) {
            const GumboNode* child = (const GumboNode*)children->data[i];
            if (!IsElement(child) || depth + 1 > MaxDepth)
                continue;
            Rule rule = RuleOf(child);
            if (rule.role == Role::Drop || rule.role == Role::Head)
                continue;
            if (rule.role == Role::Keep)
                Name(child);
            bool inner = Walk(child, depth + 1);
            if (inner)
                holdsBlock.insert(child);
            block = block || inner || (rule.role == Role::Keep && (rule.kind & Block));
        }
        return block;
    }
};

Analysis Analyze(const GumboOutput* output)
{
    Analysis analysis;
    if (const GumboNode* body = Body(output))
        analysis.Walk(body, 0);
    return analysis;
}

bool IsLanguageTag(const char* value)
{
    size_t run = 0, length = strlen(value);
    if (length == 0)
        return false;
    for (size_t i = 0; i <= length; ++i) {
        char c = value[i];
        if (c == '-' || c == '\0') {
            if (run == 0 || run > 8)
                return false;
            run = 0;
        } else if (IsAsciiAlnum(c)) {
            ++run;
        } else {
            return false;
        }
    }
    return true;
}

bool IsNumber(const char* value, bool positive)
{
    size_t length = strlen(value);
    if (length == 0 || length > 6)
        return false;
    for (size_t i = 0; i < length; ++i)
        if (value[i] < '0' || value[i] > '9')
            return false;
    return !positive || atoi(value) > 0;
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = FoldAscii(c);
    return text;
}

class Writer {
public:
    Writer(const Analysis& analysis, const MarkupPolicy& policy, CleanPage& page)
        : analysis_(analysis)
        , policy_(policy)
        , page_(page)
    {
    }

    void Children(const GumboNode* node, const std::string& parent, int depth)
    {
        const GumboVector* children = ::Children(node);
        if (!children)
            return;
        if (parent == "ul" || parent == "ol" || parent == "dl") {
            ListChildren(*children, parent, depth);
            return;
        }
        for (unsigned i = 0; i < children->length; ++i)
            Node((const GumboNode*)children->data[i], parent, depth + 1);
    }

    void Node(const GumboNode* node, const std::string& parent, int depth)
    {
        switch (node->type) {
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_WHITESPACE:
        case GUMBO_NODE_CDATA:
            out_ += EscapeXml(node->v.text.text);
            return;
        case GUMBO_NODE_ELEMENT:
        case GUMBO_NODE_TEMPLATE:
            Element(node, parent, depth);
            return;
        default:
            return;
        }
    }

    std::string Take()
    {
        return std::move(out_);
    }

private:
    // A list's children: what stands outside its items joins the item
    // before it, or an item of its own.
    void ListChildren(const GumboVector& children, const std::string& parent, int depth)
    {
        const char* itemName = parent == "dl" ? "dd" : "li";
        std::string open;  // the item left open
        for (unsigned i = 0; i < children.length; ++i) {
            const GumboNode* child = (const GumboNode*)children.data[i];
            bool item = IsElement(child) && depth + 1 <= MaxDepth &&
                RuleOf(child).role == Role::Keep &&
                (parent == "dl" ? (IsTag(child, GUMBO_TAG_DT) || IsTag(child, GUMBO_TAG_DD))
                                : IsTag(child, GUMBO_TAG_LI));
            if (item) {
                if (!open.empty())
                    out_ += "</" + open + ">";
                open = ElementOpen(child, parent, depth + 1);
                continue;
            }
            bool blank = child->type == GUMBO_NODE_WHITESPACE ||
                child->type == GUMBO_NODE_COMMENT ||
                (IsElement(child) &&
                 (RuleOf(child).role == Role::Drop || RuleOf(child).role == Role::Head));
            if (blank && open.empty()) {
                if (child->type == GUMBO_NODE_WHITESPACE)
                    out_ += child->v.text.text;
                continue;
            }
            if (open.empty()) {
                out_ += std::string("<") + itemName + ">";
                open = itemName;
            }
            Node(child, open, depth + 1);
        }
        if (!open.empty())
            out_ += "</" + open + ">";
    }

    // The name an element is written under, in its parent.
    std::string NameOf(const GumboNode* node, const Rule& rule, const std::string& parent)
    {
        std::string name = rule.name;
        if ((rule.kind & PhrasingOnly) && analysis_.holdsBlock.count(node))
            return "div";
        if (name == "li" && parent != "ul" && parent != "ol")
            return "div";
        if ((name == "dt" || name == "dd") && parent != "dl")
            return "div";
        if (name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6') {
            int level = name[1] - '0' + policy_.headingShift;
            name[1] = (char)('0' + (level > 6 ? 6 : level < 1 ? 1 : level));
        }
        return name;
    }

    void Element(const GumboNode* node, const std::string& parent, int depth)
    {
        if (depth > MaxDepth) {
            out_ += EscapeXml(SubtreeText(node));
            return;
        }
        Rule rule = RuleOf(node);
        if (rule.role == Role::Drop || rule.role == Role::Head)
            return;
        if (rule.role == Role::Unwrap) {
            Children(node, parent, depth);
            return;
        }
        std::string open = ElementOpen(node, parent, depth);
        if (!open.empty())
            out_ += "</" + open + ">";
    }

    // Writes the start tag and the content; returns the name to close, ""
    // when nothing is to be closed.
    std::string ElementOpen(const GumboNode* node, const std::string& parent, int depth)
    {
        Rule rule = RuleOf(node);
        std::string name = NameOf(node, rule, parent);
        std::string attributes;
        auto id = analysis_.idOf.find(node);
        if (id != analysis_.idOf.end()) {
            attributes += " id=\"" + EscapeXml(policy_.idPrefix + id->second, true) + "\"";
            page_.ids.push_back(policy_.idPrefix + id->second);
        }
        CommonAttributes(node, attributes);
        if (name == "img") {
            const char* src = Attribute(node, "src");
            std::string target = src && policy_.image ? policy_.image(src) : "";
            const char* alt = Attribute(node, "alt");
            if (target.empty()) {
                std::string text = alt ? EscapeXml(Trimmed(alt)) : "";
                out_ += id == analysis_.idOf.end() ? text
                                                   : "<span" + attributes + ">" + text + "</span>";
                return "";
            }
            attributes += " src=\"" + EscapeXml(target, true) + "\" alt=\"" +
                EscapeXml(alt ? alt : "", true) + "\"";
            for (const char* size : {"width", "height"})
                if (const char* value = Attribute(node, size); value && IsNumber(value, false))
                    attributes += std::string(" ") + size + "=\"" + value + "\"";
        } else if (name == "a") {
            const char* href = Attribute(node, "href");
            std::string target = href && policy_.link ? policy_.link(href) : "";
            if (!target.empty())
                attributes += " href=\"" + EscapeXml(target, true) + "\"";
            else if (id == analysis_.idOf.end()) {
                Children(node, parent, depth);
                return "";
            }
        } else if (name == "td" || name == "th") {
            for (const char* span : {"colspan", "rowspan"})
                if (const char* value = Attribute(node, span); value && IsNumber(value, true))
                    attributes += std::string(" ") + span + "=\"" + value + "\"";
        } else if (name == "ol") {
            if (const char* start = Attribute(node, "start"); start && IsNumber(start, false))
                attributes += std::string(" start=\"") + start + "\"";
            if (const char* type = Attribute(node, "type");
                type && strlen(type) == 1 && strchr("1aAiI", type[0]))
                attributes += std::string(" type=\"") + type + "\"";
        } else if (name == "li" && parent == "ol") {
            if (const char* value = Attribute(node, "value"); value && IsNumber(value, false))
                attributes += std::string(" value=\"") + value + "\"";
        } else if (name == "col" || name == "colgroup") {
            if (const char* span = Attribute(node, "span"); span && IsNumber(span, true))
                attributes += std::string(" span=\"") + span + "\"";
        } else if (name == "bdo" && attributes.find(" dir=") == std::string::npos) {
            attributes += " dir=\"ltr\"";
        }
        if (rule.kind & Void) {
            out_ += "<" + name + attributes + "/>";
            return "";
        }
        out_ += "<" + name + attributes + ">";
        Children(node, name, depth);
        return name;
    }

    void CommonAttributes(const GumboNode* node, std::string& attributes)
    {
        std::string classes = Trimmed(Attribute(node, "class") ? Attribute(node, "class") : "");
        if (const char* border = Attribute(node, "border");
            border && atoi(border) > 0 && IsTag(node, GUMBO_TAG_TABLE))
            classes += classes.empty() ? "bordered" : " bordered";
        if (!classes.empty())
            attributes += " class=\"" + EscapeXml(classes, true) + "\"";
        if (const char* value = Attribute(node, "title"); value && *value)
            attributes += " title=\"" + EscapeXml(value, true) + "\"";
        if (const char* value = Attribute(node, "lang"); value && IsLanguageTag(value))
            attributes += std::string(" lang=\"") + value + "\"";
        if (const char* value = Attribute(node, "dir")) {
            std::string dir = Lower(value);
            if (dir == "ltr" || dir == "rtl" || dir == "auto")
                attributes += " dir=\"" + dir + "\"";
        }
        if (const char* value = Attribute(node, "style"); value && *value && policy_.keepStyles) {
            std::string css = Trimmed(policy_.cssUrl ? RewriteCss(value, policy_.cssUrl) : value);
            if (!css.empty())
                attributes += " style=\"" + EscapeXml(css, true) + "\"";
        }
    }

    const Analysis& analysis_;
    const MarkupPolicy& policy_;
    CleanPage& page_;
    std::string out_;
};

// The head's parts, wherever they stand: the title, the style sheets and
// the <style> texts; and the images of the body.
void Collect(const GumboOutput* output, PageReferences& references)
{
    std::vector<const GumboNode*> stack {output->root};
    bool titled = false;
    while (!stack.empty()) {
        const GumboNode* node = stack.back();
        stack.pop_back();
        if (!IsElement(node))
            continue;
        Rule rule = RuleOf(node);
        if (IsTag(node, GUMBO_TAG_TITLE) && !titled) {
            references.title = Trimmed(SubtreeText(node));
            titled = true;
        } else if (IsTag(node, GUMBO_TAG_STYLE)) {
            references.styles.push_back(SubtreeText(node));
            references.styleElements.push_back(references.styles.back());
        } else if (IsTag(node, GUMBO_TAG_LINK)) {
            const char* rel = Attribute(node, "rel");
            const char* href = Attribute(node, "href");
            if (rel && href && Lower(rel).find("stylesheet") != std::string::npos &&
                Lower(rel).find("alternate") == std::string::npos)
                references.stylesheets.push_back(href);
        } else if (IsTag(node, GUMBO_TAG_IMG)) {
            if (const char* src = Attribute(node, "src"))
                references.images.push_back(src);
        }
        if (const char* style = Attribute(node, "style"); style && rule.role != Role::Drop)
            references.styles.push_back(style);
        if (rule.role == Role::Drop && !IsTag(node, GUMBO_TAG_HEAD))
            continue;
        const GumboVector* children = Children(node);
        for (unsigned i = children->length; i > 0; --i)
            stack.push_back((const GumboNode*)children->data[i - 1]);
    }
}

// gumbo allocates and frees a great many small blocks; they come from the
// document's arena, freed all at once with the document (so gumbo's own
// recursive release of the tree is never run either).
constexpr size_t ArenaBlock = 256 * 1024;

void* Allocate(void* userdata, size_t size)
{
    HtmlDocument::Arena& arena = *(HtmlDocument::Arena*)userdata;
    size = (size + 15) & ~(size_t)15;
    if (size > arena.left) {
        size_t block = size > ArenaBlock ? size : ArenaBlock;
        char* memory = (char*)malloc(block);
        if (!memory)
            return nullptr;
        arena.blocks.push_back(memory);
        arena.next = memory;
        arena.left = block;
    }
    void* given = arena.next;
    arena.next += size;
    arena.left -= size;
    return given;
}

void Release(void*, void*) { }

// True for a character XML 1.0 can hold.
bool IsXmlCharacter(uint32_t cp)
{
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
        (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

bool StartsWithNoCase(std::string_view text, size_t at, const char* word)
{
    size_t length = strlen(word);
    if (at + length > text.size())
        return false;
    for (size_t i = 0; i < length; ++i)
        if (FoldAscii(text[at + i]) != word[i])
            return false;
    return true;
}

bool IsCssSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}

// Walks css, giving each url() and @import target to found, which returns
// its replacement text (the whole url(...) or @import rule); the result is
// css with those replaced.
std::string WalkCss(std::string_view css,
                    const std::function<std::string(const std::string& target, bool import)>& found)
{
    std::string out;
    size_t i = 0, n = css.size();
    // A quoted string at i (css[i] is the quote): its content; i moves past it.
    auto quoted = [&](size_t& at) {
        char quote = css[at++];
        std::string value;
        while (at < n && css[at] != quote) {
            if (css[at] == '\\' && at + 1 < n)
                ++at;
            value += css[at++];
        }
        if (at < n)
            ++at;
        return value;
    };
    while (i < n) {
        char c = css[i];
        if (c == '/' && i + 1 < n && css[i + 1] == '*') {
            size_t end = css.find("*/", i + 2);
            end = end == std::string_view::npos ? n : end + 2;
            out.append(css.substr(i, end - i));
            i = end;
        } else if (c == '"' || c == '\'') {
            size_t start = i;
            quoted(i);
            out.append(css.substr(start, i - start));
        } else if (StartsWithNoCase(css, i, "url(")) {
            size_t at = i + 4;
            while (at < n && IsCssSpace(css[at]))
                ++at;
            std::string target;
            if (at < n && (css[at] == '"' || css[at] == '\'')) {
                target = quoted(at);
                while (at < n && css[at] != ')')
                    ++at;
            } else {
                while (at < n && css[at] != ')')
                    target += css[at++];
                while (!target.empty() && IsCssSpace(target.back()))
                    target.pop_back();
            }
            i = at < n ? at + 1 : n;
            out += found(target, false);
        } else if (StartsWithNoCase(css, i, "@import")) {
            size_t at = i + 7;
            while (at < n && IsCssSpace(css[at]))
                ++at;
            if (at < n && (css[at] == '"' || css[at] == '\'')) {
                std::string target = quoted(at);
                size_t end = css.find(';', at);
                end = end == std::string_view::npos ? n : end + 1;
                std::string rest(css.substr(at, end - at));
                std::string replaced = found(target, true);
                out += replaced.empty() ? "" : replaced + rest;
                i = end;
            } else {
                out += "@import ";
                i = at;
            }
        } else {
            out += c;
            ++i;
        }
    }
    return out;
}

}  // namespace

HtmlDocument::Arena::~Arena()
{
    for (void* block : blocks)
        free(block);
}

HtmlDocument::HtmlDocument(std::string_view utf8)
{
    GumboOptions options = kGumboDefaultOptions;
    options.allocator = Allocate;
    options.deallocator = Release;
    options.userdata = &arena_;
    options.max_errors = 0;
    output_ = gumbo_parse_with_options(&options, utf8.data(), utf8.size());
}

PageReferences ScanPage(const HtmlDocument& page)
{
    PageReferences references;
    if (!page.output())
        return references;
    Collect(page.output(), references);
    Analysis analysis = Analyze(page.output());
    references.ids = std::move(analysis.ids);
    references.anchors = std::move(analysis.anchors);
    return references;
}

CleanPage CleanHtml(const HtmlDocument& page, const MarkupPolicy& policy)
{
    CleanPage clean;
    if (!page.output())
        return clean;
    PageReferences references;
    Collect(page.output(), references);
    clean.title = references.title;
    for (const std::string& href : references.stylesheets) {
        std::string target = policy.stylesheet ? policy.stylesheet(href) : "";
        if (!target.empty())
            clean.stylesheets.push_back(target);
    }
    if (policy.keepStyles)
        for (const std::string& css : references.styleElements)
            clean.styles += (policy.cssUrl ? RewriteCss(css, policy.cssUrl) : css) + "\n";
    Analysis analysis = Analyze(page.output());
    Writer writer(analysis, policy, clean);
    if (const GumboNode* body = Body(page.output()))
        writer.Children(body, "body", 0);
    clean.body = writer.Take();
    return clean;
}

std::string RewriteCss(std::string_view css,
                       const std::function<std::string(const std::string&)>& rewrite)
{
    return WalkCss(css, [&](const std::string& target, bool import) -> std::string {
        std::string replaced = rewrite(target);
        if (import)
            return replaced.empty() ? "" : "@import \"" + replaced + "\"";
        if (replaced.empty())
            return "none";
        std::string escaped;
        for (char c : replaced) {
            if (c == '"' || c == '\\' || c == '\n')
                escaped += '\\';
            escaped += c;
        }
        return "url(\"" + escaped + "\")";
    });
}

std::vector<std::string> CssReferences(std::string_view css)
{
    std::vector<std::string> targets;
    WalkCss(css, [&](const std::string& target, bool) -> std::string {
        targets.push_back(target);
        return "";
    });
    return targets;
}

std::string EscapeXml(std::string_view text, bool attribute)
{
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        unsigned char c = (unsigned char)text[i];
        if (c < 0x80) {
            ++i;
            switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += attribute ? "&quot;" : "\"";
                break;
            case '\n':
                out += attribute ? "&#10;" : "\n";
                break;
            case '\t':
                out += attribute ? "&#9;" : "\t";
                break;
            case '\r':
                break;
            default:
                if (c >= 0x20)
                    out += (char)c;
            }
            continue;
        }
        size_t length = 0;
        uint32_t cp = DecodeUtf8(text.data() + i, text.size() - i, &length);
        if (IsXmlCharacter(cp)) {
            char bytes[4];
            out.append(bytes, EncodeUtf8(cp, bytes));
        }
        i += length;
    }
    return out;
}
