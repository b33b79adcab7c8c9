#!/usr/bin/env python3
"""End-to-end tests of korvo-cli: exit statuses, default names, refusing to overwrite, round trips.

    cli_test.py PATH/TO/korvo-cli
"""
import fnmatch
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

CLI = None
HERE = os.path.dirname(os.path.abspath(__file__))
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
                              stdin=subprocess.DEVNULL, encoding="utf-8", errors="surrogateescape")   # names keep their bytes

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

    def stream(self, args, data, status=0, stdout=None, stderr=b""):
        """Runs the tool on bytes from standard input; returns what it wrote to standard output."""
        result = subprocess.run([CLI, *args], cwd=self.work, env=dict(os.environ, TMPDIR=self.tmp), input=data,
                                capture_output=True, timeout=120)
        self.assertEqual((result.returncode, result.stderr), (status, stderr))
        if stdout is not None:
            self.assertEqual(result.stdout, stdout)
        return result.stdout

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
    def test_help_lists_every_option_and_version_prints_one_line(self):
        for args in (["--help"], ["open", "-vh"]):   # as the command, and as an option among others
            result = self.run_cli(*args)
            self.assertEqual((result.returncode, result.stderr), (0, ""), args)
            for text in ("Usage:", "--output=PATH", "--force", "--quiet", "--verbose", "--help", "--version",
                         "Examples:", "korvo-cli lock report.pdf"):
                self.assertIn(text, result.stdout)
        result = self.run_cli("--version")
        self.assertEqual(result.returncode, 0)
        self.assertRegex(result.stdout, r"^korvo-cli \d+\.\d+\.\d+\n$")

    def test_usage_errors_exit_2_with_a_pointer_to_help_and_touch_nothing(self):
        self.write("a.txt", b"a")
        for args, message in (
                ([], "no command was given"), (["seal", "a.txt"], 'unknown command "seal"'),
                (["lock"], "lock: nothing to lock was given"), (["lock", "-fx", "a.txt"], "unknown option -x"),
                (["lock", "--frobnicate"], "unknown option --frobnicate"),
                (["lock", "--force=yes", "a.txt"], "option --force takes no value"),
                (["lock", "a.txt", "--output="], "-o/--output needs a path"),
                (["lock", "-o", "x", "--output=y", "a.txt"], "give only one output"),
                (["open", "a.txt", "a.txt"], "open: give exactly one file"),
                (["bundle", "a.txt"], "bundle: give the archive to write with -o"),
                (["bundle", "-o", "-", "a.txt"], 'bundle: works on files and folders only, not on "-"'),
                (["lock", "-", "a.txt"], 'lock: standard input ("-") cannot be combined with other items')):
            result = self.run_cli(*args)
            self.assertEqual(result.returncode, 2, args)
            self.assertEqual(result.stderr, "korvo-cli: %s\nTry 'korvo-cli --help' for more information.\n" % message)
            self.assertEqual(result.stdout, "")
        self.assertEqual(sorted(os.listdir(self.work)), ["a.txt"])


class DocumentationTest(CliTest):
    def test_man_page_and_completion_know_every_option_of_the_help(self):
        options = set(re.findall(r"--[a-z]+", self.run_cli("--help").stdout))
        with open(os.path.join(HERE, "..", "..", "src", "cli", "korvo-cli.1.in")) as f:
            manual = f.read()
        self.assertEqual(options - set(re.findall(r"--[a-z]+", manual.replace("\\-", "-"))), set())
        if shutil.which("groff"):
            rendered = subprocess.run(["groff", "-man", "-ww", "-z", os.path.join(HERE, "../../src/cli/korvo-cli.1.in")],
                                      capture_output=True, text=True)
            self.assertEqual((rendered.returncode, rendered.stderr), (0, ""))
        completion = os.path.join(HERE, "..", "..", "src", "cli", "korvo-cli.bash")
        self.write("a.korvolocal", b"")
        self.write("b.txt", b"")

        def complete(*words):
            script = ('source "$0"; compopt() { :; }; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _korvo_cli; '
                      'printf "%s\\n" "${COMPREPLY[@]}"')
            return set(subprocess.run(["bash", "-c", script, completion, "korvo-cli", *words], cwd=self.work,
                                      capture_output=True, text=True, check=True).stdout.split())
        self.assertEqual(complete(""), {"lock", "open", "bundle", "sign-in", "sign-out", "status", "korvos", "--help",
                                        "--version"})
        self.assertEqual({o.rstrip("=") for o in complete("lock", "--")},
                         options - {"--version", "--password", "--new", "--select"})
        self.assertEqual(complete("korvos", "--"), {"--new", "--select=", "--quiet"})
        self.assertEqual(complete("open", ""), {"a.korvolocal"})
        self.assertEqual(complete("lock", "--output", "=", "b"), {"b.txt"})


