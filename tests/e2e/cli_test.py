#!/usr/bin/env python3
"""End-to-end tests of korvo-cli: exit statuses, default names, refusing to overwrite, round trips.
Ctrl-C, kills and a second writer at each step are tests/faults' scenarios.

    cli_test.py PATH/TO/korvo-cli
"""
import os, re, shutil, signal, subprocess, sys, tempfile, unittest, zipfile

CLI = None
SOURCES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "src", "cli")
KEY_ITEM = ["service", "com.korvo.security.macos", "account", "local.protection.key"]


class CliTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="korvo-cli-test-")
        self.work, self.tmp = os.path.join(self.root, "work"), os.path.join(self.root, "tmp")   # current, temporary
        for folder in (self.work, self.tmp):
            os.makedirs(folder)
        self.env = dict(os.environ, TMPDIR=self.tmp)
        self.addCleanup(shutil.rmtree, self.root, ignore_errors=True)

    def run_cli(self, *args, cwd=None, data=None):
        """Text with names keeping their bytes; bytes in and out when `data` is given."""
        text = dict(stdin=subprocess.DEVNULL, encoding="utf-8", errors="surrogateescape") if data is None else {}
        return subprocess.run([CLI, *args], cwd=cwd or self.work, env=self.env, capture_output=True, timeout=120,
                              input=data, **text)

    def ok(self, *args, cwd=None, stderr=""):
        """Runs a command that succeeds; returns the path it printed, which it does only when it
        chose the output's name."""
        result = self.run_cli(*args, cwd=cwd)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, stderr)   # no progress bar unless stderr is a terminal
        self.assertEqual(result.stdout.count("\n"), 1 if result.stdout else 0, result.stdout)
        return result.stdout.strip()

    def failure(self, sentence, *args, status=1):
        """A failure (status 1), or a usage error (2) that points to the help."""
        result = self.run_cli(*args)
        usage = "Try 'korvo-cli --help' for more information.\n" if status == 2 else ""
        self.assertEqual((result.returncode, result.stderr, result.stdout), (status, f"korvo-cli: {sentence}\n{usage}", ""))

    def stream(self, args, data, status=0, stderr=b""):
        """Runs the tool on bytes from standard input; returns what it wrote to standard output."""
        result = self.run_cli(*args, data=data)
        self.assertEqual((result.returncode, result.stderr), (status, stderr))
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

    def names(self, archive):
        with zipfile.ZipFile(os.path.join(self.work, archive)) as opened:
            return sorted(opened.namelist())


