// The cleaner's rules: what each element of HTML becomes (kept, perhaps
// under another name, unwrapped to its content, or left out), made once into
// a table by gumbo's tag; and the readers of gumbo's tree (markup_rules.h).
#include "host/export/markup_rules.h"

#include <array>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/text.h"

namespace markup {
namespace {

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

}  // namespace

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
}  // namespace markup
