#!/usr/bin/env python3
"""End-to-end tests of korvo-cli: exit statuses, default names, refusing to overwrite, round trips.

    cli_test.py PATH/TO/korvo-cli
"""
import fnmatch
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

CLI = None
HERE = os.path.dirname(os.path.abspath(__file__))
INVALID = "This file was not protected on this computer, or it has been changed."
UNREADABLE = "The selected file could not be read."
HAS_KEYCHAIN = bool(os.environ.get("DBUS_SESSION_BUS_ADDRESS"))
KEY_ITEM = ["service", "com.korvo.security.macos", "account", "local.protection.key"]


class CliTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="korvo-cli-test-")
        self.work = os.path.join(self.root, "work")      # the tool's current folder
        self.tmp = os.path.join(self.root, "tmp")        # its temporary folder, for bundles
        os.makedirs(self.work)
        os.makedirs(self.tmp)

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def run_cli(self, *args, cwd=None):
        env = dict(os.environ, TMPDIR=self.tmp)
        return subprocess.run([CLI, *args], cwd=cwd or self.work, env=env, capture_output=True, timeout=120,
                              encoding="utf-8", errors="surrogateescape")   # names keep their bytes

    def ok(self, *args, cwd=None):
        result = self.run_cli(*args, cwd=cwd)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")   # no progress bar unless stderr is a terminal
        self.assertTrue(result.stdout.startswith("Saved to /"), result.stdout)
        return result.stdout[len("Saved to "):].strip()

    def failure(self, sentence, *args, cwd=None):
        result = self.run_cli(*args, cwd=cwd)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertEqual(result.stderr, "korvo-cli: " + sentence + "\n")
        self.assertEqual(result.stdout, "")

    def write(self, relative, data):
        path = os.path.join(self.work, relative)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def read(self, path):
        with open(os.path.join(self.work, path), "rb") as f:
            return f.read()


class UsageTest(CliTest):
    def test_help_and_version_succeed_on_stdout(self):
        for args in (["--help"], ["-h"], ["lock", "--help"]):
            result = self.run_cli(*args)
            self.assertEqual(result.returncode, 0)
            self.assertIn("Usage:", result.stdout)
        result = self.run_cli("--version")
        self.assertEqual(result.returncode, 0)
        self.assertRegex(result.stdout, r"^korvo-cli \d+\.\d+\.\d+\n$")

    def test_usage_errors_exit_2_with_usage_and_touch_nothing(self):
        self.write("a.txt", b"a")
        for args in ([], ["seal", "a.txt"], ["lock"], ["lock", "-x", "a.txt"], ["lock", "a.txt", "-o"],
                     ["lock", "-o", "x", "-o", "y", "a.txt"], ["open"], ["open", "a.txt", "a.txt"],
                     ["bundle", "a.txt"]):
            result = self.run_cli(*args)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn("Usage:", result.stderr)
            self.assertEqual(result.stdout, "")
        self.assertEqual(sorted(os.listdir(self.work)), ["a.txt"])


class OpenNameTest(CliTest):
    """Default names of opened files (local mode); no keychain needed, the names fail before."""

    def test_existing_default_output_is_refused_before_any_work(self):
        # Each input's default output already exists, so the refusal shows which name was chosen.
        # (the rules themselves are tested with the naming helper; this checks the tool uses them)
        cases = {"a.txt.korvolocal": "a.txt", "b.txt.korvo": "b.txt", "photo.zip": "photo",
                 "F.KORVOLOCAL": "F.KORVOLOCAL"}
        for source, expected in cases.items():
            with self.subTest(source):
                self.write(source, b"not really sealed")
                if source != expected:
                    self.write(expected, b"earlier")
                self.failure('"%s" already exists.' % os.path.join(self.work, expected), "open", source)
                if source != expected:
                    self.assertEqual(self.read(expected), b"earlier")

    def test_name_with_nothing_left_needs_an_output(self):
        self.write(".korvolocal", b"x")
        result = self.run_cli("open", ".korvolocal")
        self.assertEqual(result.returncode, 1)
        self.assertIn("-o", result.stderr)


