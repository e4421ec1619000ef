// The interactive menu and dialog, drawn in the terminal.
//
// The menu lists the matching topics under its title: arrow keys, Home/End
// and PgUp/PgDn move, typing the first letters of a topic jumps to it, Enter
// chooses and Esc cancels. The dialog draws the items the module sent at
// their coordinates, centred on the screen: the frame with its title, the
// texts, the choice lists (Up/Down choose an entry) and the buttons; Tab or
// Left/Right move between lists and buttons, Enter presses the focused button
// (the default one when a list has the focus), Esc leaves.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/os/os.h"
#include "host/terminal/terminal.h"
#include "platform/text.h"

namespace {

const char* const Reverse = "\x1b[7m";
const char* const Bold = "\x1b[1m";
const char* const Plain = "\x1b[0m";

std::string MoveTo(int column, int row)
{
    return "\x1b[" + std::to_string(row + 1) + ";" + std::to_string(column + 1) + "H";
}

std::string Repeat(const char* piece, int count)
{
    std::string out;
    for (int i = 0; i < count; ++i)
        out += piece;
    return out;
}

// A box from (left, top) to (right, bottom), with its title in the top edge.
std::string DrawBox(int left, int top, int right, int bottom, const std::string& title)
{
    std::string out;
    int inner = right - left - 1;
    if (inner < 0)
        return out;
    std::string heading = title.empty() ? std::string() : " " + title + " ";
    if ((int)TerminalTextWidth(heading) > inner)
        heading = FitToWidth(heading, inner);
    int before = (inner - (int)TerminalTextWidth(heading)) / 2;
    int after = inner - (int)TerminalTextWidth(heading) - before;
    out += MoveTo(left, top) + System.boxTopLeft + Repeat(System.boxHorizontal, before) + heading +
        Repeat(System.boxHorizontal, after) + System.boxTopRight;
    for (int row = top + 1; row < bottom; ++row)
        out += MoveTo(left, row) + System.boxVertical + std::string((size_t)inner, ' ') +
            System.boxVertical;
    out += MoveTo(left, bottom) + System.boxBottomLeft + Repeat(System.boxHorizontal, inner) +
        System.boxBottomRight;
    return out;
}

bool StartsWithIgnoringCase(const std::string& text, const std::string& prefix)
{
    if (System.terminalUtf8)
        return StartsWithFoldedUtf8(text.data(), text.size(), prefix.data(), prefix.size());
    return StartsWithFolded(text.data(), text.size(), prefix.data(), prefix.size());
}

// Keeps the terminal in raw mode for the life of a menu or dialog.
struct ConsoleScope {
    bool ok;
    ConsoleScope()
        : ok(ConsoleBegin())
    {
    }
    ~ConsoleScope()
    {
        ConsoleEnd();
    }
};

}  // namespace

size_t TerminalTextWidth(const std::string& text)
{
    size_t width = 0;
    int columns = 0;
    for (size_t i = 0; i < text.size();) {
        i += TerminalCharacter(text, i, columns);
        width += (size_t)columns;
    }
    return width;
}

std::string FitToWidth(const std::string& text, int width)
{
    if (width <= 0)
        return std::string();
    std::string out;
    int used = 0;
    int columns = 0;
    for (size_t i = 0; i < text.size();) {
        size_t length = TerminalCharacter(text, i, columns);
        if (used + columns > width)
            break;
        out.append(text, i, length);
        i += length;
        used += columns;
    }
    out.append((size_t)(width - used), ' ');
    return out;
}

