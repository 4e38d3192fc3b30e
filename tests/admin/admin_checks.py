#!/usr/bin/env python3
"""What an administrator relies on: the example configuration, the manual
page, `make install`, the systemd unit and the Debian package.

    admin_checks.py CHECK --source DIR --build DIR --scratch DIR

CHECK is one of conf, man, install, unit, package. Exit status 0 means
passed, 1 failed, 77 skipped because a tool is missing (the message says
which one and how to get it).
"""

import argparse
import gzip
import os
import re
import shutil
import signal
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from procs import start_kelp, stop  # noqa: E402

SKIP = 77
CONF_PATH = "/etc/orn/Kelp.conf"
# The service files of FreeBSD and illumos, which the manual page names too.
OTHER_SYSTEMS_FILES = ("/etc/rc.d/kelp", "/var/svc/manifest/site/kelp.xml")


class Failed(Exception):
    pass


class Skipped(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Failed(what)


def need_tool(name, package):
    path = shutil.which(name)
    if not path:
        raise Skipped(f"{name} not found (Debian package {package}; `make test` installs it)")
    return path


def run(cmd, env=None, timeout=120, **kw):
    # Bytes, decoded here: Kelp's line ends are part of what is checked.
    r = subprocess.run(cmd, env=env, timeout=timeout, capture_output=True, **kw)
    r.stdout = r.stdout.decode("utf-8", "replace")
    r.stderr = r.stderr.decode("utf-8", "replace")
    return r


def fresh_dir(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def pdc_listing(kelp, *args):
    """Kelp's configuration listing as {key: value}, in order."""
    r = run([kelp, *args, "-pdc"], timeout=10)
    check(r.returncode == 0, f"{kelp} -pdc exited with {r.returncode}")
    listing = {}
    for line in r.stdout.splitlines():
        key, value, _ = line.split("\t", 2)
        listing[key] = value
    return listing, r


def file_text(path):
    with (gzip.open if path.endswith(".gz") else open)(path, "rt", encoding="utf-8") as f:
        return f.read()


def installed_paths(root):
    return {"/" + os.path.relpath(os.path.join(d, name), root) for d, _, files in os.walk(root) for name in files}


def install(build, destdir, prefix):
    env = dict(os.environ, DESTDIR=destdir)
    r = run(["cmake", "--install", build, "--prefix", prefix], env=env)
    check(r.returncode == 0, f"cmake --install failed:\n{r.stdout}{r.stderr}")
    return r.stdout


def unit_settings(text):
    """The [Service] and [Unit] settings of a unit file as {key: value}."""
    settings = {}
    for line in text.splitlines():
        line = line.strip()
        if not line or line[0] in "#;[":
            continue
        key, _, value = line.partition("=")
        settings[key.strip()] = value.strip()
    return settings


def man_files_section(text):
    """The absolute paths that the FILES section of a man(7) page names."""
    m = re.search(r"^\.SH FILES\n(.*?)^\.SH ", text, re.S | re.M)
    check(m, "the manual page has no FILES section")
    lines = m.group(1).splitlines()
    tags = [lines[i + 1] for i, line in enumerate(lines[:-1]) if line == ".TP"]
    paths = [p for tag in tags for p in re.findall(r"(/[\w./-]+)", tag)
             if not p.startswith(("/proc/", "/dev/")) and not p.endswith(OTHER_SYSTEMS_FILES)]  # the system's own
    check(paths, "the FILES section names no file")
    return paths


# --- conf ---------------------------------------------------------------------

def check_conf(a):
    """Read back, the example sets exactly the built-in values without a
    single complaint; kelp_cli_test compares its lines with -pdc's."""
    example = os.path.join(a.source, "packaging", "Kelp.conf.example")
    builtin, _ = pdc_listing(a.kelp)
    from_example, r = pdc_listing(a.kelp, "-f", example)
    check(r.stderr == f"Try to read configfile {example}\r\n",
          f"reading the example printed more than its announcement:\n{r.stderr!r}")
    check(from_example == builtin, f"the example sets {from_example}, the built-in values are {builtin}")


# --- man ----------------------------------------------------------------------

def groff_warnings(groff, page):
    r = run([groff, "-ww", "-man", "-Tutf8", "-z", page])
    return r.returncode, (r.stdout + r.stderr).strip()


def check_man(a):
    groff = need_tool("groff", "groff-base")
    page = os.path.join(a.source, "doc", "Kelp.8")

    # The checker must be able to fail: a page with an unknown request warns.
    broken = os.path.join(fresh_dir(a.scratch), "broken.8")
    with open(broken, "w") as f:
        f.write(".TH KELP 8\n.SH NAME\nKelp \\- x\n.XX\n")
    rc, out = groff_warnings(groff, broken)
    check(out, "groff -ww stays silent on an unknown request; the lint below would prove nothing")

    rc, out = groff_warnings(groff, page)
    check(rc == 0 and not out, f"groff -ww -man reports:\n{out}")
    mandoc = shutil.which("mandoc")
    if mandoc:
        r = run([mandoc, "-T", "lint", "-W", "warning", page])
        check(r.returncode == 0, f"mandoc -T lint reports:\n{r.stdout}{r.stderr}")

    text = file_text(page)
    r = run([groff, "-man", "-Tutf8", "-P", "-cbou", page], env=dict(os.environ, LC_ALL="C.UTF-8"))
    rendered = r.stdout
    builtin, _ = pdc_listing(a.kelp)
    th = re.search(r'^\.TH KELP 8 \S+ "Kelp ([^"]+)"', text, re.M)
    check(th and th.group(1) == builtin["Kelp.version"],
          f"the page's title line does not carry version {builtin['Kelp.version']}")
    for section in ("NAME", "SYNOPSIS", "OPTIONS", "CONFIGURATION", "URLS", "SIGNALS",
                    "FILES", "EXIT STATUS", "SECURITY"):
        check(re.search(rf'^\.SH "?{section}"?$', text, re.M), f"section {section} is missing")
    # Every key with its current default: a new key or a changed default
    # that the page does not follow shows up here.
    for key, value in builtin.items():
        check(f"{key} ({value})" in rendered, f"the page does not give {key} with its default {value}")
    for word in ("-h", "-f name", "-pdc", "SIGINT", "SIGTERM", "/interval.html?1", "/MOD_LOAD?overview",
                 "/MOD_NETIF?overview", "/MOD_MEMSWAP?overview", "/MOD_CPU?overview", "module.cpu.enable 1",
                 CONF_PATH):
        check(word in rendered, f"the rendered page never mentions {word}")


# --- install ------------------------------------------------------------------

def check_install(a):
    scratch = fresh_dir(a.scratch)
    root, other = os.path.join(scratch, "root"), os.path.join(scratch, "opt")
    # The unit runs Kelp from the prefix given at install time.
    for dest, prefix in ((root, "/usr/local"), (other, "/opt/kelp")):
        install(a.build, dest, prefix)
        unit = unit_settings(file_text(f"{dest}{prefix}/lib/systemd/system/kelp.service"))
        check(unit.get("ExecStart") == f"{prefix}/sbin/Kelp -f {CONF_PATH}", f"ExecStart is {unit.get('ExecStart')}")

    expected = {"/usr/local/sbin/Kelp", "/usr/local/share/man/man8/Kelp.8",
                "/usr/local/share/doc/kelp/Kelp.conf.example",
                "/usr/local/lib/systemd/system/kelp.service", CONF_PATH}
    found = installed_paths(root)
    check(found == expected, f"installed {sorted(found)}, expected {sorted(expected)}")

    check(pdc_listing(root + "/usr/local/sbin/Kelp")[0] == pdc_listing(a.kelp)[0],
          "the installed Kelp lists another configuration")
    # Under the default prefix the installed page is the page itself.
    for copy, source in ((CONF_PATH, "packaging/Kelp.conf.example"),
                         ("/usr/local/share/doc/kelp/Kelp.conf.example", "packaging/Kelp.conf.example"),
                         ("/usr/local/share/man/man8/Kelp.8", "doc/Kelp.8")):
        check(file_text(root + copy) == file_text(os.path.join(a.source, source)), f"{copy} is not {source}")

    # An administrator's configuration survives a second install, and so
    # does one that is a symbolic link.
    mine = "httpd.host\t127.0.0.1\nhttpd.port\t8123\n"
    with open(root + CONF_PATH, "w") as f:
        f.write(mine)
    out = install(a.build, root, "/usr/local")
    check(file_text(root + CONF_PATH) == mine, f"a second install replaced {CONF_PATH}")
    check("Keeping" in out, "a second install did not say that it kept the configuration")
    os.remove(root + CONF_PATH)
    os.symlink("/nonexistent/Kelp.conf", root + CONF_PATH)
    install(a.build, root, "/usr/local")
    check(os.path.islink(root + CONF_PATH), f"install replaced a dangling link at {CONF_PATH}")

    # Under another prefix the page follows it.
    for path in man_files_section(file_text(other + "/opt/kelp/share/man/man8/Kelp.8")):
        if path != CONF_PATH:
            check(os.path.exists(other + path), f"the page installed under /opt/kelp names {path}, which is missing")


# --- unit ---------------------------------------------------------------------

def check_unit(a):
    analyze = need_tool("systemd-analyze", "systemd")
    scratch = fresh_dir(a.scratch)
    root = os.path.join(scratch, "root")
    install(a.build, root, "/usr/local")
    text = file_text(root + "/usr/local/lib/systemd/system/kelp.service")
    unit = unit_settings(text)

    wanted = {"KillSignal": "SIGINT", "Restart": "on-failure", "Documentation": "man:Kelp(8)",
              "NoNewPrivileges": "yes", "ProtectSystem": "strict", "ProtectHome": "yes", "PrivateTmp": "yes",
              "RestrictAddressFamilies": "AF_INET AF_INET6 AF_UNIX", "DynamicUser": "yes"}
    wrong = {k: unit.get(k) for k, v in wanted.items() if unit.get(k) != v}
    check(not wrong, f"unit settings differ from {wanted}: {wrong}")

    # systemd-analyze checks that the command exists and that man finds the
    # page named in Documentation=; both are looked for inside the scratch
    # root, everything else is verified as installed.
    def verify(unit_text):
        d = fresh_dir(os.path.join(scratch, "verify"))
        with open(os.path.join(d, "kelp.service"), "w") as f:
            f.write(unit_text.replace("ExecStart=/", f"ExecStart={root}/"))
        env = dict(os.environ, MANPATH=root + "/usr/local/share/man", LC_ALL="C.UTF-8")
        r = run([analyze, "verify", os.path.join(d, "kelp.service")], env=env, cwd=d)
        return r.returncode, (r.stdout + r.stderr).strip()

    rc, out = verify(text.replace("KillSignal=SIGINT", "KillSignal=SIGNOPE"))
    check(out, "systemd-analyze verify does not notice a bad signal name here; its silence would prove nothing")
    rc, out = verify(text)
    check(rc == 0 and not out, f"systemd-analyze verify reports (status {rc}):\n{out}")

    # The stop signal the unit sends ends Kelp with status 0, so a stop is
    # not a failure that Restart=on-failure would act on; the default SIGTERM
    # would kill it.
    argv = unit["ExecStart"].split()
    conf = root + CONF_PATH
    cmd = [root + argv[0]] + [conf if arg == CONF_PATH else arg for arg in argv[1:]]
    for sig, expected in ((getattr(signal, unit["KillSignal"]), 0), (signal.SIGTERM, -signal.SIGTERM)):
        kelp, _ = start_kelp(cmd, conf, seconds=15, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        status = stop(kelp, sig)
        check(status == expected, f"Kelp stopped with {sig.name} ended with {status}, not {expected}")


# --- package ------------------------------------------------------------------

def check_package(a):
    dpkg_deb = need_tool("dpkg-deb", "dpkg")
    dpkg = need_tool("dpkg", "dpkg")
    cpack = shutil.which("cpack") or os.path.join(os.path.dirname(shutil.which("cmake") or ""), "cpack")
    scratch = fresh_dir(a.scratch)
    r = run([cpack, "--config", os.path.join(a.build, "CPackConfig.cmake"), "-G", "DEB", "-B", scratch], timeout=300)
    check(r.returncode == 0, f"cpack failed:\n{r.stdout}{r.stderr}")
    debs = [f for f in os.listdir(scratch) if f.endswith(".deb")]
    check(len(debs) == 1, f"cpack made {debs}")
    deb = os.path.join(scratch, debs[0])

    fields = {name: run([dpkg_deb, "-f", deb, name]).stdout.strip() for name in ("Package", "Version", "Depends")}
    version = pdc_listing(a.kelp)[0]["Kelp.version"]
    check(fields["Package"] == "kelp", f"package name {fields['Package']}")
    check(fields["Version"] == version, f"package version {fields['Version']}, Kelp says {version}")
    check(re.search(r"(^|,\s*)libgd3\b", fields["Depends"]), f"Depends lacks libgd3: {fields['Depends']}")

    conffiles = run([dpkg_deb, "-I", deb, "conffiles"]).stdout.split()
    check(conffiles == [CONF_PATH], f"conffiles lists {conffiles}")

    root = os.path.join(scratch, "root")
    r = run([dpkg, "-x", deb, root])
    check(r.returncode == 0, f"dpkg -x failed: {r.stderr}")
    found = installed_paths(root)
    units = [p for p in found if p.endswith("/kelp.service")]
    check(len(units) == 1 and os.path.dirname(units[0]) in ("/usr/lib/systemd/system", "/lib/systemd/system"),
          f"the unit is not in a directory systemd reads: {units}")
    unit = unit_settings(file_text(root + units[0]))
    argv = unit.get("ExecStart", "").split()
    check(len(argv) == 3 and argv[1] == "-f", f"ExecStart is {argv}")
    check(os.path.isfile(root + argv[2]), f"the unit reads {argv[2]}, which the package does not hold")
    page = "/usr/share/man/man8/Kelp.8.gz"
    check(unit.get("Documentation") == "man:Kelp(8)" and page in found, f"{page} missing for man:Kelp(8)")
    named = man_files_section(file_text(root + page))
    check(argv[0] in named, f"the page's FILES section does not name {argv[0]}")
    for path in named:
        check(path in found, f"the manual page names {path}, which the package does not hold")
    check(pdc_listing(root + argv[0])[0] == pdc_listing(a.kelp)[0], "the packaged Kelp lists another configuration")

    # The package's configuration is the example and a line that switches the
    # CPU module on, as -pdc lists it, read without a complaint.
    conf, example = file_text(root + CONF_PATH), file_text(os.path.join(a.source, "packaging", "Kelp.conf.example"))
    _, r = pdc_listing(root + argv[0], "-f", root + CONF_PATH)
    added = [l for l in conf[len(example):].splitlines() if l and not l.startswith("#")]
    check(conf.startswith(example) and added == ["module.cpu.enable\t1\t# CPU time enable/disable {0|1}"]
          and added[0] + "\r\n" in r.stdout and r.stderr.count("\n") == 1, f"the package's {CONF_PATH} adds {added}")

    # Debian's own checker: its errors and warnings, not its notes.
    r = run([need_tool("lintian", "lintian"), "--fail-on", "error,warning", deb], timeout=300)
    check(r.returncode == 0 and not re.search(r"^[EW]: ", r.stdout, re.M), f"lintian reports:\n{r.stdout}{r.stderr}")


def main():
    p = argparse.ArgumentParser()
    p.add_argument("check", choices=["conf", "man", "install", "unit", "package"])
    for option in ("--source", "--build", "--kelp", "--scratch"):
        p.add_argument(option, required=True)
    a = p.parse_args()
    try:
        globals()["check_" + a.check](a)
    except Skipped as e:
        print(f"SKIP {a.check}: {e}")
        return SKIP
    # Waits that give up and programs that cannot be run fail the check too.
    except (Failed, AssertionError, OSError) as e:
        print(f"FAIL {a.check}: {e}")
        return 1
    print(f"PASS {a.check}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
