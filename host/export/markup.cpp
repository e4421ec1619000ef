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
// name of an <a> becomes its id, so that links to it keep working. What
// each element becomes is markup_rules.cpp's table; text is escaped by the
// page room's EscapeMarkup.
//
// The tree is walked to a fixed depth; deeper elements give their text
// alone, and the tree is flattened before gumbo frees it (gumbo frees it
// recursively), so no page makes anything recurse without bound.
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "host/export/export.h"
#include "host/export/markup_rules.h"
#include "host/page/page.h"
#include "platform/text.h"

namespace {

using namespace markup;

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
        const GumboVector* children = markup::Children(node);
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
            out_ += EscapeMarkup(node->v.text.text);
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
            out_ += EscapeMarkup(SubtreeText(node));
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
            attributes += " id=\"" + EscapeMarkup(policy_.idPrefix + id->second, true) + "\"";
            page_.ids.push_back(policy_.idPrefix + id->second);
        }
        CommonAttributes(node, attributes);
        if (name == "img") {
            const char* src = Attribute(node, "src");
            std::string target = src && policy_.image ? policy_.image(src) : "";
            const char* alt = Attribute(node, "alt");
            if (target.empty()) {
                std::string text = alt ? EscapeMarkup(Trimmed(alt)) : "";
                out_ += id == analysis_.idOf.end() ? text
                                                   : "<span" + attributes + ">" + text + "</span>";
                return "";
            }
            attributes += " src=\"" + EscapeMarkup(target, true) + "\" alt=\"" +
                EscapeMarkup(alt ? alt : "", true) + "\"";
            for (const char* size : {"width", "height"})
                if (const char* value = Attribute(node, size); value && IsNumber(value, false))
                    attributes += std::string(" ") + size + "=\"" + value + "\"";
        } else if (name == "a") {
            const char* href = Attribute(node, "href");
            std::string target = href && policy_.link ? policy_.link(href) : "";
            if (!target.empty())
                attributes += " href=\"" + EscapeMarkup(target, true) + "\"";
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
            attributes += " class=\"" + EscapeMarkup(classes, true) + "\"";
        if (const char* value = Attribute(node, "title"); value && *value)
            attributes += " title=\"" + EscapeMarkup(value, true) + "\"";
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
                attributes += " style=\"" + EscapeMarkup(css, true) + "\"";
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
