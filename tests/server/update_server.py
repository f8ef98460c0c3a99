#!/usr/bin/env python3
"""A scriptable HTTP(S) server on 127.0.0.1 for the downloader's tests.

Everything a test controls lives in one control folder (see README.md):

  scenario.json     what each path answers; re-read on every request
  ready             written once listening; holds the port number
  error             written instead of "ready" when the server cannot start
  requests.jsonl    one JSON object per HTTP request received
  connections.jsonl one JSON object per accepted connection (TLS outcome)
  stop              created by the test; the server then shuts down
  stopped           written when the server has shut down
  server.log        the server's own diagnostics

Only the Python standard library is used.
"""

import argparse
import base64
import http.server
import json
import os
import socket
import socketserver
import ssl
import sys
import threading
import time

BIND_ADDRESS = "127.0.0.1"  # never anything else
DEFAULT_CHUNK_BYTES = 65536
PATTERN_PERIOD = 251  # a prime, so chunk boundaries never line up with the pattern


def pattern_bytes(offset, length):
    """Bytes offset..offset+length of the generated body: byte i is i % 251."""
    start = offset % PATTERN_PERIOD
    period = bytes(range(PATTERN_PERIOD))
    repeated = period[start:] + period * (length // PATTERN_PERIOD + 1)
    return repeated[:length]


def write_atomically(path, text):
    temporary = path + ".tmp"
    with open(temporary, "w", encoding="utf-8") as out:
        out.write(text)
    os.replace(temporary, path)


class Control:
    """The control folder: scenario in, records out."""

    def __init__(self, folder):
        self.folder = folder
        self.lock = threading.Lock()

    def path(self, name):
        return os.path.join(self.folder, name)

    def append(self, name, record):
        line = json.dumps(record, ensure_ascii=True, separators=(",", ":")) + "\n"
        with self.lock:
            with open(self.path(name), "a", encoding="utf-8") as out:
                out.write(line)
                out.flush()

    def scenario(self):
        try:
            with open(self.path("scenario.json"), "r", encoding="utf-8") as source:
                return json.load(source)
        except FileNotFoundError:
            return {}

    def route(self, target):
        """The response for a request target: exact target first, then its path alone."""
        routes = self.scenario().get("routes", {})
        if target in routes:
            return routes[target]
        path = target.split("?", 1)[0]
        if path in routes:
            return routes[path]
        return {"status": 404, "text": "not found"}


class Body:
    """The bytes of one response, produced in chunks without loading a file whole."""

    def __init__(self, route):
        self.file = None
        self.inline = None
        self.generated = None
        if "file" in route:
            self.file = route["file"]
            self.size = os.path.getsize(self.file)
        elif "size" in route:
            self.generated = int(route["size"])
            self.size = self.generated
        elif "base64" in route:
            self.inline = base64.b64decode(route["base64"])
            self.size = len(self.inline)
        else:
            self.inline = route.get("text", "").encode("utf-8")
            self.size = len(self.inline)

    def chunks(self, limit, chunk_bytes):
        """Yields at most limit bytes in pieces of at most chunk_bytes."""
        sent = 0
        if self.file is not None:
            with open(self.file, "rb") as source:
                while sent < limit:
                    piece = source.read(min(chunk_bytes, limit - sent))
                    if not piece:
                        return
                    sent += len(piece)
                    yield piece
            return
        while sent < limit:
            length = min(chunk_bytes, limit - sent)
            if self.generated is not None:
                piece = pattern_bytes(sent, length)
            else:
                piece = self.inline[sent:sent + length]
            if not piece:
                return
            sent += len(piece)
            yield piece


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    def version_string(self):
        return "NorvantaTestServer/1"

    def log_message(self, format, *args):  # noqa: A002 - the base class's name
        sys.stderr.write("%s %s\n" % (self.address_string(), format % args))

    def serve(self):
        control = self.server.control
        control.append("requests.jsonl", {
            "verb": self.command,
            "target": self.path,
            "userAgent": self.headers.get("User-Agent"),
            "headers": [[name, value] for name, value in self.headers.items()],
        })
        route = control.route(self.path)
        body = Body(route)
        status = int(route.get("status", 200))
        self.send_response(status)
        if "location" in route:
            self.send_header("Location", route["location"])
        for name, value in route.get("headers", {}).items():
            self.send_header(name, value)
        if not route.get("omitContentLength", False):
            self.send_header("Content-Length", str(body.size))
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True
        if self.command == "HEAD":
            return

        limit = body.size
        if "closeAfterBytes" in route:
            limit = min(limit, int(route["closeAfterBytes"]))
        chunk_bytes = int(route.get("chunkBytes", DEFAULT_CHUNK_BYTES))
        delay = float(route.get("chunkDelayMs", 0)) / 1000.0
        first = True
        for piece in body.chunks(limit, max(1, chunk_bytes)):
            if delay and not first:
                time.sleep(delay)
            first = False
            self.wfile.write(piece)
            self.wfile.flush()
        if limit < body.size:
            # Drop the connection with the body still owed.
            self.wfile.flush()
            try:
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass

    do_GET = serve
    do_HEAD = serve
    do_POST = serve
    do_PUT = serve
    do_DELETE = serve
    do_PATCH = serve
    do_OPTIONS = serve


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, port, control, context):
        self.control = control
        self.context = context
        super().__init__((BIND_ADDRESS, port), Handler)

    def server_bind(self):
        # HTTPServer.server_bind would look the address up in DNS; nothing needs the name.
        socketserver.TCPServer.server_bind(self)
        self.server_name = "localhost"
        self.server_port = self.server_address[1]

    def finish_request(self, request, client_address):
        # The handshake runs on the connection's own thread, so a stalled
        # client never blocks accepting the next one.
        request.settimeout(60)
        record = {"client": "%s:%d" % client_address}
        if self.context is not None:
            try:
                request = self.context.wrap_socket(request, server_side=True)
                record["tls"] = request.version()
            except (ssl.SSLError, OSError) as error:
                record["tls"] = "failed"
                record["error"] = str(error)
                self.control.append("connections.jsonl", record)
                request.close()
                return
        self.control.append("connections.jsonl", record)
        try:
            super().finish_request(request, client_address)
        finally:
            if self.context is not None:
                try:
                    request.close()
                except OSError:
                    pass

    def handle_error(self, request, client_address):
        sys.stderr.write("error while serving %s: %s\n" % (client_address, sys.exc_info()[1]))


