#!/usr/bin/env python3
"""Kelp in a real browser.

Starts Kelp on a free loopback port and headless Chromium beside it, opens
the main index page and follows every link from page to page. In each page
it checks, through the DevTools protocol, that every image has loaded as a
500 x 150 picture and that every link leads to the page it names: Kelp
answers any path it does not know with the main index page and a hidden or
unknown interface with a line of text, so a link that lands there is broken.
Screenshots of the main index page and of /interval.html?1 are saved.

    browser_test.py --kelp BUILD/Kelp --out BUILD/browser [--chromium PATH]

Everything runs against 127.0.0.1, every wait is bounded, and Kelp and
Chromium are stopped by their process ids.
"""

import argparse
import base64
import ctypes
import fcntl
import json
import os
import select
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import time
import urllib.parse

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from procs import fetch, start_kelp, stop, wait_for  # noqa: E402

GRAPH_SIZE = (500, 150)
MAX_PAGES = 60
WIDTH = 1024

# The pages photographed, by the file the picture is saved in.
SHOTS = {"/": "index", "/interval.html?1": "interval1"}

# Plain-text answers that stand in for a page or a picture.
STAND_INS = ("Unknown interface", "Skip interface by configuration", "please wait")


class Deadline:
    def __init__(self, seconds):
        self.end = time.monotonic() + seconds

    def left(self, at_most=None):
        left = self.end - time.monotonic()
        if left <= 0:
            raise AssertionError("the browser test ran out of time")
        return left if at_most is None else min(left, at_most)


def log(msg):
    print(msg, flush=True)


def png_size(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n" or data[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", data[16:24])


# --- the DevTools protocol over Chromium's pipe --------------------------------

class DevTools:
    """JSON messages, each ended by a NUL byte; once attached, a call goes
    to the page unless it is for the browser itself."""

    def __init__(self, commands, replies, deadline):
        self.commands, self.replies, self.deadline = commands, replies, deadline
        self.buf, self.next_id, self.events, self.session = b"", 0, [], None

    def _message(self):
        """The next message; an event is also kept for wait_event."""
        while b"\0" not in self.buf:
            if not select.select([self.replies], [], [], self.deadline.left(60))[0]:
                raise AssertionError("the browser has said nothing for 60 s")
            chunk = os.read(self.replies, 1 << 20)
            if not chunk:
                raise AssertionError("the browser closed the DevTools pipe")
            self.buf += chunk
        msg, _, self.buf = self.buf.partition(b"\0")
        msg = json.loads(msg)
        if "method" in msg:
            self.events.append(msg)
        return msg

    def call(self, method, to_page=True, **params):
        self.next_id += 1
        my_id = self.next_id
        msg = {"id": my_id, "method": method, "params": params}
        if to_page and self.session:
            msg["sessionId"] = self.session
        data = json.dumps(msg).encode() + b"\0"
        while data:
            data = data[os.write(self.commands, data):]
        while True:
            msg = self._message()
            if msg.get("id") == my_id:
                if "error" in msg:
                    raise AssertionError(f"{method}: {msg['error']}")
                return msg.get("result", {})

    def wait_event(self, method, matches=lambda params: True, seconds=30):
        limit = time.monotonic() + self.deadline.left(seconds)
        while True:
            for i, ev in enumerate(self.events):
                if ev["method"] == method and matches(ev["params"]):
                    return self.events.pop(i)["params"]
            if time.monotonic() > limit:
                raise AssertionError(f"no {method} within {seconds} s")
            self._message()

    def close(self):
        for fd in (self.commands, self.replies):
            os.close(fd)


# --- processes ----------------------------------------------------------------

def read(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8", "replace")
    except OSError:
        return ""


def start_chromium(chromium, work, deadline):
    profile = os.path.join(work, "profile")
    args = [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--disable-dev-shm-usage", f"--user-data-dir={profile}", "--remote-debugging-pipe",
            f"--window-size={WIDTH},768", "about:blank"]
    commands, replies = os.pipe(), os.pipe()

    def pipe_ends():
        # Chromium reads the protocol from fd 3 and answers on fd 4.
        ends = [fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10) for fd in (commands[0], replies[1])]
        os.dup2(ends[0], 3)
        os.dup2(ends[1], 4)
    with open(os.path.join(work, "chromium.log"), "wb") as log_file:
        # A session of its own: its helper processes then share its process
        # group, and stopping that group stops exactly what was started here.
        proc = subprocess.Popen(args, stdout=log_file, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                                start_new_session=True, close_fds=False, preexec_fn=pipe_ends)
    os.close(commands[0])
    os.close(replies[1])
    dt = DevTools(commands[1], replies[0], deadline)
    try:
        pages = [t["targetId"] for t in dt.call("Target.getTargets")["targetInfos"] if t["type"] == "page"]
        page = pages[0] if pages else dt.call("Target.createTarget", url="about:blank")["targetId"]
        dt.session = dt.call("Target.attachToTarget", targetId=page, flatten=True)["sessionId"]
    except (AssertionError, OSError):
        close_browser(proc, dt)
        raise
    return proc, dt


