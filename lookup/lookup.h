// Keyword lookup and topic display: the help request, from a keyword to the
// page opened in the host's viewer or editor.
#pragma once

#include <cstdint>

// Working storage of one help request (limits of the design).
constexpr int NameBufferSize = 1024;      // companion index path, later the page name
constexpr int TitleBufferSize = 512;      // one topic title, OEM code page
constexpr int MenuTitleBufferSize = 128;  // the module's message 0
constexpr int MenuTextSize = 128;         // MenuItem.text
constexpr int TempPathBufferSize = 260;   // temporary directory, then the page file

// The page file inside the temporary directory, and the temporary-name prefix.
constexpr char PageFileName[] = "\\velkory.txt";
constexpr char TempNamePrefix[] = "VLKT";

// Looks keyword up in the topic index of helpPath (or of its companion index
// file), lets the user choose among several matches and displays the chosen
// page. Returns 1 when the request was dealt with, 0 when it failed.
int ShowHelpTopic(const char* helpPath, const char* keyword);

// Extracts pageName from helpPath into a new temporary directory and opens it
// in the host's viewer or editor. Returns 1 or 0; a page that could not be
// written whole is removed before the host sees it.
int DisplayTopic(const char* helpPath, const char* keyword, const char* pageName);

// The topic index: the four stored files that map topics to titles and URLs.
struct TopicIndex {
    uint8_t* topics;  // "/#TOPICS": 16-byte records
    uint32_t topicsLength;
    uint8_t* strings;  // "/#STRINGS": NUL-terminated titles
    uint32_t stringsLength;
    uint8_t* urlTable;  // "/#URLTBL": entries whose bytes 8-11 locate a URL
    uint32_t urlTableLength;
    uint8_t* urls;  // "/#URLSTR": NUL-terminated URLs
    uint32_t urlsLength;
    uint32_t codePage;  // the ANSI code page of the help file's language, 0 when unknown
};

// Reads the four index files of the companion index file of helpPath, or of
// helpPath itself when there is no companion, and the language from the
// #SYSTEM of the same file (else of the help file). Returns 1 with the index
// filled, or 0 with nothing held.
int ReadTopicIndex(const char* helpPath, TopicIndex* index);
void ReleaseTopicIndex(TopicIndex* index);

// The title of topic record k, converted to the OEM code page from its own
// encoding (lookup/encoding.h) into title (TitleBufferSize bytes). Returns 0 when the record or its title lies
// outside the index; such a topic is skipped.
int ReadTopicTitle(const TopicIndex* index, uint32_t record, char* title);

// The position in #URLSTR of topic record k's URL, after the zero bytes before
// it. Returns 0 when the record's URL cannot be read (offset outside #URLTBL,
// position at or beyond the end of #URLSTR).
int FindTopicUrl(const TopicIndex* index, uint32_t record, uint32_t* position);

// "/" followed by the URL at position in #URLSTR, cut at the first "#", into
// name (NameBufferSize bytes). A URL that ends with the data ends there.
// Returns 0 when the name does not fit.
int BuildPageName(const TopicIndex* index, uint32_t position, char* name);

struct HelpFile;

// What a help file's #SYSTEM tells: its language and the stored names of its
// contents (.hhc) and index (.hhk) sitemaps, as written there (usually
// without the leading "/"). Missing items are 0 or empty.
struct SystemInfo {
    uint32_t lcid;
    char contentsFile[NameBufferSize];
    char indexFile[NameBufferSize];
};

// Reads the #SYSTEM of an open help file. Returns 0, with info cleared, when
// the file has none.
int ReadSystemInfo(HelpFile* file, SystemInfo* info);
// The records of a #SYSTEM's length bytes; whatever cannot be read is left out.
void ParseSystemInfo(const uint8_t* data, uint32_t length, SystemInfo* info);
