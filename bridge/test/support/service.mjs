// Starts the reference service on a free loopback port with its own data folder, trusted
// authority file and clock offset, and gives the tests what they need to drive the bridge
// against it: the address, the environment for the bridge, and the codes it e-mails.
import { spawn } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { runBridge } from './bridge.mjs';

export const SERVICE_SCRIPT = join(dirname(fileURLToPath(import.meta.url)), '..', '..', '..', 'service', 'halvane.mjs');
export const serviceAvailable = existsSync(SERVICE_SCRIPT)
  && existsSync(join(dirname(SERVICE_SCRIPT), 'node_modules'));

export async function startService({ root } = {}) {
  const folder = root ?? mkdtempSync(join(tmpdir(), 'korvo-halvane-'));
  mkdirSync(folder, { recursive: true });
  const data = join(folder, 'data');
  const ca = join(folder, 'trusted-ca.pem');
  const clockFile = join(folder, 'clock-offset');
  writeFileSync(clockFile, '0');
  const child = spawn(process.execPath, [SERVICE_SCRIPT, '--port', '0', '--data', data, '--clock-file', clockFile], {
    env: { ...process.env, KORVO_TRUSTED_CA: ca },
    stdio: ['ignore', 'pipe', 'pipe'],
  });
  const url = await new Promise((resolve, reject) => {
    let seen = '';
    const onData = (part) => {
      seen += part;
      const match = /listening on (https:\/\/\S+)/.exec(seen);
      if (match) {
        child.stdout.off('data', onData);
        child.stdout.resume();
        resolve(match[1]);
      }
    };
    child.stdout.on('data', onData);
    child.stderr.on('data', (part) => { seen += part; });
    child.on('exit', (code) => reject(new Error(`service exited (${code}) before listening:\n${seen}`)));
  });
  child.removeAllListeners('exit');
  const env = { KORVO_TRUSTED_CA: ca };
  return {
    url,
    data,
    ca,
    env,
    // Moves the service's clock by `seconds` from the real clock.
    setClockOffset: (seconds) => writeFileSync(clockFile, String(seconds)),
    // The newest e-mail to `to`, optionally of one kind ("verify-email", "confirm-device", ...).
    latestMail(to, kind) {
      const outbox = join(data, 'outbox');
      const names = existsSync(outbox) ? readdirSync(outbox).filter((n) => n.endsWith('.eml')).sort().reverse() : [];
      for (const name of names) {
        const text = readFileSync(join(outbox, name), 'utf8');
        const header = (key) => new RegExp(`^${key}: (.*)$`, 'mi').exec(text)?.[1].trim();
        if (header('To')?.toLowerCase() === to.toLowerCase() && (!kind || header('X-Halvane-Kind') === kind)) {
          return { kind: header('X-Halvane-Kind'), code: header('X-Halvane-Code'), link: header('X-Halvane-Link') };
        }
      }
      return undefined;
    },
    // Runs one bridge command against this service.
    bridge: (request, options = {}) => runBridge({ blackboxUrl: url, ...request }, { ...options, env: { ...env, ...options.env } }),
    async stop() {
      child.kill('SIGTERM');
      await new Promise((resolve) => (child.exitCode !== null ? resolve() : child.once('exit', resolve)));
      if (!root) rmSync(folder, { recursive: true, force: true });
    },
  };
}

// Visits a link from an e-mail with the service's authority trusted.
export async function visitLink(service, link) {
  const { request } = await import('node:https');
  return new Promise((resolve, reject) => {
    request(link, { ca: readFileSync(service.ca, 'utf8') }, (res) => {
      res.resume();
      res.on('end', () => resolve(res.statusCode));
    }).on('error', reject).end();
  });
}

// Signs up `email` through the bridge as the application does (register, verify the code,
// generate and register a device key, first session, first Korvo) and returns the identity.
export async function signUp(service, email, password = 'correct horse battery') {
  const ok = async (request) => {
    const { envelope } = await service.bridge(request);
    if (!envelope?.ok) throw new Error(`${request.command}: ${envelope?.error}`);
    return envelope.result;
  };
  const { principalId } = await ok({ command: 'register', email, password });
  await ok({ command: 'verifyEmail', email, otp: service.latestMail(email, 'verify-email').code });
  const { privateKeyHex } = await ok({ command: 'generateKey' });
  const registered = await ok({ command: 'registerKey', password, principalId, ed25519PrivateKeyHex: privateKeyHex });
  if (registered.nodeRegistrationStatus !== 'complete') throw new Error(`registerKey: ${registered.nodeRegistrationStatus}`);
  const identity = { principalId, ed25519PrivateKeyHex: privateKeyHex };
  await ok({ command: 'createSession', ...identity });
  const { secretId } = await ok({ command: 'createSecret', ...identity });
  return { email, password, ...identity, secretId, ok };
}