@unittest.skipUnless(HAS_KEYCHAIN, "needs the Secret Service (run under scripts/headless-session.sh)")
class KeychainTest(CliTest):
    def test_single_file_round_trip_with_default_names(self):
        data = os.urandom(3 * 1024 * 1024 + 5)
        self.write("notes.txt", data)
        sealed = self.ok("lock", "notes.txt")
        self.assertEqual(sealed, os.path.join(self.work, "notes.txt.korvolocal"))
        first = self.read("notes.txt.korvolocal")
        self.assertEqual(first[:11], b"KORVOLOCAL\x01")

        self.failure('"%s" already exists.' % sealed, "lock", "notes.txt")
        self.assertEqual(self.read("notes.txt.korvolocal"), first)
        self.ok("lock", "-f", "notes.txt")
        self.assertNotEqual(self.read("notes.txt.korvolocal"), first)

        os.remove(os.path.join(self.work, "notes.txt"))
        self.assertEqual(self.ok("open", "notes.txt.korvolocal"), os.path.join(self.work, "notes.txt"))
        self.assertEqual(self.read("notes.txt"), data)

    def test_folder_without_slash_is_bundled_and_round_trips(self):
        self.write("docs/a.txt", b"alpha")
        self.write("docs/sub/b.bin", os.urandom(70000))
        self.write("docs/.hidden", b"left out")
        sealed = self.ok("lock", "docs")
        name = os.path.basename(sealed)
        self.assertRegex(name, r"^korvo-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\.zip\.korvolocal$")
        self.assertEqual(os.listdir(self.tmp), [])   # the temporary bundle is gone

        opened = self.ok("open", name)
        self.assertEqual(opened, os.path.join(self.work, name[:-len(".korvolocal")]))
        with zipfile.ZipFile(opened) as archive:
            self.assertEqual(sorted(archive.namelist()), ["docs/a.txt", "docs/sub/b.bin"])
            self.assertEqual(archive.read("docs/a.txt"), b"alpha")
            self.assertEqual(archive.read("docs/sub/b.bin"), self.read("docs/sub/b.bin"))

    def test_several_files_and_an_explicit_output(self):
        self.write("a.txt", b"a")
        self.write("b.txt", b"b")
        out = os.path.join(self.root, "elsewhere.korvolocal")
        self.assertEqual(self.ok("lock", "-o", out, "a.txt", "b.txt"), out)
        self.assertEqual(self.ok("open", out, "-o", "both.zip"), os.path.join(self.work, "both.zip"))
        with zipfile.ZipFile(os.path.join(self.work, "both.zip")) as archive:
            self.assertEqual(sorted(archive.namelist()), ["a.txt", "b.txt"])
        self.assertEqual(os.listdir(self.tmp), [])

    def test_failures_exit_1_with_the_sentence_and_keep_the_earlier_file(self):
        self.write("plain", os.urandom(2 * 1024 * 1024))
        self.ok("lock", "plain", "-o", "sealed")
        tampered = bytearray(self.read("sealed"))
        tampered[-1] ^= 1
        self.write("tampered", bytes(tampered))
        self.write("out", b"earlier")
        self.failure(INVALID, "open", "-f", "tampered", "-o", "out")
        self.failure("missing: No such file", "open", "-f", "missing", "-o", "out")
        self.failure("missing: No such file", "lock", "-f", "missing", "-o", "out")
        self.assertEqual(self.read("out"), b"earlier")
        self.assertEqual(sorted(os.listdir(self.work)), ["out", "plain", "sealed", "tampered"])

    def test_names_that_are_not_utf8_keep_their_bytes(self):
        name = os.fsdecode(b"caf\xe9 \xff.txt")    # Latin-1 and a stray byte
        data = os.urandom(5000)
        self.write(name, data)
        self.write(os.fsdecode(b"d\xe9j\xe0/") + name, b"inside")
        self.assertEqual(self.ok("lock", name), os.path.join(self.work, name + ".korvolocal"))
        os.remove(os.path.join(self.work, name))
        self.assertEqual(self.ok("open", name + ".korvolocal"), os.path.join(self.work, name))
        self.assertEqual(self.read(name), data)
        self.ok("bundle", "-o", "out.zip", os.fsdecode(b"d\xe9j\xe0"))
        with zipfile.ZipFile(os.path.join(self.work, "out.zip")) as archive:   # legacy names read as cp437
            self.assertEqual(archive.namelist(), [os.fsencode(os.fsdecode(b"d\xe9j\xe0/") + name).decode("cp437")])
            self.assertEqual(archive.read(archive.namelist()[0]), b"inside")

    @unittest.skipUnless(shutil.which("secret-tool"), "secret-tool is not installed")
    def test_missing_inputs_are_reported_before_a_key_is_made(self):
        self.write("a.txt", b"a")
        subprocess.run(["secret-tool", "clear", *KEY_ITEM])   # fails when there is none yet
        for args, name in ((["lock", "missing.txt"], "missing.txt"), (["lock", "a.txt", "gone/"], "gone/"),
                           (["open", "missing.korvolocal"], "missing.korvolocal")):
            self.failure("%s: No such file" % name, *args)
        self.assertEqual(subprocess.run(["secret-tool", "lookup", *KEY_ITEM], capture_output=True).stdout, b"")

    @unittest.skipUnless(shutil.which("secret-tool"), "secret-tool is not installed")
    def test_the_keychain_key_opens_the_file_in_an_independent_reader(self):
        data = os.urandom(1024 * 1024 + 1)
        self.write("plain", data)
        sealed = self.ok("lock", "plain")
        key = subprocess.run(["secret-tool", "lookup", *KEY_ITEM], capture_output=True, check=True).stdout
        self.assertEqual(len(key), 32)
        reader = subprocess.run([sys.executable, os.path.join(HERE, "korvolocal_reference.py"), "open", key.hex(),
                                 sealed, os.path.join(self.root, "opened")])
        if reader.returncode == 4:
            self.skipTest("the Python cryptography package is not installed")
        self.assertEqual(reader.returncode, 0)
        with open(os.path.join(self.root, "opened"), "rb") as f:
            self.assertEqual(f.read(), data)

    @unittest.skipUnless(shutil.which("strace"), "strace is not installed")
    def test_outputs_reach_the_device_before_they_replace_the_earlier_file(self):
        # After a power cut the output path must hold the old file or the whole new one: the new
        # file is flushed before the rename, and the folder holding the rename after it.
        self.write("plain", os.urandom(3 * 1024 * 1024))
        self.write("out", b"earlier")
        self.ok("lock", "-o", "sealed", "plain")
        for args in (["lock", "plain"], ["open", "sealed"], ["bundle", "plain", "sealed"]):
            with self.subTest(args[0]):
                trace = os.path.join(self.root, "trace")
                subprocess.run(["strace", "-f", "-qq", "-o", trace, "-e", "trace=fsync,fdatasync,rename,renameat,renameat2",
                                CLI, *args, "-f", "-o", "out"], cwd=self.work, check=True, capture_output=True)
                with open(trace) as f:
                    calls = [line.split(None, 1)[1].split("(")[0] for line in f]
                renamed = [i for i, call in enumerate(calls) if call.startswith("rename")]
                self.assertEqual(len(renamed), 1, calls)
                self.assertTrue({"fsync", "fdatasync"} & set(calls[:renamed[0]]), calls)
                self.assertIn("fsync", calls[renamed[0] + 1:], calls)


