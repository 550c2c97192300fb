#!/usr/bin/env python3
"""Serves a release folder (dist/, as scripts/release.sh makes it) on loopback
in the layout the program's update check expects:

    http://127.0.0.1:<port>/download/Merovane/version.txt
    http://127.0.0.1:<port>/download/Merovane/Merovane-setup.exe (.sig)
    http://127.0.0.1:<port>/download/Merovane/Merovane.zip (.sig)

    update_server.py [--port 8765] [--dist dist]

It prints the lines to put in a copy's Option.ini to point it at this server.
Only the files of the folder itself are served; everything else is 404."""

import argparse
import http.server
import pathlib
import sys

PREFIX = "/download/Merovane/"


def main() -> int:
    parser = argparse.ArgumentParser(description="Serve a Merovane release folder on 127.0.0.1.")
    parser.add_argument("--port", type=int, default=8765)
    parser.add_argument("--dist", default="dist", help="the release folder (default: dist)")
    args = parser.parse_args()
    dist = pathlib.Path(args.dist).resolve()
    if not (dist / "version.txt").is_file():
        print(f"{dist} holds no version.txt: run scripts/release.sh first", file=sys.stderr)
        return 1
    files = {p.name: p for p in dist.iterdir() if p.is_file()}

    class Handler(http.server.BaseHTTPRequestHandler):
        def do_GET(self):
            name = self.path.split("?", 1)[0]
            path = files.get(name[len(PREFIX):]) if name.startswith(PREFIX) else None
            if path is None:
                self.send_error(404)
                return
            body = path.read_bytes()
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

    server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
    base = f"http://127.0.0.1:{args.port}/download/"
    print(f"Serving {dist} at {base}Merovane/ (Ctrl+C ends)")
    print("Point a copy at it in its Option.ini:")
    print(f"  [Update]\n  PrimaryServer={base}\n  FallbackServer={base}")
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
