// Account commands through the real bridge process against the reference service: records as
// the application decodes them, codes (wrong, expired, locked out), signatures (replay, clock),
// device keys (pending, unknown) and account deletion.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { request as httpsRequest } from 'node:https';
import { parseDeviceKey } from '../lib/device-key.mjs';
import { requestTarget, signedHeaders } from '../lib/service-client.mjs';
import { serviceAvailable, signUp, startService, visitLink } from './support/service.mjs';

const sortedKeys = (record) => Object.keys(record).sort();

describe('account commands against the service', { skip: !serviceAvailable && 'service not installed' }, () => {
  let service;
  before(async () => { service = await startService(); });
  after(async () => { await service?.stop(); });

  test('sign-up answers every record with the keys and types the application decodes', async () => {
    const email = 'Ada@Example.test';
    const password = 'first password';
    const register = await service.bridge({ command: 'register', email, password });
    assert.equal(register.status, 0);
    assert.match(register.envelope.result.principalId, /\S/);
    assert.deepEqual(sortedKeys(register.envelope.result).filter((k) => k !== 'message'), ['principalId']);

    const code = service.latestMail(email, 'verify-email').code;
    const verified = await service.bridge({ command: 'verifyEmail', email, otp: code });
    assert.deepEqual(verified.envelope.result, { principalId: register.envelope.result.principalId, emailVerified: true });

    const { envelope: generated } = await service.bridge({ command: 'generateKey' });
    const identity = { principalId: register.envelope.result.principalId, ed25519PrivateKeyHex: generated.result.privateKeyHex };
    const { envelope: registered } = await service.bridge({ command: 'registerKey', password, ...identity });
    assert.equal(registered.result.nodeRegistrationStatus, 'complete');
    assert.equal(registered.result.principalId, identity.principalId);
    assert.equal(Buffer.from(registered.result.emailHex, 'hex').toString(), 'ada@example.test');

    const { envelope: session } = await service.bridge({ command: 'createSession', ...identity });
    assert.deepEqual(sortedKeys(session.result), ['expiresAt', 'principalId', 'sessionAddress']);
    assert.match(session.result.sessionAddress, /^0x[0-9a-f]{40}$/);

    const { envelope: empty } = await service.bridge({ command: 'listSecrets', ...identity });
    assert.deepEqual(empty.result, { success: true, secrets: [] });
    const { envelope: created } = await service.bridge({ command: 'createSecret', ...identity });
    assert.deepEqual(sortedKeys(created.result), ['clusterId', 'publicKeyCid', 'secretId', 'status', 'success']);
    assert.ok(Number.isInteger(created.result.secretId) && created.result.secretId > 0);
    const { envelope: listed } = await service.bridge({ command: 'listSecrets', ...identity });
    assert.equal(listed.result.secrets.length, 1);
    const korvo = listed.result.secrets[0];
    assert.equal(korvo.secretId, created.result.secretId);
    assert.equal(korvo.ownerPrincipalId, identity.principalId);
    assert.ok(Number.isInteger(korvo.clusterId) && Number.isInteger(korvo.isSyncing));

    const { envelope: publicKey } = await service.bridge({ command: 'getSecretPublicKey', ...identity, secretId: korvo.secretId });
    assert.equal(publicKey.result.secretId, korvo.secretId);
    assert.ok(Number.isInteger(publicKey.result.chainId));
    assert.equal(Buffer.from(publicKey.result.publicKey, 'base64').length, 1216);
    const missing = await service.bridge({ command: 'getSecretPublicKey', ...identity, secretId: 999999 });
    assert.equal(missing.status, 1);
    assert.match(missing.envelope.error, /\S/);

    const { envelope: usage } = await service.bridge({ command: 'dataConsumption', ...identity });
    for (const direction of ['encryption', 'decryption']) {
      const stats = usage.result[direction];
      assert.deepEqual(sortedKeys(stats), ['count', 'limit', 'limitGB', 'rateLimit', 'remaining', 'remainingGB', 'requestLimit', 'used', 'usedGB']);
      assert.ok(Number.isInteger(stats.count) && Number.isInteger(stats.requestLimit));
    }
    assert.ok(!Number.isNaN(Date.parse(usage.result.periodStart)));
  });

  test('verifying credentials tells a wrong password apart without failing', async () => {
    const account = await signUp(service, 'grace@example.test');
    const wrong = await service.bridge({ command: 'verifyCredentials', email: account.email, password: 'not the password' });
    assert.deepEqual(wrong.envelope, { ok: true, result: { valid: false, principalId: '' } });
    const right = await service.bridge({ command: 'verifyCredentials', email: ' GRACE@example.test', password: account.password });
    assert.deepEqual(right.envelope.result, { valid: true, principalId: account.principalId });
  });

  test('wrong, locked-out and expired codes are refused with the service sentence', async (t) => {
    t.after(() => service.setClockOffset(0));
    const email = 'codes@example.test';
    await service.bridge({ command: 'register', email, password: 'a good password' });
    const code = service.latestMail(email, 'verify-email').code;
    const wrongCode = code === '000000' ? '111111' : '000000';
    const first = await service.bridge({ command: 'verifyEmail', email, otp: wrongCode });
    assert.equal(first.status, 1);
    assert.match(first.envelope.error, /\S/);
    for (let i = 0; i < 4; i += 1) await service.bridge({ command: 'verifyEmail', email, otp: wrongCode });
    const locked = await service.bridge({ command: 'verifyEmail', email, otp: code });
    assert.equal(locked.envelope.ok, false, 'the right code no longer works after five wrong ones');

    const resent = await service.bridge({ command: 'resendOtp', email });
    assert.equal(resent.status, 0);
    const fresh = service.latestMail(email, 'verify-email').code;
    service.setClockOffset(11 * 60);
    const expired = await service.bridge({ command: 'verifyEmail', email, otp: fresh });
    assert.equal(expired.envelope.ok, false, 'a code older than ten minutes is refused');
    service.setClockOffset(0);
    await service.bridge({ command: 'resendOtp', email });
    const accepted = await service.bridge({ command: 'verifyEmail', email, otp: service.latestMail(email, 'verify-email').code });
    assert.equal(accepted.envelope.result.emailVerified, true);
  });

  test('a password reset takes a fresh code and keeps the device key usable', async () => {
    const account = await signUp(service, 'reset@example.test');
    const forgot = await service.bridge({ command: 'forgotPassword', email: account.email });
    assert.equal(forgot.status, 0);
    const code = service.latestMail(account.email, 'reset-password').code;
    const reset = await service.bridge({ command: 'resetPassword', email: account.email, otp: code, newPassword: 'second password' });
    assert.equal(reset.status, 0);
    const again = await service.bridge({ command: 'resetPassword', email: account.email, otp: code, newPassword: 'third password' });
    assert.equal(again.envelope.ok, false, 'a used code is spent');
    const { envelope } = await service.bridge({ command: 'verifyCredentials', email: account.email, password: 'second password' });
    assert.equal(envelope.result.valid, true);
    assert.equal((await service.bridge({ command: 'listSecrets', ...pick(account) })).status, 0);
  });

  test('a signed request is accepted once; its replay and a skewed clock are refused', async (t) => {
    t.after(() => service.setClockOffset(0));
    const account = await signUp(service, 'replay@example.test');
    const base = new URL(service.url);
    const target = requestTarget(base, '/korvos');
    const headers = signedHeaders({ deviceKey: parseDeviceKey(account.ed25519PrivateKeyHex), principalId: account.principalId }, 'GET', target, Buffer.alloc(0));
    const send = () => new Promise((resolve, reject) => {
      httpsRequest({ hostname: base.hostname, port: base.port, path: target, headers, ca: readFileSync(service.ca, 'utf8') }, (res) => {
        const parts = [];
        res.on('data', (p) => parts.push(p));
        res.on('end', () => resolve({ status: res.statusCode, body: JSON.parse(Buffer.concat(parts)) }));
      }).on('error', reject).end();
    });
    const first = await send();
    assert.equal(first.status, 200);
    assert.equal(first.body.secrets[0].secretId, account.secretId);
    const replay = await send();
    assert.equal(replay.status, 401);

    // Two bridge runs in quick succession never share a nonce.
    const runs = await Promise.all([1, 2, 3].map(() => service.bridge({ command: 'listSecrets', ...pick(account) })));
    assert.deepEqual(runs.map((r) => r.status), [0, 0, 0]);

    service.setClockOffset(10 * 60);
    const skewed = await service.bridge({ command: 'listSecrets', ...pick(account) });
    assert.equal(skewed.status, 1);
    assert.match(skewed.envelope.error, /clock|time/i, 'the service sentence reaches the user unchanged');
  });

  test('a rotated device key stays pending until the security link is visited', async () => {
    const account = await signUp(service, 'rotate@example.test');
    const { envelope: generated } = await service.bridge({ command: 'generateKey' });
    const newKey = generated.result.privateKeyHex;
    const rotated = await service.bridge({ command: 'rotateKey', email: account.email, password: account.password, ed25519PrivateKeyHex: newKey });
    assert.equal(rotated.envelope.result.success, true);
    const pending = await service.bridge({ command: 'createSession', principalId: account.principalId, ed25519PrivateKeyHex: newKey });
    assert.equal(pending.status, 1);
    assert.match(pending.envelope.error, /confirm/i);
    assert.equal((await service.bridge({ command: 'listSecrets', ...pick(account) })).status, 0, 'the old key keeps working');

    assert.equal(await visitLink(service, service.latestMail(account.email, 'confirm-device').link), 200);
    const confirmed = await service.bridge({ command: 'createSession', principalId: account.principalId, ed25519PrivateKeyHex: newKey });
    assert.equal(confirmed.status, 0);
    const wrongPassword = await service.bridge({ command: 'rotateKey', email: account.email, password: 'wrong password', ed25519PrivateKeyHex: newKey });
    assert.equal(wrongPassword.status, 1);
  });

  test('a key the service has never seen is refused; after deletion the account key is too', async () => {
    const { envelope: generated } = await service.bridge({ command: 'generateKey' });
    const stranger = await service.bridge({ command: 'listSecrets', principalId: 'nobody', ed25519PrivateKeyHex: generated.result.privateKeyHex });
    assert.equal(stranger.status, 1);
    assert.match(stranger.envelope.error, /\S/);

    const account = await signUp(service, 'leaving@example.test');
    const refused = await service.bridge({ command: 'requestAccountDeletion', email: account.email, password: 'wrong password', principalId: account.principalId });
    assert.equal(refused.status, 1);
    const asked = await service.bridge({ command: 'requestAccountDeletion', email: account.email, password: account.password, principalId: account.principalId });
    assert.equal(asked.status, 0);
    const code = service.latestMail(account.email, 'delete-account').code;
    const confirmed = await service.bridge({ command: 'confirmAccountDeletion', email: account.email, otp: code });
    assert.equal(confirmed.envelope.result.success, true);
    const after = await service.bridge({ command: 'listSecrets', ...pick(account) });
    assert.equal(after.status, 1);
  });
});

function pick(account) {
  return { principalId: account.principalId, ed25519PrivateKeyHex: account.ed25519PrivateKeyHex };
}