@unittest.skipUnless(HAS_KEYCHAIN, "needs the Secret Service (run under scripts/headless-session.sh)")
class InterruptTest(CliTest):
    def interrupt_when(self, args, folder, pattern, signals):
        """Runs the tool, interrupts it once a file matching pattern appears in folder; returns the
        exit status and the seconds from the first signal to the end."""
        process = subprocess.Popen([CLI, *args], cwd=self.work, env=dict(os.environ, TMPDIR=self.tmp),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 60
        while not fnmatch.filter(os.listdir(folder), pattern):
            if process.poll() is not None or time.monotonic() > deadline:
                process.kill()
                self.fail("the step was over before it could be interrupted")
            time.sleep(0.001)
        start = time.monotonic()
        for i in range(signals):
            time.sleep(0.02 if i else 0)   # a second signal, not one merged with the first
            process.send_signal(signal.SIGINT)
        process.wait(timeout=60)
        return process.returncode, time.monotonic() - start

    def test_ctrl_c_stops_every_step_at_once_and_leaves_nothing(self):
        self.write("big.bin", b"\x5a" * (256 << 20))
        os.makedirs(os.path.join(self.work, "box"))
        os.link(os.path.join(self.work, "big.bin"), os.path.join(self.work, "box", "big.bin"))
        self.ok("lock", "-o", "big.korvolocal", "big.bin")
        before = sorted(os.listdir(self.work))
        for step, args, folder, pattern, signals in (
                ("bundling", ["lock", "box"], self.tmp, "korvo-*.zip", 1),
                ("bundling, Ctrl-C twice", ["lock", "box"], self.tmp, "korvo-*.zip", 2),
                ("sealing", ["lock", "-f", "big.bin", "-o", "out"], self.work, ".korvo-*.partial", 1),
                ("opening", ["open", "-f", "big.korvolocal", "-o", "out"], self.work, ".korvo-*.partial", 1)):
            with self.subTest(step):
                status, seconds = self.interrupt_when(args, folder, pattern, signals)
                self.assertEqual(status, 130)
                self.assertLess(seconds, 0.2)
                self.assertEqual(os.listdir(self.tmp), [])
                self.assertEqual(sorted(os.listdir(self.work)), before)


class BundleTest(CliTest):
    def test_bundle_writes_the_archive_and_refuses_to_replace_without_force(self):
        self.write("docs/a.txt", b"alpha")
        self.write("c.txt", b"gamma")
        out = self.ok("bundle", "-o", "out.zip", "docs", "c.txt")
        self.assertEqual(out, os.path.join(self.work, "out.zip"))
        with zipfile.ZipFile(out) as archive:
            self.assertEqual(sorted(archive.namelist()), ["c.txt", "docs/a.txt"])
        before = self.read("out.zip")
        self.failure('"%s" already exists.' % out, "bundle", "-o", "out.zip", "c.txt")
        self.assertEqual(self.read("out.zip"), before)

        self.ok("bundle", "-f", "-o", "out.zip", "c.txt")   # a single file is still archived
        with zipfile.ZipFile(out) as archive:
            self.assertEqual(archive.namelist(), ["c.txt"])
        self.assertEqual(sorted(os.listdir(self.work)), ["c.txt", "docs", "out.zip"])

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("unshare") and shutil.which("ldd"), "needs root and unshare")
    def test_the_root_folder_gives_relative_names(self):
        # "/" selected, inside a small root of its own: the program, its libraries and one file.
        root = os.path.join(self.root, "root")
        libraries = subprocess.run(["ldd", CLI], capture_output=True, text=True, check=True).stdout
        for path in [CLI] + re.findall(r"(/\S+) \(0x", libraries):
            target = root + ("/korvo-cli" if path == CLI else path)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy(path, target)
        os.makedirs(os.path.join(root, "data"))
        with open(os.path.join(root, "data", "hello.txt"), "w") as f:
            f.write("hello")
        subprocess.run(["unshare", "--root=" + root, "/korvo-cli", "bundle", "-o", "/out.zip", "/"], check=True,
                       capture_output=True)
        with zipfile.ZipFile(os.path.join(root, "out.zip")) as archive:
            names = archive.namelist()
        self.assertIn("data/hello.txt", names)
        self.assertIn("korvo-cli", names)
        self.assertFalse([n for n in names if n.startswith("/") or ".." in n.split("/")], names)

    def test_sockets_and_pipes_are_left_out_and_counted(self):
        self.write("box/kept.txt", b"kept")
        os.mkfifo(os.path.join(self.work, "box", "pipe"))
        with socket.socket(socket.AF_UNIX) as listening:
            listening.bind(os.path.join(self.work, "box", "s.sock"))
            result = self.run_cli("bundle", "-o", "out.zip", "box")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "korvo-cli: 2 items were left out: they are not files, folders or links.\n")
        with zipfile.ZipFile(os.path.join(self.work, "out.zip")) as archive:
            self.assertEqual(archive.namelist(), ["box/kept.txt"])

    def test_failed_bundle_keeps_the_earlier_archive(self):
        self.write("out.zip", b"earlier")
        result = self.run_cli("bundle", "-f", "-o", "out.zip", "missing-file", "also-missing")
        self.assertEqual(result.returncode, 1)
        self.assertEqual(len(result.stderr.strip().splitlines()), 1)
        self.assertEqual(self.read("out.zip"), b"earlier")
        self.assertEqual(os.listdir(self.work), ["out.zip"])


if __name__ == "__main__":
    CLI = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