class UsageTest(CliTest):
    def test_help_lists_every_option_and_version_prints_one_line(self):
        for args in (["--help"], ["open", "-vh"]):   # as the command, and as an option among others
            result = self.run_cli(*args)
            self.assertEqual((result.returncode, result.stderr), (0, ""), args)
            for text in ("Usage:", "--output=PATH", "--force", "--quiet", "--verbose", "--help", "--version",
                         "Examples:", "korvo-cli lock report.pdf"):
                self.assertIn(text, result.stdout)
        result = self.run_cli("--version")
        self.assertRegex(f"{result.returncode} {result.stdout}", r"^0 korvo-cli \d+\.\d+\.\d+\n$")

    def test_refusals_before_any_work_say_why_and_touch_nothing(self):
        """Usage errors, and where outputs go, seen through refusals that come before any work (no
        keychain needed). The naming rules themselves are tabled in tests/core/CliOutputNames_test.cpp."""
        for name in ("a.txt.korvolocal", "notes.txt", "a.txt", "dir/a.txt", "dir/a.txt.korvolocal"):
            self.write(name, b"earlier")
        before = sorted(os.listdir(self.work))
        usage = ((), "no command was given"), (["seal", "a.txt"], 'unknown command "seal"'), \
            (["lock"], "lock: nothing to lock was given"), (["lock", "-fx", "a.txt"], "unknown option -x"), \
            (["lock", "--frobnicate"], "unknown option --frobnicate"), \
            (["lock", "--force=yes", "a.txt"], "option --force takes no value"), \
            (["lock", "a.txt", "--output="], "-o/--output needs a path"), \
            (["lock", "-o", "x", "--output=y", "a.txt"], "give only one output"), \
            (["open", "a.txt", "a.txt"], "open: give exactly one file"), \
            (["bundle", "a.txt"], "bundle: give the archive to write with -o"), \
            (["bundle", "-o", "-", "a.txt"], 'bundle: works on files and folders only, not on "-"'), \
            (["lock", "-", "a.txt"], 'lock: standard input ("-") cannot be combined with other items')
        exists, unnamed = ": already exists; use -f to replace it", ": cannot tell the output name; use -o FILE"
        refused = (["open", "a.txt.korvolocal"], "a.txt" + exists), (["open", "notes.txt"], "notes.txt" + unnamed), \
            (["open", "-o", "dir", "a.txt.korvolocal"], "dir/a.txt" + exists), \
            (["open", "notes.txt", "-o", "dir/"], "notes.txt" + unnamed), \
            (["lock", "a.txt", "--output=dir"], "dir/a.txt.korvolocal" + exists), \
            (["lock", "-qo", "dir", "a.txt"], "dir/a.txt.korvolocal" + exists), \
            (["lock", "-", "-o", "dir"], "standard input" + unnamed), (["bundle", "-o", "a.txt", "dir"], "a.txt" + exists), \
            (["bundle", "-o", "/nonexistent/x.zip", "dir"], "/nonexistent/x.zip: cannot be saved: No such file"), \
            (["lock", "missing.txt", "-o", "x"], "missing.txt: No such file")
        for status, (args, message) in [(2, row) for row in usage] + [(1, row) for row in refused]:
            with self.subTest(args):
                self.failure(message, *args, status=status)
        self.assertEqual(sorted(os.listdir(self.work)), before)

    def test_man_page_and_completion_know_every_option_of_the_help(self):
        options = set(re.findall(r"--[a-z]+", self.run_cli("--help").stdout))
        with open(os.path.join(SOURCES, "korvo-cli.1.in")) as f:
            self.assertEqual(options - set(re.findall(r"--[a-z]+", f.read().replace("\\-", "-"))), set())
        if shutil.which("groff"):
            rendered = subprocess.run(["groff", "-man", "-ww", "-z", os.path.join(SOURCES, "korvo-cli.1.in")],
                                      capture_output=True, text=True)
            self.assertEqual((rendered.returncode, rendered.stderr), (0, ""))
        self.write("a.korvolocal", b"")
        self.write("b.txt", b"")

        def complete(*words):
            script = ('source "$0"; compopt() { :; }; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _korvo_cli; '
                      'printf "%s\\n" "${COMPREPLY[@]}"')
            return set(subprocess.run(["bash", "-c", script, os.path.join(SOURCES, "korvo-cli.bash"), "korvo-cli", *words],
                                      cwd=self.work, capture_output=True, text=True, check=True).stdout.split())
        self.assertEqual(complete(""), {"lock", "open", "bundle", "sign-in", "sign-out", "status", "korvos", "--help",
                                        "--version"})
        self.assertEqual({o.rstrip("=") for o in complete("lock", "--")},
                         options - {"--version", "--password", "--new", "--select"})
        self.assertEqual(complete("korvos", "--"), {"--new", "--select=", "--quiet"})
        self.assertEqual(complete("open", ""), {"a.korvolocal"})
        self.assertEqual(complete("lock", "--output", "=", "b"), {"b.txt"})


