"""Ports and child processes for the test scripts, which import it from here."""
import os
import signal
import socket
import subprocess


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


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
