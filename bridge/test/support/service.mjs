// Starts the reference service on a free loopback port with its own data folder and trusted
// authority file, and gives the tests what they need to drive the bridge
// against it: the address, the environment for the bridge, and the codes it e-mails.
import { spawn } from 'node:child_process';
import { existsSync, mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync } from 'node:fs';
import { open } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { runBridge } from './bridge.mjs';

export const SERVICE_SCRIPT = fileURLToPath(new URL('../../../service/halvane.mjs', import.meta.url));
export const serviceAvailable = existsSync(SERVICE_SCRIPT) && existsSync(join(dirname(SERVICE_SCRIPT), 'node_modules'));

export async function startService({ root } = {}) {
  const folder = root ?? mkdtempSync(join(tmpdir(), 'korvo-halvane-'));
  mkdirSync(folder, { recursive: true });
  const [data, ca] = ['data', 'trusted-ca.pem'].map((name) => join(folder, name));
  const env = { KORVO_TRUSTED_CA: ca };
  const child = spawn(process.execPath, [SERVICE_SCRIPT, '--port', '0', '--data', data], {
    env: { ...process.env, ...env }, stdio: ['ignore', 'pipe', 'pipe'],
  });
  const url = await new Promise((resolve, reject) => {
    let seen = '';
    const onData = (part) => {
      seen += part;
      const match = /listening on (https:\/\/\S+)/.exec(seen);
      if (match) { child.stdout.off('data', onData).resume(); resolve(match[1]); }
    };
    child.stdout.on('data', onData);
    child.stderr.on('data', (part) => { seen += part; });
    child.once('exit', (code) => reject(new Error(`service exited (${code}) before listening:\n${seen}`)));
  });
  child.removeAllListeners('exit');
  return {
    url, data, ca, env,
    // The newest e-mail to `to` of `kind` ("verify-email", "confirm-device", ...): { code, link }.
    latestMail(to, kind) {
      const outbox = join(data, 'outbox');
      const names = existsSync(outbox) ? readdirSync(outbox).filter((n) => n.endsWith(`-${kind}.eml`)).sort().reverse() : [];
      for (const name of names) {
        const text = readFileSync(join(outbox, name), 'utf8');
        const header = (key) => new RegExp(`^${key}: (.*)$`, 'mi').exec(text)?.[1].trim();
        if (header('To')?.toLowerCase() === to.toLowerCase()) return { code: header('X-Halvane-Code'), link: header('X-Halvane-Link') };
      }
      return undefined;
    },
    // Runs one bridge command against this service.
    bridge: (req, options = {}) => runBridge({ blackboxUrl: url, ...req }, { ...options, env: { ...env, ...options.env } }),
    async stop() {
      child.kill('SIGTERM');
      await new Promise((resolve) => (child.exitCode !== null ? resolve() : child.once('exit', resolve)));
      if (!root) rmSync(folder, { recursive: true, force: true });
    },
  };
}

// Signs up `email` through the bridge as the application does (register, verify the code,
// generate and register a device key, first session, first Korvo) and returns the identity.
export async function signUp(service, email, password = 'correct horse battery') {
  const ok = async (req) => {
    const { envelope } = await service.bridge(req);
    if (!envelope?.ok) throw new Error(`${req.command}: ${envelope?.error}`);
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
  return { email, password, ...identity, secretId };
}

// Locks `input` into `output` for Korvo `secretId` the way a modified bridge of `who` could:
// a well-formed file whose recorded lock declares `declaredBytes`, whatever the file holds.
export async function lockWithDeclaredSize(service, who, secretId, input, output, declaredBytes) {
  const { validateRequest } = await import('../../lib/request.mjs');
  const { DEVICE_AUTH, serviceCall } = await import('../../lib/commands.mjs');
  const { CAPSULE_LENGTH, CAPSULE_SUITE, decodeKorvoPublicKey, encapsulate } = await import('../../lib/capsule.mjs');
  const { FIXED_HEADER_LENGTH, encodeHeader } = await import('../../lib/format.mjs');
  const { sealChunks } = await import('../../lib/chunk-stream.mjs');
  const request = validateRequest({ command: 'getSecretPublicKey', blackboxUrl: service.url, principalId: who.principalId, ed25519PrivateKeyHex: who.ed25519PrivateKeyHex, secretId });
  const ask = (method, path, body) => serviceCall(request, { method, path, body, auth: DEVICE_AUTH });
  const trusted = process.env.KORVO_TRUSTED_CA;
  process.env.KORVO_TRUSTED_CA = service.ca;
  try {
    const publicKey = decodeKorvoPublicKey((await ask('GET', `/korvos/${secretId}/public-key`)).publicKey, secretId);
    const chunkSize = 1024 * 1024;
    const header = encodeHeader({ chunkSize, secretId, suite: CAPSULE_SUITE, capsule: Buffer.alloc(CAPSULE_LENGTH) });
    const context = header.subarray(0, FIXED_HEADER_LENGTH);
    const { capsule, fileKey } = await encapsulate(publicKey, secretId, context);
    capsule.copy(header, FIXED_HEADER_LENGTH);
    const job = await ask('POST', '/usage/jobs', { kind: 'encrypt', secretId, bytes: declaredBytes, capsule: capsule.toString('base64'), context: context.toString('base64') });
    const [from, to] = [await open(input, 'r'), await open(output, 'w')];
    await sealChunks(from, to, { key: fileKey, header, chunkSize }).finally(() => Promise.all([from.close(), to.close()]));
    await ask('POST', `/usage/jobs/${job.jobId}/complete`, {});
  } finally {
    if (trusted === undefined) delete process.env.KORVO_TRUSTED_CA;
    else process.env.KORVO_TRUSTED_CA = trusted;
  }
}
