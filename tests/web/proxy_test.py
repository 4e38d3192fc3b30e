#!/usr/bin/env python3
"""nginx with packaging/nginx-kelp.conf in front of a real Kelp, on free loopback ports.

Pages and graphs must come through whole, byte for byte as Kelp answers them
directly, and 100 silent connections to nginx must leave a normal request
through it answered within a second. Both servers are started here and stopped
by their PIDs; every wait is bounded.
"""
import argparse
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from procs import Checks, fetch, free_port, start_kelp, stop, wait_for  # noqa: E402

SILENT = 100


def nginx_conf(tmp, block, kelp_port, port):
    http_part, location = block.split("\nlocation", 1)
    temps = "".join("%s_temp_path %s;\n" % (t, os.path.join(tmp, t))
                    for t in ("client_body", "proxy", "fastcgi", "uwsgi", "scgi"))
    return ("daemon off;\nmaster_process off;\npid %s;\nerror_log %s;\nevents { worker_connections 512; }\n"
            "http {\naccess_log off;\n%s%s\nserver {\nlisten 127.0.0.1:%d;\nlocation%s}\n}\n"
            % (os.path.join(tmp, "nginx.pid"), os.path.join(tmp, "nginx.log"), temps, http_part, port,
               location.replace("127.0.0.1:9001", "127.0.0.1:%d" % kelp_port)))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--kelp", required=True)
    ap.add_argument("--block", required=True)
    ap.add_argument("--nginx", default="nginx")
    args = ap.parse_args()

    check = Checks("proxy")
    with open(args.block) as f:
        block = f.read()
    shown = block[block.index("# These two lines"):].rstrip("\n")
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
    with open(os.path.join(root, "README.md")) as f:
        readme = re.sub(r"(?m)^    ", "", f.read())
    with open(os.path.join(root, "doc", "Kelp.8")) as f:
        man = f.read().replace("\\-", "-").replace("\\(aq", "'").replace(".sp\n", "\n")
    check("README and Kelp(8) show the block as it is", shown in readme and shown in man)

    with tempfile.TemporaryDirectory(prefix="kelp-proxy-") as tmp:
        logs = [os.path.join(tmp, name) for name in ("servers.log", "nginx.log")]
        conf, proxy_port = os.path.join(tmp, "Kelp.conf"), free_port()
        with check.servers() as later:
            with open(logs[0], "w") as log:
                kelp, kelp_port = start_kelp([args.kelp, "-f", conf], conf, stdout=log, stderr=subprocess.STDOUT)
                later.callback(stop, kelp, signal.SIGINT)
                with open(os.path.join(tmp, "nginx.conf"), "w") as f:
                    f.write(nginx_conf(tmp, block, kelp_port, proxy_port))
                nginx = subprocess.Popen([args.nginx, "-p", tmp, "-c", os.path.join(tmp, "nginx.conf"),
                                          "-e", logs[1]], stdout=log, stderr=subprocess.STDOUT)
                later.callback(stop, nginx, signal.SIGQUIT)
            index = wait_for("Kelp through nginx", lambda: fetch(proxy_port, "/")[2])
            graphs = re.findall(r'src="([^"]+)"', fetch(kelp_port, "/interval.html?1")[2].decode())
            check("the interval page shows graphs", len(graphs) >= 3, repr(graphs))
            # Graphs change every second: fetch both ways until one pair falls
            # within the same second. Pages are static and match at once.
            for path in ["/", "/interval.html?1", "/interval.html?10", "/interval.html?100"] + graphs:
                for _ in range(10):
                    direct, proxied = fetch(kelp_port, path), fetch(proxy_port, path)
                    if direct == proxied:
                        break
                ok = direct == proxied and direct[0] == 200 and len(direct[2]) > 0
                if path in graphs:
                    ok = ok and direct[1] == "image/png" and direct[2].startswith(b"\x89PNG\r\n\x1a\n")
                check("%s comes through whole (%d bytes)" % (path, len(proxied[2])), ok,
                      "direct %r, proxied %r" % (direct[:2] + (len(direct[2]),), proxied[:2] + (len(proxied[2]),)))

            opened = time.monotonic()
            silent = [later.enter_context(socket.create_connection(("127.0.0.1", proxy_port), timeout=5))
                      for _ in range(SILENT)]
            time.sleep(0.5)
            start = time.monotonic()
            try:
                got = fetch(proxy_port, "/")[2]
            except OSError as e:
                got = repr(e).encode()
            took = time.monotonic() - start
            check("with %d silent connections a request through nginx takes %.3f s" % (SILENT, took),
                  took < 1 and got == index, "answer %r" % got[:80])
            # Left to nginx's defaults they would stay for a minute.
            silent[0].settimeout(10)
            try:
                closed = silent[0].recv(1) == b""
            except OSError:
                closed = False
            check("nginx drops a silent connection after %.1f s" % (time.monotonic() - opened),
                  closed and time.monotonic() - opened < 8)
        return check.finish(logs)


if __name__ == "__main__":
    sys.exit(main())