@unittest.skipUnless(os.environ.get("DBUS_SESSION_BUS_ADDRESS"), "needs the Secret Service (run under scripts/headless-session.sh)")
class KeychainTest(CliTest):
    def test_files_and_folders_round_trip_with_default_names_and_options(self):
        data = os.urandom(3 * 1024 * 1024 + 5)
        self.write("notes.txt", data)
        self.write("docs/a.txt", b"alpha")
        self.write("docs/sub/b.bin", os.urandom(70000))
        self.write("docs/.hidden", b"left out")
        os.makedirs(os.path.join(self.work, "out"))
        # Silent on success, but a name the tool chose is printed.
        self.assertEqual(self.ok("lock", "notes.txt"), "notes.txt.korvolocal")
        first = self.read("notes.txt.korvolocal")
        self.assertEqual(self.ok("lock", "-fo", "notes.txt.korvolocal", "notes.txt"), "")
        self.assertNotEqual(self.read("notes.txt.korvolocal"), first)

        # Quiet: nothing on either stream. A folder as -o: the default name inside it; a folder
        # alone (even without its slash) is bundled under its own name.
        result = self.run_cli("lock", "-qfo", "out", "docs")
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, "", ""))
        self.assertEqual(os.listdir(os.path.join(self.work, "out")), ["docs.zip.korvolocal"])
        self.assertEqual(os.listdir(self.tmp), [])   # the temporary bundle is gone
        self.assertEqual(self.ok("lock", "-o", "other.korvolocal", "docs", stderr="korvo-cli: 1 hidden item was left out.\n"), "")

        # Verbose: each step on standard error, the result on standard output.
        result = self.run_cli("open", "--verbose", "--output=out", "out/docs.zip.korvolocal")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, "out/docs.zip\n")
        self.assertRegex(result.stderr, r"^korvo-cli: fetching the local protection key from the keychain\n"
                                        r"korvo-cli: opening out/docs.zip.korvolocal into out/docs.zip\n"
                                        r"korvo-cli: saved out/docs.zip\n"
                                        r"korvo-cli: done in \d+\.\d\d s\n$")
        self.assertEqual(self.names("out/docs.zip"), ["docs/a.txt", "docs/sub/b.bin"])
        with zipfile.ZipFile(os.path.join(self.work, "out", "docs.zip")) as archive:
            self.assertEqual(archive.read("docs/sub/b.bin"), self.read("docs/sub/b.bin"))
        os.remove(os.path.join(self.work, "notes.txt"))
        self.assertEqual(self.ok("open", "notes.txt.korvolocal"), "notes.txt")
        self.assertEqual(self.read("notes.txt"), data)

    def test_standard_input_and_output_stream_without_temporary_files(self):
        data = os.urandom(2 * 1024 * 1024 + 77)
        self.write("plain", data)
        # Streamed and file forms cross both ways; the layout itself is LocalFileProtection_test's.
        sealed = self.stream(["lock", "-"], data)
        self.assertEqual(self.stream(["open", "-"], sealed), data)
        self.assertEqual(self.stream(["open", "-"], self.stream(["lock", "plain", "-o", "-"], b"")), data)
        self.assertEqual(self.stream(["open", "-", "-o", "from-stdin"], sealed), b"")
        self.assertEqual(self.read("from-stdin"), data)
        self.write("sealed", sealed)
        self.assertEqual(self.stream(["open", "sealed", "-o", "-"], b""), data)
        for args, bad in ((["open", "-"], sealed[:-1]), (["open", "-"], sealed + b"x"), (["open", "-o", "bad", "-"], sealed[:-1])):
            self.stream(args, bad, status=1,
                        stderr=b"korvo-cli: standard input: not locked with this keyring's key, or changed since\n")
        # A changed file is named, and the earlier output stays even with -f. (Unreadable inputs
        # and outputs that cannot be saved are tests/faults' scenarios.)
        self.write("changed", sealed[:-1] + bytes([sealed[-1] ^ 1]))
        self.write("out", b"earlier")
        self.failure("changed: not locked with this keyring's key, or changed since", "open", "-f", "changed", "-o", "out")
        self.assertEqual(self.read("out"), b"earlier")
        # Named pipes and "<(command)" are read as streams.
        self.assertEqual(subprocess.run(["bash", "-c", '"$0" lock -o piped <(cat plain) && "$0" open -o - <(cat piped)', CLI],
                                        cwd=self.work, capture_output=True, check=True).stdout, data)
        os.remove(os.path.join(self.work, "piped"))
        self.assertEqual(sorted(os.listdir(self.work)), ["changed", "from-stdin", "out", "plain", "sealed"])
        self.assertEqual(os.listdir(self.tmp), [])
        # Standard output that cannot take the data is named as such; a reader that goes away
        # ends the tool quietly, as by SIGPIPE.
        with open("/dev/full", "wb") as full:
            result = subprocess.run([CLI, "lock", "-o", "-", "plain"], cwd=self.work, stdout=full, stderr=subprocess.PIPE)
        self.assertEqual((result.returncode, result.stderr),
                         (1, b"korvo-cli: standard output: cannot be saved: No space left on device\n"))
        reader = subprocess.Popen([CLI, "open", "-o", "-", "sealed"], cwd=self.work, stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE)
        self.assertEqual(len(reader.stdout.read(10)), 10)
        reader.stdout.close()
        with reader.stderr:
            self.assertEqual((reader.wait(timeout=60), reader.stderr.read()), (-signal.SIGPIPE, b""))
        # Protected data never goes to a terminal.
        primary, secondary = os.openpty()
        result = subprocess.run([CLI, "lock", "plain", "-o", "-"], cwd=self.work, stdout=secondary, stderr=subprocess.PIPE)
        os.close(primary)
        os.close(secondary)
        self.assertEqual((result.returncode, result.stderr), (1, b"korvo-cli: protected data is not written to a terminal; "
                                                                 b"redirect standard output or use -o FILE\n"))

    def test_names_that_are_not_utf8_keep_their_bytes(self):
        name = os.fsdecode(b"caf\xe9 \xff.txt")    # Latin-1 and a stray byte
        data = os.urandom(5000)
        self.write(name, data)
        self.write(os.fsdecode(b"d\xe9j\xe0/") + name, b"inside")
        self.assertEqual(self.ok("lock", name), name + ".korvolocal")
        os.remove(os.path.join(self.work, name))
        self.assertEqual(self.ok("open", name + ".korvolocal"), name)
        self.assertEqual(self.read(name), data)
        self.ok("bundle", "-o", "out.zip", os.fsdecode(b"d\xe9j\xe0"))
        with zipfile.ZipFile(os.path.join(self.work, "out.zip")) as archive:   # legacy names read as cp437
            self.assertEqual(archive.namelist(), [os.fsencode(os.fsdecode(b"d\xe9j\xe0/") + name).decode("cp437")])
            self.assertEqual(archive.read(archive.namelist()[0]), b"inside")

    @unittest.skipUnless(shutil.which("secret-tool"), "secret-tool is not installed")
    def test_missing_inputs_are_reported_and_opening_never_makes_a_key(self):
        self.write("a.txt", b"a")
        self.write("other.korvolocal", b"KORVOLOCAL\x01" + os.urandom(100))   # locked elsewhere
        self.write("account.korvo", b"KORVOACCT\x01" + os.urandom(100))
        subprocess.run(["secret-tool", "clear", *KEY_ITEM])   # fails when there is none yet
        for args, sentence in ((["lock", "a.txt", "gone/"], "gone/: No such file"),
                               (["open", "missing.korvolocal"], "missing.korvolocal: No such file"),
                               (["open", "-o", "x", "a.txt"], "a.txt: not a Korvo file"),
                               (["open", "account.korvo"],
                                "not signed in; sign in with korvo-cli sign-in EMAIL (sign up in the Korvo application)"),
                               (["open", "other.korvolocal"], "this keyring holds no Korvo key, so files locked on "
                                "another computer or by another user cannot be opened here")):
            with self.subTest(args):
                self.failure(sentence, *args)
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


