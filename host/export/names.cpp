// The formats export writes, by name and by extension; with the command
// line in every program (velkory checks the options before handing the
// command to velkory-export).
#include <string>

#include "host/export/export.h"

namespace {

struct FormatName {
    const char* name;
    ExportFormat format;
};

const FormatName FormatNames[] = {
    {"epub", ExportFormat::Epub},   {"html", ExportFormat::Html},
    {"htm", ExportFormat::Html},    {"markdown", ExportFormat::Markdown},
    {"md", ExportFormat::Markdown}, {"text", ExportFormat::Text},
    {"txt", ExportFormat::Text},    {"jsonl", ExportFormat::Jsonl},
};

}  // namespace

bool ExportFormatNamed(const std::string& name, ExportFormat& format)
{
    std::string lower;
    for (char c : name)
        lower += (char)(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (const FormatName& entry : FormatNames)
        if (lower == entry.name) {
            format = entry.format;
            return true;
        }
    return false;
}

const char* ExportFormatExtension(ExportFormat format)
{
    switch (format) {
    case ExportFormat::Epub:
        return ".epub";
    case ExportFormat::Html:
        return ".html";
    case ExportFormat::Markdown:
        return ".md";
    case ExportFormat::Text:
        return ".txt";
    case ExportFormat::Jsonl:
        return ".jsonl";
    }
    return "";
}
