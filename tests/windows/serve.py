#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A loopback HTTP server for the Windows end-to-end test.

Serves the files of a folder on 127.0.0.1:
  /NAME        the file (Range requests answered with 206)
  /cut/NAME    every answer from the first byte claims the whole length but
               stops after half of it and closes the connection: the whole
               file only comes to a client that continues with a Range
  /slow/NAME   64 KiB every 50 ms
Prints its port on standard output, writes "METHOD PATH RANGE" of each request
to the log file, and ends by itself after LIFETIME seconds.

  serve.py FOLDER LOGFILE LIFETIME
"""
import http.server
import os
import sys
import threading
import time

folder, log_file, lifetime = sys.argv[1], sys.argv[2], float(sys.argv[3])
lock = threading.Lock()


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def do_HEAD(self):
        self.answer(head=True)

    def do_GET(self):
        self.answer(head=False)

    def answer(self, head):
        path = self.path.split("?", 1)[0]
        mode = ""
        for prefix in ("/cut/", "/slow/"):
            if path.startswith(prefix):
                mode, path = prefix.strip("/"), "/" + path[len(prefix):]
        rng = self.headers.get("Range", "")
        with lock, open(log_file, "a") as log:
            log.write(f"{self.command} {self.path} {rng or '-'}\n")
        name = os.path.basename(path)
        full = os.path.join(folder, name)
        if not name or not os.path.isfile(full):
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        with open(full, "rb") as f:
            body = f.read()
        start = 0
        if rng.startswith("bytes=") and "," not in rng:
            first = rng[6:].split("-", 1)[0]
            if first.isdigit() and int(first) < len(body):
                start = int(first)
        part = body[start:]
        self.send_response(206 if start else 200)
        self.send_header("Content-Type", "video/mp4")
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Content-Length", str(len(part)))
        if start:
            self.send_header("Content-Range", f"bytes {start}-{len(body) - 1}/{len(body)}")
        self.end_headers()
        if head:
            return
        if mode == "cut" and start == 0:
            self.wfile.write(part[: len(part) // 2])
            self.wfile.flush()
            self.close_connection = True
            return
        if mode == "slow":
            for at in range(0, len(part), 65536):
                self.wfile.write(part[at : at + 65536])
                self.wfile.flush()
                time.sleep(0.05)
            return
        self.wfile.write(part)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # a client that goes away in the middle is part of the test


server = Server(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
threading.Timer(lifetime, lambda: os._exit(0)).start()
server.serve_forever()
