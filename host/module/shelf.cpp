// The menu of a shelf: the matches of several help files joined into one,
// each item naming its file, ordered by file in the order given and within a
// file as the module orders its own menu; and the module's own menu answered
// with the item chosen there.
#include <filesystem>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/module/module.h"
#include "host/os/os.h"
#include "host/page/page.h"

namespace {

std::string Topics(size_t count)
{
    return std::to_string(count) + (count == 1 ? " topic matches" : " topics match");
}

}  // namespace

int PickBeyondMatches(int pick, size_t count, const std::string& keyword)
{
    return UsageFailure("--pick " + std::to_string(pick) + ": only " + Topics(count) + " '" +
                        keyword + "'");
}

void AskForPick(size_t count, const std::string& keyword)
{
    if (!IsInteractive())
        Complain(Topics(count) + " '" + keyword + "': choose one with --pick N");
}

ShelfChoice ChooseOnShelf(const std::vector<std::string>& files, const std::string& keyword,
                          const char* oemKeyword, int pick)
{
    ShelfChoice choice;
    struct Item {
        size_t file;
        size_t position;
        MatchedTopic match;
    };
    std::vector<Item> items;
    std::vector<std::string> texts;
    size_t read = 0;
    for (size_t f = 0; f < files.size(); ++f) {
        // One help file that cannot be read is said and skipped.
        if (!IsHelpFile(files[f]))
            continue;
        std::vector<MatchedTopic> matches;
        if (!ListTopicMatches(files[f], oemKeyword, matches)) {
            Complain(files[f] + ": the topic index cannot be read; skipped");
            continue;
        }
        ++read;
        for (size_t i = 0; i < matches.size(); ++i) {
            std::string text = OemTextForDisplay(matches[i].text.c_str());
            if (files.size() > 1)
                text += " (" +
                    PrintableName(std::filesystem::path(files[f]).filename().string().c_str()) +
                    ")";
            texts.push_back(text);
            items.push_back({f, i, matches[i]});
        }
    }
    if (items.empty()) {
        Complain(read == 0 ? std::string("no help file could be read")
                           : "no topic title or index entry of " +
                         (files.size() == 1 ? files[0] : "the help files") + " begins with '" +
                         keyword + "'");
        choice.status = ExitFailed;
        return choice;
    }
    int chosen = 0;
    if (items.size() > 1) {
        RequestOptions options;
        options.pick = pick;
        RequestRecord record;
        chosen = ChooseFromMenu(ModuleMessageText(0), texts, options, record);
        if (record.pickOutOfRange) {
            choice.status = PickBeyondMatches(pick, items.size(), keyword);
            return choice;
        }
        if (chosen < 0) {
            // A menu left, or topics listed for want of a terminal, is no failure.
            AskForPick(items.size(), keyword);
            choice.status = ExitOk;
            return choice;
        }
    }
    const Item& item = items[(size_t)chosen];
    choice.chosen = true;
    choice.file = files[item.file];
    choice.position = item.position;
    choice.match = item.match;
    return choice;
}
