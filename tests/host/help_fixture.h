// A help file of our own for the help command's tests, and an "editor" that
// copies the page it is handed out (and notes its path).
#pragma once

#include "host_runner.h"

#include "lookup/index_builder.h"
#include "support/chm_writer.h"

// A help file of our own: three topics beginning with "print", one "Setup".
class HelpCommandTest : public HostTest {
protected:
    void SetUp() override
    {
        HostTest::SetUp();
        if (IsSkipped())
            return;
        TestIndex index = BuildIndex({{"Print", "print.htm"},
                                      {"Printing a page", "html/printing.htm#how"},
                                      {"Setup", "setup.htm"},
                                      {"printer setup", "printer.htm"}});
        file_ = root_ + "/guide.chm";
        ASSERT_TRUE(WriteBytes(
            file_,
            HelpFileWith(
                index,
                {
                    {"/print.htm", Bytes("<p>print page</p>"), 1},
                    {"/html/printing.htm", Bytes("<h1>Printing</h1><p>How &amp; why.</p>"), 1},
                    {"/setup.htm", Bytes("<p>setup page</p>"), 0},
                    {"/printer.htm", Bytes("<p>printer page</p>"), 1},
                })));
        copy_ = root_ + "/opened";
        editor_ = Script("editor",
                         "for last; do :; done\ncp \"$last\" '" + copy_ + "'\necho \"$last\" > '" +
                             copy_ + ".path'\n");
    }
    std::string file_, copy_, editor_;
};
