#!/usr/bin/env python3
"""The test suite's HTTPS feed on loopback.

Servers on 127.0.0.1, each on a free port, all serving the files below
--root: the first with a certificate from the test authority that the test
wine prefix trusts, the second with one from an authority nobody trusts,
and one more for every --also certificate (the fixture adds one for
another host name, an expired one and a self-signed one). They answer some
paths on purpose:

  /status/<code>/<anything>     that status; 301 and 302 point Location at
                                /hit/<anything> on the same server
  /hit/<anything>               records the path in --hits, then 200
  /gen/<size>/<anything>        200 with <size> filler bytes
  /hold/<token>/<path>          waits until <root>/.release/<token> exists
                                (at most 120 s), then serves <path>

and misbehave on purpose for any path with a segment "fault-<kind>" or
"fault-<kind>-<number>" in it: the file at the path without that segment is
answered with status 200 and

  fault-reset       its Content-Length, half of the body, then a TCP reset
  fault-short       its Content-Length, half of the body, then a clean close
  fault-long-<n>    a Content-Length <n> bytes (default half) short of the
                    body, then the whole body
  fault-chunked     a chunked body that never ends: the file's bytes over
                    and over (the server gives up after 256 MiB)
  fault-drip-<ms>   its Content-Length, then one byte every <ms> ms
  fault-stall-<ms>  its Content-Length, half of the body, <ms> ms of
                    silence, then the rest
  fault-pace-<KiB>   its Content-Length, then the body in pieces of 16 KiB at
                    <KiB> KiB per second: a large download that takes a
                    while

A file can also misbehave without a fault segment, so that its remote path
stays the same from one run to the next: while a control file
<root>/.faults/<path with every "/" turned into "~"> exists, requests for
that path follow the one line it holds (a count limits how many requests
misbehave; later ones are served normally; counts are per path and last as
long as the server):

  cut <offset> [<count>]        the asked bytes, but a TCP reset once the
                                file's byte <offset> is reached (at once
                                when the request starts at or after it)
  cutclean <offset> [<count>]   the same with a clean close
  status <code> [<count> [<retry-after>]]
                                that status, with Retry-After when given
  stall <ms> [<count>]          half of the asked bytes, <ms> ms of
                                silence, then a reset
  long <n> [<count>]            a Content-Length <n> bytes short of the
                                bytes sent
  norange                       Range ignored: always 200 and the whole file
  shift <delta>                 a 206 whose range starts <delta> bytes from
                                the asked start (and holds those bytes)
  total <delta>                 a 206 whose Content-Range totals the file's
                                size plus <delta>
  refuse-range                  416 to every request with a Range
  resetevery <n>                each answer cut with a TCP reset after <n>
                                body bytes (a feed whose connections break
                                every <n> bytes)

Otherwise files are served with a strong ETag (from their bytes) and honour
"Range: bytes=<first>-[<last>]" with "If-Range" as nginx does. Every GET is
recorded in --hits as "GET <path> <Range or -> <If-Range or -> <status>" and
"CONN <client port> <path>" (the connection that carried it), and once its
body is over as "SENT <path> <body bytes sent>".

Each misbehaviour is recorded in --hits as "fault-<kind> <path>" before it
starts, and each connection that ends without a request as
"<port>: no request, handshake <ok or why it failed>", so that a test can
tell the fault it asked for from an answer it did not expect.

The ports are written to --ports once every server listens, in the order
"<trusted> <untrusted> <also...>".
"""
import argparse
import http.server
import os
import socket
import ssl
import struct
import threading
import time

# Most bytes an endless body sends before the server gives up on a client
# that never stops reading.
ENDLESS_CAP = 256 * 1024 * 1024


class Gone(Exception):
    """The connection is over; the handler stops answering."""


# Per path with a control file: its line and the requests seen since that
# line was first met, so that a count of misbehaviours runs out.
control_counts = {}
control_lock = threading.Lock()


