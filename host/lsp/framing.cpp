// The frames of the language server's messages: headers, each line ended by
// CRLF (a bare LF is taken too), a blank line, then Content-Length bytes of
// content. Nothing is held beyond the limits of lsp.h: headers longer than
// LspMaxHeaders and content longer than LspMaxContent are read through and
// dropped.
#include <algorithm>
#include <string>

#include "host/lsp/lsp.h"
#include "host/os/os.h"
#include "platform/text.h"

namespace {

constexpr size_t ReadSize = 65536;

// The value of a "Content-Length: N" line; -1 when the line is another
// header, -2 when it is that header with no usable number.
long long ContentLength(const std::string& line)
{
    static const char name[] = "content-length:";
    size_t n = sizeof name - 1;
    if (line.size() < n)
        return -1;
    for (size_t i = 0; i < n; ++i)
        if (FoldAscii(line[i]) != name[i])
            return -1;
    size_t i = n;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    long long value = 0;
    size_t digits = 0;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i, ++digits) {
        if (value > (long long)LspMaxContent * 16)
            return -2;  // far over the limit: no need to read further
        value = value * 10 + (line[i] - '0');
    }
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t'))
        ++i;
    return digits == 0 || i != line.size() ? -2 : value;
}

}  // namespace

bool FrameReader::Fill()
{
    // What was read already goes, so that the buffer holds at most a header
    // line over the limit and one read.
    buffer_.erase(0, at_);
    at_ = 0;
    char chunk[ReadSize];
    size_t n = ReadAvailable(in_, chunk, sizeof chunk);
    if (n == 0)
        return false;
    buffer_.append(chunk, n);
    return true;
}

Frame FrameReader::Next()
{
    Frame frame;
    // The headers, a line at a time, up to the blank line.
    long long length = -1;
    bool bad = false;
    size_t headerBytes = 0;
    for (;;) {
        size_t end = buffer_.find('\n', at_);
        if (end == std::string::npos) {
            // No whole line yet: a line over the limit is dropped as it comes.
            if (buffer_.size() - at_ > LspMaxHeaders) {
                headerBytes += buffer_.size() - at_;
                at_ = buffer_.size();
                bad = true;
                frame.error =
                    "a header line is longer than " + std::to_string(LspMaxHeaders) + " bytes";
            }
            if (!Fill())
                return frame;  // End
            continue;
        }
        std::string line = buffer_.substr(at_, end - at_);
        headerBytes += end + 1 - at_;
        at_ = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty()) {
            if (headerBytes <= 2 && length < 0 && !bad)
                continue;  // blank lines between messages
            break;
        }
        long long value = ContentLength(line);
        if (value == -2 || (value >= 0 && length >= 0)) {
            bad = true;
            frame.error = "the header '" + line.substr(0, 64) + "' gives no single length";
        } else if (value >= 0) {
            length = value;
        }
        if (headerBytes > LspMaxHeaders && !bad) {
            bad = true;
            frame.error = "the headers are longer than " + std::to_string(LspMaxHeaders) + " bytes";
        }
    }
    if (bad || length < 0) {
        frame.kind = FrameKind::BadFrame;
        if (frame.error.empty())
            frame.error = "a message without a Content-Length header";
        return frame;
    }

    // The content: kept when within the limit, else read through.
    bool keep = (unsigned long long)length <= LspMaxContent;
    unsigned long long left = (unsigned long long)length;
    while (left > 0) {
        if (at_ == buffer_.size() && !Fill()) {
            frame.content.clear();
            return frame;  // End: cut short
        }
        size_t take = (size_t)std::min<unsigned long long>(left, buffer_.size() - at_);
        if (keep)
            frame.content.append(buffer_, at_, take);
        at_ += take;
        left -= take;
        if (at_ == buffer_.size()) {
            buffer_.clear();
            at_ = 0;
        }
    }
    frame.kind = keep ? FrameKind::Message : FrameKind::TooLarge;
    if (!keep)
        frame.error = "a message of " + std::to_string(length) + " bytes, over the limit of " +
            std::to_string(LspMaxContent);
    return frame;
}

std::string FrameMessage(const std::string& content)
{
    return "Content-Length: " + std::to_string(content.size()) + "\r\n\r\n" + content;
}
