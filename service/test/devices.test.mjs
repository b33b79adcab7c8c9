import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';
import { UNVERIFIED, WRONG_CREDENTIALS } from '../src/accounts.mjs';
import { ACCOUNT_HAS_KEY, CONFIRM_LINK_LIFETIME_MS, KEY_TAKEN, PENDING_KEY, UNKNOWN_KEY } from '../src/devices.mjs';
import { BAD_SIGNATURE, NOT_SIGNED, REPLAYED_REQUEST, STALE_REQUEST, signatureHeaders } from '../src/signing.mjs';
import { PASSWORD, atOffset, call, createAccount, latestCode, mailTo, newDevice, startTestService } from './support/harness.mjs';

let service;
before(async () => { service = await startTestService(); });
after(async () => { await service.stop(); });

const flipFirst = (hex) => (hex[0] === 'f' ? 'e' : 'f') + hex.slice(1);
const session = (device, options = {}) => call(service, 'POST', '/v1/sessions', {}, { device, ...options });
const outcome = (res) => [res.status, res.json.error, res.json.reason];

test('a request is refused when replayed, even after its first use succeeded, or five minutes off the service clock either way', async () => {
  const account = await createAccount(service, 'replay@example.com');
  const korvo = (nonce) => call(service, 'POST', '/v1/korvos', {}, { device: account.device, nonce });
  assert.equal((await korvo('ab'.repeat(16))).status, 201);
  assert.deepEqual(outcome(await korvo('AB'.repeat(16))), [401, REPLAYED_REQUEST, 'replay'], 'the nonce is compared without case');
  assert.equal((await call(service, 'GET', '/v1/korvos', undefined, { device: account.device })).json.secrets.length, 1);
  const now = service.clock.now();
  for (const [skew, status] of [[-301e3, 401], [301e3, 401], [-290e3, 200], [290e3, 200]]) {
    const res = await session(account.device, { now: now + skew });
    assert.deepEqual(outcome(res), status === 200 ? [200, undefined, undefined] : [401, STALE_REQUEST, 'clock-skew'], String(skew));
  }
  await atOffset(service, 3600e3, async () => {
    assert.equal((await session(account.device, { now })).status, 401, 'judged by the service clock');
    assert.equal((await session(account.device)).status, 200);
  });
});

test('a signature covers method, target, body, timestamp, nonce and key', async () => {
  const account = await createAccount(service, 'tamper@example.com');
  const other = await createAccount(service, 'tamper2@example.com');
  const sign = (method, target, body) => signatureHeaders({ privateKeyHex: account.device.privateKeyHex, method, target, body: Buffer.from(body), now: service.clock.now() });
  const header = (name, change) => (h) => ({ ...h, [name]: change(h[name]) });
  const same = (h) => h;
  // [signed method, target, body], change to the headers, [sent method, target, body]
  const attempts = [
    [['POST', '/v1/sessions', '{}'], same, ['POST', '/v1/korvos', '{}']],
    [['GET', '/v1/korvos', ''], same, ['GET', '/v1/korvos?x=1', '']],
    [['POST', '/v1/korvos', '{}'], same, ['POST', '/v1/korvos', '{ }']],
    [['GET', '/v1/usage', ''], header('X-Korvo-Timestamp', (v) => String(Number(v) + 1)), ['GET', '/v1/usage', '']],
    [['GET', '/v1/usage', ''], header('X-Korvo-Nonce', flipFirst), ['GET', '/v1/usage', '']],
    [['GET', '/v1/usage', ''], header('X-Korvo-Key', () => other.device.publicKeyHex), ['GET', '/v1/usage', '']],
    [['GET', '/v1/usage', ''], header('X-Korvo-Signature', flipFirst), ['GET', '/v1/usage', '']],
  ];
  for (const [signed, change, [method, target, rawBody]] of attempts) {
    const res = await call(service, method, target, undefined, { rawBody, headers: change(sign(...signed)) });
    assert.deepEqual(outcome(res), [401, BAD_SIGNATURE, 'bad-signature'], `${method} ${target} ${rawBody}`);
  }
  assert.equal((await call(service, 'GET', '/v1/usage', undefined, { headers: sign('GET', '/v1/usage', '') })).status, 200);
});