def close_browser(proc, dt):
    if dt:
        try:
            dt.call("Browser.close", to_page=False)
        except (AssertionError, OSError):
            pass
        dt.close()
    if proc:
        stop(proc, signal.SIGTERM, 10, group=True)


def adopt_orphans():
    """Chromium's helpers outlive the browser process by a moment; as a
    subreaper this process inherits them and can reap them, instead of
    leaving zombies to an init that may not reap."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER
    except (OSError, AttributeError):
        pass


def reap_orphans(seconds):
    """Waits for the adopted helpers; call only when Kelp has been waited for."""
    limit = time.monotonic() + seconds
    while time.monotonic() < limit:
        try:
            pid, _ = os.waitpid(-1, os.WNOHANG)
        except ChildProcessError:
            return
        if pid == 0:
            time.sleep(0.1)


# --- the pages ----------------------------------------------------------------

PAGE_FACTS = """(() => JSON.stringify({
  title: document.title,
  text: document.body ? document.body.innerText : document.documentElement.innerText,
  images: Array.from(document.images, i => ({src: i.src, complete: i.complete,
                                              width: i.naturalWidth, height: i.naturalHeight})),
  links: Array.from(document.links, a => ({href: a.href, text: a.textContent.trim()}))
}))()"""


def open_page(dt, url):
    """Navigates and waits for the load event; returns the HTTP status and
    MIME type of the document and the facts gathered in the page."""
    dt.events.clear()
    nav = dt.call("Page.navigate", url=url)
    if nav.get("errorText"):
        raise AssertionError(f"{url}: {nav['errorText']}")
    loader = nav.get("loaderId")
    response = dt.wait_event("Network.responseReceived",
                             lambda p: p.get("loaderId") == loader and p.get("type") == "Document")["response"]
    dt.wait_event("Page.loadEventFired")
    facts = json.loads(dt.call("Runtime.evaluate", expression=PAGE_FACTS, returnByValue=True)["result"]["value"])
    return response["status"], response.get("mimeType", ""), facts


def check_page(target, status, mime, facts):
    """What the browser makes of a page; its bytes are the golden tests'."""
    problems = []
    if status != 200 or mime != "text/html":
        problems.append(f"answered {status} {mime}")
    if target not in ("/", "/index.html") and facts["title"].startswith("Main Index"):
        problems.append("fell through to the main index page: nothing answers this address")
    for text in STAND_INS:
        if facts["text"].strip().startswith(text):
            problems.append(f"is the stand-in text {text!r}")
    for img in facts["images"]:
        size = (img["width"], img["height"])
        if not img["complete"] or size != GRAPH_SIZE:
            problems.append(f"image {img['src']} loaded as {size[0]}x{size[1]}, not 500x150")
    return problems


def screenshot(dt, path):
    metrics = dt.call("Page.getLayoutMetrics")
    size = metrics.get("cssContentSize") or metrics["contentSize"]
    height = max(1, int(size["height"] + 0.999))
    shot = dt.call("Page.captureScreenshot", format="png", captureBeyondViewport=True,
                   clip={"x": 0, "y": 0, "width": WIDTH, "height": height, "scale": 1})
    data = base64.b64decode(shot["data"])
    if png_size(data) is None:
        raise AssertionError(f"the screenshot for {path} is not a PNG")
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    return png_size(data)


def wait_for_rings(port, deadline):
    """Kelp's ten- and hundred-second rings get their first entry 10 and 100
    seconds after start; until then an interface's graph of such a ring is
    the text "please wait". Waits for the graphs of every listed interface."""
    body = fetch(port, "/MOD_NETIF?overview")[2].decode("latin-1")
    names = [part.split('"', 1)[0] for part in body.split('href="/MOD_NETIF/overview?')[1:]]
    if not names:
        raise AssertionError("the interface list of /MOD_NETIF?overview is empty although loopback is enabled")
    log(f"interfaces: {', '.join(names)}; waiting for their 100-second graphs (about 100 s after start)")
    limit = time.monotonic() + deadline.left(150)
    for name in names:
        graph = f"/MOD_NETIF/grafinterval_100?{urllib.parse.quote(name)}"
        wait_for(f"the 100-second graph of {name}", lambda: png_size(fetch(port, graph)[2]) == GRAPH_SIZE or None,
                 limit - time.monotonic())


