// Prints a full transcript of bridge runs against a fresh reference service: two people sign up
// and get their first Korvo, the first locks a 100 MiB file for the second's Korvo, and the
// second opens it. Every request written to the bridge and every envelope it answered is shown.
//
//   node bench/bridge-transcript.mjs [--size-mib N]
import { createHash, randomFillSync } from 'node:crypto';
import { createReadStream, mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { runBridge } from '../bridge/test/support/bridge.mjs';
import { serviceAvailable, startService } from '../bridge/test/support/service.mjs';

const sizeArg = process.argv.indexOf('--size-mib');
const SIZE_MIB = sizeArg > 0 ? Number(process.argv[sizeArg + 1]) : 100;

if (!serviceAvailable) {
  console.log('The reference service is not installed (run npm ci in service/); nothing to show.');
  process.exit(0);
}

const folder = mkdtempSync(join(tmpdir(), 'korvo-transcript-'));
const service = await startService({ root: join(folder, 'service') });
let step = 0;

// Long texts (the 1216-byte public key in base64) are shortened for reading.
const shorten = (value) => JSON.stringify(value, (key, v) => (typeof v === 'string' && v.length > 120
  ? `${v.slice(0, 48)}...(${v.length} characters)` : v));

async function show(who, request, args = []) {
  step += 1;
  const shown = request === null ? `node korvo-bridge.mjs ${args.join(' ')}` : JSON.stringify(request);
  console.log(`\n[${step}] ${who} ->  ${shown}`);
  const started = performance.now();
  const { status, envelope, stdout } = await runBridge(request, { args, env: service.env });
  const ms = (performance.now() - started).toFixed(0);
  console.log(`    <- exit ${status}, ${ms} ms: ${envelope ? shorten(envelope) : stdout}`);
  if (!envelope?.ok) throw new Error(`step ${step} failed`);
  return envelope.result;
}

async function signUp(who, email, password) {
  const url = service.url;
  const { principalId } = await show(who, { command: 'register', blackboxUrl: url, email, password });
  const otp = service.latestMail(email, 'verify-email').code;
  console.log(`    (the six-digit code e-mailed to ${email} is ${otp})`);
  await show(who, { command: 'verifyEmail', blackboxUrl: url, email, otp });
  const { privateKeyHex } = await show(who, { command: 'generateKey', blackboxUrl: url });
  await show(who, { command: 'registerKey', blackboxUrl: url, password, principalId, ed25519PrivateKeyHex: privateKeyHex });
  const identity = { principalId, ed25519PrivateKeyHex: privateKeyHex };
  await show(who, { command: 'createSession', blackboxUrl: url, ...identity });
  await show(who, { command: 'listSecrets', blackboxUrl: url, ...identity });
  const { secretId } = await show(who, { command: 'createSecret', blackboxUrl: url, ...identity });
  await show(who, { command: 'listSecrets', blackboxUrl: url, ...identity });
  return { ...identity, secretId };
}

function writeRandomFile(path, bytes) {
  const block = Buffer.allocUnsafe(8 * 1024 * 1024);
  const parts = [];
  for (let left = bytes; left > 0; left -= block.length) parts.push(Buffer.from(randomFillSync(block).subarray(0, Math.min(left, block.length))));
  writeFileSync(path, Buffer.concat(parts));
}

async function sha256(path) {
  const hash = createHash('sha256');
  for await (const part of createReadStream(path, { highWaterMark: 1 << 20 })) hash.update(part);
  return hash.digest('hex');
}

try {
  console.log(`Reference service: ${service.url} (data in ${service.data})`);
  await show('app', null, ['--check']);
  const ada = await signUp('ada', 'ada@example.test', 'ada password 1');
  const ben = await signUp('ben', 'ben@example.test', 'ben password 1');

  const input = join(folder, 'plans.bin');
  const locked = join(folder, 'plans.bin.korvo');
  const opened = join(folder, 'plans-opened.bin');
  writeRandomFile(input, SIZE_MIB * 1024 * 1024);
  console.log(`\n(ada has a ${SIZE_MIB} MiB file ${input}, SHA-256 ${await sha256(input)})`);

  const url = service.url;
  const key = await show('ada', { command: 'getSecretPublicKey', blackboxUrl: url, principalId: ada.principalId, ed25519PrivateKeyHex: ada.ed25519PrivateKeyHex, secretId: ben.secretId });
  console.log(`    (Korvo #${ben.secretId} answers with a ${Buffer.from(key.publicKey, 'base64').length}-byte public key)`);
  await show('ada', { command: 'encryptFile', blackboxUrl: url, principalId: ada.principalId, ed25519PrivateKeyHex: ada.ed25519PrivateKeyHex, secretId: ben.secretId, filePath: input, outputPath: locked });
  await show('ada', { command: 'dataConsumption', blackboxUrl: url, principalId: ada.principalId, ed25519PrivateKeyHex: ada.ed25519PrivateKeyHex });
  await show('ben', { command: 'decryptFile', blackboxUrl: url, principalId: ben.principalId, ed25519PrivateKeyHex: ben.ed25519PrivateKeyHex, secretId: ben.secretId, filePath: locked, outputPath: opened });
  await show('ben', { command: 'dataConsumption', blackboxUrl: url, principalId: ben.principalId, ed25519PrivateKeyHex: ben.ed25519PrivateKeyHex });

  const [a, b] = [await sha256(input), await sha256(opened)];
  console.log(`\n(ben's opened file SHA-256 ${b}: ${a === b ? 'identical to ada\'s original' : 'DIFFERENT from the original'})`);
  process.exitCode = a === b ? 0 : 1;
} finally {
  await service.stop();
  rmSync(folder, { recursive: true, force: true });
}
