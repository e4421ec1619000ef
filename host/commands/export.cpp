// velkory export: the whole help file as an EPUB, one HTML file, Markdown,
// text or JSON lines (export/).
#include <string>

#include "host/commands/commands.h"
#include "host/host.h"
#if defined(VELKORY_HAVE_EXPORT)
#include "host/export/export.h"
#include "host/os/os.h"

int ExportCommand(const CommandLine& line)
{
    const std::string& file = line.arguments[0];
    ExportOptions options;
    options.words = line.words;
    options.output = line.output;
    options.split = line.split;
    options.assets = line.assets;
    if (!line.to.empty()) {
        if (!ExportFormatNamed(line.to, options.format))
            return UsageFailure("--to expects epub, html, markdown, text or jsonl, not '" +
                                line.to + "'");
    } else if (!options.output.empty() && options.output != "-") {
        size_t dot = options.output.rfind('.');
        size_t slash = options.output.rfind('/');
        if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
            !ExportFormatNamed(options.output.substr(dot + 1), options.format))
            return UsageFailure("the format of '" + options.output +
                                "' is not known by its extension: give --to");
    } else if (!options.split.empty()) {
        options.format = ExportFormat::Markdown;
    }
    if (!options.split.empty() && options.format != ExportFormat::Markdown)
        return UsageFailure("--split applies to markdown only");
    if (!options.split.empty() && !options.output.empty())
        return UsageFailure("--split and --output exclude each other");
    if (!options.assets.empty() && options.format != ExportFormat::Html &&
        options.format != ExportFormat::Markdown)
        return UsageFailure("--assets applies to html and markdown only");
    if (options.format == ExportFormat::Epub && options.output == "-")
        return UsageFailure("an EPUB cannot go to standard output: give --output FILE");
    if (options.output.empty() && options.split.empty()) {
        // Beside nothing else: the help file's name with the format's extension,
        // in the current folder.
        std::string name = file.substr(file.find_last_of('/') + 1);
        size_t dot = name.rfind('.');
        if (dot != std::string::npos && dot > 0)
            name.erase(dot);
        options.output = name + ExportFormatExtension(options.format);
    }
    if (!IsHelpFile(file))
        return ExitFailed;
    options.progress = StderrIsTerminal();
    return RunExport(file, options);
}
#endif
