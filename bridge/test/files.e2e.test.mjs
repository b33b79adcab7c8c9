// Locking and opening files through the real bridge process against the reference service:
// own and another account's Korvo, owners only, damaged files, monthly limits, trust.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { randomBytes } from 'node:crypto';
import { readFile, readdir, truncate, writeFile } from 'node:fs/promises';
import { join } from 'node:path';
import { temporaryFolder } from './support/bridge.mjs';
import { serviceAvailable, signUp, startService } from './support/service.mjs';

const identityOf = (a) => ({ principalId: a.principalId, ed25519PrivateKeyHex: a.ed25519PrivateKeyHex });
const GiB = 2 ** 30;

describe('file commands against the service', { skip: !serviceAvailable && 'service not installed' }, () => {
  let service;
  let alice;
  let bob;
  before(async () => {
    service = await startService();
    alice = await signUp(service, 'alice@example.test');
    bob = await signUp(service, 'bob@example.test');
  });
  after(async () => { await service?.stop(); });

  const lock = (who, secretId, filePath, outputPath) =>
    service.bridge({ command: 'encryptFile', ...identityOf(who), secretId, filePath, outputPath });
  const unlock = (who, secretId, filePath, outputPath) =>
    service.bridge({ command: 'decryptFile', ...identityOf(who), secretId, filePath, outputPath });
  const usage = async (who) => (await service.bridge({ command: 'dataConsumption', ...identityOf(who) })).envelope.result;

  test('a file locked for another account is opened by that account only, and leaves the contents here', async (t) => {
    const dir = temporaryFolder(t);
    const plain = Buffer.concat([Buffer.from('KORVO-MARKER-'), randomBytes(5 * 1024 * 1024 + 3)]);
    const input = join(dir, 'report.pdf');
    await writeFile(input, plain);
    const before = await usage(alice);

    const locked = await lock(alice, bob.secretId, input, join(dir, 'report.pdf.korvo'));
    assert.equal(locked.status, 0, locked.envelope?.error);
    assert.equal(locked.envelope.result.status, 'completed');
    assert.equal(locked.envelope.result.resultFileName, 'report.pdf.korvo');
    assert.equal(locked.envelope.result.outputPath, join(dir, 'report.pdf.korvo'));
    assert.match(locked.envelope.result.jobId, /\S/);
    const sealed = await readFile(join(dir, 'report.pdf.korvo'));
    assert.equal(sealed.indexOf('KORVO-MARKER-'), -1, 'the locked file holds no plaintext');
    assert.equal((await usage(alice)).encryption.used - before.encryption.used, plain.length, 'the job is metered at its size');

    const refused = await unlock(alice, alice.secretId, join(dir, 'report.pdf.korvo'), join(dir, 'by-alice.pdf'));
    assert.equal(refused.status, 1);
    assert.match(refused.envelope.error, /owner/i);

    const opened = await unlock(bob, bob.secretId, join(dir, 'report.pdf.korvo'), join(dir, 'by-bob.pdf'));
    assert.equal(opened.status, 0, opened.envelope?.error);
    assert.equal(opened.envelope.result.resultFileName, 'by-bob.pdf');
    assert.ok((await readFile(join(dir, 'by-bob.pdf'))).equals(plain));
    assert.equal((await usage(bob)).decryption.used, plain.length);
    assert.deepEqual((await readdir(dir)).sort(), ['by-bob.pdf', 'report.pdf', 'report.pdf.korvo'], 'no temporary files remain');

    for (const name of await readdir(service.data, { recursive: true })) {
      const bytes = await readFile(join(service.data, name)).catch(() => Buffer.alloc(0));
      assert.equal(bytes.indexOf('KORVO-MARKER-'), -1, `${name} holds no file contents`);
    }
  });

  test('the Korvo a file was locked for decides, not the one selected; empty files and missing Korvos', async (t) => {
    const dir = temporaryFolder(t);
    const { envelope: second } = await service.bridge({ command: 'createSecret', ...identityOf(bob) });
    await writeFile(join(dir, 'a.txt'), '');
    await writeFile(join(dir, 'a.out'), 'replaced only on success');
    assert.equal((await lock(alice, second.result.secretId, join(dir, 'a.txt'), join(dir, 'a.txt.korvo'))).status, 0);
    const opened = await unlock(bob, bob.secretId, join(dir, 'a.txt.korvo'), join(dir, 'a.out'));
    assert.equal(opened.status, 0, opened.envelope?.error);
    assert.equal((await readFile(join(dir, 'a.out'))).length, 0);
    const missing = await lock(alice, 987654, join(dir, 'a.txt'), join(dir, 'none.korvo'));
    assert.equal(missing.status, 1);
    assert.deepEqual((await readdir(dir)).sort(), ['a.out', 'a.txt', 'a.txt.korvo']);
  });

  test('a changed or cut file is refused with one sentence and nothing is written', async (t) => {
    const dir = temporaryFolder(t);
    await writeFile(join(dir, 'doc'), randomBytes(9 * 1024 * 1024));
    assert.equal((await lock(alice, alice.secretId, join(dir, 'doc'), join(dir, 'doc.korvo'))).status, 0);
    const original = await readFile(join(dir, 'doc.korvo'));
    await writeFile(join(dir, 'out'), 'previous contents');
    const variants = {
      'a flipped bit in the last chunk': (b) => { b[b.length - 100] ^= 4; return b; },
      'a flipped bit in the capsule': (b) => { b[500] ^= 4; return b; },
      'cut at the end of the first chunk': (b) => b.subarray(0, 1150 + 1024 * 1024 + 16),
      'cut in the middle': (b) => b.subarray(0, 5 * 1024 * 1024),
    };
    for (const [what, change] of Object.entries(variants)) {
      await writeFile(join(dir, 'bad.korvo'), change(Buffer.from(original)));
      const { status, envelope } = await unlock(alice, alice.secretId, join(dir, 'bad.korvo'), join(dir, 'out'));
      assert.equal(status, 1, what);
      assert.equal(envelope.error, 'This file was changed or is incomplete, so it cannot be opened.', what);
      assert.equal(await readFile(join(dir, 'out'), 'utf8'), 'previous contents', what);
      assert.deepEqual((await readdir(dir)).sort(), ['bad.korvo', 'doc', 'doc.korvo', 'out'], what);
    }
    const plainFile = await unlock(alice, alice.secretId, join(dir, 'doc'), join(dir, 'out'));
    assert.equal(plainFile.envelope.error, 'This file is not a Korvo account file.');
  });

  test('the monthly limits refuse a job with the service sentence, before anything is written', async (t) => {
    const dir = temporaryFolder(t);
    const carol = await signUp(service, 'carol@example.test');
    await writeFile(join(dir, 'small'), 'x');
    assert.equal((await lock(carol, carol.secretId, join(dir, 'small'), join(dir, 'small.korvo'))).status, 0);
    // Sparse files: the refusal comes before a byte of them is read.
    await writeFile(join(dir, 'huge'), '');
    await truncate(join(dir, 'huge'), 3 * GiB);
    const tooMuch = await lock(carol, carol.secretId, join(dir, 'huge'), join(dir, 'huge.korvo'));
    assert.equal(tooMuch.status, 1);
    assert.match(tooMuch.envelope.error, /limit|month/i);

    const header = (await readFile(join(dir, 'small.korvo'))).subarray(0, 1150);
    await writeFile(join(dir, 'huge-open.korvo'), header);
    await truncate(join(dir, 'huge-open.korvo'), 1150 + 2048 * (1024 * 1024 + 16) + 17);
    const tooMuchOpened = await unlock(carol, carol.secretId, join(dir, 'huge-open.korvo'), join(dir, 'huge-open'));
    assert.equal(tooMuchOpened.status, 1);
    assert.match(tooMuchOpened.envelope.error, /limit|month/i);

    const figures = await usage(carol);
    assert.equal(figures.encryption.used, 1);
    assert.equal(figures.decryption.used, 0);
    assert.deepEqual((await readdir(dir)).sort(), ['huge', 'huge-open.korvo', 'small', 'small.korvo']);
  });

  test('a service whose certificate is not trusted is refused, not reported as unreachable', async (t) => {
    const other = await startService();
    t.after(() => other.stop());
    const { status, envelope } = await service.bridge({ command: 'resendOtp', email: 'a@b.c' }, { env: { KORVO_TRUSTED_CA: other.ca } });
    assert.equal(status, 1);
    assert.equal(envelope.error, 'The Korvo service could not prove its identity, so the bridge did not talk to it.');
  });
});
