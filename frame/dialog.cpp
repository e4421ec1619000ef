// The configuration dialog: seven host dialog items, two two-entry choice
// lists side by side, drawn and run by the host.
#include <cstring>

#include "frame/frame.h"

//   item  kind              x1  y1  x2  y2  flags                   message
const DialogItemTemplate ConfigDialogTemplate[ConfigDialogItemCount] = {
    {DialogFrame, 3, 1, 41, 6, 0, 0},  // frame, titled with the module's title
    {DialogText, 5, 2, 0, 0, 0, 2},    // label above the lists
    {DialogChoiceList, 5, 3, 20, 0, DialogFlagChoiceList, -1},   // Modality
    {DialogChoiceList, 23, 3, 38, 0, DialogFlagChoiceList, -1},  // Visuality
    {DialogText, 4, 4, 0, 0, DialogFlagCentreText, -1},          // empty row above the buttons
    {DialogButton, 0, 5, 0, 0, DialogFlagCentreButton, 7},       // confirm (default)
    {DialogButton, 0, 5, 0, 0, DialogFlagCentreButton, 8},       // leave
};

enum {
    ModalityList = 2,
    VisualityList = 3,
    ConfirmButton = 5,
};

void ExpandDialogItems(const DialogItemTemplate* templates, DialogItem* items, int count)
{
    for (int i = 0; i < count; i++) {
        const DialogItemTemplate* t = &templates[i];
        DialogItem* item = &items[i];
        item->kind = t->kind;
        item->x1 = t->x1;
        item->y1 = t->y1;
        item->x2 = t->x2;
        item->y2 = t->y2;
        item->focus = 0;
        item->selection = 0;
        item->defaultButton = 0;
        item->flags = t->flags;
        if (t->message == -1)
            item->text[0] = '\0';
        else
            LoadMessageText(t->message, item->text);
    }
}

// Fills a two-entry list; setting picks the preselected entry. Settings are
// 0 or 1 once loaded, but a host may have reported another position, which
// was saved unchanged: like everything else that reads the settings, the
// list treats any non-zero value as 1.
static void FillChoiceList(ChoiceList* list, ChoiceEntry* entries, int32_t setting, int message0,
                           int message1)
{
    memset(entries, 0, 2 * sizeof(ChoiceEntry));
    list->count = 2;
    list->entries = entries;
    entries[setting != 0 ? 1 : 0].flags = ChoiceSelected;
    LoadMessageText(message0, entries[0].text);
    LoadMessageText(message1, entries[1].text);
}

void RunConfigDialog(void)
{
    DialogItem items[ConfigDialogItemCount];
    ChoiceList modalityList, visualityList;
    ChoiceEntry modalityEntries[2], visualityEntries[2];

    // Text bytes after a terminator go to the host too: keep them clean.
    memset(items, 0, sizeof items);
    ExpandDialogItems(ConfigDialogTemplate, items, ConfigDialogItemCount);
    items[ModalityList].focus = 1;

    // The first list offers Modality 0 under message 4 and 1 under message 3.
    FillChoiceList(&modalityList, modalityEntries, Modality, 4, 3);
    items[ModalityList].selection = (intptr_t)&modalityList;
    FillChoiceList(&visualityList, visualityEntries, Visuality, 5, 6);
    items[VisualityList].selection = (intptr_t)&visualityList;
    items[ConfirmButton].defaultButton = 1;

    int result = hostServices.RunDialog(hostServices.moduleNumber, -1, -1, 45, 8, nullptr, items,
                                        ConfigDialogItemCount);
    if (result == ConfirmButton)
        SaveSettings((int32_t)items[ModalityList].selection,
                     (int32_t)items[VisualityList].selection);
}