class OutputNameTest(CliTest):
    """Where outputs go, seen through refusals that happen before any work (no keychain needed). The
    naming rules themselves are tabled in tests/core/CliOutputNames_test.cpp."""

    def test_the_chosen_output_is_named_in_the_refusal_or_the_missing_name_explained(self):
        for name in ("a.txt.korvolocal", "notes.txt", "a.txt", "dir/a.txt", "dir/a.txt.korvolocal"):
            self.write(name, b"earlier")
        before = sorted(os.listdir(self.work))
        exists, unnamed = ": already exists; use -f to replace it", ": cannot tell the output name; use -o FILE"
        for args, message in (
                (["open", "a.txt.korvolocal"], "a.txt" + exists),
                (["open", "notes.txt"], "notes.txt" + unnamed),
                (["open", "-o", "dir", "a.txt.korvolocal"], "dir/a.txt" + exists),
                (["open", "notes.txt", "-o", "dir/"], "notes.txt" + unnamed),
                (["lock", "a.txt", "--output=dir"], "dir/a.txt.korvolocal" + exists),
                (["lock", "-qo", "dir", "a.txt"], "dir/a.txt.korvolocal" + exists),   # errors even when quiet
                (["lock", "-", "-o", "dir"], "standard input" + unnamed),
                (["bundle", "-o", "a.txt", "dir"], "a.txt" + exists),
                (["lock", "missing.txt", "-o", "x"], "missing.txt: No such file")):
            with self.subTest(args):
                self.failure(message, *args)
        self.assertEqual(sorted(os.listdir(self.work)), before)


