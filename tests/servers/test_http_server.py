#!/usr/bin/env python3
"""HTTP and HTTPS test server for the setup's downloader, on 127.0.0.1 only.

Each route answers in a way a real server might misbehave, so that the client's handling of it
can be checked:

  /dosyalar/<name>              the file <name> of --root
  /yavas/<ms>/<name>            the same, pausing ms milliseconds after each MiB
  /veri/<n>                     n bytes, byte i being i % 251; options in the query:
                                  uzunluksuz=1  no Content-Length, the body ends at the close
                                  duyur=<m>     announce m bytes, send n, close
                                  parca=<k>     write in pieces of k bytes, flushing each
  /durum/<code>                 that status, body "durum <code>"
  /bekle/<ms>/veri/<n>          wait, then answer as /veri/<n>
  /takil/<k>/<n>                announce n bytes, send k, then stall without closing
  /kes/<k>/<n>                  announce n bytes, send k, then reset the connection
  /yonlendir/<code>?hedef=<p>   a redirect to p

Every response closes its connection. The chosen port is written to --port-file once the
server listens. The server ends on SIGTERM or SIGINT; on Windows, where SIGTERM is never sent,
the Windows test kit's runner ends it with the job object it starts it in.
"""

import argparse
import http.server
import os
import signal
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.parse

if os.name != "nt":
    import fcntl
    import termios

