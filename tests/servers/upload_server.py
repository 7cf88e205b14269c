#!/usr/bin/python3
"""Test server for the upload client: plain HTTP or HTTPS on 127.0.0.1.

Every request body is checked three ways, independently of each other:
  1. a strict reading of the exact byte layout the client must send
     (delimiter lines, one Content-Disposition line, a Content-Type line for
     files, CRLF placement, the closing delimiter, nothing after it);
  2. Python's email package (the MIME parser of the standard library);
  3. Debian's python3-multipart (the streaming form-data parser).
All three must find the same parts with the same bytes. The verdict goes in
the X-Check header ("ok" or what differed) and, unless the query asks for
another body, the answer's body is a summary of what was received:

  check ok
  method POST
  path /x?y
  header <name>: <value>            (every request header, lower-cased name)
  boundary <b>
  parts <n>
  field <name-hex> <length> <crc32>
  file <name-hex> <filename-hex> <content-type-hex> <length> <crc32>

The query chooses the answer: status=N, body=zero (5 bytes with a zero in
the middle) or body=big:N (N pattern bytes), disp=<Content-Disposition
value>, nolength=1 (no Content-Length; the connection closes after the body).

Usage: upload_server.py --port-file F [--cert C --key K]
The port (chosen by the system) is written to F once the server listens.
"""
import argparse
import email.parser
import email.policy
import http.server
import os
import re
import socketserver
import ssl
import sys
import urllib.parse
import zlib

sys.path.insert(0, "/usr/lib/python3/dist-packages")  # Debian's python3-multipart
import multipart  # noqa: E402
from multipart.multipart import MultipartParser, parse_options_header  # noqa: E402

CRLF = b"\r\n"
DISPOSITION = re.compile(rb'Content-Disposition: form-data; name="([^"\r\n]*)"(?:; filename="([^"\r\n]*)")?\Z')
CONTENT_TYPE = re.compile(rb"Content-Type: ([^\r\n]*)\Z")


class LayoutError(Exception):
    pass


def parse_layout(body, boundary):
    """The strict reading: answers [(name, filename|None, ctype|None, data)]."""
    delim = b"--" + boundary
    parts = []
    pos = 0
    while True:
        if not body.startswith(delim, pos):
            raise LayoutError("no delimiter at %d" % pos)
        pos += len(delim)
        if body.startswith(b"--" + CRLF, pos):
            pos += 4
            break
        if not body.startswith(CRLF, pos):
            raise LayoutError("delimiter not followed by CRLF at %d" % pos)
        pos += 2
        head_end = body.find(CRLF + CRLF, pos)
        if head_end < 0:
            raise LayoutError("part header without end at %d" % pos)
        lines = body[pos:head_end].split(CRLF)
        m = DISPOSITION.match(lines[0])
        if not m:
            raise LayoutError("bad Content-Disposition line %r" % lines[0][:200])
        name, filename = m.group(1), m.group(2)
        ctype = None
        if filename is not None:
            if len(lines) != 2 or not CONTENT_TYPE.match(lines[1]):
                raise LayoutError("file part needs exactly one Content-Type line: %r" % lines[1:][:3])
            ctype = CONTENT_TYPE.match(lines[1]).group(1)
        elif len(lines) != 1:
            raise LayoutError("field part with extra header lines: %r" % lines[1:][:3])
        data_start = head_end + 4
        data_end = body.find(CRLF + delim, data_start)
        if data_end < 0:
            raise LayoutError("part data without delimiter after it")
        parts.append((name, filename, ctype, body[data_start:data_end]))
        pos = data_end + 2
    if pos != len(body):
        raise LayoutError("%d bytes after the closing delimiter" % (len(body) - pos))
    return parts


def parse_email(body, content_type):
    msg = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(
        b"Content-Type: " + content_type + b"\r\nMIME-Version: 1.0\r\n\r\n" + body)
    if not msg.is_multipart():
        raise LayoutError("email: not multipart")
    if msg.defects:
        raise LayoutError("email: defects %r" % msg.defects)
    parts = []
    for part in msg.iter_parts():
        if part.defects:
            raise LayoutError("email: part defects %r" % part.defects)
        name = part.get_param("name", header="content-disposition")
        filename = part.get_param("filename", header="content-disposition")
        ctype = part.get("content-type")
        data = part.get_payload(decode=True)
        # The email package reads header bytes as UTF-8 (bytes it cannot
        # read come back as escapes): written back the same way.
        enc = lambda s: None if s is None else str(s).encode("utf-8", "surrogateescape")  # noqa: E731
        parts.append((enc(name), enc(filename), enc(ctype), data))
    return parts