int RunMenuOnTerminal(const std::string& title, const std::vector<std::string>& items)
{
    if (items.empty())
        return -1;
    ConsoleScope console;
    if (!console.ok)
        return -1;

    const int count = (int)items.size();
    int selected = 0, top = 0;
    std::string typed;
    std::string partial;  // the bytes of a character still being typed
    while (true) {
        int columns, rows;
        ConsoleSize(columns, rows);
        size_t longest = TerminalTextWidth(title) + 4;
        for (const std::string& item : items)
            longest = std::max(longest, TerminalTextWidth(item) + 2);
        int inner = std::min((int)longest, std::max(10, columns - 4));
        int visible = std::max(1, std::min(count, rows - 4));
        int left = std::max(0, (columns - inner - 2) / 2);
        int boxTop = std::max(0, (rows - visible - 3) / 2);

        if (selected < top)
            top = selected;
        if (selected >= top + visible)
            top = selected - visible + 1;

        std::string screen = "\x1b[0m\x1b[H\x1b[2J";
        screen += DrawBox(left, boxTop, left + inner + 1, boxTop + visible + 1, title);
        for (int row = 0; row < visible && top + row < count; ++row) {
            int index = top + row;
            screen += MoveTo(left + 1, boxTop + 1 + row);
            std::string line = " " + items[(size_t)index];
            if (index == selected)
                screen += std::string(Reverse) + FitToWidth(line, inner) + Plain;
            else
                screen += FitToWidth(line, inner);
        }
        std::string footer = std::to_string(selected + 1) + "/" + std::to_string(count) +
            "  Enter: open  Esc: cancel";
        if (!typed.empty())
            footer += "  find: " + typed;
        screen += MoveTo(left, boxTop + visible + 2) +
            FitToWidth(footer, std::max(0, columns - left - 1));
        ConsoleWrite(screen);

        int key = ConsoleReadKey();
        bool typing = false;
        switch (key) {
        case KeyUp:
            selected = std::max(0, selected - 1);
            break;
        case KeyDown:
            selected = std::min(count - 1, selected + 1);
            break;
        case KeyHome:
            selected = 0;
            break;
        case KeyEnd:
            selected = count - 1;
            break;
        case KeyPageUp:
            selected = std::max(0, selected - visible);
            break;
        case KeyPageDown:
            selected = std::min(count - 1, selected + visible);
            break;
        case KeyEnter:
            return selected;
        case KeyEscape:
        case KeyInterrupt:
            return -1;
        case KeyBackspace:
            // One character, all its bytes in UTF-8.
            while (System.terminalUtf8 && !typed.empty() &&
                   ((unsigned char)typed.back() & 0xC0) == 0x80)
                typed.pop_back();
            if (!typed.empty())
                typed.pop_back();
            partial.clear();
            typing = true;
            break;
        case KeyResize:
        case KeyNone:
        case KeyLeft:
        case KeyRight:
        case KeyTab:
        case KeyBackTab:
            typing = !typed.empty();
            break;
        default:
            if (key >= 0x20 && key < 0x100) {
                typing = true;
                // A character of UTF-8 arrives a byte at a time: it is looked
                // for once it is whole.
                std::string letter(1, (char)key);
                if (System.terminalUtf8 && key >= 0x80) {
                    if (key >= 0xC0 || partial.empty())
                        partial = letter;
                    else
                        partial += letter;
                    unsigned char lead = (unsigned char)partial[0];
                    size_t whole = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
                    if (partial.size() < whole)
                        break;
                    letter = partial;
                    partial.clear();
                }
                std::string candidate = typed + letter;
                // The first item from here on whose text starts with what was
                // typed; a letter that matches nothing starts a new search.
                int found = -1;
                for (int step = 0; step < count && found < 0; ++step) {
                    int index = (selected + step) % count;
                    if (StartsWithIgnoringCase(items[(size_t)index], candidate))
                        found = index;
                }
                if (found < 0 && !typed.empty()) {
                    candidate = letter;
                    for (int step = 1; step <= count && found < 0; ++step) {
                        int index = (selected + step) % count;
                        if (StartsWithIgnoringCase(items[(size_t)index], candidate))
                            found = index;
                    }
                }
                typed = candidate;
                if (found >= 0)
                    selected = found;
            }
            break;
        }
        if (!typing) {
            typed.clear();
            partial.clear();
        }
    }
}

namespace {

struct DialogChoices {
    int item;
    std::vector<std::string> entries;
    int chosen;
};

std::string ItemText(const DialogItem& item)
{
    char text[sizeof item.text + 1];
    memcpy(text, item.text, sizeof item.text);
    text[sizeof item.text] = '\0';
    return OemTextForDisplay(text);
}

}  // namespace

