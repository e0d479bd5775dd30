"""A loopback HTTP server standing in for the update host.

Halvotren's WinINet reaches it as the Wine prefix's proxy, so it receives
absolute-URI requests ("GET http://www.halvotren.example/downloads/...") and
answers every one itself from the answers a test set up; it never forwards
anything anywhere. Runs in a thread of the test process on 127.0.0.1 with a
port of the system's choosing.
"""
import http.server
import select
import socket
import threading
import time
import urllib.parse

UPDATE_HOST = "www.halvotren.example"


# However slow an answer, it ends by itself within this long.
TRICKLE_LIMIT = 120


class Answer:
    """What the server sends for one path. `length` overrides the
    Content-Length header (a larger one with the connection closed after the
    body is a truncated download); None sends the body's own length, False
    none at all, so that only the closed connection ends the body.
    `headers` are sent besides. With `first`, only that many bytes of the
    body come at once; then one more every `every` seconds, or, without
    `every`, nothing more until the client gives up or `stall` seconds
    have passed, when the connection closes. With `delay`, nothing at all
    is sent for that many seconds, unless the client gives up first."""

    def __init__(self, body=b"", status=200, content_type="application/octet-stream", length=None,
                 headers=None, first=None, every=None, stall=TRICKLE_LIMIT, delay=0):
        self.body = body if isinstance(body, bytes) else body.encode("latin-1")
        self.status = status
        self.content_type = content_type
        self.length = len(self.body) if length is None else length
        self.headers = headers or {}
        self.first = first
        self.every = every
        self.stall = stall
        self.delay = delay


class Request:
    def __init__(self, method, target, headers):
        self.method = method
        self.target = target
        # Wine's WinINet spells out the default port in the absolute URI
        # ("http://host:80/path"), so the parts are compared, not the text.
        parts = urllib.parse.urlsplit(target)
        if not parts.netloc:
            parts = urllib.parse.urlsplit("http://%s%s" % (headers.get("Host", ""), target))
        self.host = parts.hostname
        self.port = parts.port or 80
        self.path = parts.path
        self.user_agent = headers.get("User-Agent")
        self.authorization = headers.get("Authorization") or headers.get("Proxy-Authorization")
        self.cookie = headers.get("Cookie")


class LoopbackServer:
    """An HTTP server on 127.0.0.1, at a port of the system's choosing, in a
    thread of the test process; `answer(handler)` serves every request with
    the method given."""

    def __init__(self, method, answer, protocol="HTTP/1.0"):
        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = protocol

            def log_message(self, format, *args):
                pass

        # A function, so that the handler it is called on is its argument.
        setattr(Handler, "do_" + method, lambda handler: answer(handler))
        self.httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.httpd.daemon_threads = True
        self.port = self.httpd.server_address[1]
        self.thread = threading.Thread(target=self.httpd.serve_forever, kwargs={"poll_interval": 0.1},
                                       daemon=True)
        self.thread.start()

    def stop(self):
        self.httpd.shutdown()
        self.httpd.server_close()
        self.thread.join(10)


class UpdateServer(LoopbackServer):
    def __init__(self):
        self.lock = threading.Lock()
        self.answers = {}
        self.requests = []
        # Every request since the start, which reset() keeps.
        self.log = []
        super().__init__("GET", self._answer, protocol="HTTP/1.1")

    def serve(self, path, answer):
        with self.lock:
            self.answers[path] = answer

    def reset(self):
        """Forgets every answer and every request seen."""
        with self.lock:
            self.answers.clear()
            del self.requests[:]

    def seen(self, path=None):
        with self.lock:
            return [r for r in self.requests if path is None or r.path == path]

    def _answer(self, handler):
        request = Request(handler.command, handler.path, handler.headers)
        with self.lock:
            self.requests.append(request)
            self.log.append(request)
            ours = request.host == UPDATE_HOST and request.port == 80
            answer = self.answers.get(request.path) if ours else None
        if answer is None:
            answer = Answer(b"not here\n", status=404, content_type="text/plain")
        # One request a connection: a truncated answer ends with the
        # connection, and nothing lingers once the test is over.
        handler.close_connection = True
        # Readable here means the client closed its end.
        if answer.delay and select.select([handler.connection], [], [], answer.delay)[0]:
            return
        handler.send_response(answer.status)
        handler.send_header("Content-Type", answer.content_type)
        if answer.length is not False:
            handler.send_header("Content-Length", str(answer.length))
        handler.send_header("Connection", "close")
        for name, value in answer.headers.items():
            handler.send_header(name, value)
        handler.end_headers()
        try:
            handler.wfile.write(answer.body[:answer.first])
            handler.wfile.flush()
            if answer.first is not None:
                _trickle(handler, answer)
        except OSError:
            pass


def _trickle(handler, answer):
    """The rest of a slow answer: a byte every `every` seconds, or nothing
    at all, until the client closes the connection."""
    connection = handler.connection
    deadline = time.monotonic() + (TRICKLE_LIMIT if answer.every else answer.stall)
    rest = answer.body[answer.first:]
    while time.monotonic() < deadline:
        # Readable here means the client closed its end.
        if select.select([connection], [], [], answer.every or 0.5)[0]:
            return
        if answer.every and rest:
            handler.wfile.write(rest[:1])
            handler.wfile.flush()
            rest = rest[1:]


def refusing_port():
    """A loopback socket bound but not listening: connections to its port
    are refused, and no other program can take the port while it is held.
    The caller closes it."""
    held = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    held.bind(("127.0.0.1", 0))
    return held, held.getsockname()[1]
