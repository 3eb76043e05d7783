#!/usr/bin/env python3
"""Local collecting server for crash report uploads: the demo's default and the tests' witness.

Listens on 127.0.0.1 only. Every upload it receives is stored in its own subfolder of --dir:
  request.raw      the request exactly as it arrived (request line, headers, body)
  body.bin         the body alone, as sent (de-chunked if the client used chunked coding)
  request.json     method, target, headers in order, content length, chunked or not, the fields
  Account.txt, Message.txt            the two text fields, raw bytes
  crashFile.zip, crashFile.name       the file part's content and its file name (raw bytes)
and one line per upload goes to standard output. A TLS handshake (first byte 0x16) on the port
is recorded in a tls-NNNN subfolder instead, and every accepted connection adds a line to
connections.log, so a test can tell that nothing connected at all.
"""

import argparse
import json
import os
import re
import socket
import socketserver
import sys
import threading
import time

HEADER_LIMIT = 64 * 1024
BODY_LIMIT = 512 * 1024 * 1024


class Store:
    """Numbers and writes the records; shared by the handler threads."""

    def __init__(self, folder):
        self.folder = folder
        self.lock = threading.Lock()
        self.count = 0
        os.makedirs(folder, exist_ok=True)

    def new_folder(self, kind):
        """A folder to fill; it appears under its final name only through publish()."""
        with self.lock:
            self.count += 1
            name = "%s-%04d" % (kind, self.count)
        path = os.path.join(self.folder, "." + name)
        os.makedirs(path)
        return path

    def publish(self, path):
        """Gives a filled folder its final name at once, so readers never see it half written."""
        final = os.path.join(os.path.dirname(path), os.path.basename(path)[1:])
        os.rename(path, final)
        return final

    def note_connection(self, peer):
        with self.lock:
            with open(os.path.join(self.folder, "connections.log"), "a") as f:
                f.write("%s:%d %.3f\n" % (peer[0], peer[1], time.time()))


def read_until_headers_end(conn, first):
    data = first
    while b"\r\n\r\n" not in data:
        if len(data) > HEADER_LIMIT:
            raise ValueError("headers too long")
        more = conn.recv(65536)
        if not more:
            raise ValueError("connection closed inside the headers")
        data += more
    end = data.index(b"\r\n\r\n") + 4
    return data[:end], data[end:]


def read_exactly(conn, have, size):
    # A growing bytearray: adding to bytes copies all read so far, hours for a body of a GiB.
    buffer = bytearray(have)
    while len(buffer) < size:
        more = conn.recv(min(1 << 20, size - len(buffer)))
        if not more:
            raise ValueError("connection closed inside the body")
        buffer += more
    return bytes(buffer[:size]), bytes(buffer[size:])


def read_chunked(conn, have):
    """Returns (raw bytes as sent, decoded body)."""
    raw = b""
    body = b""
    while True:
        while b"\r\n" not in have:
            more = conn.recv(65536)
            if not more:
                raise ValueError("connection closed inside a chunk size")
            have += more
        line, have = have.split(b"\r\n", 1)
        raw += line + b"\r\n"
        size = int(line.split(b";")[0].strip() or b"0", 16)
        chunk, have = read_exactly(conn, have, size + 2)
        raw += chunk
        body += chunk[:size]
        if size == 0:
            return raw, body


