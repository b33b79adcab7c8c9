import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { UNVERIFIED, WRONG_CREDENTIALS } from '../src/accounts.mjs';
import { ACCOUNT_HAS_KEY, CONFIRM_LINK_LIFETIME_MS, KEY_TAKEN, PENDING_KEY, UNKNOWN_KEY, sessionAddress } from '../src/devices.mjs';
import { BAD_SIGNATURE, NOT_SIGNED, REPLAYED_REQUEST, STALE_REQUEST, signatureHeaders } from '../src/signing.mjs';
import { PASSWORD, call, createAccount, latestCode, latestLink, newDevice, startTestService } from './support/harness.mjs';

let service;
before(async () => { service = await startTestService(); });
after(async () => { await service.stop(); });

// The same hex text with its first digit changed.
const flipFirst = (hex) => (hex[0] === 'f' ? 'e' : 'f') + hex.slice(1);
const session = (device, options = {}) => call(service, 'POST', '/v1/sessions', {}, { device, ...options });

describe('signed requests', () => {
  test('a session carries an address derived from the device key and a 24-hour expiry', async () => {
    const account = await createAccount(service, 'session@example.com');
    const before = Date.now();
    const res = await session(account.device);
    assert.equal(res.status, 200);
    assert.equal(res.json.principalId, account.principalId);
    assert.match(res.json.sessionAddress, /^0x[0-9a-f]{40}$/);
    assert.equal(res.json.sessionAddress, sessionAddress(account.device.publicKeyHex));
    const expires = Date.parse(res.json.expiresAt);
    assert.ok(expires >= before + 24 * 3600e3 && expires <= Date.now() + 24 * 3600e3);
  });

  test('a replayed request is refused even when its first use succeeded, and meters nothing twice', async () => {
    const account = await createAccount(service, 'replay@example.com');
    const first = await call(service, 'POST', '/v1/korvos', {}, { device: account.device, nonce: 'ab'.repeat(16) });
    assert.equal(first.status, 201);
    const replay = await call(service, 'POST', '/v1/korvos', {}, { device: account.device, nonce: 'AB'.repeat(16) });
    assert.deepEqual([replay.status, replay.json.error, replay.json.reason], [401, REPLAYED_REQUEST, 'replay']);
    const list = await call(service, 'GET', '/v1/korvos', undefined, { device: account.device });
    assert.equal(list.json.secrets.length, 1);

    // The exact same bytes sent twice.
    const body = JSON.stringify({ kind: 'encrypt', secretId: first.json.secretId, bytes: 1000 });
    const headers = signatureHeaders({ privateKeyHex: account.device.privateKeyHex, method: 'POST', target: '/v1/usage/jobs', body: Buffer.from(body), now: service.clock.now() });
    const once = await call(service, 'POST', '/v1/usage/jobs', undefined, { rawBody: body, headers });
    const twice = await call(service, 'POST', '/v1/usage/jobs', undefined, { rawBody: body, headers });
    assert.deepEqual([once.status, twice.status], [201, 401]);
    const usage = await call(service, 'GET', '/v1/usage', undefined, { device: account.device });
    assert.deepEqual([usage.json.encryption.used, usage.json.encryption.count], [1000, 1]);
  });

  test('timestamps more than five minutes off either way are refused', async () => {
    const account = await createAccount(service, 'clock@example.com');
    const now = service.clock.now();
    for (const skew of [-301e3, 301e3]) {
      const res = await session(account.device, { now: now + skew });
      assert.deepEqual([res.status, res.json.error, res.json.reason], [401, STALE_REQUEST, 'clock-skew'], String(skew));
    }
    for (const skew of [-290e3, 290e3]) assert.equal((await session(account.device, { now: now + skew })).status, 200);
    service.clock.offsetMs = 3600e3;
    try {
      assert.equal((await session(account.device, { now })).status, 401, 'judged by the service clock');
      assert.equal((await session(account.device)).status, 200);
    } finally {
      service.clock.offsetMs = 0;
    }
  });

  test('a signature covers method, target, body, timestamp and nonce', async () => {
    const account = await createAccount(service, 'tamper@example.com');
    const other = await createAccount(service, 'tamper2@example.com');
    const sign = (method, target, body) => signatureHeaders({
      privateKeyHex: account.device.privateKeyHex, method, target, body: Buffer.from(body), now: service.clock.now(),
    });
    const attempts = [
      ['POST', '/v1/sessions', '{}', (h) => h, 'POST', '/v1/korvos', '{}'],
      ['GET', '/v1/korvos', '', (h) => h, 'GET', '/v1/korvos?x=1', ''],
      ['POST', '/v1/korvos', '{}', (h) => h, 'POST', '/v1/korvos', '{ }'],
      ['GET', '/v1/usage', '', (h) => ({ ...h, 'X-Korvo-Timestamp': String(Number(h['X-Korvo-Timestamp']) + 1) }), 'GET', '/v1/usage', ''],
      ['GET', '/v1/usage', '', (h) => ({ ...h, 'X-Korvo-Nonce': flipFirst(h['X-Korvo-Nonce']) }), 'GET', '/v1/usage', ''],
      ['GET', '/v1/usage', '', (h) => ({ ...h, 'X-Korvo-Key': other.device.publicKeyHex }), 'GET', '/v1/usage', ''],
      ['GET', '/v1/usage', '', (h) => ({ ...h, 'X-Korvo-Signature': flipFirst(h['X-Korvo-Signature']) }), 'GET', '/v1/usage', ''],
    ];
    for (const [method, target, body, change, sentMethod, sentTarget, sentBody] of attempts) {
      const headers = change(sign(method, target, body));
      const res = await call(service, sentMethod, sentTarget, undefined, { rawBody: sentBody, headers });
      assert.deepEqual([res.status, res.json.error, res.json.reason], [401, BAD_SIGNATURE, 'bad-signature'], `${sentMethod} ${sentTarget} ${sentBody}`);
    }
    const honest = await call(service, 'GET', '/v1/usage', undefined, { headers: sign('GET', '/v1/usage', '') });
    assert.equal(honest.status, 200);
  });

  test('unsigned requests and unknown keys are refused', async () => {
    const account = await createAccount(service, 'headers@example.com');
    const unsigned = await call(service, 'GET', '/v1/korvos');
    assert.deepEqual([unsigned.status, unsigned.json.error, unsigned.json.reason], [401, NOT_SIGNED, 'malformed-auth']);
    const stranger = await call(service, 'GET', '/v1/korvos', undefined, { device: newDevice() });
    assert.deepEqual([stranger.status, stranger.json.error, stranger.json.reason], [401, UNKNOWN_KEY, 'unknown-key']);
    const otherPrincipal = await call(service, 'GET', '/v1/korvos', undefined, { device: account.device, headers: { 'X-Korvo-Principal': 'someone-else' } });
    assert.deepEqual([otherPrincipal.status, otherPrincipal.json.reason], [401, 'unknown-key']);
    const samePrincipal = await call(service, 'GET', '/v1/korvos', undefined, { device: account.device, headers: { 'X-Korvo-Principal': account.principalId } });
    assert.equal(samePrincipal.status, 200);
  });
});

