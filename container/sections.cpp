// The section table, built from the container's NameList when it is opened.
//
// The NameList ("::DataSpace/NameList") is a 16-bit further field, the 16-bit
// number of sections, then one record a section: a 16-bit name length L and L
// UTF-16 units plus a terminating unit. A section's number is its place in
// that list. Section 0 holds its files as they are from the content offset on;
// every other section keeps its data in its own Content file, which lies in
// section 0, and the offset of that file is the section's base offset.
//
// The NameList is read while the table does not exist yet, so it is always
// read as stored from the content offset, whatever section its entry names.
// A NameList that is missing, shorter than its count, or holds no section
// leaves the container without a section table; then only files of section 0
// can be extracted. The table ends before the first record that runs past the
// NameList's end or whose name is longer than 255 characters, so files of that
// section and of later ones fail to extract rather than being read wrongly.
#include "container/container.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

static SectionTable* AllocateSectionTable(uint32_t count)
{
    SectionTable* table =
        (SectionTable*)calloc(1, sizeof(SectionTable) + (size_t)count * sizeof(SectionRecord));
    if (!table)
        return nullptr;
    table->Records = (SectionRecord*)(table + 1);
    return table;
}

// The offset of the section's Content file: the last directory entry with
// that name decides.
static uint32_t FindBaseOffset(const HelpFile* file, const char* sectionName)
{
    char contentName[320];
    snprintf(contentName, sizeof contentName, "::DataSpace/Storage/%s/Content", sectionName);
    uint32_t base = 0;
    for (int32_t i = 0; i < DirectoryCount(file); i++) {
        if (strcmp(file->Entries->Entries[i].Name, contentName) == 0)
            base = file->Entries->Entries[i].Offset;
    }
    return base;
}

void ReadNameList(HelpFile* file)
{
    const DirectoryEntry* entry = FindDirectoryEntry("::DataSpace/NameList", file->Entries);
    if (!entry)
        return;
    uint8_t* data = nullptr;
    if (ReadStoredBytes(file, (uint64_t)file->ContentOffset + entry->Offset, entry->Length,
                        &data) != 0)
        return;
    uint32_t length = entry->Length;
    uint32_t count = length >= NameListRecords ? ReadLE16(data + NameListCount) : 0;
    // Every record takes at least 4 bytes: no more can be whole in the NameList.
    if (count > (length - NameListRecords) / 4)
        count = length >= NameListRecords ? (length - NameListRecords) / 4 : 0;
    SectionTable* table = count ? AllocateSectionTable(count) : nullptr;
    if (table) {
        uint32_t position = NameListRecords;
        uint32_t i = 0;
        for (; i < count; i++) {
            if (length - position < 2)
                break;
            uint32_t nameLength = ReadLE16(data + position);
            if (nameLength > 255 || 2 * (nameLength + 1) > length - position - 2)
                break;
            position += 2;
            SectionRecord* record = &table->Records[i];
            // Each UTF-16 unit is narrowed to its low byte, the first one stored.
            for (uint32_t unit = 0; unit <= nameLength; unit++)
                record->Name[unit] = (char)data[position + 2 * unit];
            record->Name[nameLength] = '\0';
            position += 2 * (nameLength + 1);
            record->Compressed = strcmp(record->Name, "MSCompressed") == 0 ? 1 : 0;
            record->Data = nullptr;
            record->Lzx = nullptr;
            record->Failure = ContainerOk;
            record->BaseOffset = i == 0 ? 0 : FindBaseOffset(file, record->Name);
        }
        table->Count = (int32_t)i;
        if (i == 0) {
            free(table);
            table = nullptr;
        }
    }
    file->Sections = table;
    free(data);
}