def crawl(dt, port, out_dir):
    origin = f"http://127.0.0.1:{port}"
    start = origin + "/"
    queue, seen = [start], {start}
    visited, failures, foreign, shots = 0, [], set(), {}
    while queue:
        url = queue.pop(0)
        visited += 1
        if visited > MAX_PAGES:
            raise AssertionError(f"more than {MAX_PAGES} pages reachable; the links go round in circles")
        status, mime, facts = open_page(dt, url)
        target = url[len(origin):]
        problems = check_page(target, status, mime, facts)
        log(f"  {target}: {facts['title']!r}, {len(facts['images'])} images, {len(facts['links'])} links"
            + (f" -- {'; '.join(problems)}" if problems else ""))
        failures += [f"{target} {p}" for p in problems]
        if target in SHOTS:
            shots[SHOTS[target]] = screenshot(dt, os.path.join(out_dir, SHOTS[target] + ".png"))
        for link in facts["links"]:
            href = urllib.parse.urldefrag(link["href"])[0]
            if not href.startswith(origin + "/"):
                foreign.add(href)
            elif href not in seen:
                seen.add(href)
                queue.append(href)
    return visited, failures, foreign, shots


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--kelp", required=True)
    p.add_argument("--out", required=True)
    p.add_argument("--chromium", default="chromium")
    p.add_argument("--time-limit", type=float, default=360)
    a = p.parse_args()
    deadline = Deadline(a.time_limit)
    kelp_bin = os.path.abspath(a.kelp)
    out_dir = os.path.abspath(a.out)
    for name in SHOTS.values():
        if os.path.exists(os.path.join(out_dir, name + ".png")):
            os.remove(os.path.join(out_dir, name + ".png"))

    kelp = chromium = dt = None
    work = tempfile.mkdtemp(prefix="kelp-browser-")
    adopt_orphans()
    ok = False
    try:
        chromium_bin = shutil.which(a.chromium)
        if not chromium_bin:
            raise AssertionError(f"{a.chromium} not found; `make test-browser` installs Debian's chromium")
        # Loopback shown, so that there is an interface to follow even in a
        # network namespace that has no other.
        conf = os.path.join(work, "Kelp.conf")
        with open(os.path.join(work, "kelp.out"), "wb") as out, open(os.path.join(work, "kelp.err"), "wb") as err:
            kelp, port = start_kelp([kelp_bin, "-f", conf], conf, "module.netif.interface.lo.enable\t1\n",
                                    deadline.left(30), stdout=out, stderr=err)
        log(f"Kelp (pid {kelp.pid}) answers on 127.0.0.1:{port}")
        wait_for_rings(port, deadline)
        chromium, dt = start_chromium(chromium_bin, work, deadline)
        log(f"Chromium (pid {chromium.pid}) is ready")
        dt.call("Page.enable")
        dt.call("Network.enable")
        dt.call("Runtime.enable")
        dt.call("Emulation.setDeviceMetricsOverride", width=WIDTH, height=768, deviceScaleFactor=1, mobile=False)

        visited, failures, foreign, shots = crawl(dt, port, out_dir)
        for name in SHOTS.values():
            if name not in shots:
                failures.append(f"no screenshot {name}.png: its page was not reached")
        log(f"{visited} pages checked" + (f"; not followed (other sites): {sorted(foreign)}" if foreign else ""))
        for name, size in shots.items():
            log(f"screenshot {os.path.join(out_dir, name + '.png')} ({size[0]}x{size[1]})")
        if failures:
            raise AssertionError("\n  ".join(["broken:"] + failures))
        ok = True
    except (AssertionError, OSError) as e:
        log(f"FAIL {e}")
    finally:
        close_browser(chromium, dt)
        if kelp:
            status = stop(kelp, signal.SIGINT, 10)
            if status != 0:
                log(f"FAIL Kelp ended with {status} on SIGINT, not 0; its errors: {read(os.path.join(work, 'kelp.err'))}")
                ok = False
        reap_orphans(5)
        if ok:
            shutil.rmtree(work, ignore_errors=True)
        else:
            log(f"Kelp's and Chromium's output are kept in {work}")
    log("1 passed, 0 failed" if ok else "0 passed, 1 failed")
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
