// The bridge as a process, without a service: health check, key generation, requests that are
// refused before any network use, and an unreachable service.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createServer } from 'node:net';
import { createPrivateKey, createPublicKey } from 'node:crypto';
import { writeFile } from 'node:fs/promises';
import { join } from 'node:path';
import { runBridge, temporaryFolder } from './support/bridge.mjs';

const KEY = 'ab'.repeat(32);

// A loopback port on which nothing listens.
async function closedPort() {
  const server = createServer();
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  await new Promise((resolve) => server.close(resolve));
  return port;
}

test('the health check answers without reading its input, whatever else is on the command line', async () => {
  for (const args of [['--check'], ['--verbose', '--check']]) {
    const { status, envelope } = await runBridge(null, { args });
    assert.equal(status, 0);
    assert.deepEqual(envelope, {
      ok: true,
      result: { sdkVersion: '1.0.0', blackboxUrl: 'https://localhost:3010', node: process.version },
    });
  }
});

test('generateKey gives a fresh Ed25519 pair whose halves belong together, without a service', async () => {
  const seen = new Set();
  for (let i = 0; i < 2; i += 1) {
    const { status, envelope } = await runBridge({ command: 'generateKey', blackboxUrl: 'https://127.0.0.1:1' });
    assert.equal(status, 0);
    const { privateKeyHex, publicKeyHex } = envelope.result;
    assert.match(privateKeyHex, /^[0-9a-f]{64}$/);
    assert.match(publicKeyHex, /^[0-9a-f]{64}$/);
    const der = Buffer.concat([Buffer.from('302e020100300506032b657004220420', 'hex'), Buffer.from(privateKeyHex, 'hex')]);
    const derived = createPublicKey(createPrivateKey({ key: der, format: 'der', type: 'pkcs8' }))
      .export({ format: 'der', type: 'spki' }).subarray(12).toString('hex');
    assert.equal(derived, publicKeyHex);
    seen.add(privateKeyHex);
  }
  assert.equal(seen.size, 2);
});

test('requests that cannot be carried out are refused with a sentence and exit status 1', async () => {
  const base = { blackboxUrl: 'https://127.0.0.1:1' };
  const cases = [
    ['not JSON', 'command=listSecrets', /not a JSON object/],
    ['JSON array', '[]', /not a JSON object/],
    ['no command', { ...base }, /names no command/],
    ['unknown command', { ...base, command: 'formatDisk' }, /does not know the command "formatDisk"/],
    ['missing field', { ...base, command: 'register', email: 'a@b.c' }, /register request is missing password/],
    ['text where a number belongs', { ...base, command: 'getSecretPublicKey', principalId: 'p', ed25519PrivateKeyHex: KEY, secretId: '7' }, /secretId must be a whole number/],
    ['fractional number', { ...base, command: 'getSecretPublicKey', principalId: 'p', ed25519PrivateKeyHex: KEY, secretId: 7.5 }, /secretId must be a whole number/],
    ['Korvo number 0', { ...base, command: 'getSecretPublicKey', principalId: 'p', ed25519PrivateKeyHex: KEY, secretId: 0 }, /greater than 0/],
    ['plain http address', { blackboxUrl: 'http://127.0.0.1:1', command: 'resendOtp', email: 'a@b.c' }, /must be an https address/],
  ];
  for (const [what, request, expected] of cases) {
    const { status, envelope } = await runBridge(request);
    assert.equal(status, 1, what);
    assert.equal(envelope.ok, false, what);
    assert.match(envelope.error, expected, what);
  }
});

test('a missing or malformed device key is named in the error for every command that needs one', async () => {
  const bad = [undefined, '', '12', `0X${KEY}`, `${KEY}0`, KEY.slice(1), `${KEY.slice(2)}zz`, 42];
  const commands = ['createSession', 'listSecrets', 'createSecret', 'dataConsumption', 'registerKey', 'rotateKey',
    'getSecretPublicKey', 'encryptFile', 'decryptFile'];
  const filled = { blackboxUrl: 'https://127.0.0.1:1', principalId: 'p', email: 'a@b.c', password: 'password1',
    secretId: 3, filePath: '/nonexistent/in', outputPath: '/nonexistent/out' };
  const pairs = [...bad.map((key) => ['listSecrets', key]), ...commands.map((command) => [command, undefined])];
  for (const [command, key] of pairs) {
    const { status, envelope } = await runBridge({ ...filled, command, ed25519PrivateKeyHex: key });
    assert.equal(status, 1);
    assert.match(envelope.error, /ed25519PrivateKeyHex/, `${command} with ${JSON.stringify(key)}`);
  }
});

test('an unreachable service is reported as node reports it, also for a key written with 0x', async () => {
  const port = await closedPort();
  const requests = [
    { command: 'verifyCredentials', email: 'a@b.c', password: 'password1' },
    { command: 'listSecrets', principalId: 'p', ed25519PrivateKeyHex: `0x${KEY.toUpperCase()}` },
  ];
  for (const request of requests) {
    const { status, envelope } = await runBridge({ ...request, blackboxUrl: `https://127.0.0.1:${port}` });
    assert.equal(status, 1);
    assert.deepEqual(envelope, { ok: false, error: 'fetch failed' });
  }
});

test('a trusted-certificate file named on purpose must exist', async (t) => {
  const dir = temporaryFolder(t);
  const { envelope } = await runBridge(
    { command: 'resendOtp', email: 'a@b.c', blackboxUrl: 'https://127.0.0.1:1' },
    { env: { KORVO_TRUSTED_CA: join(dir, 'absent.pem') } },
  );
  assert.match(envelope.error, /trusted certificate file .*absent\.pem could not be read/);
});

test('file commands refuse a missing input, an output that is the input and an unwritable place, before any network use', async (t) => {
  const dir = temporaryFolder(t);
  const input = join(dir, 'notes.txt');
  await writeFile(input, 'hello');
  const base = { blackboxUrl: 'https://127.0.0.1:1', principalId: 'p', ed25519PrivateKeyHex: KEY, secretId: 3 };
  for (const command of ['encryptFile', 'decryptFile']) {
    let { envelope } = await runBridge({ ...base, command, filePath: join(dir, 'absent'), outputPath: join(dir, 'out') });
    assert.equal(envelope.error, 'The selected file could not be read.');
    ({ envelope } = await runBridge({ ...base, command, filePath: dir, outputPath: join(dir, 'out') }));
    assert.equal(envelope.error, 'The selected item is not a file.');
    ({ envelope } = await runBridge({ ...base, command, filePath: input, outputPath: join(dir, '.', 'notes.txt') }));
    assert.equal(envelope.error, 'Choose a different place for the result than the file itself.');
    ({ envelope } = await runBridge({ ...base, command: 'encryptFile', filePath: input, outputPath: join(dir, 'absent', 'out') }));
    assert.equal(envelope.error, 'The result could not be written to the chosen place.', 'reported before the service is asked');
  }
});
