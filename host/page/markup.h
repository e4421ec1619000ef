// A page's markup read in order, for the renderer and the page text alike:
// the one tokenizer of HTML in the host.
//
// Room page/ (page.h says what it may call).
#pragma once

#include <cstddef>
#include <string_view>

// One piece of a page.
struct MarkupToken {
    enum Kind {
        Text,      // characters, references not decoded yet
        CData,     // the content of <![CDATA[...]]>, taken as it is
        StartTag,  // text holds the attributes, as written
        EndTag,
        RawText,  // the content of an element that holds no markup (script,
                  // style, title, template), after its start tag; its end tag
                  // is taken with it
    };
    Kind kind;
    std::string_view text;
    // Tags and RawText: the element's name in lower case; "" for a name
    // longer than the room here (no element the host knows).
    char name[12];
    bool selfClosing;  // a start tag whose attributes end in '/'
};

// Reads the markup of html (in UTF-8, or any charset that keeps ASCII as
// ASCII). Comments, declarations and processing instructions are skipped; a
// '<' that begins no tag is text; markup that never ends runs to the end of
// the page. Nothing is copied: the tokens point into html.
class MarkupReader {
public:
    explicit MarkupReader(std::string_view html)
        : html_(html)
    {
    }
    // The next token; false at the end of the page.
    bool Next(MarkupToken& token);

private:
    // Reads the tag at at_ ('<' followed by a name) into token.
    void ReadTag(MarkupToken& token);

    std::string_view html_;
    size_t at_ = 0;
    char rawElement_[12] = "";  // set after the start tag of a RawText element
};

// Whether name (lower case) is an element whose content is not markup.
bool IsRawTextElement(const char* name);