def parse_python_multipart(body, boundary):
    parts = []
    state = {}

    def on_part_begin():
        state.update(headers={}, data=[])

    def on_header_field(data, start, end):
        state["field"] = state.get("field", b"") + data[start:end]

    def on_header_value(data, start, end):
        state["value"] = state.get("value", b"") + data[start:end]

    def on_header_end():
        state["headers"][state.pop("field", b"").lower()] = state.pop("value", b"")

    def on_part_data(data, start, end):
        state["data"].append(data[start:end])

    def on_part_end():
        headers = state["headers"]
        _, opts = parse_options_header(headers.get(b"content-disposition", b""))
        parts.append((opts.get(b"name"), opts.get(b"filename"), headers.get(b"content-type"),
                      b"".join(state["data"])))

    parser = MultipartParser(boundary, callbacks={
        "on_part_begin": on_part_begin, "on_header_field": on_header_field,
        "on_header_value": on_header_value, "on_header_end": on_header_end,
        "on_part_data": on_part_data, "on_part_end": on_part_end})
    for i in range(0, len(body), 1 << 20):
        parser.write(body[i:i + (1 << 20)])
    parser.finalize()
    return parts


def describe(parts):
    def shape(p):
        return (p[0], p[1], p[2], len(p[3]), zlib.crc32(p[3]))
    return [shape(p) for p in parts]


def check_body(body, content_type):
    """Answers (verdict, boundary, parts)."""
    m = re.match(rb"multipart/form-data; boundary=([0-9A-Za-z'()+_,./:=?-]{1,70})\Z", content_type or b"")
    if not m:
        return "bad content type %r" % content_type, b"", []
    boundary = m.group(1)
    if not body:
        return "ok", boundary, []
    try:
        layout = parse_layout(body, boundary)
        by_email = parse_email(body, content_type)
        by_multipart = parse_python_multipart(body, boundary)
    except Exception as e:  # any parser failure is the verdict
        return "parse error: %s" % e, boundary, []
    if describe(by_email) != describe(layout):
        return "email parser disagrees: %r vs %r" % (describe(by_email)[:4], describe(layout)[:4]), boundary, layout
    if describe(by_multipart) != describe(layout):
        return ("python-multipart disagrees: %r vs %r" % (describe(by_multipart)[:4], describe(layout)[:4]),
                boundary, layout)
    return "ok", boundary, layout


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, fmt, *args):
        pass

    def handle_any(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = b""
        while len(body) < length:
            chunk = self.rfile.read(min(1 << 20, length - len(body)))
            if not chunk:
                break
            body += chunk
        ctype = self.headers.get("Content-Type")
        verdict, boundary, parts = check_body(body, ctype.encode("latin-1") if ctype else None)
        if len(body) != length:
            verdict = "short body: %d of %d" % (len(body), length)

        query = urllib.parse.parse_qs(urllib.parse.urlsplit(self.path).query)
        status = int(query.get("status", ["200"])[0])
        what = query.get("body", [""])[0]
        if what == "zero":
            answer = b"ab\0cd"
        elif what.startswith("big:"):
            n = int(what[4:])
            answer = (bytes(range(256)) * (n // 256 + 1))[:n]
        else:
            lines = ["check " + verdict, "method " + self.command, "path " + self.path]
            lines += ["header %s: %s" % (k.lower(), v) for k, v in self.headers.items()]
            lines += ["boundary " + boundary.decode("latin-1"), "parts %d" % len(parts)]
            for name, filename, ctype_, data in parts:
                if filename is None:
                    lines.append("field %s %d %08x" % (name.hex(), len(data), zlib.crc32(data)))
                else:
                    lines.append("file %s %s %s %d %08x" % (name.hex(), filename.hex(), ctype_.hex(), len(data),
                                                            zlib.crc32(data)))
            answer = ("\n".join(lines) + "\n").encode("latin-1")

        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("X-Check", verdict[:2000].replace("\r", " ").replace("\n", " "))
        if "disp" in query:
            self.send_header("Content-Disposition", query["disp"][0])
        if query.get("nolength", ["0"])[0] == "1":
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(answer)

    do_GET = do_POST = do_PUT = do_HEAD = handle_any


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--port-file", required=True)
    ap.add_argument("--cert")
    ap.add_argument("--key")
    args = ap.parse_args()
    server = Server(("127.0.0.1", 0), Handler)
    if args.cert:
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(args.cert, args.key)
        server.socket = ctx.wrap_socket(server.socket, server_side=True)
    tmp = args.port_file + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(tmp, args.port_file)
    server.serve_forever()


if __name__ == "__main__":
    main()
