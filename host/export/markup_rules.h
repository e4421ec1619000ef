// Within the export room: the cleaner's rules (what each element of HTML
// becomes) and the readers of gumbo's tree, shared by markup_rules.cpp, which
// holds them, and markup.cpp, which walks the tree with them.
#pragma once

#include <gumbo.h>

#include <string>

namespace markup {

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

bool IsElement(const GumboNode* node);
// An element's rule: elements of SVG and MathML are left out.
Rule RuleOf(const GumboNode* node);
// The value of an element's attribute; null when it has none.
const char* Attribute(const GumboNode* node, const char* name);
// Whether node is the HTML element tag.
bool IsTag(const GumboNode* node, GumboTag tag);
// The children of a document or an element; null for other nodes.
const GumboVector* Children(const GumboNode* node);
// "a b" as "a_b": an id as a valid XML name, never empty.
std::string IdName(const std::string& value);
// White space collapsed to single spaces, none at either end.
std::string Trimmed(const std::string& text);
// The text of a subtree, without recursion; below node, what is not written
// gives no text.
std::string SubtreeText(const GumboNode* node);
// The body, or null for a page without one (a frameset).
const GumboNode* Body(const GumboOutput* output);

}  // namespace markup