test('unsigned requests, unknown keys and another principal are refused before the body is read or a nonce kept', async () => {
  const account = await createAccount(service, 'headers@example.com');
  const korvos = (options) => call(service, 'GET', '/v1/korvos', undefined, options);
  assert.deepEqual(outcome(await korvos({})), [401, NOT_SIGNED, 'malformed-auth']);
  assert.deepEqual(outcome(await call(service, 'POST', '/v1/korvos', undefined, { rawBody: '{' })), [401, NOT_SIGNED, 'malformed-auth']);
  const later = newDevice();
  const nonce = 'cd'.repeat(16);
  assert.deepEqual(outcome(await korvos({ device: later, nonce })), [401, UNKNOWN_KEY, 'unknown-key']);
  assert.deepEqual(outcome(await korvos({ device: account.device, headers: { 'X-Korvo-Principal': 'someone-else' } })), [401, UNKNOWN_KEY, 'unknown-key']);
  assert.equal((await korvos({ device: account.device, headers: { 'X-Korvo-Principal': account.principalId } })).status, 200);
  await call(service, 'POST', '/v1/devices/rotate', { email: account.email, password: PASSWORD }, { device: later });
  await call(service, 'GET', mailTo(service, account.email).link.slice(service.url.length));
  assert.equal((await korvos({ device: later, nonce })).status, 200, 'the nonce of a refused key was not kept');
});

test('a first key binds once, needs the password, a verified e-mail and proof of the new key', async () => {
  const email = 'first@example.com';
  const { principalId } = (await call(service, 'POST', '/v1/accounts/register', { email, password: PASSWORD })).json;
  const device = newDevice();
  const bind = (options, body = { principalId, password: PASSWORD }) => call(service, 'POST', '/v1/devices/register', body, options);
  assert.deepEqual(outcome(await bind({ device })).slice(0, 2), [403, UNVERIFIED]);
  await call(service, 'POST', '/v1/accounts/verify-email', { email, code: latestCode(service, email) });
  assert.equal((await bind({})).status, 401, 'unsigned');
  assert.equal((await bind({ device }, { principalId, password: 'wrong password' })).status, 401);
  const bound = await bind({ device });
  assert.deepEqual([bound.status, bound.json], [201, {
    principalId, emailHex: Buffer.from(email).toString('hex'), nodeRegistrationStatus: 'complete', failedNodes: [], nodeErrors: [],
  }]);
  assert.deepEqual(outcome(await bind({ device: newDevice() })).slice(0, 2), [409, ACCOUNT_HAS_KEY]);
  const other = await createAccount(service, 'first-other@example.com');
  assert.equal((await bind({ device }, { principalId: other.principalId, password: PASSWORD })).status, 409, 'a key belongs to one account');

  // An unknown principal is refused as slowly as a known one with a wrong password.
  const spent = { [principalId]: [], 'no-such-principal': [] };
  for (let i = 0; i < 5; i += 1) {
    for (const [who, times] of Object.entries(spent)) {
      const started = performance.now();
      assert.equal((await bind({ device: newDevice() }, { principalId: who, password: 'not the password' })).status, 401);
      times.push(performance.now() - started);
    }
  }
  const [known, unknown] = Object.values(spent).map((times) => times.sort((a, b) => a - b)[2]);
  assert.ok(unknown > known / 2, `unknown ${unknown.toFixed(1)} ms, known ${known.toFixed(1)} ms`);
});

test('a rotated key waits for the e-mailed link, which expires after 24 hours; the old key keeps working', async () => {
  const account = await createAccount(service, 'rotate@example.com');
  const rotate = (device, email = account.email, password = PASSWORD) => call(service, 'POST', '/v1/devices/rotate', { email, password }, { device });
  const fresh = newDevice();
  assert.deepEqual(outcome(await rotate(fresh, account.email, 'not it at all')).slice(0, 2), [401, WRONG_CREDENTIALS]);
  assert.deepEqual([(await rotate(fresh, ' ROTATE@example.com')).json.success], [true]);
  assert.deepEqual([outcome(await session(fresh)), (await session(account.device)).status], [[403, PENDING_KEY, 'pending-key'], 200]);

  const path = mailTo(service, account.email).link.replace(service.url, '');
  assert.match(path, /^\/v1\/devices\/confirm\?token=/);
  assert.equal((await call(service, 'GET', `${path}x`)).status, 404);
  const confirmed = await call(service, 'GET', path);
  assert.deepEqual([confirmed.status, /text\/html/.test(confirmed.headers['content-type'])], [200, true]);
  assert.deepEqual([(await session(fresh)).status, (await session(account.device)).status], [200, 200]);
  assert.equal((await call(service, 'GET', path)).status, 200, 'visiting the link twice is harmless');
  assert.deepEqual(outcome(await rotate(fresh)).slice(0, 2), [409, KEY_TAKEN]);

  const slow = newDevice();
  await rotate(slow);
  const late = mailTo(service, account.email).link.replace(service.url, '');
  assert.equal(await atOffset(service, CONFIRM_LINK_LIFETIME_MS + 1000, async () => (await call(service, 'GET', late)).status), 410);
  assert.equal((await session(slow)).status, 403);
});
