// Where a page opens: the keyword's line and the anchor's element, found in
// the page's text and HTML directly.
#include <gtest/gtest.h>

#include <string>

#include "host/page/page.h"

namespace {

TEST(LandingTest, TheKeywordIsFoundWhateverItsLetterCase)
{
    const std::string text = "Contents\nthe SETTIMER call\nSetTimer again\n";
    const struct {
        const char* keyword;
        size_t line;
    } cases[] = {
        {"settimer", 2},       {"SetTimer", 2}, {"SETTIMER", 2},
        {"setTIMER again", 3}, {"kill", 0},     {"", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindKeywordLine(text, c.keyword), c.line) << c.keyword;
}

TEST(LandingTest, OnlyAnIdOrNameAttributeNamesTheAnchor)
{
    const struct {
        const char* html;
        size_t line;
    } cases[] = {
        {"<p>one</p>\n<p xid=\"k\">two</p>\n<p id=\"k\">three</p>", 3},
        {"<p>one</p>\n<a nickname=k>two</a>\n<a name=k>three</a>", 3},
        {"<p>one</p>\n<p xid=\"k\">two</p>", 0},
        {"<p>one</p>\n<p id=\"kk\">two</p>\n<p ID='k'>three</p>", 3},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FindAnchorLine(c.html, "k"), c.line) << c.html;
}

}  // namespace
