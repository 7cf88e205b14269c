// The multipart body as the engine writes it (the same pieces, in the same
// order), read back by a strict reader: every part must come back with its
// field name, file name, content type and content byte for byte, and no
// name or type may end its quoted string or start a header line.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "http/httpuploader_multipart_layout.h"

namespace mp = http::multipart;

namespace {

struct TPart {
    bool IsFile;
    std::string Name, FileName, ContentType, Content;
};

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "multipart: %s\n", what);
        std::abort();
    }
}

// Reverses EscapeQuoted where it can: names holding "%22", "%0D" or "%0A"
// themselves read back escaped, as in browsers' form data.
std::string Unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        std::string code = s.substr(i, 3);
        if (code == "%22")
            out += '"';
        else if (code == "%0D")
            out += '\r';
        else if (code == "%0A")
            out += '\n';
        else {
            out += s[i];
            continue;
        }
        i += 2;
    }
    return out;
}

bool Ambiguous(const std::string& s) {
    return s.find("%22") != std::string::npos || s.find("%0D") != std::string::npos ||
           s.find("%0A") != std::string::npos;
}

// Takes `text` at `pos`, or fails the check.
void Expect(const std::string& body, size_t& pos, const std::string& text, const char* what) {
    Check(body.compare(pos, text.size(), text) == 0, what);
    pos += text.size();
}

// A quoted parameter: from after `prefix` to the next quote.
std::string Quoted(const std::string& line, size_t& pos, const std::string& prefix) {
    Check(line.compare(pos, prefix.size(), prefix) == 0, "parameter missing");
    size_t close = line.find('"', pos + prefix.size());
    Check(close != std::string::npos, "quoted parameter not closed");
    std::string value = line.substr(pos + prefix.size(), close - pos - prefix.size());
    pos = close + 1;
    return value;
}

std::vector<TPart> Read(const std::string& body, const std::string& boundary) {
    std::vector<TPart> parts;
    const std::string delimiter = "--" + boundary;
    size_t pos = 0;
    if (body.empty()) return parts;
    for (;;) {
        Expect(body, pos, delimiter, "boundary line expected");
        if (body.compare(pos, 4, "--\r\n") == 0) {
            Check(pos + 4 == body.size(), "bytes after the closing line");
            return parts;
        }
        Expect(body, pos, "\r\n", "line break after the boundary");
        std::vector<std::string> lines;
        for (;;) {
            size_t end = body.find("\r\n", pos);
            Check(end != std::string::npos, "header line not ended");
            std::string line = body.substr(pos, end - pos);
            pos = end + 2;
            if (line.empty()) break;
            Check(line.find_first_of("\r\n") == std::string::npos, "line break inside a header line");
            lines.push_back(line);
        }
        Check(!lines.empty() && lines.size() <= 2, "one or two header lines per part");
        TPart part{};
        size_t at = 0;
        const std::string& disposition = lines[0];
        part.Name = Quoted(disposition, at, "Content-Disposition: form-data; name=\"");
        part.IsFile = at < disposition.size();
        if (part.IsFile) {
            part.FileName = Quoted(disposition, at, "; filename=\"");
            Check(lines.size() == 2 && lines[1].compare(0, 14, "Content-Type: ") == 0, "file part without its type");
            part.ContentType = lines[1].substr(14);
        }
        Check(at == disposition.size(), "bytes after the disposition's parameters");
        size_t end = body.find("\r\n" + delimiter, pos);
        Check(end != std::string::npos, "part not ended by a boundary");
        part.Content = body.substr(pos, end - pos);
        pos = end + 2;
        parts.push_back(part);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    unsigned a = in.ConsumeIntegral<uint16_t>(), b = in.ConsumeIntegral<uint16_t>(), c = in.ConsumeIntegral<uint16_t>();
    const std::string boundary = mp::FormatBoundary(a, b, c);
    std::vector<TPart> parts;
    while (in.remaining_bytes() > 0 && parts.size() < 8) {
        TPart p{};
        p.IsFile = in.ConsumeBool();
        p.Name = in.ConsumeRandomLengthString(64);
        if (p.IsFile) {
            p.FileName = in.ConsumeRandomLengthString(64);
            p.ContentType = in.ConsumeRandomLengthString(32);
        }
        p.Content = in.ConsumeRandomLengthString(512);
        // The boundary is drawn at random for every request; content cannot
        // know it in advance, and RFC 2046 leaves its choice to the writer.
        if (p.Content.find("--" + boundary) != std::string::npos) return 0;
        parts.push_back(p);
    }

    // As the engine sends it: header, content, CRLF per part; the closing line after them.
    std::string body;
    for (const TPart& p : parts) {
        body +=
            p.IsFile ? mp::FileHeader(boundary, p.Name, p.FileName, p.ContentType) : mp::FieldHeader(boundary, p.Name);
        body += p.Content;
        body += mp::kCRLF;
    }
    if (!parts.empty()) body += mp::ClosingLine(boundary);

    std::vector<TPart> back = Read(body, boundary);
    Check(back.size() == parts.size(), "part count");
    for (size_t i = 0; i < parts.size(); ++i) {
        const TPart &p = parts[i], &q = back[i];
        Check(p.IsFile == q.IsFile, "file part read as a field or the reverse");
        Check(Ambiguous(p.Name) || Unescape(q.Name) == p.Name, "field name changed");
        Check(Ambiguous(p.FileName) || Unescape(q.FileName) == p.FileName, "file name changed");
        Check(Ambiguous(p.ContentType) || Unescape(q.ContentType) == p.ContentType, "content type changed");
        Check(q.Content == p.Content, "content changed");
    }
    return 0;
}
