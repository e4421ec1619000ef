// velkory export in velkory-export: the book read from the help file and
// written in the format asked for.
#include <cstdlib>
#include <string>

#include "host/export/export.h"
#include "host/host.h"
#include "platform/platform.h"

int RunExport(const std::string& path, const ExportOptions& options)
{
    // The keyword index reaches the host in the OEM code page: UTF-8 here,
    // whatever the locale, so that no keyword loses a character.
    if (GetOEMCP() != CP_UTF8) {
        std::string pair = std::to_string(GetACP()) + ":65001";
        setenv("VELKORY_CODEPAGES", pair.c_str(), 1);
    }
    Book book;
    std::string error;
    bool done = OpenBook(path, book, error);
    if (done) {
        switch (options.format) {
        case ExportFormat::Epub:
            done = WriteEpub(book, options, error);
            break;
        case ExportFormat::Html:
            done = WriteHtml(book, options, error);
            break;
        case ExportFormat::Markdown:
            done = WriteMarkdown(book, options, error);
            break;
        case ExportFormat::Text:
            done = WriteText(book, options, error);
            break;
        case ExportFormat::Jsonl:
            done = WriteJsonl(book, options, error);
            break;
        }
    }
    if (!done) {
        Complain("export: " + error);
        ExplainCut(path);
        return ExitFailed;
    }
    return ExitOk;
}
