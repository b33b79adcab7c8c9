import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { NO_SUCH_KORVO } from '../src/korvos.mjs';
import { sealCapsule } from '../src/korvoCrypto.mjs';
import { byteLimitReached, periodOf } from '../src/usage.mjs';
import { call, createAccount, createKorvo, startTestService } from './support/harness.mjs';

const GIB = 2 ** 30;

describe('calendar periods', () => {
  test('months run from the first instant of a UTC month to the first of the next', () => {
    const cases = [
      ['2025-03-01T00:00:00.000Z', '2025-03', '2025-04-01T00:00:00.000Z'],
      ['2025-02-28T23:59:59.999Z', '2025-02', '2025-03-01T00:00:00.000Z'],
      ['2024-02-29T12:00:00.000Z', '2024-02', '2024-03-01T00:00:00.000Z'],
      ['2025-12-31T23:59:59.999Z', '2025-12', '2026-01-01T00:00:00.000Z'],
    ];
    for (const [instant, key, end] of cases) {
      const period = periodOf(Date.parse(instant));
      assert.equal(period.key, key, instant);
      assert.equal(period.end.toISOString(), end, instant);
      assert.equal(period.start.toISOString(), `${key}-01T00:00:00.000Z`);
    }
  });
});

describe('metering through the service', () => {
  let service;
  let alice;
  let bob;
  let korvo;
  before(async () => {
    service = await startTestService();
    alice = await createAccount(service, 'meter-alice@example.com');
    bob = await createAccount(service, 'meter-bob@example.com');
    korvo = await createKorvo(service, alice);
  });
  after(async () => { await service.stop(); });

  const usageOf = async (account) => (await call(service, 'GET', '/v1/usage', undefined, { device: account.device })).json;
  const protect = (account, bytes, secretId = korvo) => call(service, 'POST', '/v1/usage/jobs', { kind: 'encrypt', secretId, bytes }, { device: account.device });
  const open = async (account, bytes) => {
    const key = await call(service, 'GET', `/v1/korvos/${korvo}/public-key`, undefined, { device: account.device });
    const { capsule } = sealCapsule({ publicKey: Buffer.from(key.json.publicKey, 'base64'), secretId: korvo });
    return call(service, 'POST', `/v1/korvos/${korvo}/capsule/open`, { capsule: capsule.toString('base64'), bytes }, { device: account.device });
  };

  test('a fresh account sees the whole free plan for the current month', async () => {
    const figures = await usageOf(alice);
    const period = periodOf(service.clock.now());
    assert.deepEqual(Object.keys(figures).sort(), ['cycleType', 'decryption', 'encryption', 'periodEnd', 'periodStart', 'planId', 'userId', 'userType']);
    assert.equal(figures.userId, alice.principalId);
    assert.equal(figures.periodStart, period.start.toISOString());
    assert.equal(figures.periodEnd, period.end.toISOString());
    assert.deepEqual(figures.encryption, {
      limit: 3 * GIB, used: 0, remaining: 3 * GIB, count: 0, requestLimit: 10000, rateLimit: 0, limitGB: 3, usedGB: 0, remainingGB: 3,
    });
    assert.equal(figures.decryption.limit, 2 * GIB);
  });

  test('protection is allowed up to exactly 3 GiB and refused one byte beyond, changing nothing', async () => {
    assert.equal((await protect(alice, 3 * GIB - 1)).status, 201);
    assert.equal((await protect(alice, 1)).status, 201);
    const full = await usageOf(alice);
    assert.deepEqual([full.encryption.used, full.encryption.remaining, full.encryption.count], [3 * GIB, 0, 2]);
    const beyond = await protect(alice, 1);
    assert.equal(beyond.status, 403);
    assert.equal(beyond.json.error, byteLimitReached('encrypt', periodOf(service.clock.now()).end));
    assert.equal((await protect(alice, 0)).status, 201, 'an empty file still fits');
    const after = await usageOf(alice);
    assert.deepEqual([after.encryption.used, after.encryption.count], [3 * GIB, 3]);
    assert.equal(after.decryption.used, 0, 'opening has its own allowance');
    assert.equal((await usageOf(bob)).encryption.used, 0, 'and every account its own');
  });

  test('opening is allowed up to exactly 2 GiB; beyond, the capsule stays closed', async () => {
    assert.equal((await open(alice, 2 * GIB)).status, 200);
    const beyond = await open(alice, 1);
    assert.equal(beyond.status, 403);
    assert.equal(beyond.json.fileKey, undefined);
    assert.equal(beyond.json.error, byteLimitReached('decrypt', periodOf(service.clock.now()).end));
    const figures = await usageOf(alice);
    assert.deepEqual([figures.decryption.used, figures.decryption.count, figures.decryption.remainingGB], [2 * GIB, 1, 0]);
  });

  test('protecting for another person\'s Korvo is metered to the sender; unknown Korvos are refused', async () => {
    assert.equal((await protect(bob, 5 * 1024 ** 2, korvo)).status, 201);
    assert.equal((await usageOf(bob)).encryption.used, 5 * 1024 ** 2);
    const missing = await protect(bob, 1, 999999);
    assert.deepEqual([missing.status, missing.json.error], [404, NO_SUCH_KORVO]);
    assert.equal((await protect(bob, 3 * GIB)).status, 403, 'one job larger than what is left');
    assert.equal((await usageOf(bob)).encryption.count, 1);
  });

  test('a new month starts from zero', async () => {
    const period = periodOf(service.clock.now());
    service.clock.offsetMs = period.end.getTime() - Date.now() + 3600e3;
    try {
      const figures = await usageOf(alice);
      assert.equal(figures.periodStart, period.end.toISOString());
      assert.deepEqual([figures.encryption.used, figures.encryption.count, figures.decryption.used], [0, 0, 0]);
      assert.equal((await protect(alice, 3 * GIB)).status, 201);
    } finally {
      service.clock.offsetMs = 0;
    }
    assert.equal((await usageOf(alice)).encryption.count, 3, 'the earlier month keeps its figures');
  });
});
