#!/usr/bin/env python3
"""A real Prometheus scrapes a real Kelp, both on free loopback ports.

Checks that up{job="kelp"} becomes 1, that node_memory_MemTotal_bytes is
/proc/meminfo's MemTotal in bytes, that a receive rate exists for an interface
the pages show, and that promtool accepts a live answer (its complaint about
the node exporter's camelCase memory names aside). Both servers are started
here and stopped by their PIDs; every wait is bounded.
"""
import argparse
import json
import os
import signal
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from procs import free_port, stop  # noqa: E402

WAIT_SECONDS = 60


def get(url, timeout=5):
    with urllib.request.urlopen(url, timeout=timeout) as r:
        return r.read().decode()


def wait_for(what, probe):
    until = time.monotonic() + WAIT_SECONDS
    while time.monotonic() < until:
        try:
            got = probe()
            if got is not None:
                return got
        except OSError:
            pass
        time.sleep(0.5)
    raise AssertionError("gave up waiting for " + what)


def query(port, expr):
    url = "http://127.0.0.1:%d/api/v1/query?%s" % (port, urllib.parse.urlencode({"query": expr}))
    answer = json.loads(get(url))
    return answer["data"]["result"] if answer.get("status") == "success" else []


def mem_total_bytes():
    with open("/proc/meminfo") as f:
        for line in f:
            if line.startswith("MemTotal:"):
                return int(line.split()[1]) * 1024
    raise AssertionError("no MemTotal in /proc/meminfo")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--kelp", required=True)
    ap.add_argument("--prometheus", default="prometheus")
    ap.add_argument("--promtool", default="promtool")
    args = ap.parse_args()

    passed = failed = 0
    with tempfile.TemporaryDirectory(prefix="kelp-prometheus-") as tmp:
        kelp_port, prom_port = free_port(), free_port()
        conf = os.path.join(tmp, "Kelp.conf")
        with open(conf, "w") as f:
            # lo is hidden by default and may be the only interface here.
            f.write("httpd.host 127.0.0.1\nhttpd.port %d\nmodule.netif.interface.lo.enable 1\n" % kelp_port)
        scrape = os.path.join(tmp, "prometheus.yml")
        with open(scrape, "w") as f:
            f.write("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                    "scrape_configs:\n  - job_name: kelp\n    static_configs:\n"
                    "      - targets: ['127.0.0.1:%d']\n" % kelp_port)
        logs = {name: open(os.path.join(tmp, name + ".log"), "w") for name in ("kelp", "prometheus")}
        kelp = subprocess.Popen([args.kelp, "-f", conf], stdout=logs["kelp"], stderr=subprocess.STDOUT)
        prom = None
        try:
            body = wait_for("Kelp's /metrics", lambda: get("http://127.0.0.1:%d/metrics" % kelp_port))
            prom = subprocess.Popen([args.prometheus, "--config.file=" + scrape,
                                     "--storage.tsdb.path=" + os.path.join(tmp, "data"),
                                     "--web.listen-address=127.0.0.1:%d" % prom_port],
                                    stdout=logs["prometheus"], stderr=subprocess.STDOUT)

            def check(desc, ok, detail=""):
                nonlocal passed, failed
                print(("ok     " if ok else "FAILED ") + desc + ("" if ok else ": " + detail))
                if ok:
                    passed += 1
                else:
                    failed += 1

            lint = subprocess.run([args.promtool, "check", "metrics"], input=body, capture_output=True, text=True)
            complaints = [l for l in (lint.stdout + lint.stderr).splitlines() if l.strip()]
            others = [l for l in complaints if not (l.startswith("node_memory_") and "camelCase" in l)]
            check("promtool check metrics accepts a live answer", lint.returncode in (0, 3) and not others,
                  "exit %d: %s" % (lint.returncode, "; ".join(others)))

            def up():
                r = query(prom_port, 'up{job="kelp"}')
                return r if r and r[0]["value"][1] == "1" else None
            try:
                wait_for('up{job="kelp"} == 1', up)
                check('up{job="kelp"} is 1', True)
            except AssertionError as e:
                check('up{job="kelp"} is 1', False, str(e))

            r = query(prom_port, "node_memory_MemTotal_bytes")
            got = int(float(r[0]["value"][1])) if r else None
            check("node_memory_MemTotal_bytes is MemTotal in bytes", got == mem_total_bytes(),
                  "%s against %d" % (got, mem_total_bytes()))

            rate = 'rate(node_network_receive_bytes_total{device="lo"}[5s])'
            try:
                wait_for(rate, lambda: query(prom_port, rate) or None)
                check(rate + " exists", True)
            except AssertionError as e:
                check(rate + " exists", False, str(e))
        finally:
            if prom:
                stop(prom, signal.SIGTERM)
            stop(kelp, signal.SIGINT)
            for f in logs.values():
                f.close()
            if failed or passed == 0:
                for name in logs:
                    with open(os.path.join(tmp, name + ".log")) as f:
                        sys.stdout.write("--- %s log (tail)\n%s" % (name, "".join(f.readlines()[-20:])))
    print("prometheus: %d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 and passed > 0 else 1


if __name__ == "__main__":
    sys.exit(main())