# Upper bounds for waits a request asks for: a forgotten client never holds a thread for long.
MAX_WAIT_S = 120.0
# How long a reset waits for the bytes before it to leave the send queue, and then for the
# client to take them: Wine drops what it has not read yet when the reset comes, answer
# headers included. Windows shows no send queue: there the reset waits a fixed time instead.
DRAIN_S = 5.0
WINDOWS_DRAIN_S = 0.5
READ_GRACE_S = 0.1
# Unread or unwritten sockets give up after this.
SOCKET_TIMEOUT_S = 60.0
PATTERN_PERIOD = 251
CHUNK = 1 << 20
_BLOCK = bytes(range(PATTERN_PERIOD)) * (CHUNK // PATTERN_PERIOD + 2)


class BadRequest(Exception):
    pass


def pattern(offset, length):
    """Bytes offset .. offset+length of the /veri content."""
    start = offset % PATTERN_PERIOD
    if start + length <= len(_BLOCK):
        return _BLOCK[start:start + length]
    return (bytes(range(PATTERN_PERIOD)) * ((start + length) // PATTERN_PERIOD + 1))[start:start + length]


def pattern_pieces(n, piece):
    offset = 0
    while offset < n:
        length = min(piece, n - offset)
        yield pattern(offset, length)
        offset += length


def file_pieces(handle):
    while True:
        data = handle.read(CHUNK)
        if not data:
            return
        yield data


def number(text, low=0, high=None):
    if not (text.isascii() and text.isdigit()):
        raise BadRequest(f"not a number: {text!r}")
    value = int(text)
    if value < low or (high is not None and value > high):
        raise BadRequest(f"out of range: {value}")
    return value


def wait_sent(connection):
    """Waits, briefly, until the peer has acknowledged everything written so far."""
    if os.name == "nt":
        # Windows has no TIOCOUTQ; on the loopback the bytes reach the peer at once.
        time.sleep(WINDOWS_DRAIN_S)
        return
    deadline = time.monotonic() + DRAIN_S
    queued = bytearray(4)
    while time.monotonic() < deadline:
        fcntl.ioctl(connection.fileno(), termios.TIOCOUTQ, queued)
        if struct.unpack("i", queued)[0] == 0:
            return
        time.sleep(0.01)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "TalvorTest/1"
    timeout = SOCKET_TIMEOUT_S

    def log_message(self, format, *args):
        if self.server.verbose:
            sys.stderr.write(f"{self.address_string()} {format % args}\n")

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        parts = url.path.split("/")[1:]
        try:
            query = urllib.parse.parse_qs(url.query, keep_blank_values=True, strict_parsing=bool(url.query))
        except ValueError:
            return self.reply(400, b"bad query")
        try:
            if parts[0] == "dosyalar" and len(parts) >= 2:
                return self.file(urllib.parse.unquote("/".join(parts[1:])))
            if parts[0] == "yavas" and len(parts) >= 3:
                pause = min(number(parts[1]) / 1000, MAX_WAIT_S)
                return self.file(urllib.parse.unquote("/".join(parts[2:])), pause)
            if parts[0] == "veri" and len(parts) == 2:
                return self.data(number(parts[1]), self.data_options(query))
            if parts[0] == "durum" and len(parts) == 2:
                code = number(parts[1], 200, 599)
                return self.reply(code, f"durum {code}".encode())
            if parts[0] == "bekle" and len(parts) == 4 and parts[2] == "veri":
                delay = min(number(parts[1]) / 1000, MAX_WAIT_S)
                size = number(parts[3])
                options = self.data_options(query)
                if self.server.stopping.wait(delay):
                    return
                return self.data(size, options)
            if parts[0] in ("takil", "kes") and len(parts) == 3:
                sent, announced = number(parts[1]), number(parts[2], 1)
                if sent >= announced:
                    raise BadRequest("the bytes sent must be fewer than those announced")
                return self.cut_short(sent, announced, parts[0] == "kes")
            if parts[0] == "yonlendir" and len(parts) == 2:
                return self.redirect(number(parts[1]), query)
        except BadRequest as problem:
            return self.reply(400, str(problem).encode())
        return self.reply(404, b"no such route")

    def start(self, code, length, headers=()):
        self.send_response(code)
        if length is not None:
            self.send_header("Content-Length", str(length))
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Connection", "close")
        self.end_headers()
        self.close_connection = True

    def reply(self, code, body, headers=()):
        # These statuses never carry a body.
        if code in (204, 304):
            self.start(code, None, headers)
            return
        self.start(code, len(body), headers)
        self.wfile.write(body)

    def send_pieces(self, pieces):
        for piece in pieces:
            self.wfile.write(piece)
            self.wfile.flush()

    def file(self, name, pause=0.0):
        root = self.server.root
        try:
            path = os.path.realpath(os.path.join(root, name))
        except ValueError:
            return self.reply(400, b"bad name")
        try:
            inside = os.path.commonpath([root, path]) == root
        except ValueError:
            # On Windows: another drive ("C:/..."), or a device name that realpath turns into \\.\NUL.
            inside = False
        if not inside:
            return self.reply(403, b"outside the served folder")
        try:
            handle = open(path, "rb")
        except (FileNotFoundError, IsADirectoryError, NotADirectoryError):
            return self.reply(404, b"no such file")
        with handle:
            size = os.fstat(handle.fileno()).st_size
            self.start(200, size, [("Content-Type", "application/octet-stream")])
            self.send_pieces(self.paced(file_pieces(handle), pause))

    def paced(self, pieces, pause):
        for piece in pieces:
            yield piece
            if pause and self.server.stopping.wait(pause):
                return

    @staticmethod
    def data_options(query):
        def single(name):
            values = query.get(name, [])
            if len(values) > 1:
                raise BadRequest(f"{name} given twice")
            return values[0] if values else None

        unknown = set(query) - {"uzunluksuz", "duyur", "parca"}
        if unknown:
            raise BadRequest(f"unknown options: {', '.join(sorted(unknown))}")
        without_length = single("uzunluksuz")
        if without_length not in (None, "1"):
            raise BadRequest("uzunluksuz takes 1")
        announced = single("duyur")
        piece = single("parca")
        if without_length and announced is not None:
            raise BadRequest("uzunluksuz and duyur exclude each other")
        return {
            "without_length": bool(without_length),
            "announced": None if announced is None else number(announced),
            "piece": CHUNK if piece is None else number(piece, 1),
        }

    def data(self, size, options):
        if options["without_length"]:
            length = None
        elif options["announced"] is not None:
            length = options["announced"]
        else:
            length = size
        self.start(200, length, [("Content-Type", "application/octet-stream")])
        self.send_pieces(pattern_pieces(size, options["piece"]))

    def cut_short(self, sent, announced, reset):
        self.start(200, announced, [("Content-Type", "application/octet-stream")])
        self.send_pieces(pattern_pieces(sent, CHUNK))
        if reset:
            wait_sent(self.connection)
            self.server.stopping.wait(READ_GRACE_S)
            # A zero linger turns the close into a reset, as when a server or a middlebox dies.
            # Windows' struct linger is two u_shorts, Linux's two ints.
            linger = struct.pack("HH" if os.name == "nt" else "ii", 1, 0)
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, linger)
            self.connection.close()
        else:
            self.server.stopping.wait(MAX_WAIT_S)

    def redirect(self, code, query):
        if code not in (301, 302, 303, 307, 308):
            raise BadRequest(f"not a redirect: {code}")
        targets = query.get("hedef", [])
        if len(targets) != 1 or not targets[0]:
            raise BadRequest("one hedef is needed")
        target = targets[0]
        if any(ord(c) < 0x21 or ord(c) == 0x7F for c in target):
            raise BadRequest("hedef has control characters or spaces")
        self.reply(code, f"-> {target}".encode(), [("Location", target)])


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    # A listen backlog for many quick connections of parallel tests.
    request_queue_size = 64

    def __init__(self, root, context, verbose):
        self.root = os.path.realpath(root)
        self.context = context
        self.verbose = verbose
        self.stopping = threading.Event()
        super().__init__(("127.0.0.1", 0), Handler)

    def finish_request(self, request, client_address):
        # TLS is set up here, in the connection's own thread, so that a client that never
        # finishes its handshake holds up no one else.
        if self.context is None:
            super().finish_request(request, client_address)
            return
        request.settimeout(SOCKET_TIMEOUT_S)
        try:
            connection = self.context.wrap_socket(request, server_side=True)
        except OSError as problem:
            # Expected whenever a test client refuses the certificate.
            if self.verbose:
                sys.stderr.write(f"{client_address[0]} handshake failed: {problem}\n")
            return
        try:
            super().finish_request(connection, client_address)
            if connection.fileno() != -1:
                # close_notify, so that a body that ends at the close is seen as complete. The
                # peer's own close_notify is not waited for: without blocking, the second half
                # of the shutdown asks to read.
                connection.setblocking(False)
                try:
                    connection.unwrap()
                except ssl.SSLWantReadError:
                    pass
        finally:
            connection.close()

    def handle_error(self, request, client_address):
        # A client going away mid-response is normal here; a fault of this server is not.
        if self.verbose or not isinstance(sys.exc_info()[1], OSError):
            super().handle_error(request, client_address)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--verbose", action="store_true")
    arguments = parser.parse_args()
    if bool(arguments.cert) != bool(arguments.key):
        parser.error("--cert and --key go together")
    if not os.path.isdir(arguments.root):
        parser.error(f"--root {arguments.root} is not a folder")

    context = None
    if arguments.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(arguments.cert, arguments.key)

    server = Server(arguments.root, context, arguments.verbose)
    stop = threading.Event()
    for name in (signal.SIGTERM, signal.SIGINT):
        signal.signal(name, lambda *_: stop.set())
    serving = threading.Thread(target=server.serve_forever, kwargs={"poll_interval": 0.2})
    serving.start()

    temporary = arguments.port_file + ".tmp"
    with open(temporary, "w") as handle:
        handle.write(f"{server.server_address[1]}\n")
    os.replace(temporary, arguments.port_file)

    stop.wait()
    server.stopping.set()
    server.shutdown()
    server.server_close()
    serving.join()


if __name__ == "__main__":
    main()