def parse_multipart(body, boundary):
    """Fields by name: {'value': bytes, 'filename': bytes or None, 'head': bytes}."""
    fields = {}
    delimiter = b"\r\n--" + boundary
    pieces = (b"\r\n" + body if not body.startswith(b"\r\n") else body).split(delimiter)
    for piece in pieces[1:]:
        if piece.startswith(b"--"):
            break
        if not piece.startswith(b"\r\n") or b"\r\n\r\n" not in piece:
            continue
        head, value = piece[2:].split(b"\r\n\r\n", 1)
        name = re.search(rb'name="([^"]*)"', head)
        filename = re.search(rb'filename="([^"]*)"', head)
        if name:
            fields[name.group(1).decode("utf-8", "replace")] = {
                "value": value,
                "filename": filename.group(1) if filename else None,
                "head": head,
            }
    return fields


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        opts = self.server.opts
        store = self.server.store
        conn = self.request
        conn.settimeout(30)
        store.note_connection(self.client_address)
        try:
            first = conn.recv(65536)
        except OSError:
            return
        if not first:
            return
        if first[0] == 0x16:
            self.record_tls(first)
            return
        try:
            self.handle_http(first)
        except (ValueError, OSError) as e:
            print("collect_server: bad request from %s:%d: %s" % (self.client_address + (e,)), flush=True)

    def record_tls(self, first):
        folder = self.server.store.new_folder("tls")
        with open(os.path.join(folder, "handshake.bin"), "wb") as f:
            f.write(first)
        folder = self.server.store.publish(folder)
        print("TLS handshake from %s:%d, %d bytes, stored in %s" % (self.client_address + (len(first), folder)),
              flush=True)

    def handle_http(self, first):
        opts = self.server.opts
        conn = self.request
        head, rest = read_until_headers_end(conn, first)
        lines = head[:-4].split(b"\r\n")
        method, target, version = (lines[0].split(b" ", 2) + [b"", b""])[:3]
        headers = []
        for line in lines[1:]:
            name, _, value = line.partition(b":")
            headers.append([name.decode("latin-1"), value.strip().decode("latin-1")])
        lookup = {n.lower(): v for n, v in headers}
        chunked = "chunked" in lookup.get("transfer-encoding", "").lower()
        if chunked:
            raw_body, body = read_chunked(conn, rest)
        else:
            length = int(lookup.get("content-length", "0") or "0")
            if length > opts.body_limit:
                raise ValueError("body too long")
            body, _ = read_exactly(conn, rest, length)
            raw_body = body

        folder = self.server.store.new_folder("upload")
        with open(os.path.join(folder, "request.raw"), "wb") as f:
            f.write(head + raw_body)
        with open(os.path.join(folder, "body.bin"), "wb") as f:
            f.write(body)

        boundary = re.search(r'boundary=("?)([^";]+)\1', lookup.get("content-type", ""))
        fields = parse_multipart(body, boundary.group(2).encode("latin-1")) if boundary else {}
        for name, field in fields.items():
            safe = re.sub(r"[^A-Za-z0-9_.-]", "_", name)
            if field["filename"] is not None:
                with open(os.path.join(folder, safe + ".zip"), "wb") as f:
                    f.write(field["value"])
                with open(os.path.join(folder, safe + ".name"), "wb") as f:
                    f.write(field["filename"])
            else:
                with open(os.path.join(folder, safe + ".txt"), "wb") as f:
                    f.write(field["value"])

        record = {
            "method": method.decode("latin-1"),
            "target": target.decode("latin-1"),
            "version": version.decode("latin-1"),
            "headers": headers,
            "content_length": lookup.get("content-length"),
            "chunked": chunked,
            "body_size": len(body),
            "fields": {n: {"size": len(f["value"]),
                           "filename": f["filename"].decode("utf-8", "replace") if f["filename"] is not None else None}
                       for n, f in fields.items()},
            "status": opts.status,
            "dropped": opts.drop,
        }
        with open(os.path.join(folder, "request.json"), "w", encoding="utf-8") as f:
            json.dump(record, f, ensure_ascii=False, indent=1)
        folder = self.server.store.publish(folder)

        def short(text):
            return text if len(text) <= 40 else text[:40] + "... (%d characters)" % len(text)

        account = short(fields.get("Account", {}).get("value", b"").decode("utf-8", "replace"))
        crash = fields.get("crashFile", {})
        print("upload %s: %s %s, %d body bytes, account %r, file %r (%d bytes)%s" % (
            os.path.basename(folder), record["method"], record["target"], len(body), account,
            short((crash.get("filename") or b"").decode("utf-8", "replace")), len(crash.get("value", b"")),
            ", dropped" if opts.drop else ", answered %d" % opts.status), flush=True)

        if opts.delay > 0:
            time.sleep(opts.delay)
        if opts.drop:
            # Closed without a word: the client sees the connection end before any answer.
            conn.shutdown(socket.SHUT_RDWR)
            return
        reason = {200: "OK", 204: "No Content", 500: "Internal Server Error"}.get(opts.status, "Status")
        content = b"" if opts.status in (204, 304) or opts.status < 200 else b"stored\n"
        answer = "HTTP/1.1 %d %s\r\nContent-Length: %d\r\nConnection: close\r\n\r\n" % (
            opts.status, reason, len(content))
        conn.sendall(answer.encode("ascii") + content)


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser(description="Store crash report uploads sent to 127.0.0.1.")
    parser.add_argument("--dir", default="uploads", help="folder for the stored uploads (created)")
    parser.add_argument("--port", type=int, default=8080, help="port on 127.0.0.1; 0 picks a free one")
    parser.add_argument("--port-file", help="write the port listened on to this file once listening")
    parser.add_argument("--status", type=int, default=200, help="status code of every answer")
    parser.add_argument("--delay", type=float, default=0.0, help="seconds to wait before answering")
    parser.add_argument("--drop", action="store_true", help="close the connection instead of answering")
    parser.add_argument("--body-limit", type=int, default=BODY_LIMIT,
                        help="largest body taken, in bytes (default %d); a longer one is cut off unanswered" % BODY_LIMIT)
    opts = parser.parse_args()

    server = Server(("127.0.0.1", opts.port), Handler)
    server.opts = opts
    server.store = Store(opts.dir)
    port = server.server_address[1]
    if opts.port_file:
        tmp = opts.port_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d\n" % port)
        os.replace(tmp, opts.port_file)
    print("collect_server: listening on 127.0.0.1:%d, storing in %s" % (port, os.path.abspath(opts.dir)), flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
