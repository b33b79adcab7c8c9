#!/usr/bin/env python3
"""Fault injection: full disks, an output folder that goes away, unreadable inputs, a keyring that
refuses or vanishes, a bridge, korvo-cli or the service ended mid-file, Ctrl-C. Each fault must end
with its one-sentence error, leave the earlier file at the output path byte for byte, and leave no
partial or temporary file (the output and temporary folders are listed before and after). Keyrings
run on private buses; small disks are tmpfs mounts (skipped, with the reason, where refused).

    faults_test.py KORVO_CLI SOURCE_DIR
"""
import os, pathlib, shlex, shutil, signal, subprocess, sys, tempfile, time

CLI, SOURCE = map(os.path.abspath, sys.argv[1:3])
sys.path.insert(0, os.path.join(SOURCE, "tests", "e2e"))
import people  # noqa: E402
ROOT = tempfile.mkdtemp(prefix="korvo-faults-")
MiB = 1 << 20
EARLIER = b"the earlier file at the output path\n"
DROP = ["capsh", "--drop=cap_dac_override,cap_dac_read_search,cap_fowner", "--", "-c"]
NO_KEYRING = ("keychain: No keyring service is running in this session: start your desktop's keyring "
              "(Secret Service), then try again.")
LOCKED = "keychain: Your keyring is locked or refused access to Korvo: unlock it or allow access, then try again."
BUS_CONFIG = """<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen><policy context="default">
<allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy></busconfig>"""
started, mounts, failures, skipped = [], [], [], []
path = lambda *parts: os.path.join(ROOT, *parts)  # noqa: E731


def write(relative, data=b"", repeat=1):
    os.makedirs(os.path.dirname(path(relative)), exist_ok=True)
    with open(path(relative), "wb") as f:
        for _ in range(repeat):
            f.write(data)


def start(argv, **kwargs):
    process = subprocess.Popen(argv, stdin=kwargs.pop("stdin", subprocess.DEVNULL), **kwargs)
    started.append(process)
    return process


def secrets(env, below, method, *args):
    """Whether the Secret Service on the bus of `env` answers `method` of its object `below` its root."""
    return subprocess.run(["gdbus", "call", "--session", "--dest", "org.freedesktop.secrets", "--object-path",
                           "/org/freedesktop/secrets" + below, "--method", method, *args], env=env,
                          capture_output=True).returncode == 0


