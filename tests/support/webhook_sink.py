#!/usr/bin/python3
# A real HTTP receiver for the webhook tests: Python's http.server on a free loopback
# port. Each POST body is stored in the directory given as post-NNNN.json, its headers
# as post-NNNN.hdr; --fail N answers the first N posts with 503. Prints "PORT n" once
# listening; ends on SIGTERM or when its standard input closes.
import argparse
import http.server
import os
import signal
import sys
import threading


def handler_for(out_dir, state):
    class Handler(http.server.BaseHTTPRequestHandler):
        def do_POST(self):
            body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
            with state["lock"]:
                if state["fail"] > 0:
                    state["fail"] -= 1
                    self.send_response(503)
                    self.end_headers()
                    self.wfile.write(b"busy\n")
                    return
                state["count"] += 1
                base = os.path.join(out_dir, "post-%04d" % state["count"])
            with open(base + ".hdr", "w") as hdr:
                hdr.write(str(self.headers))
            with open(base + ".tmp", "wb") as out:
                out.write(body)
            os.rename(base + ".tmp", base + ".json")
            self.send_response(200)
            self.end_headers()
            self.wfile.write(b"ok\n")

        def log_message(self, *args):
            pass

    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("out_dir")
    parser.add_argument("--fail", type=int, default=0)
    args = parser.parse_args()
    state = {"lock": threading.Lock(), "fail": args.fail, "count": 0}
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler_for(args.out_dir, state))
    signal.signal(signal.SIGTERM, lambda *a: threading.Thread(target=server.shutdown).start())

    def watch_stdin():
        sys.stdin.buffer.read()
        server.shutdown()

    threading.Thread(target=watch_stdin, daemon=True).start()
    print("PORT", server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