class BundleTest(CliTest):
    def test_bundle_writes_the_archive_and_refuses_to_replace_without_force(self):
        self.write("docs/a.txt", b"alpha")
        self.write("docs/.hidden", b"left out")
        self.write("c.txt", b"gamma")
        self.assertEqual(self.ok("bundle", "-o", "out.zip", "docs", "c.txt",
                                 stderr="korvo-cli: 1 hidden item was left out.\n"), "")
        self.assertEqual(self.names("out.zip"), ["c.txt", "docs/a.txt"])
        self.ok("bundle", "-fo", "out.zip", "c.txt")   # a single file is still archived
        self.assertEqual(self.names("out.zip"), ["c.txt"])
        self.write("into/x", b"")
        self.assertRegex(self.ok("bundle", "-o", "into", "c.txt"), r"^into/korvo-[0-9A-F-]{36}\.zip$")   # a name of its own
        self.assertEqual(self.ok("bundle", "-o", "into", "docs", stderr="korvo-cli: 1 hidden item was left out.\n"),
                         "into/docs.zip")   # a folder alone: under its own name
        self.assertEqual(len(os.listdir(os.path.join(self.work, "into"))), 3)
        self.assertEqual(sorted(os.listdir(self.work)), ["c.txt", "docs", "into", "out.zip"])
        # An archive of the folder it is saved in leaves out itself and the one it replaces.
        for args in (["bundle", "-o", "self.zip", "."], ["bundle", "-fo", "self.zip", "."]):
            self.ok(*args, cwd=os.path.join(self.work, "into"))
            names = self.names("into/self.zip")
            self.assertEqual(len(names), 3, names)   # x, docs.zip and the other archive
            self.assertNotIn("into/self.zip", names)

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("unshare") and shutil.which("ldd"), "needs root and unshare")
    def test_the_root_folder_gives_relative_names(self):
        # "/" selected, inside a small root of its own: the program, its libraries and one file.
        root = os.path.join(self.root, "root")
        libraries = subprocess.run(["ldd", CLI], capture_output=True, text=True, check=True).stdout
        for path in [CLI] + re.findall(r"(/\S+) \(0x", libraries):
            target = root + ("/korvo-cli" if path == CLI else path)
            os.makedirs(os.path.dirname(target), exist_ok=True)
            shutil.copy(path, target)
        self.write("../root/data/hello.txt", b"hello")
        subprocess.run(["unshare", "--root=" + root, "/korvo-cli", "bundle", "-o", "/out.zip", "/"], check=True,
                       capture_output=True)
        names = self.names("../root/out.zip")
        self.assertLessEqual({"data/hello.txt", "korvo-cli"}, set(names))
        self.assertFalse([n for n in names if n.startswith("/") or ".." in n.split("/")], names)


if __name__ == "__main__":
    CLI = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