int RunDialogOnTerminal(int width, int height, DialogItem* items, int count)
{
    // The lists first: their selection fields hold the lists' addresses until
    // the chosen positions are written back.
    std::vector<DialogChoices> lists;
    std::vector<int> listOf((size_t)count, -1);
    for (int i = 0; i < count; ++i) {
        if (items[i].kind != DialogChoiceList)
            continue;
        const ChoiceList* list = reinterpret_cast<const ChoiceList*>(items[i].selection);
        DialogChoices choices {i, {}, 0};
        if (list && list->entries && list->count > 0 && list->count <= 256) {
            for (int32_t k = 0; k < list->count; ++k) {
                char text[sizeof list->entries[k].text + 1];
                memcpy(text, list->entries[k].text, sizeof list->entries[k].text);
                text[sizeof list->entries[k].text] = '\0';
                choices.entries.push_back(OemTextForDisplay(text));
                if (list->entries[k].flags & ChoiceSelected)
                    choices.chosen = k;
            }
        }
        listOf[(size_t)i] = (int)lists.size();
        lists.push_back(choices);
    }
    auto writeBack = [&]() {
        for (const DialogChoices& choices : lists)
            items[choices.item].selection = choices.chosen;
    };

    std::vector<int> focusable;
    int focus = -1, defaultButton = -1;
    for (int i = 0; i < count; ++i) {
        if (items[i].kind == DialogChoiceList || items[i].kind == DialogButton) {
            if (items[i].focus && focus < 0)
                focus = (int)focusable.size();
            focusable.push_back(i);
        }
        if (items[i].kind == DialogButton && items[i].defaultButton && defaultButton < 0)
            defaultButton = i;
    }
    if (focusable.empty()) {
        writeBack();
        return -1;
    }
    if (focus < 0)
        focus = 0;

    ConsoleScope console;
    if (!console.ok) {
        writeBack();
        return -1;
    }
    if (width <= 0 || width > 200)
        width = 45;
    if (height <= 0 || height > 100)
        height = 8;

    while (true) {
        int columns, rows;
        ConsoleSize(columns, rows);
        int left = std::max(0, (columns - width) / 2);
        int top = std::max(0, (rows - height) / 2);
        std::string screen = "\x1b[0m\x1b[H\x1b[2J";
        // The dialog's own area, then its items in order.
        for (int row = 0; row < height; ++row)
            screen += MoveTo(left, top + row) + std::string((size_t)width, ' ');

        // Buttons that want centring share their row, laid out side by side.
        std::vector<std::pair<int, std::vector<int>>> buttonRows;
        for (int i = 0; i < count; ++i) {
            if (items[i].kind != DialogButton || !(items[i].flags & DialogFlagCentreButton))
                continue;
            auto row = std::find_if(buttonRows.begin(), buttonRows.end(),
                                    [&](const auto& entry) { return entry.first == items[i].y1; });
            if (row == buttonRows.end())
                buttonRows.push_back({items[i].y1, {i}});
            else
                row->second.push_back(i);
        }
        auto buttonLabel = [&](int i) { return "[ " + ItemText(items[i]) + " ]"; };
        auto drawButton = [&](int i, int column, int row) {
            bool focused = focusable[(size_t)focus] == i;
            std::string label = buttonLabel(i);
            screen += MoveTo(left + column, top + row);
            if (focused)
                screen += Reverse;
            if (i == defaultButton)
                screen += Bold;
            screen += label + Plain;
        };

        for (int i = 0; i < count; ++i) {
            const DialogItem& item = items[i];
            switch (item.kind) {
            case DialogFrame:
                screen += DrawBox(left + item.x1, top + item.y1, left + item.x2, top + item.y2,
                                  ItemText(item));
                break;
            case DialogText: {
                std::string text = ItemText(item);
                int column = item.x1;
                if (item.flags & DialogFlagCentreText)
                    column = std::max(0, (width - (int)TerminalTextWidth(text)) / 2);
                if (!text.empty())
                    screen += MoveTo(left + column, top + item.y1) +
                        FitToWidth(text,
                                   std::min((int)TerminalTextWidth(text), width - column - 1));
                break;
            }
            case DialogChoiceList: {
                const DialogChoices& choices = lists[(size_t)listOf[(size_t)i]];
                int span = item.x2 > item.x1 ? item.x2 - item.x1 + 1 : 16;
                bool focused = focusable[(size_t)focus] == i;
                for (size_t k = 0; k < choices.entries.size(); ++k) {
                    bool chosen = (int)k == choices.chosen;
                    std::string line = std::string(chosen ? "(*) " : "( ) ") + choices.entries[k];
                    screen += MoveTo(left + item.x1, top + item.y1 + (int)k);
                    if (focused && chosen)
                        screen += std::string(Reverse) + FitToWidth(line, span) + Plain;
                    else
                        screen += FitToWidth(line, span);
                }
                break;
            }
            case DialogButton:
                if (!(item.flags & DialogFlagCentreButton))
                    drawButton(i, item.x1, item.y1);
                break;
            default:
                break;
            }
        }
        for (const auto& row : buttonRows) {
            int total = 0;
            for (int i : row.second)
                total += (int)TerminalTextWidth(buttonLabel(i)) + 2;
            total -= 2;
            int column = std::max(0, (width - total) / 2);
            for (int i : row.second) {
                drawButton(i, column, row.first);
                column += (int)TerminalTextWidth(buttonLabel(i)) + 2;
            }
        }
        screen += MoveTo(left, top + height) +
            FitToWidth("Tab: move  Up/Down: choose  Esc: leave", width);
        ConsoleWrite(screen);

        int current = focusable[(size_t)focus];
        int key = ConsoleReadKey();
        switch (key) {
        case KeyTab:
        case KeyRight:
            focus = (focus + 1) % (int)focusable.size();
            break;
        case KeyBackTab:
        case KeyLeft:
            focus = (focus + (int)focusable.size() - 1) % (int)focusable.size();
            break;
        case KeyUp:
        case KeyDown:
            if (items[current].kind == DialogChoiceList) {
                DialogChoices& choices = lists[(size_t)listOf[(size_t)current]];
                int last = (int)choices.entries.size() - 1;
                choices.chosen =
                    std::clamp(choices.chosen + (key == KeyUp ? -1 : 1), 0, std::max(0, last));
            } else {
                focus = (focus + (key == KeyUp ? (int)focusable.size() - 1 : 1)) %
                    (int)focusable.size();
            }
            break;
        case KeyEnter:
        case ' ':
            if (items[current].kind == DialogButton) {
                writeBack();
                return current;
            }
            if (key == KeyEnter && defaultButton >= 0) {
                writeBack();
                return defaultButton;
            }
            break;
        case KeyEscape:
        case KeyInterrupt:
            writeBack();
            return -1;
        default:
            break;
        }
    }
}
