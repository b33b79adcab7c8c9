#!/usr/bin/env python3
"""korvo-cli in account mode against the reference service on the built-in port.

    cli_account_test.py PATH/TO/korvo-cli SOURCE_DIR

Ana and Ben make their accounts as the application does (the bridge's sign-up commands, the
identity saved in the keyring); korvo-cli only signs in to them. Ana locks for Ben's number.
"""
import os, pathlib, re, shutil, subprocess, sys, tempfile, unittest

from people import Person, Service, save_identity

CLI = None
PASSWORD = "first password"
USAGE = "korvo-cli: %s\nTry 'korvo-cli --help' for more information.\n"


class Cli(Person):
    def cli(self, *args, stdin=None, binary=False):
        return subprocess.run([CLI, *args], cwd=self.home, env=self.env, input=stdin or (b"" if binary else ""),
                              capture_output=True, timeout=120, text=not binary)

    def ok(self, *args, stdin=None):
        result = self.cli(*args, stdin=stdin)
        assert result.returncode == 0, result.stderr
        return result.stdout


class AccountTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = pathlib.Path(tempfile.mkdtemp(prefix="korvo-cli-account-"))
        cls.service = Service(SOURCE, cls.root)
        cls.ana, cls.ben = Cli(cls.root, "ana", cls.service), Cli(cls.root, "ben", cls.service)

    @classmethod
    def tearDownClass(cls):
        for person in (cls.ana, cls.ben):
            person.close()
        cls.service.stop()
        shutil.rmtree(cls.root, ignore_errors=True)

    def failed(self, result, status, stderr):
        self.assertEqual((result.returncode, result.stderr), (status, stderr))

    def test_1_sign_in_to_accounts_made_in_the_application_and_share_a_file(self):
        ana, ben = self.ana, self.ben
        self.assertEqual(ana.ok("status"), "Mode: local (not signed in)\n")
        for person in (ana, ben):
            save_identity(person.env, person.email, *self.service.sign_up(person.env, person.email, PASSWORD))
        # A wrong password changes nothing; the right one signs in and picks the first Korvo.
        self.failed(ana.cli("sign-in", "--password-stdin", ana.email, stdin="not the password\n"), 1,
                    "korvo-cli: That email or password is not correct.\n")
        for person in (ana, ben):
            self.assertRegex(person.ok("sign-in", "--password-stdin", person.email.upper(), stdin=PASSWORD + "\n"),
                             rf"^Signed in as {re.escape(person.email)}; Korvo #\d+ is selected\.\n$")
        number = re.search(r"Korvo: #(\d+)", ben.ok("status"))[1]
        self.assertRegex(ana.ok("status"), r"^Mode: account\nAccount: ana@example.com\nKorvo: #\d+\nUsage this month: locked ")

        # Ana locks for Ben's number; her own account may not open it, and nothing is written.
        (ana.home / "report.pdf").write_bytes(b"report")
        self.assertEqual(ana.ok("lock", "--for", number, "report.pdf"), "report.pdf.korvo\n")
        self.failed(ana.cli("lock", f"--for={number}", "report.pdf"), 1,
                    "korvo-cli: report.pdf.korvo: already exists; use -f to replace it\n")
        mine = ana.cli("open", "report.pdf.korvo", "-o", "mine.pdf")
        self.assertRegex(f"{mine.returncode} {mine.stderr}", r"^1 korvo-cli: report\.pdf\.korvo: ")
        self.assertFalse((ana.home / "mine.pdf").exists())

        # Standard input and output: no file of the tool's own is left behind.
        locked = ana.cli("lock", "--for", number, "-", stdin=b"streamed bytes\n", binary=True)
        self.failed(locked, 0, b"")
        (ben.home / "streamed.korvo").write_bytes(locked.stdout)
        opened = ben.cli("open", "-o", "-", "streamed.korvo", binary=True)
        self.assertEqual((opened.returncode, opened.stdout), (0, b"streamed bytes\n"))
        self.assertEqual(os.listdir(ana.tmp) + os.listdir(ben.tmp), [])

    def test_2_korvos_usage_errors_and_sign_out(self):
        ana = self.ana
        first = re.fullmatch(r"#(\d+)  selected\n", ana.ok("korvos"))[1]   # the one Korvo, selected
        created = ana.cli("korvos", "--new")
        self.assertEqual(created.returncode, 0, created.stderr)
        new = re.search(r"Korvo #(\d+) created and selected", created.stderr)[1]
        self.assertIn(f"#{new}  selected\n", created.stdout)
        self.assertIn(f"#{first}  selected\n", ana.ok("korvos", "--select", first))
        self.assertIn(f"Korvo: #{first}\n", ana.ok("status"))
        for args, status, stderr in (
                (["korvos", "--select", "999999"], 1, "korvo-cli: korvos: Korvo #999999 is not one of this account's\n"),
                (["lock", "--for", "x", "a"], 2, USAGE % '--for: "x" is not a Korvo number'),
                (["open", "--for=3", "a.korvo"], 2, USAGE % "open: --for belongs to lock"),
                (["sign-in"], 2, USAGE % "sign-in: give exactly one e-mail address"),
                (["status", "--new"], 2, USAGE % "status: --new and --select belong to korvos"),
                (["korvos", "--new", "--select=3"], 2, USAGE % "korvos: give either --new or --select"),
                (["sign-in", ana.email], 1, "korvo-cli: sign-in: standard input is not a terminal; "
                                            "give the password with --password-stdin\n")):
            with self.subTest(args):
                self.failed(ana.cli(*args), status, stderr)

        self.assertEqual(ana.ok("sign-out"), "This computer was removed from your account.\n")
        self.assertEqual(ana.ok("status"), "Mode: local (not signed in)\n")
        (ana.home / "b.txt").write_bytes(b"b")
        self.failed(ana.cli("lock", "--for", "5", "b.txt"), 1, "korvo-cli: not signed in; sign in with korvo-cli sign-in "
                    "EMAIL (sign up in the Korvo application)\n")


if __name__ == "__main__":
    CLI, SOURCE = os.path.abspath(sys.argv[1]), pathlib.Path(sys.argv[2])
    unittest.main(argv=sys.argv[:1], verbosity=2)