describe('first device key', () => {
  test('binds once, needs the password, a verified e-mail and proof of the new key', async () => {
    const reg = await call(service, 'POST', '/v1/accounts/register', { email: 'first@example.com', password: PASSWORD });
    const { principalId } = reg.json;
    const device = newDevice();
    const early = await call(service, 'POST', '/v1/devices/register', { principalId, password: PASSWORD }, { device });
    assert.deepEqual([early.status, early.json.error], [403, UNVERIFIED]);
    await call(service, 'POST', '/v1/accounts/verify-email', { email: 'first@example.com', code: latestCode(service, 'first@example.com') });

    const unsigned = await call(service, 'POST', '/v1/devices/register', { principalId, password: PASSWORD });
    assert.equal(unsigned.status, 401);
    const wrong = await call(service, 'POST', '/v1/devices/register', { principalId, password: 'wrong password' }, { device });
    assert.equal(wrong.status, 401);
    const bound = await call(service, 'POST', '/v1/devices/register', { principalId, password: PASSWORD }, { device });
    assert.equal(bound.status, 201);
    assert.deepEqual(bound.json, {
      principalId, emailHex: Buffer.from('first@example.com').toString('hex'),
      nodeRegistrationStatus: 'complete', failedNodes: [], nodeErrors: [],
    });
    assert.equal((await session(device)).status, 200);

    const second = await call(service, 'POST', '/v1/devices/register', { principalId, password: PASSWORD }, { device: newDevice() });
    assert.deepEqual([second.status, second.json.error], [409, ACCOUNT_HAS_KEY]);
    const other = await createAccount(service, 'first-other@example.com');
    const stolen = await call(service, 'POST', '/v1/devices/register', { principalId: other.principalId, password: PASSWORD }, { device });
    assert.equal(stolen.status, 409);
  });
});

describe('replacing a device key', () => {
  test('the new key waits for the e-mailed link, and the old one keeps working', async () => {
    const account = await createAccount(service, 'rotate@example.com');
    const fresh = newDevice();
    const wrong = await call(service, 'POST', '/v1/devices/rotate', { email: account.email, password: 'not it at all' }, { device: fresh });
    assert.deepEqual([wrong.status, wrong.json.error], [401, WRONG_CREDENTIALS]);
    const rotated = await call(service, 'POST', '/v1/devices/rotate', { email: ' ROTATE@example.com', password: PASSWORD }, { device: fresh });
    assert.equal(rotated.status, 201);
    assert.equal(rotated.json.success, true);

    const pending = await session(fresh);
    assert.deepEqual([pending.status, pending.json.error, pending.json.reason], [403, PENDING_KEY, 'pending-key']);
    assert.equal((await call(service, 'GET', '/v1/korvos', undefined, { device: fresh })).status, 403);
    assert.equal((await session(account.device)).status, 200);

    const link = latestLink(service, account.email);
    assert.ok(link.startsWith(`${service.url}/v1/devices/confirm?token=`), link);
    const path = link.slice(service.url.length);
    const tampered = await call(service, 'GET', `${path}x`);
    assert.equal(tampered.status, 404);
    const confirmed = await call(service, 'GET', path);
    assert.equal(confirmed.status, 200);
    assert.match(confirmed.headers['content-type'], /text\/html/);
    assert.equal((await session(fresh)).status, 200);
    assert.equal((await session(account.device)).status, 200);
    assert.equal((await call(service, 'GET', path)).status, 200, 'visiting the link twice is harmless');

    const again = await call(service, 'POST', '/v1/devices/rotate', { email: account.email, password: PASSWORD }, { device: fresh });
    assert.deepEqual([again.status, again.json.error], [409, KEY_TAKEN]);
  });

  test('a link visited after 24 hours no longer confirms', async () => {
    const account = await createAccount(service, 'slow@example.com');
    const fresh = newDevice();
    await call(service, 'POST', '/v1/devices/rotate', { email: account.email, password: PASSWORD }, { device: fresh });
    const path = latestLink(service, account.email).slice(service.url.length);
    service.clock.offsetMs = CONFIRM_LINK_LIFETIME_MS + 1000;
    try {
      assert.equal((await call(service, 'GET', path)).status, 410);
    } finally {
      service.clock.offsetMs = 0;
    }
    assert.equal((await session(fresh)).status, 403);
  });
});