def make_handler(root, hits_file):
    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, fmt, *args):
            pass

        def record(self, line):
            with open(hits_file, "a") as f:
                f.write(line + "\n")

        def setup(self):
            super().setup()
            self.requests_seen = 0
            self.body_sent = 0  # file bytes this connection has handed to the socket
            # The handshake happens here, in the connection's own thread,
            # rather than in accept(): a client that stalls or refuses the
            # certificate then holds up no other connection.
            try:
                self.request.do_handshake()
                self.handshake = "ok"
            except (ssl.SSLError, OSError) as error:
                self.handshake = "failed: %s" % (getattr(error, "reason", None) or error)

        def handle(self):
            if self.handshake == "ok":
                try:
                    super().handle()
                except (ssl.SSLError, OSError):
                    pass
            if self.requests_seen == 0:
                self.record("%d: no request, handshake %s" % (self.server.server_address[1], self.handshake))

        def answer(self, code, body=b"", headers=()):
            self.send_response(code)
            for name, value in headers:
                self.send_header(name, value)
            if code not in (204, 304):
                self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            if code not in (204, 304) and body:
                self.wfile.write(body)

        def file_bytes(self, relative):
            """The bytes of a file below the root, or None."""
            base = os.path.abspath(root)
            path = os.path.normpath(os.path.join(base, relative.lstrip("/")))
            if not path.startswith(base + os.sep) or not os.path.isfile(path):
                return None
            with open(path, "rb") as f:
                return f.read()

        def serve_file(self, relative):
            body = self.file_bytes(relative)
            if body is None:
                self.answer(404, b"not found")
            else:
                self.answer(200, body)

        def send(self, data):
            try:
                self.wfile.write(data)
            except (BrokenPipeError, ConnectionError, ssl.SSLError, OSError):
                raise Gone()

        def start_body(self, length=None, chunked=False):
            self.send_response(200)
            if chunked:
                self.send_header("Transfer-Encoding", "chunked")
            else:
                self.send_header("Content-Length", str(length))
            self.end_headers()
            self.close_connection = True

        def reset(self):
            # A zero linger time makes the close send a TCP reset; no TLS
            # close_notify goes out first.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
            raise Gone()

        def close_cleanly(self):
            try:
                # The shutdown waits for the client's own close_notify,
                # which a client still expecting body bytes may never send
                # (wine's WinHTTP does not): the TCP close follows soon
                # after ours either way, and a test that cuts every
                # request does not wait seconds for each.
                self.connection.settimeout(0.5)
                self.connection.unwrap().close()
            except (ssl.SSLError, OSError):
                pass
            raise Gone()

        def misbehave(self, kind, number, body):
            half = len(body) // 2
            if kind == "reset":
                self.start_body(len(body))
                self.send(body[:half])
                time.sleep(0.2)  # lets the half reach the client before the reset
                self.reset()
            elif kind == "short":
                self.start_body(len(body))
                self.send(body[:half])
                self.close_cleanly()
            elif kind == "long":
                missing = number if number is not None else len(body) - half
                self.start_body(max(len(body) - missing, 0))
                self.send(body)
            elif kind == "chunked":
                self.start_body(chunked=True)
                piece = body or b"x"
                sent = 0
                while sent < ENDLESS_CAP:
                    self.send(b"%x\r\n" % len(piece) + piece + b"\r\n")
                    sent += len(piece)
            elif kind == "drip":
                self.start_body(len(body))
                for i in range(len(body)):
                    if i:
                        time.sleep((number or 1000) / 1000.0)
                    self.send(body[i:i + 1])
            elif kind == "pace":
                rate = (number or 256) * 1024.0
                self.start_body(len(body))
                began = time.monotonic()
                for start in range(0, len(body), 16384):
                    # Each piece leaves when the rate allows it.
                    due = began + start / rate
                    time.sleep(max(0.0, due - time.monotonic()))
                    self.send(body[start:start + 16384])
            elif kind == "stall":
                self.start_body(len(body))
                self.send(body[:half])
                time.sleep((number or 1000) / 1000.0)
                self.send(body[half:])
            else:
                self.answer(400, b"unknown fault")

        def fault(self, parts):
            """Answers a request with a fault segment; False when it has none."""
            for i, part in enumerate(parts):
                if not part.startswith("fault-"):
                    continue
                words = part.split("-")
                kind = words[1] if len(words) > 1 else ""
                number = int(words[2]) if len(words) > 2 and words[2].isdigit() else None
                body = self.file_bytes("/".join(parts[:i] + parts[i + 1:]))
                if body is None:
                    self.answer(404, b"not found")
                    return True
                self.record("%s %s" % (part, self.path))
                try:
                    self.misbehave(kind, number, body)
                except Gone:
                    self.close_connection = True
                    self.wfile = _Discard()
                return True
            return False

        def local_path(self, relative):
            base = os.path.abspath(root)
            path = os.path.normpath(os.path.join(base, relative.lstrip("/")))
            if not path.startswith(base + os.sep) or not os.path.isfile(path):
                return None
            return path

        def control(self):
            """The control line for this path and whether it still applies."""
            name = self.path.replace("/", "~")
            try:
                with open(os.path.join(root, ".faults", name)) as f:
                    words = f.read().split()
            except OSError:
                return None
            if not words:
                return None
            with control_lock:
                # A new line for the path starts its count afresh.
                line, seen = control_counts.get(self.path, ("", 0))
                if line != " ".join(words):
                    seen = 0
                control_counts[self.path] = (" ".join(words), seen + 1)
            kind = words[0]
            numbers = [int(w) for w in words[1:]]
            count_at = {"cut": 1, "cutclean": 1, "status": 1, "stall": 1, "long": 1}.get(kind)
            if count_at is not None and len(numbers) > count_at and seen >= numbers[count_at]:
                return None
            return kind, numbers

        def note(self, status):
            self.record("GET %s %s %s %d" % (self.path, self.headers.get("Range", "-"),
                                             self.headers.get("If-Range", "-"), status))
            self.record("CONN %d %s" % (self.client_address[1], self.path))

        def asked_range(self, size, etag):
            """(first, last) of a satisfiable Range, "whole", or "416"."""
            value = self.headers.get("Range")
            if value is None or not value.startswith("bytes="):
                return "whole"
            if_range = self.headers.get("If-Range")
            if if_range is not None and if_range != etag:
                return "whole"
            first_text, _, last_text = value[6:].partition("-")
            if not first_text.isdigit():
                return "whole"
            first = int(first_text)
            last = int(last_text) if last_text.isdigit() else size - 1
            if first >= size:
                return "416"
            return first, min(last, size - 1)

        def stream(self, path, first, count, stop_at=None):
            """Sends count bytes of the file from first; stops before stop_at."""
            with open(path, "rb") as f:
                f.seek(first)
                at = first
                end = first + count
                while at < end:
                    room = end - at
                    if stop_at is not None:
                        room = min(room, stop_at - at)
                        if room <= 0:
                            return False
                    data = f.read(min(room, 262144))
                    if not data:
                        return True
                    self.send(data)
                    self.body_sent += len(data)
                    at += len(data)
            return True

        def serve_ranged(self, relative, rule):
            path = self.local_path(relative)
            if path is None:
                self.note(404)
                self.answer(404, b"not found")
                return
            info = os.stat(path)
            size = info.st_size
            # As nginx makes it: the file's time and size, so new bytes
            # under the same name get a new validator.
            etag = '"%x-%x"' % (info.st_mtime_ns, size)
            kind, numbers = rule if rule else ("", [])
            if kind == "status":
                headers = [("Retry-After", str(numbers[2]))] if len(numbers) > 2 else []
                self.note(numbers[0])
                self.answer(numbers[0], b"status body", headers)
                return
            asked = self.asked_range(size, etag)
            if kind == "norange":
                asked = "whole"
            if kind == "refuse-range" and self.headers.get("Range") is not None:
                asked = "416"
            if asked == "416":
                self.note(416)
                self.answer(416, b"", [("Content-Range", "bytes */%d" % size)])
                return
            first, last = (0, size - 1) if asked == "whole" else asked
            status = 200 if asked == "whole" else 206
            if status == 206 and kind == "shift":
                first = max(0, min(size - 1, first + numbers[0]))
            total = size + numbers[0] if status == 206 and kind == "total" else size
            count = last - first + 1 if size > 0 else 0
            announced = count - numbers[0] if kind == "long" else count
            self.note(status)
            self.send_response(status)
            self.send_header("Content-Length", str(announced))
            self.send_header("ETag", etag)
            if status == 206:
                self.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, total))
            self.end_headers()
            sent_before = self.body_sent
            try:
                if kind == "resetevery":
                    self.record("fault-resetevery %s" % self.path)
                    self.stream(path, first, count, stop_at=first + numbers[0])
                    if count > numbers[0]:
                        time.sleep(0.2)
                        self.reset()
                elif kind in ("cut", "cutclean"):
                    self.record("fault-%s %s" % (kind, self.path))
                    self.stream(path, first, count, stop_at=numbers[0])
                    time.sleep(0.2)  # lets the bytes sent reach the client before the end
                    if kind == "cut":
                        self.reset()
                    self.close_cleanly()
                elif kind == "stall":
                    self.record("fault-stall %s" % self.path)
                    self.stream(path, first, count // 2)
                    time.sleep(numbers[0] / 1000.0)
                    self.reset()
                else:
                    self.stream(path, first, count)
            except Gone:
                self.close_connection = True
                self.wfile = _Discard()
            self.record("SENT %s %d" % (self.path, self.body_sent - sent_before))

        def do_GET(self):
            self.requests_seen += 1
            parts = self.path.split("/")
            kind = parts[1] if len(parts) > 1 else ""
            if self.fault(parts):
                return
            if kind == "status" and len(parts) > 2:
                code = int(parts[2])
                headers = []
                body = b"status body"
                if code in (301, 302):
                    host = self.headers.get("Host", "localhost")
                    headers.append(("Location", "https://%s/hit/%s" % (host, "/".join(parts[3:]))))
                if code == 206:
                    headers.append(("Content-Range", "bytes 0-10/100"))
                self.answer(code, body, headers)
            elif kind == "hit":
                with open(hits_file, "a") as f:
                    f.write(self.path + "\n")
                self.answer(200, b"redirect target")
            elif kind == "gen" and len(parts) > 2:
                size = int(parts[2])
                self.answer(200, bytes((i * 7 + 3) % 251 for i in range(size)))
            elif kind == "hold" and len(parts) > 3:
                flag = os.path.join(root, ".release", parts[2])
                deadline = time.time() + 120
                while not os.path.exists(flag) and time.time() < deadline:
                    time.sleep(0.05)
                self.serve_file("/".join(parts[3:]))
            else:
                self.serve_ranged(self.path, self.control())

        def finish(self):
            # A connection the handler cut on purpose has nothing to flush.
            try:
                super().finish()
            except (ssl.SSLError, OSError):
                pass

    return Handler


class _Discard:
    """Stands in for the stream of a connection that is gone."""

    closed = False  # the handler's finish asks before it flushes

    def write(self, data):
        return len(data)

    def flush(self):
        pass

    def close(self):
        pass


def serve(root, hits, cert, key):
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), make_handler(root, hits))
    server.daemon_threads = True
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--hits", required=True)
    parser.add_argument("--ports", required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    parser.add_argument("--untrusted-cert", required=True)
    parser.add_argument("--untrusted-key", required=True)
    parser.add_argument("--also", nargs=2, action="append", default=[], metavar=("CERT", "KEY"),
                        help="one more server with this certificate and key")
    args = parser.parse_args()
    os.makedirs(os.path.join(args.root, ".release"), exist_ok=True)
    ports = [serve(args.root, args.hits, args.cert, args.key),
             serve(args.root, args.hits, args.untrusted_cert, args.untrusted_key)]
    for cert, key in args.also:
        ports.append(serve(args.root, args.hits, cert, key))
    with open(args.ports + ".tmp", "w") as f:
        f.write(" ".join(str(p) for p in ports) + "\n")
    os.replace(args.ports + ".tmp", args.ports)
    while True:
        time.sleep(3600)


if __name__ == "__main__":
    main()
