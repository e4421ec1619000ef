// Windows language identifiers (the LCID a help compiler stores in #SYSTEM)
// as language tags for EPUB and HTML: the languages help files are written
// in, with the region where it changes the script or the spelling.
#include <cstdint>
#include <string>

#include "host/export/export.h"

namespace {

struct LocaleTag {
    uint16_t id;
    const char* tag;
};

// Whole identifiers whose region matters.
const LocaleTag Locales[] = {
    {0x0804, "zh-CN"}, {0x0404, "zh-TW"}, {0x0C04, "zh-HK"},   {0x1004, "zh-SG"},
    {0x1404, "zh-MO"}, {0x0409, "en-US"}, {0x0809, "en-GB"},   {0x0C09, "en-AU"},
    {0x1009, "en-CA"}, {0x0416, "pt-BR"}, {0x0816, "pt-PT"},   {0x0C0A, "es-ES"},
    {0x080A, "es-MX"}, {0x040C, "fr-FR"}, {0x0C0C, "fr-CA"},   {0x0407, "de-DE"},
    {0x0807, "de-CH"}, {0x0C07, "de-AT"}, {0x081A, "sr-Latn"}, {0x0C1A, "sr-Cyrl"},
    {0x0813, "nl-BE"}, {0x0814, "nn"},
};

// Primary languages (the identifier's low ten bits).
const LocaleTag Languages[] = {
    {0x01, "ar"}, {0x02, "bg"}, {0x03, "ca"}, {0x04, "zh"},  {0x05, "cs"}, {0x06, "da"},
    {0x07, "de"}, {0x08, "el"}, {0x09, "en"}, {0x0A, "es"},  {0x0B, "fi"}, {0x0C, "fr"},
    {0x0D, "he"}, {0x0E, "hu"}, {0x0F, "is"}, {0x10, "it"},  {0x11, "ja"}, {0x12, "ko"},
    {0x13, "nl"}, {0x14, "nb"}, {0x15, "pl"}, {0x16, "pt"},  {0x18, "ro"}, {0x19, "ru"},
    {0x1A, "hr"}, {0x1B, "sk"}, {0x1C, "sq"}, {0x1D, "sv"},  {0x1E, "th"}, {0x1F, "tr"},
    {0x20, "ur"}, {0x21, "id"}, {0x22, "uk"}, {0x23, "be"},  {0x24, "sl"}, {0x25, "et"},
    {0x26, "lv"}, {0x27, "lt"}, {0x29, "fa"}, {0x2A, "vi"},  {0x2B, "hy"}, {0x2C, "az"},
    {0x2D, "eu"}, {0x2F, "mk"}, {0x36, "af"}, {0x37, "ka"},  {0x38, "fo"}, {0x39, "hi"},
    {0x3E, "ms"}, {0x3F, "kk"}, {0x41, "sw"}, {0x43, "uz"},  {0x44, "tt"}, {0x45, "bn"},
    {0x46, "pa"}, {0x47, "gu"}, {0x49, "ta"}, {0x4A, "te"},  {0x4B, "kn"}, {0x4C, "ml"},
    {0x4E, "mr"}, {0x50, "mn"}, {0x56, "gl"}, {0x5A, "syr"}, {0x63, "ps"}, {0x64, "fil"},
};

}  // namespace

std::string LanguageTag(uint32_t lcid)
{
    uint16_t id = (uint16_t)(lcid & 0xFFFF);
    for (const LocaleTag& locale : Locales)
        if (locale.id == id)
            return locale.tag;
    for (const LocaleTag& language : Languages)
        if (language.id == (id & 0x3FF))
            return language.tag;
    return "";
}
