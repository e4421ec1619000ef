// Text and output helpers shared by the host's parts.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "host/host.h"
#include "platform/terminal_text.h"
#include "platform/text.h"

void Complain(const std::string& message)
{
    fflush(stdout);
    fprintf(stderr, "velkory: %s\n", message.c_str());
    fflush(stderr);
}

std::string PrintableName(const char* name)
{
    std::string out;
    for (const unsigned char* p = (const unsigned char*)name; *p; ++p) {
        if (*p < 0x20 || *p == 0x7f) {
            char escape[8];
            snprintf(escape, sizeof escape, "\\x%02x", *p);
            out += escape;
        } else {
            out += (char)*p;
        }
    }
    return out;
}

std::string OemTextForDisplay(const char* text)
{
    size_t length = strlen(text);
    std::vector<char> buffer(length * 4 + 8);
    OemToTerminal(text, buffer.data(), buffer.size());
    return PrintableName(buffer.data());
}

std::string FoldedText(std::string text)
{
    for (char& c : text)
        c = FoldAscii(c);
    return text;
}

bool ReadWholeFile(const std::string& path, std::string& contents)
{
    FILE* stream = fopen(path.c_str(), "rb");
    if (!stream)
        return false;
    contents.clear();
    char buffer[65536];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, stream)) > 0)
        contents.append(buffer, got);
    bool ok = !ferror(stream);
    int error = errno;
    fclose(stream);
    errno = error;
    return ok;
}
