// What someone who is not the owner of an address can try against it: block its sign-up, its
// password reset or its sign-in, learn whether it has an account, or guess its password.
import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { clientKey } from '../src/limits.mjs';
import { PASSWORD, atOffset, call, createAccount, latestCode, mailTo, newDevice, startTestService } from './support/harness.mjs';

const MINUTE = 60e3;
const DAY = 24 * 60 * MINUTE;

test('client keys: all of loopback is one client, IPv4 by /24, IPv6 by /64', () => {
  for (const [a, b, same] of [['127.0.0.1', '127.9.9.9', true], ['::1', '::ffff:127.0.0.2', true], ['127.0.0.1', '::1', true],
    ['192.0.2.7', '::ffff:192.0.2.200', true], ['192.0.2.7', '192.0.3.7', false],
    ['2001:db8:1:2:aaaa::1', '2001:db8:1:2:bbbb::9', true], ['2001:db8:1:2::1', '2001:db8:1:3::1', false]]) {
    assert.equal(clientKey(a) === clientKey(b), same, `${a} ${b}`);
  }
});

describe('attacks through the service', () => {
  let service;
  before(async () => { service = await startTestService({ claimHoldMs: 300 }); });
  after(async () => { await service.stop(); });
  const post = (path, body, options) => call(service, 'POST', `/v1/accounts/${path}`, body, options);
  const bind = async (principalId, password, device = newDevice()) => (await call(service, 'POST', '/v1/devices/register', { principalId, password }, { device })).status;
  const attacker = { from: '127.0.0.66' };

  test('a sign-up contested every day can still be finished by whoever reads the mailbox, even against a simultaneous finish; the other party gets nothing', async () => {
    const email = 'contested@example.com';
    const theirs = (await post('register', { email, password: 'attacker password' }, attacker)).json;
    const owner = (await post('register', { email, password: PASSWORD })).json;
    const stopped = mailTo(service, email);
    assert.equal(stopped.kind, 'signup-stopped');
    assert.match(stopped.code ?? '', /^[0-9]{6}$/, 'the notice carries a code for the owner');
    const again = (await post('register', { email, password: 'attacker password 2' }, attacker)).json;
    assert.deepEqual([again.message, await bind(again.principalId, 'attacker password 2')], [owner.message, 403], 'binding before the code was entered');
    // The owner, still on the code screen of the stopped sign-up, enters the code from the notice;
    // the other party finishing at the same moment makes both fail, and the owner gets a new code.
    assert.deepEqual((await post('verify-email', { email, code: stopped.code })).json.emailVerified, true);
    assert.deepEqual(await Promise.all([bind(theirs.principalId, 'attacker password'), bind(owner.principalId, PASSWORD)]), [403, 403]);
    await post('verify-email', { email, code: latestCode(service, email) });
    assert.equal(await bind(owner.principalId, PASSWORD), 201);
    for (const [principalId, password] of [[theirs.principalId, 'attacker password'], [again.principalId, 'attacker password 2']]) {
      assert.equal(await bind(principalId, password), 401);
      assert.deepEqual((await post('verify-credentials', { email, password })).json.valid, false);
    }
    assert.equal((await post('verify-credentials', { email, password: PASSWORD })).json.valid, true);
  });

  test('asking for reset codes, in any spelling of the address, does not block the owner for longer than a code lives', async () => {
    for (let i = 0; i < 5; i += 1) await post('forgot-password', { email: ' VICTIM.Reset@Example.com ' }, attacker);
    const email = 'victim.reset@example.com';
    assert.equal((await post('forgot-password', { email })).status, 429, 'a code mailed a moment ago still works');
    await atOffset(service, 10 * MINUTE, async () => assert.equal((await post('forgot-password', { email })).status, 200));
  });

  test('register answers alike for a new address and one with an account, and mails the owner instead', async () => {
    await createAccount(service, 'taken@example.com');
    const rows = [];
    for (const email of ['taken@example.com', 'brand-new@example.com']) {
      const made = await post('register', { email, password: 'attacker password' }, attacker);
      rows.push([made.status, Object.keys(made.json).join(), made.json.message.replace(email, 'ADDRESS'),
        (await post('verify-credentials', { email, password: 'attacker password' })).status, await bind(made.json.principalId, 'attacker password')]);
    }
    assert.deepEqual(rows[0], rows[1]);
    const notice = mailTo(service, 'taken@example.com');
    assert.deepEqual([notice.kind, notice.code, /sign in|reset/i.test(notice.body)], ['account-exists', undefined, true]);
    assert.equal((await post('verify-credentials', { email: 'taken@example.com', password: PASSWORD })).json.valid, true);
  });

  test('password guessing is counted before it is judged, per address; the owner gets back in through a reset', async () => {
    const email = 'guess@example.com';
    await createAccount(service, email);
    const guesses = await Promise.all(Array.from({ length: 64 }, (_, i) => post('verify-credentials', { email, password: `guess ${i} xx` }, attacker)));
    const refused = guesses.filter((r) => r.status === 429).length;
    assert.ok(refused >= 50, `${refused} of 64 parallel guesses refused`);
    assert.equal((await post('verify-credentials', { email, password: PASSWORD })).status, 429, 'no password is judged while the wait lasts');
    await post('forgot-password', { email });
    await post('reset-password', { email, code: latestCode(service, email), newPassword: 'a fresh password' });
    assert.equal((await post('verify-credentials', { email, password: 'a fresh password' })).json.valid, true);
  });

  test('a password reset signs out every device key but the one that signed the reset', async () => {
    const account = await createAccount(service, 'signout@example.com');
    const second = newDevice();
    await call(service, 'POST', '/v1/devices/rotate', { email: account.email, password: PASSWORD }, { device: second });
    await call(service, 'GET', mailTo(service, account.email).link.slice(service.url.length));
    const session = async (device) => (await call(service, 'POST', '/v1/sessions', {}, { device })).json.reason ?? 'ok';
    await post('forgot-password', { email: account.email });
    const body = { email: account.email, code: latestCode(service, account.email), newPassword: 'after the reset' };
    assert.equal((await call(service, 'POST', '/v1/accounts/reset-password', body, { device: second })).status, 200);
    assert.deepEqual([await session(account.device), await session(second)], ['unknown-key', 'ok']);
    assert.equal(await bind(account.principalId, 'after the reset'), 409, 'a first key cannot be bound with the password alone');
  });

  test('one computer gets one budget for new-key requests, whichever loopback address it calls from', async () => {
    await atOffset(service, 3 * DAY, async () => {
      const rotations = [];
      for (let i = 0; i < 70; i += 1) rotations.push((await call(service, 'POST', '/v1/devices/rotate', { email: 'nobody@example.com', password: PASSWORD }, { device: newDevice(), from: `127.0.${i}.1` })).status);
      assert.ok(rotations.filter((s) => s === 429).length >= 10, rotations.join());
    });
  });
});
