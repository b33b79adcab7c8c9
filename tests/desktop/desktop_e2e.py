#!/usr/bin/python3
"""The installed Korvo driven by two people against the reference service on the built-in port:
controls found by role and name over AT-SPI, pressed with xdotool. KORVO_DESKTOP_SHOTS=DIR keeps
the screenshots.   desktop_e2e.py BUILD_DIR SOURCE_DIR   (inside scripts/headless-session.sh)

Every wait is for what the accessibility tree shows and gives up only after WAIT seconds without
a sign of work (busy overlay, characters arriving): load makes a run slower, not failed."""
import os, pathlib, re, shutil, signal, subprocess, sys, tempfile, time, zipfile

from gi.repository import Gio, GLib


def serve_a11y_bus(address):
    """Answers for org.a11y.Bus on a person's own session bus with the shared accessibility bus: Qt 6.4
    switches its bridge on only for an address from there, not for AT_SPI_BUS_ADDRESS alone."""
    xml = """<node><interface name='org.a11y.Bus'><method name='GetAddress'><arg type='s' direction='out'/>
      </method></interface><interface name='org.a11y.Status'><property name='IsEnabled' type='b' access='read'/>
      <property name='ScreenReaderEnabled' type='b' access='read'/></interface></node>"""
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)
    for interface in Gio.DBusNodeInfo.new_for_xml(xml).interfaces:
        bus.register_object("/org/a11y/bus", interface,
                            lambda *call: call[-1].return_value(GLib.Variant("(s)", (address,))),
                            lambda *get: GLib.Variant("b", True), None)
    Gio.bus_own_name_on_connection(bus, "org.a11y.Bus", Gio.BusNameOwnerFlags.NONE,
                                   lambda *_: print("ready", flush=True), None)
    GLib.MainLoop().run()


if sys.argv[1] == "--a11y-bus":
    serve_a11y_bus(sys.argv[2])
# Not loaded by the stand-in above: it would ask for the real bus before owning the name.
import gi  # noqa: E402
gi.require_version("Atspi", "2.0")
import pyatspi  # noqa: E402
from gi.repository import Atspi  # noqa: E402

BUILD, SOURCE = (pathlib.Path(p).resolve() for p in sys.argv[1:3])
sys.path.insert(0, str(SOURCE / "tests/e2e"))
import people  # noqa: E402
ROOT = pathlib.Path(tempfile.mkdtemp(prefix="korvo-desktop-"))
SHOTS = pathlib.Path(os.environ.get("KORVO_DESKTOP_SHOTS", ROOT / "shots"))
START, WAIT = time.monotonic(), 30
log = lambda text: print(f"[{time.monotonic() - START:5.1f}s] {text}", flush=True)  # noqa: E731


def wait_for(what, probe, timeout=WAIT, working=None):
    """Polls `probe` until it gives something true. When `timeout` seconds pass without it, a
    `working` check that is true (the application shows it is still at it) grants as long again."""
    end = time.monotonic() + timeout
    while True:
        try:
            if value := probe():
                return value
        except Exception:  # an accessible object that went away while being read
            pass
        if time.monotonic() >= end:
            if not (working and quietly(working)):
                raise TimeoutError(f"timed out after {timeout} s of no progress waiting for {what}")
            end = time.monotonic() + timeout
        time.sleep(0.1)


def quietly(probe):
    try:
        return probe()
    except Exception:
        return False


def run(*command, **options):
    return subprocess.run(command, check=True, capture_output=True, text=True, **options).stdout


xdo = lambda *args: run("xdotool", *args)  # noqa: E731
has = lambda acc, state: acc.getState().contains(state)  # noqa: E731
showing = lambda acc: has(acc, pyatspi.STATE_SHOWING)  # noqa: E731


def listing(person):
    """The person's home folder (hidden entries too, not the settings folders) and TMPDIR."""
    home = sorted(p.name for p in person.home.iterdir() if p.name not in (".cache", ".config", ".local"))
    return f"home: {', '.join(home)}; TMPDIR: {', '.join(sorted(map(str, person.tmp.rglob('*')))) or 'empty'}"


def mailed_code(person, send):
    """Does `send`, then returns the code of the e-mail to `person` it brings."""
    mails = lambda: sorted(p for p in (service.data / "outbox").glob("*.eml")  # noqa: E731
                           if re.search(f"^To: {re.escape(person.email)}$", p.read_text(), re.M | re.I))
    seen = len(mails())
    send()
    mail = wait_for(f"an e-mail to {person.email}", lambda: mails()[seen:], working=person.working)[0]
    return re.search(r"^X-Halvane-Code: (\d{6})$", mail.read_text(), re.M).group(1)


