#!/usr/bin/env python3
"""korvo-cli in account mode against the reference service on the built-in port.

    cli_account_test.py PATH/TO/korvo-cli SOURCE_DIR

Two people, each with a HOME, a session bus and a keyring of their own. Their accounts are made
as the application makes them (the bridge's sign-up commands, the identity saved in the
keyring); korvo-cli only signs in to them. Ana locks files for Ben's Korvo number and Ben opens
them. Prints a transcript of the commands and their answers.
"""
import json
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

CLI, SOURCE = None, None
PASSWORD = "first password"


def transcript(line):
    print(line, file=sys.stderr, flush=True)


class Service:
    def __init__(self, root):
        self.data, self.log = root / "service", root / "service.log"
        self.ca = root / "trusted-ca.pem"
        self.proc = subprocess.Popen(["node", SOURCE / "service/halvane.mjs", "--port", "3010", "--data", self.data],
                                     env=dict(os.environ, KORVO_TRUSTED_CA=str(self.ca)),
                                     stdout=open(self.log, "w"), stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 60
        while "listening on" not in self.log.read_text():
            if self.proc.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("the service did not start: " + self.log.read_text())
            time.sleep(0.1)

    def code(self, to):
        out = subprocess.run(["node", SOURCE / "service/halvane.mjs", "latest-mail", "--data", self.data, "--to", to,
                              "--code"], capture_output=True, text=True, check=True)
        return out.stdout.strip()

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)


class Person:
    """A HOME, a session bus with an unlocked keyring, and korvo-cli run there."""

    def __init__(self, root, service, name):
        self.email, self.home, self.work = f"{name}@example.com", root / name, root / f"{name}-work"
        self.tmp = root / f"{name}-tmp"
        run_dir = root / f"{name}-run"
        for folder in (self.home / ".local/share", self.work, self.tmp, run_dir):
            folder.mkdir(parents=True, mode=0o700)
        self.env = dict(os.environ, HOME=str(self.home), XDG_RUNTIME_DIR=str(run_dir), TMPDIR=str(self.tmp),
                        XDG_DATA_HOME=f"{self.home}/.local/share", XDG_CONFIG_HOME=f"{self.home}/.config",
                        XDG_CACHE_HOME=f"{self.home}/.cache", KORVO_TRUSTED_CA=str(service.ca))
        address, pid = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"],
                                      env=self.env, capture_output=True, text=True, check=True).stdout.split()
        self.env["DBUS_SESSION_BUS_ADDRESS"], self.bus_pid = address, int(pid)
        subprocess.run(["gnome-keyring-daemon", "--unlock", "--components=secrets"], input="\n", env=self.env,
                       capture_output=True, text=True, check=True)
        self.service = service

    def bridge(self, **request):
        request.setdefault("blackboxUrl", "https://localhost:3010")
        out = subprocess.run(["node", SOURCE / "bridge/korvo-bridge.mjs"], input=json.dumps(request), env=self.env,
                             capture_output=True, text=True)
        envelope = json.loads(out.stdout)
        assert envelope["ok"], envelope
        return envelope["result"]

    def sign_up(self):
        """What the application does on "Create account" and the e-mailed code."""
        principal = self.bridge(command="register", email=self.email, password=PASSWORD)["principalId"]
        self.bridge(command="verifyEmail", email=self.email, otp=self.service.code(self.email))
        key = self.bridge(command="generateKey")["privateKeyHex"]
        self.bridge(command="registerKey", password=PASSWORD, principalId=principal, ed25519PrivateKeyHex=key)
        identity = json.dumps({"email": self.email, "principalId": principal, "ed25519PrivateKeyHex": key},
                              separators=(",", ":"))
        subprocess.run(["secret-tool", "store", "--label=com.korvo.security.macos web2.identity", "service",
                        "com.korvo.security.macos", "account", "web2.identity"], input=identity, env=self.env,
                       check=True, text=True)

    def cli(self, *args, stdin=None, binary=False):
        result = subprocess.run([CLI, *args], cwd=self.work, env=self.env, input=stdin, capture_output=True,
                                timeout=120, text=not binary)
        shown = result.stdout if not binary else f"<{len(result.stdout)} bytes>"
        transcript(f"{self.email.split('@')[0]}$ korvo-cli {' '.join(args)}\n  -> {result.returncode} "
                   f"{shown.strip()!s} {result.stderr.strip()!s}".rstrip())
        return result

    def ok(self, *args, stdin=None):
        result = self.cli(*args, stdin=stdin)
        assert result.returncode == 0, result.stderr
        return result.stdout

    def close(self):
        os.kill(self.bus_pid, signal.SIGTERM)


class AccountTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = pathlib.Path(tempfile.mkdtemp(prefix="korvo-cli-account-"))
        cls.service = Service(cls.root)
        cls.ana, cls.ben = Person(cls.root, cls.service, "ana"), Person(cls.root, cls.service, "ben")

    @classmethod
    def tearDownClass(cls):
        for person in (cls.ana, cls.ben):
            person.close()
        cls.service.stop()
        shutil.rmtree(cls.root, ignore_errors=True)

    def test_1_sign_in_to_accounts_made_in_the_application_and_share_a_file(self):
        ana, ben = self.ana, self.ben
        self.assertEqual(ana.ok("status"), "Mode: local (not signed in)\n")
        for person in (ana, ben):
            person.sign_up()
        # A wrong password changes nothing; the right one signs in and picks the first Korvo.
        wrong = ana.cli("sign-in", "--password-stdin", ana.email, stdin="not the password\n")
        self.assertEqual((wrong.returncode, wrong.stderr), (1, "korvo-cli: That email or password is not correct.\n"))
        for person in (ana, ben):
            self.assertRegex(person.ok("sign-in", "--password-stdin", person.email.upper(), stdin=PASSWORD + "\n"),
                             rf"^Signed in as {re.escape(person.email)}; Korvo #\d+ is selected\.\n$")
        ben_korvo = re.search(r"Korvo: #(\d+)", ben.ok("status")).group(1)
        status = ana.ok("status")
        self.assertRegex(status, r"^Mode: account\nAccount: ana@example.com\nKorvo: #\d+\nUsage this month: locked ")

        # Ana locks for Ben's number (a file shared this way is the desktop run's); her own
        # account may not open it, and nothing is written.
        (ana.work / "report.pdf").write_bytes(b"report")
        self.assertEqual(ana.ok("lock", "--for", ben_korvo, "report.pdf"), "report.pdf.korvo\n")
        refused = ana.cli("lock", f"--for={ben_korvo}", "report.pdf")
        self.assertEqual((refused.returncode, refused.stderr),
                         (1, "korvo-cli: report.pdf.korvo: already exists; use -f to replace it\n"))
        mine = ana.cli("open", "report.pdf.korvo", "-o", "mine.pdf")
        self.assertEqual(mine.returncode, 1)
        self.assertTrue(mine.stderr.startswith("korvo-cli: report.pdf.korvo: "), mine.stderr)
        self.assertFalse((ana.work / "mine.pdf").exists())

        # Standard input and output: no file of the tool's own is left behind.
        locked = ana.cli("lock", "--for", ben_korvo, "-", stdin=b"streamed bytes\n", binary=True)
        self.assertEqual((locked.returncode, locked.stderr), (0, b""))
        self.assertTrue(locked.stdout.startswith(b"KORVOACCT"))
        (ben.work / "streamed.korvo").write_bytes(locked.stdout)
        opened = ben.cli("open", "-o", "-", "streamed.korvo", binary=True)
        self.assertEqual((opened.returncode, opened.stdout), (0, b"streamed bytes\n"))
        self.assertEqual(os.listdir(ana.tmp) + os.listdir(ben.tmp), [])

        # Ctrl-C while the bridge seals: status 130 at once, no partial output, no scratch file.
        (ana.work / "big.bin").write_bytes(b"\x5a" * (192 << 20))
        before = sorted(os.listdir(ana.work))
        process = subprocess.Popen([CLI, "lock", "--for", ben_korvo, "big.bin"], cwd=ana.work, env=ana.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 60
        while not any(name.endswith(".partial") for name in os.listdir(ana.work)):
            self.assertIsNone(process.poll(), "the lock was over before it could be interrupted")
            self.assertLess(time.monotonic(), deadline)
            time.sleep(0.005)
        process.send_signal(signal.SIGINT)
        self.assertEqual((process.wait(30), process.stderr.read()), (130, "korvo-cli: cancelled; nothing was saved\n"))
        deadline = time.monotonic() + 10   # the bridge removes its unfinished output as it ends
        while sorted(os.listdir(ana.work)) != before and time.monotonic() < deadline:
            time.sleep(0.05)
        self.assertEqual(sorted(os.listdir(ana.work)), before)
        self.assertEqual(os.listdir(ana.tmp), [])
        transcript("Ctrl-C while locking big.bin: status 130, nothing left behind")

    def test_2_korvos_usage_errors_and_sign_out(self):
        ana = self.ana
        listed = ana.ok("korvos")
        self.assertRegex(listed, r"^#\d+  selected\n$")
        created = ana.cli("korvos", "--new")
        self.assertEqual(created.returncode, 0, created.stderr)
        new = re.search(r"Korvo #(\d+) created and selected", created.stderr).group(1)
        self.assertIn(f"#{new}  selected\n", created.stdout)
        first = re.search(r"#(\d+)", listed).group(1)
        self.assertIn(f"#{first}  selected\n", ana.ok("korvos", "--select", first))
        self.assertIn(f"Korvo: #{first}\n", ana.ok("status"))
        foreign = ana.cli("korvos", "--select", "999999")
        self.assertEqual((foreign.returncode, foreign.stderr), (1, "korvo-cli: korvos: Korvo #999999 is not one of this account's\n"))
        for args, message in ((["lock", "--for", "x", "a"], '--for: "x" is not a Korvo number'),
                              (["open", "--for=3", "a.korvo"], "open: --for belongs to lock"),
                              (["sign-in"], "sign-in: give exactly one e-mail address"),
                              (["status", "--new"], "status: --new and --select belong to korvos"),
                              (["korvos", "--new", "--select=3"], "korvos: give either --new or --select")):
            result = ana.cli(*args)
            self.assertEqual((result.returncode, result.stderr),
                             (2, f"korvo-cli: {message}\nTry 'korvo-cli --help' for more information.\n"))
        no_terminal = ana.cli("sign-in", ana.email)
        self.assertEqual(no_terminal.returncode, 1)
        self.assertIn("--password-stdin", no_terminal.stderr)

        self.assertEqual(ana.ok("sign-out"), "This computer was removed from your account.\n")
        self.assertEqual(ana.ok("status"), "Mode: local (not signed in)\n")
        (ana.work / "b.txt").write_bytes(b"b")
        result = ana.cli("lock", "--for", "5", "b.txt")
        self.assertEqual(result.returncode, 1)
        self.assertTrue(result.stderr.startswith("korvo-cli: not signed in; sign in with korvo-cli sign-in EMAIL"))


if __name__ == "__main__":
    CLI, SOURCE = os.path.abspath(sys.argv[1]), pathlib.Path(sys.argv[2])
    unittest.main(argv=sys.argv[:1], verbosity=2)
