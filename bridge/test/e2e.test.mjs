// Account and file commands through the real bridge process against the reference service. Every
// answer that passes is already checked field by field against its record by the bridge itself.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { randomBytes } from 'node:crypto';
import { appendFile, chmod, readFile, readdir, stat, truncate, writeFile } from 'node:fs/promises';
import { join } from 'node:path';
import { temporaryFolder, whenPartial } from './support/bridge.mjs';
import { serviceAvailable, signUp, startService } from './support/service.mjs';

const keyOf = (a) => ({ principalId: a.principalId, ed25519PrivateKeyHex: a.ed25519PrivateKeyHex });
const DAMAGED = 'This file was changed or is incomplete, so it cannot be opened.';
const mode = async (path) => (await stat(path)).mode & 0o7777;
const STOPPED = /^The bridge was stopped before it finished\.$/;

describe('the bridge against the service', { skip: !serviceAvailable && 'service not installed' }, () => {
  let service;
  let run;
  let alice;
  let bob;
  before(async () => {
    service = await startService();
    run = async (request) => (await service.bridge(request)).envelope;
    alice = await signUp(service, 'Alice@Example.test');
    bob = await signUp(service, 'bob@example.test');
  });
  after(async () => { await service?.stop(); });
  const file = (command, who, secretId, filePath, outputPath) => service.bridge({ command, ...keyOf(who), secretId, filePath, outputPath });
  const usage = async (who) => (await run({ command: 'dataConsumption', ...keyOf(who) })).result;

  test('sign-up to first Korvo and usage, with the records the application decodes; concurrent runs never share a nonce', async () => {
    for (const listed of await Promise.all([1, 2, 3].map(() => run({ command: 'listSecrets', ...keyOf(alice) })))) {
      assert.deepEqual(listed.result.secrets.map((k) => [k.secretId, k.ownerPrincipalId]), [[alice.secretId, alice.principalId]]);
    }
    assert.equal(Buffer.from((await run({ command: 'getSecretPublicKey', ...keyOf(bob), secretId: alice.secretId })).result.publicKey, 'base64').length, 1216);
    assert.deepEqual(await run({ command: 'verifyCredentials', email: 'alice@example.test', password: 'not it' }), { ok: true, result: { valid: false, principalId: '' } });
  });

  // Rotation, resets and deletion are the service's own tests; here, what the bridge sends and says.
  test('a pending key is told to confirm; a reset signed with this key keeps it; unknown and deleted keys are named', async () => {
    const account = await signUp(service, 'rotate@example.test');
    const newKey = (await run({ command: 'generateKey' })).result.privateKeyHex;
    await run({ command: 'rotateKey', email: account.email, password: account.password, ed25519PrivateKeyHex: newKey });
    const pending = (await run({ command: 'createSession', principalId: account.principalId, ed25519PrivateKeyHex: newKey })).error;
    assert.deepEqual([/confirm/i.test(pending), /ed25519PrivateKeyHex/.test(pending)], [true, false], 'a pending key is not an unusable one');
    await run({ command: 'forgotPassword', email: account.email });
    const newPassword = 'a new horse battery';
    assert.ok((await run({ command: 'resetPassword', email: account.email, otp: service.latestMail(account.email).code, newPassword, ...keyOf(account) })).ok);
    assert.ok((await run({ command: 'listSecrets', ...keyOf(account) })).ok);
    await run({ command: 'requestAccountDeletion', email: account.email, principalId: account.principalId, password: newPassword });
    // The application sends a code typed in any script's digits, here full-width, trimmed.
    const otp = [...service.latestMail(account.email).code].map((d) => String.fromCodePoint(0xff10 + Number(d))).join('');
    assert.equal((await run({ command: 'confirmAccountDeletion', email: account.email, otp: ` ${otp}\n` })).result?.success, true);
    // Named so that the application asks the user to restore private access on this computer.
    assert.match((await run({ command: 'listSecrets', ...keyOf(account) })).error, /ed25519PrivateKeyHex/);
  });

  test('a file locked for another account\'s Korvo is opened by that account only, and only unchanged; its contents stay here', async (t) => {
    const dir = temporaryFolder(t);
    const plain = Buffer.concat([Buffer.from('KORVO-MARKER-'), randomBytes(5 * 1024 * 1024 + 3)]);
    const [input, sealed] = [join(dir, 'report.pdf'), join(dir, 'report.pdf.korvo')];
    await writeFile(input, plain);
    const before = (await usage(alice)).encryption.used;
    const locked = await file('encryptFile', alice, bob.secretId, input, sealed);
    const { status, resultFileName, outputPath } = locked.envelope.result ?? {};
    assert.deepEqual([locked.status, status, resultFileName, outputPath], [0, 'completed', 'report.pdf.korvo', sealed], locked.envelope.error);
    assert.equal((await readFile(sealed)).indexOf('KORVO-MARKER-'), -1, 'the locked file holds no plaintext');
    assert.equal((await usage(alice)).encryption.used - before, plain.length, 'the job is metered at its size');
    // Progress goes to standard error, a line at most every 100 ms and the whole input at the end.
    // Its temporary file is named first, so that the application can remove it after a kill.
    assert.match(locked.stderr, new RegExp(`^unfinished [0-9a-f]{12}\n(progress \\d+ ${plain.length}\n)*progress ${plain.length} ${plain.length}\n$`));

    assert.match((await file('decryptFile', alice, alice.secretId, sealed, join(dir, 'by-alice.pdf'))).envelope.error, /owner/i);
    await writeFile(join(dir, 'by-bob.pdf'), 'to be replaced', { mode: 0o600 });
    assert.equal((await file('decryptFile', bob, bob.secretId, sealed, join(dir, 'by-bob.pdf'))).status, 0);
    assert.ok((await readFile(join(dir, 'by-bob.pdf'))).equals(plain));
    assert.deepEqual([await mode(sealed), await mode(join(dir, 'by-bob.pdf'))], [0o644 & ~process.umask(), 0o600], 'a replaced file keeps its mode');
    assert.equal((await usage(bob)).decryption.used, plain.length);
    // Opened contents are owner-only unless they replace a file, which keeps its mode but never
    // the set-user-ID and set-group-ID bits.
    await writeFile(join(dir, 'tool'), 'to be replaced');
    await chmod(join(dir, 'tool'), 0o6755);
    for (const name of ['fresh.pdf', 'tool']) assert.equal((await file('decryptFile', bob, bob.secretId, sealed, join(dir, name))).status, 0, name);
    assert.deepEqual([await mode(join(dir, 'fresh.pdf')), await mode(join(dir, 'tool'))], [0o600, 0o755]);
    assert.deepEqual((await readdir(dir)).sort(), ['by-bob.pdf', 'fresh.pdf', 'report.pdf', 'report.pdf.korvo', 'tool'], 'no temporary files remain');
    for (const name of await readdir(service.data, { recursive: true })) {
      const bytes = await readFile(join(service.data, name)).catch(() => Buffer.alloc(0));
      assert.equal(bytes.indexOf('KORVO-MARKER-'), -1, `${name} holds no file contents`);
    }

    // The Korvo a file was locked for decides, not the one selected; an empty file.
    const second = (await run({ command: 'createSecret', ...keyOf(bob) })).result.secretId;
    await writeFile(join(dir, 'a.txt'), '', { mode: 0o600 });
    await writeFile(join(dir, 'a.out'), 'replaced only on success');
    assert.equal((await file('encryptFile', alice, second, join(dir, 'a.txt'), join(dir, 'a.txt.korvo'))).status, 0);
    assert.equal(await mode(join(dir, 'a.txt.korvo')), 0o600, 'a private input gives a private output');
    assert.equal((await file('decryptFile', bob, bob.secretId, join(dir, 'a.txt.korvo'), join(dir, 'a.out'))).status, 0);
    assert.equal((await readFile(join(dir, 'a.out'))).length, 0);

    // A changed or cut file is refused with one sentence, costs nothing and writes nothing.
    const original = await readFile(sealed);
    const flip = (at) => (b) => { b[at < 0 ? b.length + at : at] ^= 4; return b; };
    const variants = [
      ['a flipped bit in the last chunk', flip(-20), DAMAGED], ['a flipped bit in the capsule', flip(500), DAMAGED],
      ['cut at the end of the first chunk', (b) => b.subarray(0, 1150 + 1024 * 1024 + 16), DAMAGED],
      ['cut in the middle', (b) => b.subarray(0, 3 * 1024 * 1024), DAMAGED],
      ['not a locked file', () => randomBytes(5000), 'This file is not a Korvo account file.'],
    ];
    const [opened, files] = [(await usage(bob)).decryption, [...await readdir(dir), 'bad.korvo'].sort()];
    for (const [what, change, sentence] of variants) {
      await writeFile(join(dir, 'bad.korvo'), change(Buffer.from(original)));
      const { status, envelope } = await file('decryptFile', bob, bob.secretId, join(dir, 'bad.korvo'), join(dir, 'by-bob.pdf'));
      assert.deepEqual([status, envelope.error, (await readFile(join(dir, 'by-bob.pdf'))).equals(plain)], [1, sentence, true], what);
      assert.deepEqual((await readdir(dir)).sort(), files, what);
    }
    assert.deepEqual((await usage(bob)).decryption, opened, 'a damaged file costs nothing');
  });

  test('a lock that is stopped, loses its reader, is beyond the month\'s limit or whose file is written to meanwhile costs nothing and leaves nothing', async (t) => {
    const dir = temporaryFolder(t);
    const dave = await signUp(service, 'dave@example.test');
    await writeFile(join(dir, 'in'), randomBytes(64 * 1024 * 1024));
    await writeFile(join(dir, 'huge'), '');
    await truncate(join(dir, 'huge'), 3 * 2 ** 30 + 1); // sparse: refused before a byte of it is read
    const grow = (child) => { child.kill('SIGSTOP'); return appendFile(join(dir, 'in'), randomBytes(20 * 1024 * 1024)).then(() => child.kill('SIGCONT')); };
    const cases = [
      ['stopped mid-file', 143, STOPPED, { started: whenPartial(dir, 4 * 1024 * 1024, (child) => child.kill('SIGTERM')) }],
      // Progress written to a closed pipe fails; the bridge ends as if stopped.
      ['standard error closed', 141, STOPPED, { started: (child) => child.stderr.destroy() }],
      ['beyond the limit', 1, /^This month's free allowance for protecting files .* would be exceeded/, {}, 'huge'],
      ['the input grows once the lock is recorded', 1, /^The selected file changed while it was being locked; try again once it is saved\.$/, { started: whenPartial(dir, 0, grow) }],
    ];
    for (const [what, status, sentence, options, input = 'in'] of cases) {
      const ran = await service.bridge({ command: 'encryptFile', ...keyOf(dave), secretId: dave.secretId, filePath: join(dir, input), outputPath: join(dir, 'in.korvo') }, options);
      assert.deepEqual([ran.status, sentence.test(ran.envelope?.error)], [status, true], `${what}: ${ran.envelope?.error}`);
      assert.deepEqual((await readdir(dir)).sort(), ['huge', 'in'], what);
    }
    assert.deepEqual([(await usage(dave)).encryption.used, (await usage(dave)).encryption.count], [0, 0]);
  });
});
