// The settings file's encodings: UTF-8 (with or without a byte-order mark)
// and regedit's UTF-16LE, to and from the UTF-8 text the format is read in
// (registry_store.h). The characters themselves are the text unit's.
#include "platform/linux/registry_store.h"
#include "platform/text.h"

#include <stdint.h>
#include <string.h>

namespace registry {

size_t Utf8Sequence(const BYTE* text, size_t size, uint32_t* point)
{
    size_t length = 0;
    *point = DecodeUtf8((const char*)text, size, &length);
    bool replaced = *point == ReplacementCharacter && length == 1;
    return replaced ? 0 : length;
}

namespace {

void AppendUtf8(ByteBuffer* out, uint32_t point)
{
    char bytes[4];
    Append(out, bytes, EncodeUtf8(point, bytes));
}

void AppendUtf16(ByteBuffer* out, uint32_t point)
{
    uint16_t units[2];
    size_t count = EncodeUtf16(point, units);
    for (size_t i = 0; i < count; i++) {
        char unit[2] = {(char)(units[i] & 0xFF), (char)(units[i] >> 8)};
        Append(out, unit, 2);
    }
}

// UTF-16LE after its byte-order mark, as UTF-8. False at the first unit that
// is not well formed (a lone surrogate, or half a unit at the end), with the
// line it is on.
bool Utf16ToUtf8(const BYTE* bytes, size_t size, ByteBuffer* text, size_t* badLine)
{
    size_t line = 1;
    for (size_t i = 2; i < size;) {
        if (i + 1 == size) {
            *badLine = line;
            return false;
        }
        uint32_t next = i + 3 < size ? (uint32_t)(bytes[i + 2] | bytes[i + 3] << 8) : 0;
        size_t units;
        uint32_t point = DecodeUtf16((uint32_t)(bytes[i] | bytes[i + 1] << 8), next, &units);
        if (point >= 0xD800 && point <= 0xDFFF) {
            *badLine = line;
            return false;
        }
        line += point == '\n';
        AppendUtf8(text, point);
        i += 2 * units;
    }
    return true;
}

}  // namespace

bool DecodeFile(const char* bytes, size_t size, TextForm* form, ByteBuffer* text, size_t* badLine)
{
    const BYTE* b = (const BYTE*)bytes;
    *form = TextForm {};
    *badLine = 0;
    if (size >= 2 && b[0] == 0xFF && b[1] == 0xFE) {
        form->encoding = TextUtf16;
        if (!Utf16ToUtf8(b, size, text, badLine))
            return false;
    } else if (size >= 2 && b[0] == 0xFE && b[1] == 0xFF) {
        *badLine = 1;  // big-endian UTF-16, which regedit never writes
        return false;
    } else {
        size_t start = 0;
        if (size >= 3 && memcmp(bytes, "\xEF\xBB\xBF", 3) == 0) {
            form->encoding = TextUtf8WithMark;
            start = 3;
        }
        Append(text, bytes + start, size - start);
    }
    if (text->failed)
        return false;
    // Lines may end in CR LF; the CRs are dropped.
    size_t kept = 0;
    for (size_t i = 0; i < text->size; i++)
        if (!(text->data[i] == '\r' && i + 1 < text->size && text->data[i + 1] == '\n'))
            text->data[kept++] = text->data[i];
    text->size = kept;
    return true;
}

bool EncodeFile(const char* text, size_t size, const TextForm* form, ByteBuffer* out)
{
    if (form->encoding != TextUtf16) {
        if (form->encoding == TextUtf8WithMark)
            Append(out, "\xEF\xBB\xBF", 3);
        Append(out, text, size);
        return !out->failed;
    }
    Append(out, "\xFF\xFE", 2);
    for (size_t i = 0; i < size;) {
        uint32_t point;
        size_t length = Utf8Sequence((const BYTE*)text + i, size - i, &point);
        if (length == 0) {
            // A byte outside any UTF-8 sequence stands for itself (Latin-1).
            point = (BYTE)text[i];
            length = 1;
        }
        if (point == '\n')
            AppendUtf16(out, '\r');
        AppendUtf16(out, point);
        i += length;
    }
    return !out->failed;
}

}  // namespace registry