class Person(people.Person):
    """Someone with a HOME, a session bus and a keyring of their own, and Korvo when running."""

    def __init__(self, name, password):
        super().__init__(ROOT, name, service, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1")
        self.password = password
        self.a11y = subprocess.Popen([sys.executable, __file__, "--a11y-bus", A11Y], env=self.env,
                                     stdout=subprocess.PIPE, text=True)
        self.a11y.stdout.readline()
        self.proc = self.app = None

    def launch(self):
        start = lambda: subprocess.Popen([ROOT / "prefix/bin/korvo"], env=self.env, cwd=self.home,  # noqa: E731
                                         stdout=open(ROOT / f"{self.name}.log", "a"), stderr=subprocess.STDOUT)
        self.proc, attempts = start(), 1

        def app():
            nonlocal attempts
            if self.proc.poll() is not None and attempts < 3:  # a busy X server refused it: again
                self.proc, attempts = start(), attempts + 1
            desktop = pyatspi.Registry.getDesktop(0)
            return next((a for a in desktop if a is not None and a.get_process_id() == self.proc.pid), None)
        # Nothing shows before the window is in the tree: a launch on a loaded machine gets longer.
        self.app = wait_for(f"{self.name}'s Korvo in the accessibility tree", app, 4 * WAIT)
        # Nothing here runs a main loop for the bus's change events: read states and names afresh.
        self.app.set_cache_mask(Atspi.Cache.NONE)
        self.find("push button", "Lock|Sign in|Start Without an Account")

    def quit(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(10)
        self.proc = self.app = None

    def close(self):
        if self.proc:
            self.quit()
        self.a11y.terminate()
        super().close()

    # ---- the accessibility tree ----
    def shown(self, role, name=".*"):
        """The showing accessibles of `role` whose name matches `name` entirely."""
        return pyatspi.findAllDescendants(self.app, lambda a: a.getRoleName() == role
                                          and re.fullmatch(name, a.name or "") and showing(a))

    def working(self):
        """The busy overlay is up: a progress bar named with a busy line ("Locking file...")."""
        return bool(self.shown("progress bar", r".*\.\.\."))

    def find(self, role, name, timeout=WAIT):
        return wait_for(f"{role} '{name}'", lambda: next(
            (a for a in self.shown(role, name) if has(a, pyatspi.STATE_ENABLED)), None), timeout, self.working)

    def click(self, role, name):
        """Presses the control once it stands still (the same place on three reads in a row): a press
        aimed while a screen fades in or a mode switch moves it lands beside it, or nowhere."""
        places = []

        def located():
            control = places[-1][0] if places else self.find(role, name)
            try:
                box = control.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
            except Exception:  # the control went away (its screen was rebuilt): find it again
                return places.clear()
            places.append((control, (box.x, box.y, box.width, box.height)))
            return len(places) >= 3 and len({place for _, place in places[-3:]}) == 1 and places[-1]
        control, (x, y, width, height) = wait_for(f"{role} '{name}' to stand still", located, working=self.working)
        xdo("mousemove", str(x + width // 2), str(y + height // 2), "click", "1")
        return control

    def type(self, name, text, role="text"):
        """Clicks into the field until it has the keyboard, replaces its text, waits for every character."""
        field = self.click(role, name)
        wait_for(f"{role} '{name}' to take the keyboard",
                 lambda: has(field, pyatspi.STATE_FOCUSED) or self.click(role, name) and False)
        xdo("key", "ctrl+a", "BackSpace")
        xdo("type", "--delay", "15", text)
        count = [None]

        def arriving():  # characters still coming in
            seen, count[0] = count[0], field.queryText().characterCount
            return seen != count[0]
        wait_for(f"{len(text)} characters in '{name}'", lambda: field.queryText().characterCount == len(text),
                 working=arriving)

    def to(self, button, heading=None):
        """Presses `button` and waits for its screen: `heading` the only heading showing, or (None) the main
        window, with no heading and "Sign out". Reached once the pressed button's screen is gone (the
        window takes no press while screens change) and no busy overlay covers it."""
        pressed = self.click("push button", button) if button else None
        left = lambda: pressed is None or not quietly(lambda: showing(pressed))  # noqa: E731
        arrived = lambda: left() and ([a.name for a in self.shown("heading")] == [heading] if heading else (  # noqa: E731
            not self.shown("heading") and self.shown("push button", "Sign out"))) and not self.working()
        wait_for(f"the screen '{heading or 'main window'}'", arrived, working=self.working)

    def status(self, sentence):
        """Waits for the status line to read `sentence` and the busy overlay (named so too) to go."""
        self.find("label", re.escape(sentence))
        wait_for("the busy overlay to go", lambda: not self.working())

    def shot(self, name):
        SHOTS.mkdir(parents=True, exist_ok=True)
        run("import", "-window", "root", str(SHOTS / f"{name}.png"))

    # ---- what a person does ----
    def choose(self, name, button="Choose files or folder|Choose protected file"):
        """Picks `name` in the chooser, which opens on the home folder: the name typed, then Return."""
        self.click("push button", button)
        self.type("File name:", name)
        # The panel marks the item the typed name matches; Return then takes it.
        self.find("table cell", re.escape(name))
        wait_for(f"'{name}' marked in the chooser", lambda: any(
            has(a, pyatspi.STATE_SELECTED) for a in self.shown("table cell", re.escape(name))))
        xdo("key", "Return")
        wait_for("the chooser to close", lambda: not self.shown("dialog", "Choose.*"))

    def run_and_save(self, suggested, button="Lock & Save|Open & Save", finish=True):
        """Starts the operation, saves under the suggested name (a pattern) in the panel and, with
        `finish`, waits for the status line to name the saved file."""
        self.click("push button", button)
        self.find("dialog", "Save (locked|opened) file")
        shown = self.find("text", "File name:").queryText().getText(0, -1)
        assert re.fullmatch(suggested, shown), f"the save panel suggests '{shown}', expected '{suggested}'"
        self.click("push button", "Save")
        if finish:
            self.status(f"Saved to {self.home / shown}")
        return self.home / shown


def first_launch():
    docs = ana.home / "Docs"
    (docs / "scans").mkdir(parents=True)
    (docs / "notes.txt").write_text("Meeting at noon.\n")
    (docs / "scans/page 1.bin").write_bytes(os.urandom(3 << 20))
    (ana.home / "report.pdf").write_bytes(os.urandom(700 << 10))
    with open(ana.home / "big.bin", "wb") as big:
        big.truncate(2 << 30)
    ana.launch()
    ana.find("push button", "Go Halvane")
    ana.find("label", "Offline protection is ready.*")


def lock_and_open_folder():
    ana.choose("Docs")
    # A folder is bundled first: the panel suggests the bundle's name with the protected extension.
    locked = ana.run_and_save(r"korvo-[0-9A-F-]{36}\.zip\.korvolocal")
    ana.shot("1-locked-folder")
    ana.click("push button", "Open")
    ana.choose(locked.name, "Choose protected file")
    saved = ana.run_and_save(re.escape(locked.stem))
    with zipfile.ZipFile(saved) as bundle:
        names = sorted(n for n in bundle.namelist() if not n.endswith("/"))
        for name in names:
            assert bundle.read(name) == (ana.home / name).read_bytes(), f"{name} in {saved.name} differs"
    return f"chose Docs/ by its name, saved {locked.name}, opened it: {', '.join(names)} byte-identical"


def cancel_big_lock():
    before = listing(ana)
    ana.click("push button", "Lock")
    ana.choose("big.bin")
    saved = ana.run_and_save(r"big\.bin\.korvolocal", finish=False)
    seen = ana.find("progress bar", r"[\d.]+ GB of .*").name   # from 1 GiB on, sizes read in GB: half way
    during = listing(ana)
    ana.shot("2-half-way")
    # The main window is given the keyboard first: no window manager does.
    window = run("xdotool", "search", "--onlyvisible", "--pid", str(ana.proc.pid), "--name", "^Korvo$").split()[0]
    xdo("windowfocus", "--sync", window)
    xdo("key", "Escape")
    ana.status("Cancelled.")
    after = listing(ana)
    assert after == before and not saved.exists(), f"left behind: before {before}, after {after}"
    return f"Escape at '{seen}' ({during}): status 'Cancelled.', nothing left behind ({after})"


def sign_up(person):
    for other in (ana, ben):  # one window at a time on the screen
        if other is not person and other.app:
            other.quit()
    if not person.app:
        person.launch()
    person.to("Go Halvane", "Protect your files")
    person.to("Create account", "Create your account")
    # A control that cannot be used must not read as enabled; a password field never tells its text.
    send = wait_for("'Send me the code'", lambda: next(iter(person.shown("push button", "Send me the code")), None))
    assert not (has(send, pyatspi.STATE_ENABLED) or has(send, pyatspi.STATE_SENSITIVE)), "'Send me the code' is on"
    person.type("Email", person.email)
    person.type("Password", person.password, "password text")
    person.type("Confirm password", person.password, "password text")
    shown = person.find("password text", "Password").queryText().getText(0, -1)
    assert not set(shown) & set(person.password), f"the password field tells its text: {shown!r}"
    person.type("Code", mailed_code(person, lambda: person.to("Send me the code", "Verify email")))
    person.to("Verify and continue")
    person.number = person.find("radio button", r"Korvo #\d+").name.split("#")[1]
    person.shot(f"3-signed-up-{person.name}")
    return f"{person.email} signed up with the mailed code; first Korvo #{person.number}"


def lock_for_ben():
    ana.click("push button", "Someone else")
    ana.find("label", "Enter a Korvo number")  # the mark before a number is typed
    ana.type("Korvo number", ben.number)
    ana.find("label", "Korvo ready")
    ana.shot("3-recipient-ready")
    ana.choose("report.pdf")
    saved = ana.run_and_save(r"report\.pdf\.korvo")
    shutil.copy(saved, ben.home)
    ana.quit()


def sign_in(person):
    """On the sign-in screen that remembers the person: the password, then Sign in."""
    person.find("label", re.escape(person.email))
    person.type("Password", person.password, "password text")
    person.to("Sign in")


def ben_opens():
    ben.launch()  # a saved identity never signs in by itself
    ben.to(None, "Protect your files")
    sign_in(ben)
    ben.click("push button", "Open")
    ben.choose("report.pdf.korvo", "Choose protected file")
    saved = ben.run_and_save(r"report\.pdf")
    assert saved.read_bytes() == (ana.home / "report.pdf").read_bytes(), f"{saved} differs from ana's report.pdf"


def reset_password():
    ben.to("Sign out", "Protect your files")
    ben.to("Forgot password", "Recover password")
    ben.type("Email", ben.email)
    ben.type("Code", mailed_code(ben, lambda: ben.to("Send reset code", "Reset password")))
    ben.password = "Second-pass2"
    ben.type("New password", ben.password, "password text")
    ben.type("Confirm password", ben.password, "password text")
    ben.to("Reset password", "Protect your files")
    sign_in(ben)


def delete_account():
    ben.click("push button", "Delete account...")
    ben.find("dialog", "Delete your account")
    ben.type("Account password", ben.password, "password text")
    ben.click("check box", "I understand that I will lose access to this account.")
    code = mailed_code(ben, lambda: ben.click("push button", "Send confirmation code"))
    ben.find("dialog", "Check your email")
    ben.type("Six-digit code", "000000" if code != "000000" else "111111")
    ben.click("push button", "Delete Account")
    ben.find("label", re.escape("That code is not correct."))  # the sheet's own error line
    ben.type("Six-digit code", code)
    ben.to("Delete Account", "Protect your files")
    ben.find("text", "Email")  # no remembered account any more
    ben.shot("4-deleted")


STEPS = [
    ("ana: first launch", first_launch),
    ("ana: lock the folder Docs and open the bundle", lock_and_open_folder),
    ("ana: cancel a 2 GiB lock half way", cancel_big_lock),
    ("ben: sign up (a second HOME, session and keyring)", lambda: sign_up(ben)),
    ("ana: connect and sign up", lambda: sign_up(ana)),
    ("ana: lock report.pdf for ben's Korvo number", lock_for_ben),
    ("ben: sign in and open it", ben_opens),
    ("ben: password reset", reset_password),
    ("ben: delete the account", delete_account),
]

# Asking for the address starts the accessibility bus and its registry before any app looks.
A11Y = re.search(r'string "(.*)"', run("dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus",
                                       "/org/a11y/bus", "org.a11y.Bus.GetAddress")).group(1)
service, failed, both = None, False, []
try:
    run("cmake", "--install", BUILD, "--prefix", ROOT / "prefix")
    log(f"installed {BUILD} into {ROOT / 'prefix'}")
    service = people.Service(SOURCE, ROOT)
    log(f"reference service listening on {service.url}")
    both = ana, ben = Person("ana", "First-pass1"), Person("ben", "Harbour-light7")
    for number, (title, step) in enumerate(STEPS, 1):
        started = time.monotonic()
        log(f"{number}. {title}")
        detail = step()
        log(f"   ok in {time.monotonic() - started:.1f} s" + (f": {detail}" if detail else ""))
except Exception as error:  # report with the evidence, then fail
    failed = True
    log(f"FAILED: {error!r}")
    for person in both:
        if person.app:
            person.shot(f"failure-{person.name}")
            named = [f"{a.getRoleName()} '{a.name}'" for a in pyatspi.findAllDescendants(person.app, showing) if a.name]
            log(f"{person.name}'s window shows: {', '.join(named)}")
        output = ROOT / f"{person.name}.log"
        log(f"{person.name}'s output:\n" + (output.read_text(errors="replace")[-3000:] if output.exists() else ""))
finally:
    for person in both:
        person.close()
    if service:
        service.stop()
    log(f"{'FAILED' if failed else 'passed'}: {time.monotonic() - START:.0f} s in all; screenshots in {SHOTS}")
    if not failed and "KORVO_DESKTOP_SHOTS" not in os.environ:
        shutil.rmtree(ROOT, ignore_errors=True)
sys.exit(1 if failed else 0)
