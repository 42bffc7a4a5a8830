#!/usr/bin/env python3
"""HTTP server on 127.0.0.1 for the web client's tests, steered over stdin and stdout.

On start it prints "PORT <n>". Commands, one a line (bodies in hex, "-" for empty):
  REPLY <path> <status> <hexbody>              canned reply for every request to path
  HANG <path>                                  accept requests to path and never answer
  HOLD <path>                                  requests to path wait for RELEASE before replying
  RELEASE <path>                               let held requests to path (and later ones) reply
  STREAM <path> <octets> <ms> <hexpiece>       reply 200 whose body is the piece repeated: cut
                                               at octets (announced in Content-Length), or
                                               without end for "-"; with ms above 0 one piece
                                               is written every ms milliseconds (a trickle),
                                               else as fast as the client takes it
  TAKE                                         print "EVENT begin|end <method> <path> <hexbody>
                                               <hexheaders>" lines in order, then "END"; "begin"
                                               is the request's arrival, "end" the moment its
                                               reply is about to be written
  QUIT                                         stop (hanging and held requests are let go)
Paths without a canned reply get a 404 page. The server stops by itself when stdin closes.
"""
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

lock = threading.Lock()
replies = {}
hangs = set()
streams = {}
holds = {}
events = []
quitting = threading.Event()


def unhex(text):
    return b"" if text == "-" else bytes.fromhex(text)


def tohex(data):
    return data.hex() if data else "-"


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"

    def log_message(self, *args):
        pass

    def record(self, kind, body):
        headers = "".join("%s: %s\n" % (k, v) for k, v in self.headers.items()).encode()
        with lock:
            events.append((kind, self.command, self.path, body, headers))

    def answer(self):
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length > 0 else b""
        path = self.path.split("?", 1)[0]
        self.record("begin", body)
        with lock:
            hang = path in hangs
            hold = holds.get(path)
            stream = streams.get(path)
            status, reply = replies.get(path, (404, b"<html><body>Not Found</body></html>"))
        if hang:
            # Bounded, so a forgotten client never keeps this process alive.
            quitting.wait(60)
            return
        if hold:
            hold.wait(60)
        # Recorded before the reply goes out, so the client cannot act on the reply (say, send its
        # next request) before this event is in the list.
        self.record("end", body)
        if stream:
            self.stream(*stream)
            return
        self.send_response(status)
        self.send_header("Content-Type", "text/plain")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)
        self.wfile.flush()

    def stream(self, octets, delay_ms, piece):
        self.send_response(200)
        self.send_header("Content-Type", "text/plain")
        if octets is not None:
            self.send_header("Content-Length", str(octets))
        self.end_headers()
        # Whole pieces per write, so the pattern runs on unbroken across writes.
        block = piece if delay_ms > 0 else piece * max(1, 65536 // len(piece))
        sent = 0
        # Bounded, so a forgotten client never keeps this process alive.
        deadline = time.monotonic() + 60
        try:
            while not quitting.is_set() and time.monotonic() < deadline:
                data = block if octets is None else block[: octets - sent]
                if not data:
                    break
                self.wfile.write(data)
                self.wfile.flush()
                sent += len(data)
                if delay_ms > 0:
                    quitting.wait(delay_ms / 1000.0)
        except OSError:
            pass  # the client gave up and closed the connection

    do_GET = answer
    do_POST = answer


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print("PORT %d" % server.server_address[1], flush=True)
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        if words[0] == "REPLY":
            with lock:
                replies[words[1]] = (int(words[2]), unhex(words[3]))
                hangs.discard(words[1])
                streams.pop(words[1], None)
            print("OK", flush=True)
        elif words[0] == "HOLD":
            with lock:
                holds[words[1]] = threading.Event()
            print("OK", flush=True)
        elif words[0] == "RELEASE":
            with lock:
                hold = holds.pop(words[1], None)
            if hold:
                hold.set()
            print("OK", flush=True)
        elif words[0] == "STREAM":
            octets = None if words[2] == "-" else int(words[2])
            with lock:
                streams[words[1]] = (octets, int(words[3]), unhex(words[4]) or b"x")
                hangs.discard(words[1])
            print("OK", flush=True)
        elif words[0] == "HANG":
            with lock:
                hangs.add(words[1])
            print("OK", flush=True)
        elif words[0] == "TAKE":
            with lock:
                taken = list(events)
                events.clear()
            for kind, method, path, body, headers in taken:
                print("EVENT %s %s %s %s %s" % (kind, method, path, tohex(body), tohex(headers)))
            print("END", flush=True)
        elif words[0] == "QUIT":
            break
    quitting.set()
    with lock:
        for hold in holds.values():
            hold.set()
    server.shutdown()
    server.server_close()


if __name__ == "__main__":
    main()
