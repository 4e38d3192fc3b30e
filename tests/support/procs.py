"""Ports, child processes and tallies for the test scripts, which import it from here."""
import contextlib
import os
import random
import signal
import socket
import subprocess
import time
import urllib.request


def free_port():
    """A free port below the kernel's ephemeral range, which an outgoing
    connection cannot take before the server binds it."""
    for port in random.sample(range(20000, 32000), 200):
        with socket.socket() as s:
            try:
                s.bind(("127.0.0.1", port))
                return port
            except OSError:
                continue
    raise RuntimeError("no free port below 32000")


def stop(proc, sig, seconds=10, group=False):
    """Sends sig to proc (or to the process group it leads) and waits; kills
    it if it does not end in time. Returns its exit status."""
    def send(s):
        try:
            os.killpg(proc.pid, s) if group else proc.send_signal(s)
        except ProcessLookupError:
            pass

    if proc.poll() is None:
        send(sig)
        try:
            proc.wait(timeout=seconds)
        except subprocess.TimeoutExpired:
            send(signal.SIGKILL)
            proc.wait()
    if group:
        # Helpers that outlived their leader. The group id cannot have been
        # handed to anyone else while a member of the group is alive.
        send(signal.SIGKILL)
    return proc.returncode


def wait_for(what, probe, seconds=60, proc=None):
    """Polls probe until it returns something other than None (an OSError
    counts as not yet) and returns that; gives up with an AssertionError
    after seconds, or as soon as proc has ended."""
    until = time.monotonic() + seconds
    while True:
        if proc is not None and proc.poll() is not None:
            raise AssertionError(f"ended with status {proc.returncode} while waiting for {what}")
        try:
            got = probe()
            if got is not None:
                return got
        except OSError:
            pass
        if time.monotonic() > until:
            raise AssertionError(f"gave up waiting for {what} after {seconds:.0f} s")
        time.sleep(0.25)


def fetch(port, path, timeout=5):
    """One GET to 127.0.0.1: (status, Content-Type, body)."""
    with urllib.request.urlopen(f"http://127.0.0.1:{port}{path}", timeout=timeout) as r:
        return r.status, r.headers.get("Content-Type"), r.read()


def start_kelp(argv, conf, extra="", seconds=30, **popen):
    """Writes conf, a free loopback port and the extra lines, starts argv,
    which is to read it, and waits until Kelp listens: (process, port)."""
    port = free_port()
    with open(conf, "w") as f:
        f.write(f"httpd.host\t127.0.0.1\nhttpd.port\t{port}\n{extra}")
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, **popen)

    def listens():
        socket.create_connection(("127.0.0.1", port), timeout=1).close()
        return True
    try:
        wait_for(f"Kelp to listen on port {port}", listens, seconds, proc)
    except AssertionError:
        stop(proc, signal.SIGKILL)
        raise
    return proc, port


class Checks:
    """Prints each check as it is made and ends with the tally."""

    def __init__(self, name):
        self.name, self.passed, self.failed = name, 0, 0

    def __call__(self, desc, ok, detail=""):
        print(("ok     " if ok else "FAILED ") + desc + ("" if ok else ": " + detail), flush=True)
        self.passed += bool(ok)
        self.failed += not ok

    def eventually(self, desc, probe, seconds=60):
        try:
            wait_for(desc, probe, seconds)
            self(desc, True)
        except AssertionError as e:
            self(desc, False, str(e))

    @contextlib.contextmanager
    def servers(self):
        """Yields a stack for what the servers started inside need undone,
        undone newest first; a server that stops answering fails a check."""
        with contextlib.ExitStack() as later:
            try:
                yield later
            except (AssertionError, OSError) as e:
                self("both servers answer", False, str(e))

    def finish(self, logs):
        """The exit status; after a failure the tails of the logs first."""
        ok = self.failed == 0 and self.passed > 0
        for path in [] if ok else filter(os.path.exists, logs):
            with open(path, errors="replace") as f:
                print(f"--- {os.path.basename(path)} (tail)\n" + "".join(f.readlines()[-20:]), end="")
        print(f"{self.name}: {self.passed} passed, {self.failed} failed")
        return 0 if ok else 1
