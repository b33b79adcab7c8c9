// The bridge as a process, without a service: health check, key generation, requests that are
// refused before any network use, and an unreachable service.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createServer } from 'node:net';
import { createServer as createTlsServer } from 'node:tls';
import { createPrivateKey, createPublicKey } from 'node:crypto';
import { execFileSync } from 'node:child_process';
import { readFile, readdir, writeFile } from 'node:fs/promises';
import { join } from 'node:path';
import { runBridge, temporaryFolder, whenPartial } from './support/bridge.mjs';

const KEY = 'ab'.repeat(32);
const NOWHERE = 'https://127.0.0.1:1';

test('the health check answers without reading its input; generateKey gives fresh matching halves without a service', async () => {
  for (const args of [['--check'], ['--verbose', '--check']]) {
    const { status, envelope } = await runBridge(null, { args });
    assert.deepEqual([status, envelope], [0, { ok: true, result: { sdkVersion: '1.0.0', blackboxUrl: 'https://localhost:3010', node: process.version } }]);
  }
  const keys = await Promise.all([1, 2].map(async () => (await runBridge({ command: 'generateKey', blackboxUrl: NOWHERE })).envelope.result));
  for (const { privateKeyHex, publicKeyHex } of keys) {
    const der = Buffer.concat([Buffer.from('302e020100300506032b657004220420', 'hex'), Buffer.from(privateKeyHex, 'hex')]);
    assert.match(privateKeyHex, /^[0-9a-f]{64}$/);
    assert.equal(createPublicKey(createPrivateKey({ key: der, format: 'der', type: 'pkcs8' })).export({ format: 'der', type: 'spki' }).subarray(12).toString('hex'), publicKeyHex);
  }
  assert.notEqual(keys[0].privateKeyHex, keys[1].privateKeyHex);
});

test('requests that cannot be carried out are refused with a sentence and exit status 1, before any network use', async (t) => {
  const dir = temporaryFolder(t);
  const input = join(dir, 'notes.txt');
  await writeFile(input, 'hello');
  const fifo = join(dir, 'pipe');
  execFileSync('mkfifo', [fifo]);
  const keyed = { blackboxUrl: NOWHERE, principalId: 'p', ed25519PrivateKeyHex: KEY, secretId: 3 };
  const unknownCommand = /^The bridge does not know that command\.$/;
  const cases = [
    ['command=listSecrets', /not a JSON object/],
    ['[]', /not a JSON object/],
    [JSON.stringify({ command: 'resendOtp', email: 'a@b.c', padding: 'x'.repeat(2 ** 21) }), /^The bridge request is larger than 1 MiB\.$/],
    [{ blackboxUrl: NOWHERE }, /names no command/],
    [{ blackboxUrl: NOWHERE, command: 'formatDisk' }, /does not know the command "formatDisk"/],
    [{ blackboxUrl: NOWHERE, command: 'x'.repeat(100_000) }, unknownCommand],
    [{ blackboxUrl: NOWHERE, command: 'format\r\nDisk' }, unknownCommand],
    [{ ...keyed, command: 'listSecrets', principalId: 'p\r\nX-Other: 1' }, /^The request field principalId must be printable text of at most 256 characters\.$/],
    [{ blackboxUrl: NOWHERE, command: 'verifyEmail', email: 'a@b.c', otp: '12a456' }, /^Enter the six-digit code from your email\.$/],
    [{ blackboxUrl: NOWHERE, command: 'register', email: 'a@b.c' }, /register request is missing password/],
    ...['7', 0, 2 ** 53].map((secretId) => [{ ...keyed, command: 'getSecretPublicKey', secretId }, /^A Korvo number is a whole number from 1 to 9007199254740991\.$/]),
    [{ blackboxUrl: 'http://127.0.0.1:1', command: 'resendOtp', email: 'a@b.c' }, /must be an https address/],
    ...['encryptFile', 'decryptFile'].flatMap((command) => [
      [{ ...keyed, command, filePath: join(dir, 'absent'), outputPath: join(dir, 'out') }, /^The selected file could not be read\.$/],
      [{ ...keyed, command, filePath: fifo, outputPath: join(dir, 'out') }, /^The selected item is not a file\.$/],
      [{ ...keyed, command, filePath: input, outputPath: join(dir, '.', 'notes.txt') }, /^Choose a different place for the result than the file itself\.$/],
    ]),
    [{ ...keyed, command: 'encryptFile', filePath: input, outputPath: join(dir, 'absent', 'out') }, /^The result could not be written to the chosen place\.$/],
    // Refused before the service is asked: renaming a result there would fail or replace a device.
    ...[dir, `${join(dir, 'name')}/`, fifo, '/dev/null'].map((outputPath) => [{ ...keyed, command: 'decryptFile', filePath: input, outputPath },
      /^The result can only be saved as a file: choose a file name, not a folder or a device\.$/]),
    // A missing or malformed device key is named, for every command that needs one.
    ...['12', `${KEY.slice(2)}zz`, 42].map((key) => [{ ...keyed, command: 'listSecrets', ed25519PrivateKeyHex: key }, /ed25519PrivateKeyHex/]),
    ...['createSession', 'createSecret', 'dataConsumption', 'registerKey', 'rotateKey', 'getSecretPublicKey', 'encryptFile', 'decryptFile']
      .map((command) => [{ ...keyed, email: 'a@b.c', password: 'password1', filePath: '/nonexistent/in', outputPath: '/nonexistent/out', command, ed25519PrivateKeyHex: undefined }, /ed25519PrivateKeyHex/]),
  ];
  for (const [request, expected] of cases) {
    const { status, envelope, stdout } = await runBridge(request);
    const what = JSON.stringify(request).slice(0, 100);
    assert.deepEqual([status, envelope.ok, stdout.length < 300], [1, false, true], what);
    assert.match(envelope.error, expected, what);
  }
  const { envelope } = await runBridge({ command: 'resendOtp', email: 'a@b.c', blackboxUrl: NOWHERE }, { env: { KORVO_TRUSTED_CA: join(dir, 'absent.pem') } });
  assert.match(envelope.error, /trusted certificate file .*absent\.pem could not be read/, 'a file named on purpose must exist');
});