def private_bus(with_keyring=True):
    """A session bus of its own (nothing is started on demand), with an unlocked keyring on it."""
    home = tempfile.mkdtemp(prefix="keyring-", dir=ROOT)
    with open(os.path.join(home, "bus.conf"), "w") as f:
        f.write(BUS_CONFIG)
    bus = start(["dbus-daemon", "--config-file=" + os.path.join(home, "bus.conf"), "--nofork", "--print-address=1"],
                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=bus.stdout.readline().decode().strip(), HOME=home,
               XDG_RUNTIME_DIR=home, XDG_DATA_HOME=os.path.join(home, "data"))
    env.pop("KORVO_TRUSTED_CA", None)
    daemon = None
    if with_keyring:
        daemon = start(["gnome-keyring-daemon", "--foreground", "--unlock", "--components=secrets"], env=env,
                       stdin=subprocess.PIPE, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        daemon.stdin.write(b"\n")
        daemon.stdin.close()
        for _ in range(200):   # until the Secret Service answers on the bus
            if secrets(env, "/aliases/default", "org.freedesktop.DBus.Properties.Get", "org.freedesktop.Secret.Collection",
                       "Locked"):
                break
            time.sleep(0.05)
    return env, daemon


def listing(folders):
    """Every file and folder below each folder, hidden ones included, with file sizes."""
    entries = [folder + " (missing)" for folder in folders if not os.path.isdir(path(folder))]
    for folder in folders:
        for base, dirs, files in os.walk(path(folder)):
            relative = os.path.relpath(base, ROOT)
            entries += [relative + "/"] + [f"{relative}/{f} ({os.lstat(os.path.join(base, f)).st_size})" for f in files]
    return sorted(entries)


def partial_outputs(process, folder):
    """The partial outputs in `folder`: hidden ".partial" names, and files the process writes there
    without a name (korvo-cli's, made with O_TMPFILE)."""
    found = [path(folder, name) for name in (os.listdir(path(folder)) if os.path.isdir(path(folder)) else [])
             if name.endswith(".partial")]
    descriptors = f"/proc/{process.pid}/fd"
    for fd in os.listdir(descriptors) if os.path.isdir(descriptors) else []:
        target = os.readlink(f"{descriptors}/{fd}") if os.path.islink(f"{descriptors}/{fd}") else ""
        if target.startswith(path(folder) + "/#") and target.endswith(" (deleted)"):
            found.append(f"{descriptors}/{fd}")
    return found


def when_partial(folder, action, grown=0):
    """A fault struck once a partial output of at least `grown` bytes is in `folder`."""
    def fault(process):
        deadline = time.time() + 60
        while time.time() < deadline and process.poll() is None:
            try:
                if any(os.stat(partial).st_size >= grown for partial in partial_outputs(process, folder)):
                    return action(process)
            except (FileNotFoundError, ProcessLookupError):
                pass
            time.sleep(0.002)
        raise AssertionError(f"no partial output appeared in {folder}")
    return fault


# Stops the tool, changes the world around it, and lets it go on.
paused = lambda change: lambda process: (os.kill(process.pid, signal.SIGSTOP), change(),  # noqa: E731
                                         os.kill(process.pid, signal.SIGCONT))
# SIGINT `times` times; a second one, not merged with the first, a moment later.
interrupt = lambda times: lambda process: [(time.sleep(0.02 * i), process.send_signal(signal.SIGINT))  # noqa: E731
                                           for i in range(times)]


def children_of(process):
    return [int(c) for c in subprocess.run(["pgrep", "-P", str(process.pid)], capture_output=True, text=True).stdout.split()]


def gone(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "Z"
    except FileNotFoundError:
        return True


def kill_application(process):
    """korvo-cli dies outright; its bridge, left alone, must still remove its output."""
    children = children_of(process)
    process.kill()
    deadline = time.time() + 20
    while time.time() < deadline and not all(gone(child) for child in children):
        time.sleep(0.01)


def scenario(number, name, args, sentence, env, fault=None, small=None, moved=None, wrap=None, status=1, within=None):
    """Runs korvo-cli's `args` in folder d ({d}) with d/tmp as the temporary folder and the output
    (-o) in d/out, struck by `fault(d, output)`, started by `wrap(argv, d, output)`. `small`: the
    folder put on a 4 MiB disk; `moved`: the name the fault gives d/out ("": removes it); `within`:
    seconds the tool may take to end once struck."""
    d = f"s{number:02}"
    if small:
        os.makedirs(path(d, small))
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=4m", "tmpfs", path(d, small)], capture_output=True, text=True)
        if mounted.returncode:
            print(f"\n## {name}\n   SKIPPED: mounting a 4 MiB tmpfs was refused ({' '.join(mounted.stderr.split())})")
            return skipped.append(name)
        mounts.append(path(d, small))
    argv = [CLI] + args.replace("{d}", d).split()
    output = argv[argv.index("-o") + 1]
    os.makedirs(path(d, "tmp"), exist_ok=True)
    env, folders = dict(env, TMPDIR=path(d, "tmp")), [f"{d}/tmp", f"{d}/out"]
    write(output, EARLIER)
    before = listing(folders)
    process = start(wrap(argv, d, output) if wrap else argv, cwd=ROOT, env=env, stdout=subprocess.PIPE,
                    stderr=subprocess.PIPE)
    try:
        if fault:
            fault(d, output)(process)
        struck = time.monotonic()
        out, err = process.communicate(timeout=90)
        took = time.monotonic() - struck
    finally:
        process.kill()
    said, sentence = (err or out).decode(errors="replace").strip(), sentence.format(d=d, o=output)
    earlier, expected = path(output), before
    if moved is not None:
        old, new = f"{d}/out", moved and f"{d}/{moved}"
        kept = [e for e in before if not e.startswith(old + "/")]
        expected = sorted(kept + ([new + e[len(old):] for e in before if e.startswith(old + "/")] if new else
                                  [old + " (missing)"]))
        folders, earlier = [f"{d}/tmp", new or old], new and path(new + output[len(old):])
    after = listing(folders)
    problems = [problem for wrong, problem in [
        (process.returncode != status or said != sentence, f"status {process.returncode}, said {said!r}, expected {sentence!r}"),
        (within and took > within, f"it took {took:.2f} s to end"),
        (earlier and open(earlier, "rb").read() != EARLIER, f"the earlier file {earlier} changed"),
        (after != expected, "files were left or lost")] if wrong]
    print(f"\n## {name}\n   said:   {said}\n   before: {'  '.join(before)}\n   after:  {'  '.join(after)}")
    if problems:
        print("   FAILED: " + "; ".join(problems))
        failures.append(name)


def main():
    cli_env, _ = private_bus()
    write("in/big.bin", os.urandom(MiB), 16)       # more than a small disk holds
    write("in/large.bin", os.urandom(MiB), 256)    # long enough to be struck mid-run
    for i in range(3):
        write(f"in/folder/part{i}.bin", os.urandom(2 * MiB))
    for name in ("secret.txt", "entry/readable.txt", "entry/secret.txt", "nested/readable.txt", "nested/closed/inside.txt"):
        write("in/" + name, b"a")
    for name in ("secret.txt", "entry/secret.txt", "nested/closed"):
        os.chmod(path("in", name), 0)
    os.makedirs(path("in/box"))
    os.link(path("in/large.bin"), path("in/box/large.bin"))
    for name in ("in/big.bin", "in/large.bin"):
        subprocess.run([CLI, "lock", "-q", "-o", "in", name], cwd=ROOT, env=cli_env, check=True)

    full, missing = (f"korvo-cli: {{o}}: cannot be saved: {reason}" for reason in (os.strerror(28), "No such file"))
    unwritten = "korvo-cli: {d}/%s: cannot be written: " + os.strerror(28)
    gone = dict(fault=lambda d, o: when_partial(f"{d}/out", paused(lambda: shutil.rmtree(path(d, "out")))), moved="")
    renamed = dict(moved="moved", fault=lambda d, o: when_partial(
        f"{d}/out", paused(lambda: os.rename(path(d, "out"), path(d, "moved")))))
    drop = dict(wrap=lambda argv, d, o: DROP + [shlex.join(argv)])
    local = [  # name, arguments ({d}: the scenario's folder), sentence, how the scenario goes
        ("disk full while bundling (temporary folder on a 4 MiB disk)", "lock -f -o {d}/out/folder.korvolocal in/folder",
         unwritten % "tmp", dict(small="tmp")),
        ("disk full while bundling (bundle -o onto a 4 MiB disk)", "bundle -f -o {d}/out/folder.zip in/folder",
         unwritten % "out/folder.zip", dict(small="out")),
        ("disk full while locking (4 MiB disk)", "lock -f -o {d}/out/big.bin.korvolocal in/big.bin", full, dict(small="out")),
        ("disk full while opening (4 MiB disk)", "open -f -o {d}/out/big.bin in/big.bin.korvolocal", full, dict(small="out")),
        ("output folder renamed mid-lock (256 MiB)", "lock -f -o {d}/out/large.bin.korvolocal in/large.bin", missing, renamed),
        ("output folder renamed mid-bundle (256 MiB)", "bundle -f -o {d}/out/large.zip in/large.bin", missing, renamed),
        ("output folder removed mid-lock (256 MiB)", "lock -f -o {d}/out/large.bin.korvolocal in/large.bin", missing, gone),
        ("unreadable file", "lock -f -o {d}/out/secret.korvolocal in/secret.txt",
         "korvo-cli: in/secret.txt: cannot be read (not a regular file, or no permission)", drop),
        ("unreadable file in a folder", "lock -f -o {d}/out/entry.korvolocal in/entry",
         "korvo-cli: in/entry/secret.txt: Permission denied", drop),
        ("unreadable folder in a folder", "lock -f -o {d}/out/nested.korvolocal in/nested",
         "korvo-cli: in/nested/closed: Permission denied", drop),
    ]
    for number, (name, args, sentence, how) in enumerate(local, 1):
        scenario(number, name, args, sentence, cli_env, **how)

    # At each step that writes: Ctrl-C (once, or twice) and a kill end it at once; a file that
    # appears at the output meanwhile (another writer's) is not replaced without -f: the earlier
    # file is put aside before the tool starts, and comes back while it writes.
    steps = [("bundling", "lock -o {d}/out/box.korvolocal in/box", "tmp"),
             ("locking", "lock -o {d}/out/large.bin.korvolocal in/large.bin", "out"),
             ("opening", "open -o {d}/out/large.bin in/large.bin.korvolocal", "out"),
             ("bundle", "bundle -o {d}/out/large.zip in/large.bin", "out")]
    cancelled = "korvo-cli: cancelled; nothing was saved"
    strikes = [("Ctrl-C", interrupt(1), 130, cancelled), ("Ctrl-C twice", interrupt(2), 130, cancelled),
               ("kill", lambda process: process.kill(), -signal.SIGKILL, ""),
               ("another writer's file", None, 1, "korvo-cli: {o}: already exists; use -f to replace it")]
    aside = lambda argv, d, o: ["sh", "-c", f'mv {o} {d}/aside && exec "$0" "$@"'] + argv  # noqa: E731
    for number, ((step, args, folder), (how, action, status, sentence)) in enumerate(
            [(step, strike) for step in steps for strike in strikes], 40):
        if action or step != "bundling":
            back = lambda d, o: paused(lambda: os.rename(path(d, "aside"), path(o)))  # noqa: E731
            scenario(number, f"{how} while {step}", args.replace(" -o", " -f -o") if action else args, sentence, cli_env,
                     lambda d, o, act=action, at=folder: when_partial(f"{d}/{at}", act or back(d, o)),
                     wrap=None if action else aside, status=status, within=status != 1 and 0.2)

    keyrings = [("no Secret Service on the bus", None, NO_KEYRING), ("keyring locked", "lock", LOCKED),
                ("keyring killed during a first-use lock", "stop", NO_KEYRING)]
    for number, (name, action, sentence) in enumerate(keyrings, 20):
        env, daemon = private_bus(with_keyring=action is not None)
        if action == "lock":
            assert secrets(env, "", "org.freedesktop.Secret.Service.Lock", "['/org/freedesktop/secrets/aliases/default']")
        elif action == "stop":
            os.kill(daemon.pid, signal.SIGSTOP)
        scenario(number, name, "lock -f -o {d}/out/big.bin.korvolocal in/big.bin", "korvo-cli: " + sentence, env,
                 action == "stop" and (lambda d, o, daemon=daemon: lambda process: (time.sleep(1), daemon.kill())) or None)

    # An account on korvo-cli's built-in port, made as the application makes it, signed in.
    service = people.Service(pathlib.Path(SOURCE), pathlib.Path(ROOT))
    started.append(service.proc)
    env, email, password = dict(cli_env, KORVO_TRUSTED_CA=str(service.ca)), "faults@example.com", "correct horse battery"
    people.save_identity(env, email, *service.sign_up(env, email, password))
    korvo = subprocess.run([CLI, "sign-in", "--password-stdin", email], input=password + "\n", text=True, env=env,
                           check=True, capture_output=True).stdout.split("Korvo #")[1].split()[0]
    subprocess.run([CLI, "lock", "--for", korvo, "-q", "-o", "in", "in/large.bin"], cwd=ROOT, env=env, check=True)
    # Jobs on big.bin find the service stopped and are struck at once; "service stopped" kills it then.
    stopped = lambda process: (time.sleep(0.5), service.proc.kill())  # noqa: E731
    kill_bridge = lambda process: [os.kill(child, signal.SIGKILL) for child in children_of(process)]  # noqa: E731
    lock, unlock = f"lock --for {korvo} -f -o {{d}}/out/", "open -f -o {d}/out/"
    failed = "korvo-cli: %s: Bridge command failed."
    jobs = [("bridge killed mid-lock (256 MiB)", lock + "large.bin.korvo in/large.bin", failed % "in/large.bin", kill_bridge, 1),
            ("bridge killed mid-open (256 MiB)", unlock + "large.bin in/large.bin.korvo", failed % "in/large.bin.korvo",
             kill_bridge, 1),
            ("korvo-cli killed mid-open (256 MiB)", unlock + "large.bin in/large.bin.korvo", "", kill_application, -9),
            # Its bridge writes nothing while it waits: only the signal asked for at its start ends it.
            ("korvo-cli killed while its bridge waits on the service", lock + "big.bin.korvo in/big.bin", "", kill_application, -9),
            ("Ctrl-C mid-lock (256 MiB)", lock + "large.bin.korvo in/large.bin", cancelled, interrupt(1), 130),
            ("service stopped mid-request", lock + "big.bin.korvo in/big.bin",
             "korvo-cli: in/big.bin: Korvo is temporarily unavailable. Check your connection and try again.", stopped, 1)]
    for number, (name, args, sentence, action, status) in enumerate(jobs, 30):
        grown = 0 if "big.bin" in args else 8 * MiB
        if not grown:
            os.kill(service.proc.pid, signal.SIGSTOP)
        scenario(number, name, args, sentence, env, lambda d, o, act=action, g=grown: when_partial(f"{d}/out", act, g),
                 status=status)
        if not grown and service.proc.poll() is None:
            os.kill(service.proc.pid, signal.SIGCONT)


if __name__ == "__main__":
    began = time.time()
    try:
        main()
    finally:
        for process in reversed(started):
            if process.poll() is None:
                process.kill()
                process.wait()
        for mount in mounts:
            subprocess.run(["umount", "-l", mount])
        shutil.rmtree(ROOT, ignore_errors=True)
    print(f"\n{len(failures)} of the scenarios failed ({time.time() - began:.1f} s)" if failures
          else f"\nevery scenario held, {len(skipped)} skipped ({time.time() - began:.1f} s)")
    sys.exit(1 if failures else 0)
