import assert from 'node:assert/strict';
import { randomBytes } from 'node:crypto';
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { after, before, describe, test } from 'node:test';
import Database from 'better-sqlite3';
import { BAD_CAPSULE, BAD_CONTEXT, BAD_KORVO_NUMBER, NOT_OWNER, NO_SUCH_KORVO, SIZE_MISMATCH, UNRECORDED_LOCK } from '../src/korvos.mjs';
import { CAPSULE_BYTES, MAX_CONTEXT_BYTES, openCapsule, sealCapsule } from '../src/korvoCrypto.mjs';
import { JOB_FINISHED, NO_SUCH_JOB, byteLimitReached, periodOf } from '../src/usage.mjs';
import { atOffset, call, createAccount, createKorvo, startTestService } from './support/harness.mjs';

const vector = JSON.parse(readFileSync(new URL('./vectors/capsule.json', import.meta.url), 'utf8'));
const b64 = (text) => Buffer.from(text, 'base64');
const GIB = 2 ** 30;

// (The sending side is the bridge's: its capsule test checks it against the same vector.)
test('the vector\'s capsule opens to its file key, and only for the same number, context and capsule', () => {
  const [publicKey, context, capsule] = [vector.publicKey, vector.contextBase64, vector.capsule].map(b64);
  const privateMaterial = Buffer.from(vector.kemSeedHex + vector.x25519PrivateHex, 'hex');
  const open = (changes) => openCapsule({ privateMaterial, publicKey, secretId: vector.secretId, capsule, context, ...changes }).toString('base64');
  const flipped = Buffer.from(capsule);
  flipped[10] ^= 1;
  const changes = [{}, { secretId: vector.secretId + 1 }, { context: Buffer.from('another context') }, { capsule: flipped }];
  assert.deepEqual(changes.map((change) => open(change) === vector.fileKey), [true, false, false, false]);
});