// A service that takes the connection and never answers: what a stopped service looks like.
async function silentService(t) {
  const server = createServer(() => {});
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  t.after(() => server.close());
  return `https://127.0.0.1:${server.address().port}`;
}

test('an unreachable or silent service is reported as node reports it, within 20 s, also for a key written with 0x', async (t) => {
  const silent = await silentService(t);
  for (const [blackboxUrl, request] of [[NOWHERE, { command: 'verifyCredentials', email: 'a@b.c', password: 'password1' }],
    [NOWHERE, { command: 'listSecrets', principalId: 'p', ed25519PrivateKeyHex: `0x${KEY.toUpperCase()}` }], [silent, { command: 'resendOtp', email: 'a@b.c' }]]) {
    const began = Date.now();
    const { status, envelope } = await runBridge({ ...request, blackboxUrl });
    assert.deepEqual([status, envelope, Date.now() - began < 20_000], [1, { ok: false, error: 'fetch failed' }, true], blackboxUrl);
  }
});

test('a bridge stopped by a signal removes its unfinished output and says so', async (t) => {
  const dir = temporaryFolder(t);
  await writeFile(join(dir, 'in'), 'plain text');
  const request = { command: 'encryptFile', blackboxUrl: await silentService(t), principalId: 'p',
    ed25519PrivateKeyHex: KEY, secretId: 3, filePath: join(dir, 'in'), outputPath: join(dir, 'out') };
  for (const [signal, number] of [['SIGTERM', 15], ['SIGINT', 2], ['SIGHUP', 1]]) {
    const { status, envelope } = await runBridge(request, { started: whenPartial(dir, 0, (child) => child.kill(signal)) });
    assert.deepEqual([status, envelope, await readdir(dir)], [128 + number, { ok: false, error: 'The bridge was stopped before it finished.' }, ['in']], signal);
  }
});

test('a certificate its authority may not vouch for is reported as untrusted, not as an unreachable service', async (t) => {
  const dir = temporaryFolder(t);
  // A key and certificate `name`, signed by `issuer` (or by itself), with these extensions.
  const issue = (name, issuer, extensions) => execFileSync('openssl', ['req', '-x509', '-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:P-256',
    '-nodes', '-keyout', `${name}.key`, '-subj', `/CN=${name}`, '-days', '2', ...(issuer ? ['-CA', `${issuer}.pem`, '-CAkey', `${issuer}.key`] : []),
    ...extensions.flatMap((extension) => ['-addext', extension]), '-out', `${name}.pem`], { cwd: dir, stdio: 'pipe' });
  // An authority like the service's: only this computer's names, no authority below it.
  issue('ca', undefined, ['basicConstraints=critical,CA:TRUE,pathlen:0', 'keyUsage=critical,keyCertSign',
    'nameConstraints=critical,permitted;DNS:localhost,permitted;IP:127.0.0.0/255.0.0.0']);
  const server = ['basicConstraints=critical,CA:FALSE', 'extendedKeyUsage=serverAuth'];
  issue('outside', 'ca', [...server, 'subjectAltName=IP:127.0.0.1,DNS:elsewhere.test']);
  issue('middle', 'ca', ['basicConstraints=critical,CA:TRUE', 'keyUsage=critical,keyCertSign']);
  issue('below', 'middle', [...server, 'subjectAltName=IP:127.0.0.1']);
  // The last: an authority that is not the one trusted.
  for (const [name, chain, trusted = 'ca'] of [['outside', []], ['below', ['middle']], ['outside', [], 'middle']]) {
    const certs = await Promise.all([name, ...chain].map((n) => readFile(join(dir, `${n}.pem`), 'utf8')));
    const tls = createTlsServer({ key: await readFile(join(dir, `${name}.key`)), cert: certs.join('') }, (socket) => socket.end());
    tls.on('tlsClientError', () => {});
    await new Promise((resolve) => tls.listen(0, '127.0.0.1', resolve));
    const { envelope } = await runBridge({ command: 'resendOtp', email: 'a@b.c', blackboxUrl: `https://127.0.0.1:${tls.address().port}` },
      { env: { KORVO_TRUSTED_CA: join(dir, `${trusted}.pem`) } });
    await new Promise((resolve) => tls.close(resolve));
    assert.equal(envelope.error, 'The Korvo service could not prove its identity, so the bridge did not talk to it.', `${name} ${trusted}`);
  }
});
