// The code-page converter of the Linux platform layer (converter.h).
#include "platform/linux/converter.h"

#include <errno.h>
#include <iconv.h>
#include <string.h>
#include <wchar.h>

#include "platform/charsets.h"
#include "platform/platform.h"

static_assert(sizeof(wchar_t) == 4, "iconv's WCHAR_T is one code point a unit");

namespace {

const iconv_t NoDescriptor = (iconv_t)-1;

// The iconv descriptors a thread used last, by code page and direction; the
// least recently used gives way to a new one.
struct Descriptor {
    unsigned codePage;
    bool toCodePage;
    iconv_t descriptor;
    unsigned long lastUse;
};

struct Descriptors {
    Descriptor slots[4] = {};
    unsigned long uses = 0;
    Descriptors()
    {
        for (Descriptor& slot : slots)
            slot.descriptor = NoDescriptor;
    }
    ~Descriptors()
    {
        for (Descriptor& slot : slots)
            if (slot.descriptor != NoDescriptor)
                iconv_close(slot.descriptor);
    }
};

thread_local Descriptors descriptors;

// The descriptor from or to codePage (in the state of its start); NoDescriptor
// when iconv cannot convert it.
iconv_t FindDescriptor(unsigned codePage, bool toCodePage)
{
    Descriptors& d = descriptors;
    Descriptor* oldest = &d.slots[0];
    for (Descriptor& slot : d.slots) {
        if (slot.descriptor != NoDescriptor && slot.codePage == codePage &&
            slot.toCodePage == toCodePage) {
            slot.lastUse = ++d.uses;
            return slot.descriptor;
        }
        if (slot.descriptor == NoDescriptor ||
            (oldest->descriptor != NoDescriptor && slot.lastUse < oldest->lastUse))
            oldest = &slot;
    }
    char name[24];
    CodePageIconvName(codePage, name, sizeof name);
    iconv_t descriptor = toCodePage ? iconv_open(name, "WCHAR_T") : iconv_open("WCHAR_T", name);
    if (descriptor == NoDescriptor)
        return NoDescriptor;
    if (oldest->descriptor != NoDescriptor)
        iconv_close(oldest->descriptor);
    *oldest = {codePage, toCodePage, descriptor, ++d.uses};
    return descriptor;
}

bool BuiltIn(unsigned codePage)
{
    return codePage == CP_UTF8 || codePage == 1252 || codePage == 437;
}

// The next code points through iconv. A call that only consumes bytes (a
// shift sequence, or a character iconv holds back to see what follows) is
// followed by the next, so that 0 comes only at the end; the end flushes what
// iconv holds.
size_t DecodeWithIconv(TextDecoder* decoder, uint32_t* out, size_t capacity)
{
    iconv_t descriptor = FindDescriptor(decoder->codePage, false);
    if (descriptor == NoDescriptor) {
        decoder->finished = true;
        return 0;
    }
    size_t count = 0;
    while (count == 0 && !decoder->finished) {
        char* in = (char*)decoder->at;
        // iconv writes wchar_t units, which are the code points themselves.
        char* outPointer = (char*)out;
        size_t outLeft = capacity * sizeof(uint32_t);
        bool flushing = decoder->left == 0;
        size_t result = flushing ? iconv(descriptor, nullptr, nullptr, &outPointer, &outLeft)
                                 : iconv(descriptor, &in, &decoder->left, &outPointer, &outLeft);
        int error = result == (size_t)-1 ? errno : 0;
        decoder->at = in;
        count = capacity - outLeft / sizeof(uint32_t);
        if (error == EILSEQ && !flushing && count < capacity) {
            // A byte that is no character: '?', and on from the next byte.
            out[count++] = '?';
            decoder->at++;
            decoder->left--;
            decoder->invalid = true;
        } else if (error == EINVAL && count < capacity) {
            // A character cut short by the end.
            out[count++] = '?';
            decoder->left = 0;
            decoder->invalid = true;
        } else if (error != 0 && count == 0) {
            decoder->finished = true;  // nothing iconv can go on with (or no room)
        } else if (flushing && error == 0) {
            decoder->finished = true;
        }
    }
    return count;
}

}  // namespace

bool CodePageConvertible(unsigned codePage)
{
    return BuiltIn(codePage) ||
        (FindDescriptor(codePage, false) != NoDescriptor &&
         FindDescriptor(codePage, true) != NoDescriptor);
}

bool OpenTextDecoder(TextDecoder* decoder, unsigned codePage, const char* src, size_t size,
                     Utf8Invalid utf8Invalid)
{
    *decoder = {codePage, utf8Invalid, src, size, false, false};
    if (BuiltIn(codePage))
        return true;
    iconv_t descriptor = FindDescriptor(codePage, false);
    if (descriptor == NoDescriptor)
        return false;
    iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
    return true;
}

size_t DecodeText(TextDecoder* decoder, uint32_t* out, size_t capacity)
{
    if (decoder->finished)
        return 0;
    if (!BuiltIn(decoder->codePage))
        return DecodeWithIconv(decoder, out, capacity);
    size_t count = 0;
    while (count < capacity && decoder->left > 0) {
        size_t length = 1;
        if (decoder->codePage == CP_UTF8) {
            out[count] = DecodeUtf8(decoder->at, decoder->left, &length, decoder->utf8Invalid);
            // A replacement is a byte that is no character unless it is U+FFFD
            // itself, written out.
            if (out[count] == ReplacementCharacter &&
                (length != 3 || memcmp(decoder->at, "\xEF\xBF\xBD", 3) != 0))
                decoder->invalid = true;
        } else {
            DecodeSingleByte(decoder->codePage, (unsigned char)*decoder->at, &out[count]);
        }
        decoder->at += length;
        decoder->left -= length;
        count++;
    }
    decoder->finished = decoder->left == 0;
    return count;
}

size_t EncodeCodePoint(unsigned codePage, uint32_t value, bool bestFit, unsigned char* out)
{
    if (codePage == CP_UTF8)
        return EncodeUtf8(value, (char*)out);
    if (codePage == 1252 || codePage == 437) {
        if (EncodeSingleByte(codePage, value, out))
            return 1;
        unsigned char ansi;
        if (codePage == 1252 || !bestFit || !EncodeSingleByte(1252, value, &ansi) ||
            Ansi1252ToOem437[ansi] == '?')
            return 0;
        out[0] = Ansi1252ToOem437[ansi];
        return 1;
    }
    iconv_t descriptor = FindDescriptor(codePage, true);
    if (descriptor == NoDescriptor)
        return 0;
    iconv(descriptor, nullptr, nullptr, nullptr, nullptr);
    wchar_t in = (wchar_t)value;
    char* inPointer = (char*)&in;
    size_t inLeft = sizeof in;
    char* outPointer = (char*)out;
    size_t outLeft = 8;
    if (iconv(descriptor, &inPointer, &inLeft, &outPointer, &outLeft) == (size_t)-1 ||
        iconv(descriptor, nullptr, nullptr, &outPointer, &outLeft) == (size_t)-1)
        return 0;
    return 8 - outLeft;
}