def make_context(mode, cert, key):
    if mode == "http":
        return None
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    if mode == "tls-old":
        # Only protocols that the downloader must refuse; OpenSSL 3 needs
        # security level 0 to offer them at all.
        context.set_ciphers("DEFAULT:@SECLEVEL=0")
        context.minimum_version = ssl.TLSVersion.TLSv1
        context.maximum_version = ssl.TLSVersion.TLSv1_1
    else:
        context.minimum_version = ssl.TLSVersion.TLSv1_2
    context.load_cert_chain(certfile=cert, keyfile=key)
    return context


def watch(server, control, lifetime):
    deadline = time.monotonic() + lifetime
    while time.monotonic() < deadline and not os.path.exists(control.path("stop")):
        time.sleep(0.05)
    server.shutdown()


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--control", required=True, help="control folder")
    parser.add_argument("--mode", choices=["https", "http", "tls-old"], default="https")
    parser.add_argument("--port", type=int, default=0, help="0 for an ephemeral port")
    parser.add_argument("--cert", help="PEM certificate (may hold the key too)")
    parser.add_argument("--key", help="PEM private key, when not in --cert")
    parser.add_argument("--lifetime", type=float, default=600.0,
                        help="seconds after which the server stops in any case")
    arguments = parser.parse_args()

    control = Control(arguments.control)
    os.makedirs(arguments.control, exist_ok=True)
    sys.stderr = open(control.path("server.log"), "a", encoding="utf-8", buffering=1)
    sys.stdout = sys.stderr
    try:
        if arguments.mode != "http" and not arguments.cert:
            raise ValueError("--cert is required for mode " + arguments.mode)
        context = make_context(arguments.mode, arguments.cert, arguments.key)
        server = Server(arguments.port, control, context)
    except Exception as error:  # reported to the test through the error file
        write_atomically(control.path("error"), "%s: %s\n" % (type(error).__name__, error))
        return 1

    write_atomically(control.path("ready"), "%d\n" % server.server_address[1])
    watcher = threading.Thread(target=watch, args=(server, control, arguments.lifetime),
                               daemon=True)
    watcher.start()
    try:
        server.serve_forever(poll_interval=0.05)
    finally:
        server.server_close()
        write_atomically(control.path("stopped"), "stopped\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
