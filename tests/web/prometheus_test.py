#!/usr/bin/env python3
"""A real Prometheus scrapes a real Kelp, both on free loopback ports.

Checks that up{job="kelp"} becomes 1, that node_memory_MemTotal_bytes is
/proc/meminfo's MemTotal in bytes and the memory peak lies between use and it,
that a receive rate and peak exist for an interface the pages show, that
node_cpu_seconds_total has every processor and mode of /proc/stat with the
kernel's seconds and kelp_cpu_busy_peak_ratio is a ratio, and that promtool
accepts a live answer (its complaint about the node exporter's camelCase
memory names aside). Both servers are started here and stopped by their PIDs;
every wait is bounded.
"""
import argparse
import json
import os
import signal
import subprocess
import sys
import tempfile
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from procs import Checks, fetch, free_port, start_kelp, stop  # noqa: E402


def query(port, expr):
    answer = json.loads(fetch(port, "/api/v1/query?" + urllib.parse.urlencode({"query": expr}))[2])
    return answer["data"]["result"] if answer.get("status") == "success" else []


def proc_stat_seconds():
    """{(cpu, mode): seconds} from /proc/stat's processor lines, the modes
    under the node exporter's names (guest time is inside user and nice)."""
    modes = ("user", "nice", "system", "idle", "iowait", "irq", "softirq", "steal")
    with open("/proc/stat") as f:
        lines = [l.split() for l in f if l.startswith("cpu") and not l.startswith("cpu ")]
    return {(l[0][3:], m): int(v) / os.sysconf("SC_CLK_TCK") for l in lines for m, v in zip(modes, l[1:])}


def mem_total_bytes():
    with open("/proc/meminfo") as f:
        return next(int(line.split()[1]) * 1024 for line in f if line.startswith("MemTotal:"))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--kelp", required=True)
    ap.add_argument("--prometheus", default="prometheus")
    ap.add_argument("--promtool", default="promtool")
    args = ap.parse_args()

    check = Checks("prometheus")
    with tempfile.TemporaryDirectory(prefix="kelp-prometheus-") as tmp:
        logs = [os.path.join(tmp, name + ".log") for name in ("kelp", "prometheus")]
        conf, scrape = os.path.join(tmp, "Kelp.conf"), os.path.join(tmp, "prometheus.yml")
        with check.servers() as later:
            # lo is hidden by default and may be the only interface here; the
            # CPU module is off by default.
            with open(logs[0], "w") as log:
                kelp, kelp_port = start_kelp([args.kelp, "-f", conf], conf,
                                             "module.netif.interface.lo.enable\t1\nmodule.cpu.enable\t1\n",
                                             stdout=log, stderr=subprocess.STDOUT)
            later.callback(stop, kelp, signal.SIGINT)
            with open(scrape, "w") as f:
                f.write("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                        "scrape_configs:\n  - job_name: kelp\n    static_configs:\n"
                        "      - targets: ['127.0.0.1:%d']\n" % kelp_port)
            prom_port = free_port()
            with open(logs[1], "w") as log:
                prom = subprocess.Popen([args.prometheus, "--config.file=" + scrape,
                                         "--storage.tsdb.path=" + os.path.join(tmp, "data"),
                                         "--web.listen-address=127.0.0.1:%d" % prom_port],
                                        stdout=log, stderr=subprocess.STDOUT)
            later.callback(stop, prom, signal.SIGTERM)

            lint = subprocess.run([args.promtool, "check", "metrics"], input=fetch(kelp_port, "/metrics")[2],
                                  capture_output=True)
            complaints = (lint.stdout + lint.stderr).decode().splitlines()
            others = [l for l in complaints if l.strip() and not (l.startswith("node_memory_") and "camelCase" in l)]
            check("promtool check metrics accepts a live answer", lint.returncode in (0, 3) and not others,
                  "exit %d: %s" % (lint.returncode, "; ".join(others)))

            check.eventually('up{job="kelp"} is 1',
                             lambda: True if [r["value"][1] for r in query(prom_port, 'up{job="kelp"}')] == ["1"] else None)
            r = query(prom_port, "node_memory_MemTotal_bytes")
            got = int(float(r[0]["value"][1])) if r else None
            check("node_memory_MemTotal_bytes is MemTotal in bytes", got == mem_total_bytes(),
                  "%s against %d" % (got, mem_total_bytes()))
            # The newest scrape read the kernel at most a few seconds before
            # the query, which lies between two readings of our own.
            before = proc_stat_seconds()
            r = query(prom_port, "node_cpu_seconds_total")
            after = proc_stat_seconds()
            got = {(s["metric"].get("cpu"), s["metric"].get("mode")): float(s["value"][1]) for s in r}
            off = [(k, v) for k, v in got.items() if not before.get(k, -9) - 5 <= v <= after.get(k, 0) + 1e-6]
            check("node_cpu_seconds_total holds /proc/stat's seconds of every processor and mode",
                  set(got) == set(after) and not off, "%s against %s; off: %s" % (sorted(got), sorted(after), off[:5]))
            # Each has an answer once the series exist.
            for expr in ("kelp_memory_used_peak_bytes >= node_memory_MemTotal_bytes - node_memory_MemAvailable_bytes"
                         " and kelp_memory_used_peak_bytes <= node_memory_MemTotal_bytes",
                         'rate(node_network_receive_bytes_total{device="lo"}[5s])',
                         'kelp_network_receive_peak_bytes_per_second{device="lo"} > 0',
                         "kelp_cpu_busy_peak_ratio >= 0 and kelp_cpu_busy_peak_ratio <= 1"):
                check.eventually(expr, lambda e=expr: query(prom_port, e) or None)
        return check.finish(logs)


if __name__ == "__main__":
    sys.exit(main())