describe('Korvos and usage through the service', () => {
  let service;
  let alice;
  let bob;
  before(async () => {
    service = await startTestService();
    alice = await createAccount(service, 'alice@example.com');
    bob = await createAccount(service, 'bob@example.com');
  });
  after(async () => { await service.stop(); });

  const publicKeyOf = (account, n) => call(service, 'GET', `/v1/korvos/${n}/public-key`, undefined, { device: account.device });
  const openAs = (account, n, body) => call(service, 'POST', `/v1/korvos/${n}/capsule/open`, body, { device: account.device });
  const usageOf = async (account) => (await call(service, 'GET', '/v1/usage', undefined, { device: account.device })).json;
  const complete = (account, jobId) => call(service, 'POST', `/v1/usage/jobs/${jobId}/complete`, {}, { device: account.device });
  // Records a lock and, unless `finish` is false, reports it written as the bridge does.
  const protect = async (account, bytes, secretId, capsule = randomBytes(CAPSULE_BYTES), context = undefined, finish = true) => {
    const recorded = await call(service, 'POST', '/v1/usage/jobs',
      { kind: 'encrypt', secretId, bytes, capsule: capsule.toString('base64'), context: context?.toString('base64') }, { device: account.device });
    if (finish && recorded.status === 201) assert.equal((await complete(account, recorded.json.jobId)).status, 200);
    return recorded;
  };
  // An opening that the bridge reports done when the key was given; the opening's answer.
  const openDone = async (account, n, body) => {
    const opened = await openAs(account, n, body);
    if (opened.status === 200) assert.equal((await complete(account, opened.json.jobId)).status, 200);
    return opened;
  };
  // A capsule for Korvo `n` whose lock Bob records (unless `record` is false) for a file of `bytes`.
  const sealFor = async (n, { context, bytes = 10, record = true, finish = true } = {}) => {
    const { capsule, fileKey } = sealCapsule({ publicKey: b64((await publicKeyOf(bob, n)).json.publicKey), secretId: n, context });
    if (record) assert.equal((await protect(bob, bytes, n, capsule, context, finish)).status, 201);
    return { capsule: capsule.toString('base64'), raw: capsule, fileKey: fileKey.toString('base64') };
  };

  test('numbers are global, lists hold only the owner\'s Korvos, public keys are served to anyone', async () => {
    const a1 = await createKorvo(service, alice);
    const b1 = await createKorvo(service, bob);
    const a2 = await createKorvo(service, alice);
    assert.deepEqual([b1 - a1, a2 - b1], [1, 1]);
    const { secrets } = (await call(service, 'GET', '/v1/korvos', undefined, { device: alice.device })).json;
    assert.deepEqual(secrets.map((s) => [s.secretId, s.ownerPrincipalId, s.isSyncing]), [[a1, alice.principalId, 0], [a2, alice.principalId, 0]]);
    const key = await publicKeyOf(bob, a1);
    assert.deepEqual([key.status, key.json.secretId, key.json.chainId, b64(key.json.publicKey).length], [200, a1, 1, 1216]);
    assert.notEqual((await publicKeyOf(bob, a2)).json.publicKey, key.json.publicKey);
    for (const [n, status, sentence] of [[999999, 404, NO_SUCH_KORVO], [2 ** 53 - 1, 404, NO_SUCH_KORVO], [0, 400, BAD_KORVO_NUMBER],
      ['abc', 400, BAD_KORVO_NUMBER], ['1.5', 400, BAD_KORVO_NUMBER], [2 ** 53, 400, BAD_KORVO_NUMBER]]) {
      assert.deepEqual(Object.values(await publicKeyOf(alice, n)).slice(0, 2), [status, { error: sentence }], String(n));
    }
  });

  test('a capsule opens for the Korvo\'s owner only, once its lock was finished, at the size found in the file; charged when done, refusals cost nothing', async () => {
    const n = await createKorvo(service, alice);
    const context = Buffer.from('header bytes');
    const { capsule, raw, fileKey } = await sealFor(n, { context, bytes: 1000 });
    const body = { capsule, context: context.toString('base64'), bytes: 1000 };
    const refused = await openAs(bob, n, body);
    assert.deepEqual([refused.status, refused.json.error, refused.json.fileKey], [403, NOT_OWNER, undefined]);
    assert.equal((await usageOf(bob)).decryption.count, 0, 'a refused opening is not metered');

    const before = (await usageOf(alice)).decryption;
    const lowOrder = Buffer.concat([raw.subarray(0, 1088), Buffer.alloc(32)]);
    assert.deepEqual([(await protect(bob, 5, n, lowOrder)).status, (await protect(bob, 5, n, lowOrder)).status], [201, 409], 'a lock is recorded once');
    const unrecorded = [UNRECORDED_LOCK, 'unrecorded-lock'];
    const damaged = [
      [{ capsule: raw.subarray(0, CAPSULE_BYTES - 1).toString('base64') }, [BAD_CAPSULE]],
      [{ capsule: `${capsule.slice(0, -4)}!!!!` }, [BAD_CAPSULE]],
      [{ capsule: lowOrder.toString('base64'), bytes: 5 }, [BAD_CAPSULE]], // recorded, but its X25519 point is of low order
      [{ capsule: randomBytes(CAPSULE_BYTES).toString('base64') }, unrecorded], // made for another Korvo, or its lock not reported
      [{ capsule: (await sealFor(n, { finish: false })).capsule, bytes: 10 }, unrecorded], // its locker never reported the file written
      [{ capsule }, unrecorded], // the context belongs to the lock
      [{ capsule, context: Buffer.alloc(MAX_CONTEXT_BYTES + 1).toString('base64') }, [BAD_CONTEXT]],
      [{ capsule, context: 'not base64!' }, [BAD_CONTEXT]],
      // The locker's size is not the file's: whoever recorded it, the opener is not charged it.
      [{ ...body, bytes: 12 }, [SIZE_MISMATCH, 'size-mismatch']],
      ...[undefined, -1, 1.5, '10', 2 ** 53].map((bytes) => [{ ...body, bytes }, []]),
    ];
    for (const [change, [sentence, reason]] of damaged) {
      const res = await openAs(alice, n, change);
      assert.deepEqual([res.status, res.json.reason], [400, reason], JSON.stringify(change).slice(0, 80));
      if (sentence) assert.equal(res.json.error, sentence);
    }
    const opened = await openAs(alice, n, body);
    assert.deepEqual([opened.status, opened.json.fileKey], [200, fileKey]);
    assert.deepEqual((await usageOf(alice)).decryption, before, 'nothing is charged before the bridge reports the file opened');
    for (const [who, jobId, status, sentence] of [[bob, opened.json.jobId, 404, NO_SUCH_JOB], [alice, `job-${'0'.repeat(24)}`, 404, NO_SUCH_JOB],
      [alice, opened.json.jobId, 200], [alice, opened.json.jobId, 409, JOB_FINISHED]]) {
      const res = await complete(who, jobId);
      assert.deepEqual([res.status, res.json.error], [status, sentence], `${status}`);
    }
    const charged = (await usageOf(alice)).decryption;
    assert.deepEqual([charged.used - before.used, charged.count - before.count], [1000, 1], 'charged once, at its size');
    const wide = Buffer.alloc(MAX_CONTEXT_BYTES);
    assert.equal((await openDone(alice, n, { capsule: (await sealFor(n, { context: wide })).capsule, context: wide.toString('base64'), bytes: 10 })).status, 200);

    // Korvos made before locks were recorded keep opening unrecorded capsules, metered as sent.
    const legacy = await createKorvo(service, alice);
    new Database(join(service.dataDir, 'halvane.db')).prepare('UPDATE korvos SET recorded_locks = 0 WHERE secret_id = ?').run(legacy);
    assert.equal((await openDone(alice, legacy, { capsule: (await sealFor(legacy, { record: false })).capsule, bytes: 7 })).status, 200);
    assert.equal((await usageOf(alice)).decryption.used - charged.used, 10 + 7);
  });

  test('the free plan: up to exactly 3 GiB protected and 2 GiB opened, one byte beyond refused and changing nothing', async () => {
    const carol = await createAccount(service, 'carol@example.com');
    const dave = await createAccount(service, 'dave@example.com');
    const korvo = await createKorvo(service, carol);
    const fresh = await usageOf(carol);
    const period = periodOf(service.clock.now());
    assert.deepEqual([fresh.userId, fresh.periodStart, fresh.periodEnd], [carol.principalId, period.start.toISOString(), period.end.toISOString()]);
    assert.deepEqual(fresh.encryption, { limit: 3 * GIB, used: 0, remaining: 3 * GIB, count: 0, requestLimit: 10000, rateLimit: 0, limitGB: 3, usedGB: 0, remainingGB: 3 });
    assert.equal(fresh.decryption.limit, 2 * GIB);

    assert.equal((await protect(carol, 3 * GIB - 1, korvo)).status, 201);
    assert.equal((await protect(carol, 1, korvo)).status, 201);
    const beyond = await protect(carol, 1, korvo);
    assert.deepEqual([beyond.status, beyond.json.error], [403, byteLimitReached('encrypt', period.end)]);
    assert.equal((await protect(carol, 0, korvo)).status, 201, 'an empty file still fits');
    const full = (await usageOf(carol)).encryption;
    assert.deepEqual([full.used, full.count], [3 * GIB, 3]);

    assert.equal((await openDone(carol, korvo, { capsule: (await sealFor(korvo, { bytes: 2 * GIB })).capsule, bytes: 2 * GIB })).status, 200, 'opening has its own allowance');
    const closed = await openAs(carol, korvo, { capsule: (await sealFor(korvo, { bytes: 1 })).capsule, bytes: 1 });
    assert.deepEqual([closed.status, closed.json.error, closed.json.fileKey], [403, byteLimitReached('decrypt', period.end), undefined]);
    const opened = (await usageOf(carol)).decryption;
    assert.deepEqual([opened.used, opened.count, opened.remainingGB], [2 * GIB, 1, 0]);

    assert.equal((await protect(dave, 5 * 1024 ** 2, korvo)).status, 201, 'for another person\'s Korvo, metered to the sender');
    const missing = await protect(dave, 1, 999999);
    assert.deepEqual([missing.status, missing.json.error], [404, NO_SUCH_KORVO]);
    // Jobs that fit when they start are checked again when they are charged.
    const started = [await protect(dave, 2 * GIB, korvo, undefined, undefined, false), await protect(dave, 2 * GIB, korvo, undefined, undefined, false)];
    assert.deepEqual([(await usageOf(dave)).encryption.used, ...started.map((r) => r.status)], [5 * 1024 ** 2, 201, 201], 'unfinished jobs cost nothing');
    assert.deepEqual([(await complete(dave, started[0].json.jobId)).status, (await complete(dave, started[1].json.jobId)).json.error],
      [200, byteLimitReached('encrypt', period.end)]);
    const sent = (await usageOf(dave)).encryption;
    assert.deepEqual([sent.used, sent.count], [5 * 1024 ** 2 + 2 * GIB, 2]);

    await atOffset(service, period.end.getTime() - Date.now() + 3600e3, async () => {
      const next = await usageOf(carol);
      assert.deepEqual([next.periodStart, next.encryption.used, next.encryption.count, next.decryption.used], [period.end.toISOString(), 0, 0, 0]);
      assert.equal((await protect(carol, 3 * GIB, korvo)).status, 201, 'a new month starts from zero');
    });
    assert.equal((await usageOf(carol)).encryption.count, 3, 'the earlier month keeps its figures');
  });
});
