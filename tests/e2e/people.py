"""What the end-to-end runs share: the reference service, and people each with a HOME, a
session bus and an unlocked keyring of their own."""
import json, os, re, signal, subprocess, time


class Service:
    """The reference service with its data under `root`, on the built-in port."""

    def __init__(self, source, root, port=3010):
        self.source, self.data, self.ca, log = source, root / "service", root / "trusted-ca.pem", root / "service.log"
        self.proc = subprocess.Popen(["node", source / "service/halvane.mjs", "--port", str(port), "--data", self.data],
                                     env=dict(os.environ, KORVO_TRUSTED_CA=str(self.ca)), stdout=open(log, "w"),
                                     stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 60
        while not (listening := re.search(r"listening on (https://\S+)", log.read_text())):
            if self.proc.poll() is not None or time.monotonic() > deadline:   # the port is taken, most likely
                raise RuntimeError("the service did not start: " + log.read_text())
            time.sleep(0.1)
        self.url = listening[1]

    def bridge(self, env, **request):
        answer = subprocess.run(["node", self.source / "bridge/korvo-bridge.mjs"], env=env, capture_output=True, text=True,
                                input=json.dumps(dict(blackboxUrl=self.url, **request)), timeout=60)
        envelope = json.loads(answer.stdout or "{}")
        assert envelope.get("ok"), f"{request['command']}: {envelope.get('error')} {answer.stderr}"
        return envelope["result"]

    def sign_up(self, env, email, password):
        """An account made as the application makes it ("Create account", then the mailed code):
        its principal and device key."""
        principal = self.bridge(env, command="register", email=email, password=password)["principalId"]
        code = subprocess.run(["node", self.source / "service/halvane.mjs", "latest-mail", "--data", self.data, "--to",
                               email, "--code"], capture_output=True, text=True, check=True).stdout.strip()
        self.bridge(env, command="verifyEmail", email=email, otp=code)
        key = self.bridge(env, command="generateKey")["privateKeyHex"]
        self.bridge(env, command="registerKey", password=password, principalId=principal, ed25519PrivateKeyHex=key)
        return principal, key

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)


class Person:
    """name@example.com, with a HOME, a session bus and an unlocked keyring of their own."""

    def __init__(self, root, name, service, **env):
        self.name, self.email, self.home, self.tmp = name, f"{name}@example.com", root / name, root / f"{name}-tmp"
        run_dir = root / f"{name}-run"
        for folder in (self.home / ".local/share", self.tmp, run_dir):
            folder.mkdir(parents=True, mode=0o700)
        self.env = dict(os.environ, HOME=str(self.home), XDG_RUNTIME_DIR=str(run_dir), TMPDIR=str(self.tmp),
                        XDG_DATA_HOME=f"{self.home}/.local/share", XDG_CONFIG_HOME=f"{self.home}/.config",
                        XDG_CACHE_HOME=f"{self.home}/.cache", KORVO_TRUSTED_CA=str(service.ca), **env)
        address, pid = subprocess.run(["dbus-daemon", "--session", "--fork", "--print-address=1", "--print-pid=1"],
                                      env=self.env, capture_output=True, text=True, check=True).stdout.split()
        self.env["DBUS_SESSION_BUS_ADDRESS"], self.bus_pid = address, int(pid)
        subprocess.run(["gnome-keyring-daemon", "--unlock", "--components=secrets"], input="\n", env=self.env,
                       capture_output=True, text=True, check=True)

    def close(self):
        os.kill(self.bus_pid, signal.SIGTERM)


def save_identity(env, email, principal, key):
    """The account as the application keeps it in the keyring."""
    identity = json.dumps({"email": email, "principalId": principal, "ed25519PrivateKeyHex": key}, separators=(",", ":"))
    subprocess.run(["secret-tool", "store", "--label=com.korvo.security.macos web2.identity", "service",
                    "com.korvo.security.macos", "account", "web2.identity"], input=identity, env=env, check=True, text=True)