@unittest.skipUnless(HAS_KEYCHAIN, "needs the Secret Service (run under scripts/headless-session.sh)")
class KeychainTest(CliTest):
    def test_files_and_folders_round_trip_with_default_names_and_options(self):
        data = os.urandom(3 * 1024 * 1024 + 5)
        self.write("notes.txt", data)
        self.write("docs/a.txt", b"alpha")
        self.write("docs/sub/b.bin", os.urandom(70000))
        self.write("docs/.hidden", b"left out")
        os.makedirs(os.path.join(self.work, "out"))
        self.assertEqual(self.ok("lock", "notes.txt"), os.path.join(self.work, "notes.txt.korvolocal"))
        first = self.read("notes.txt.korvolocal")
        self.ok("lock", "-f", "notes.txt")
        self.assertNotEqual(self.read("notes.txt.korvolocal"), first)

        # Quiet: nothing on either stream. A folder as -o: the default name inside it.
        result = self.run_cli("lock", "-qfo", "out", "docs")   # a folder without its slash is bundled
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", ""))
        [sealed] = os.listdir(os.path.join(self.work, "out"))
        self.assertRegex(sealed, r"^korvo-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\.zip\.korvolocal$")
        self.assertEqual(os.listdir(self.tmp), [])   # the temporary bundle is gone

        # Verbose: each step on standard error, the result on standard output.
        result = self.run_cli("open", "--verbose", "--output=out", "out/" + sealed)
        self.assertEqual(result.returncode, 0, result.stderr)
        opened = os.path.join(self.work, "out", sealed[:-len(".korvolocal")])
        self.assertEqual(result.stdout, "Saved to %s\n" % opened)
        self.assertRegex(result.stderr, r"^korvo-cli: fetching the local protection key from the keychain\n"
                                        r"korvo-cli: opening out/korvo-\S+ into out/korvo-\S+\.zip\n"
                                        r"korvo-cli: done in \d+\.\d\d s\n$")
        with zipfile.ZipFile(opened) as archive:
            self.assertEqual(sorted(archive.namelist()), ["docs/a.txt", "docs/sub/b.bin"])
            self.assertEqual(archive.read("docs/sub/b.bin"), self.read("docs/sub/b.bin"))
        os.remove(os.path.join(self.work, "notes.txt"))
        self.assertEqual(self.ok("open", "notes.txt.korvolocal"), os.path.join(self.work, "notes.txt"))
        self.assertEqual(self.read("notes.txt"), data)

    def test_standard_input_and_output_stream_without_temporary_files(self):
        data = os.urandom(2 * 1024 * 1024 + 77)
        self.write("plain", data)
        # Streamed and file forms cross both ways; the layout itself is LocalFileProtection_test's.
        sealed = self.stream(["lock", "-"], data)
        self.assertEqual(self.stream(["open", "-"], sealed), data)
        self.assertEqual(self.stream(["open", "-"], self.stream(["lock", "plain", "-o", "-"], b"")), data)
        self.stream(["open", "-", "-o", "from-stdin"], sealed, stdout=b"Saved to %s\n" % os.fsencode(self.work + "/from-stdin"))
        self.assertEqual(self.read("from-stdin"), data)
        self.write("sealed", sealed)
        self.assertEqual(self.stream(["open", "sealed", "-o", "-"], b""), data)
        for args, bad in ((["open", "-"], sealed[:-1]), (["open", "-"], sealed + b"x"), (["open", "-o", "bad", "-"], sealed[:-1])):
            self.stream(args, bad, status=1,
                        stderr=b"korvo-cli: standard input: not protected with this computer's key, or changed since\n")
        self.assertEqual(sorted(os.listdir(self.work)), ["from-stdin", "plain", "sealed"])
        self.assertEqual(os.listdir(self.tmp), [])
        # Protected data never goes to a terminal.
        primary, secondary = os.openpty()
        result = subprocess.run([CLI, "lock", "plain", "-o", "-"], cwd=self.work, stdout=secondary, stderr=subprocess.PIPE)
        os.close(primary)
        os.close(secondary)
        self.assertEqual((result.returncode, result.stderr), (1, b"korvo-cli: protected data is not written to a terminal; "
                                                                 b"redirect standard output or use -o FILE\n"))

    def test_a_changed_file_is_named_and_the_earlier_output_kept(self):
        self.write("plain", os.urandom(2 * 1024 * 1024))
        self.ok("lock", "plain", "-o", "sealed")
        tampered = bytearray(self.read("sealed"))
        tampered[-1] ^= 1
        self.write("tampered", bytes(tampered))
        self.write("out", b"earlier")
        # Unreadable inputs and outputs that cannot be saved are tests/faults' scenarios.
        self.failure("tampered: not protected with this computer's key, or changed since",
                     "open", "-f", "tampered", "-o", "out")
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
        self.ok("bundle", "-fo", "out.zip", "c.txt")   # a single file is still archived
        with zipfile.ZipFile(out) as archive:
            self.assertEqual(archive.namelist(), ["c.txt"])
        self.write("into/x", b"")
        self.ok("bundle", "-o", "into", "c.txt")   # a folder gets a new archive of its own
        self.assertEqual(len(os.listdir(os.path.join(self.work, "into"))), 2)
        self.assertEqual(sorted(os.listdir(self.work)), ["c.txt", "docs", "into", "out.zip"])

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


if __name__ == "__main__":
    CLI = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
