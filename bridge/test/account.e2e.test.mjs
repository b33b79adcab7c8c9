// Account commands through the real bridge process against the reference service. Every answer
// that passes is already checked field by field against its record by the bridge itself.
import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { request as httpsRequest } from 'node:https';
import { parseDeviceKey } from '../lib/device-key.mjs';
import { requestTarget, signedHeaders } from '../lib/service-client.mjs';
import { serviceAvailable, signUp, startService, visitLink } from './support/service.mjs';

const keyOf = (a) => ({ principalId: a.principalId, ed25519PrivateKeyHex: a.ed25519PrivateKeyHex });

describe('account commands against the service', { skip: !serviceAvailable && 'service not installed' }, () => {
  let service;
  let run;
  before(async () => {
    service = await startService();
    run = async (request) => (await service.bridge(request)).envelope;
  });
  after(async () => { await service?.stop(); });

  test('sign-up to first Korvo and usage, with the records the application decodes', async () => {
    const account = await signUp(service, 'Ada@Example.test');
    const listed = await run({ command: 'listSecrets', ...keyOf(account) });
    assert.deepEqual(listed.result.secrets.map((k) => [k.secretId, k.ownerPrincipalId]), [[account.secretId, account.principalId]]);
    const key = await run({ command: 'getSecretPublicKey', ...keyOf(account), secretId: account.secretId });
    assert.equal(Buffer.from(key.result.publicKey, 'base64').length, 1216);
    assert.equal((await run({ command: 'getSecretPublicKey', ...keyOf(account), secretId: 999999 })).ok, false);
    const usage = await run({ command: 'dataConsumption', ...keyOf(account) });
    assert.equal(usage.result.encryption.used, 0);
    assert.equal(usage.result.decryption.limitGB, 2);
    const wrong = await run({ command: 'verifyCredentials', email: 'ada@example.test', password: 'not the password' });
    assert.deepEqual(wrong, { ok: true, result: { valid: false, principalId: '' } });
    const right = await run({ command: 'verifyCredentials', email: ' ADA@example.test', password: account.password });
    assert.deepEqual(right.result, { valid: true, principalId: account.principalId });
  });

  test('wrong, locked-out, expired and spent codes are refused with the service sentence', async (t) => {
    t.after(() => service.setClockOffset(0));
    const email = 'codes@example.test';
    await run({ command: 'register', email, password: 'a good password' });
    const code = service.latestMail(email, 'verify-email').code;
    const wrongCode = code === '000000' ? '111111' : '000000';
    for (let i = 0; i < 5; i += 1) assert.match((await run({ command: 'verifyEmail', email, otp: wrongCode })).error, /\S/);
    assert.equal((await run({ command: 'verifyEmail', email, otp: code })).ok, false, 'locked after five wrong tries');

    await run({ command: 'resendOtp', email });
    service.setClockOffset(11 * 60);
    const expired = await run({ command: 'verifyEmail', email, otp: service.latestMail(email, 'verify-email').code });
    assert.equal(expired.ok, false, 'older than ten minutes');
    service.setClockOffset(0);

    const account = await signUp(service, 'reset@example.test');
    await run({ command: 'forgotPassword', email: account.email });
    const resetCode = service.latestMail(account.email, 'reset-password').code;
    const reset = { command: 'resetPassword', email: account.email, otp: resetCode, newPassword: 'second password' };
    assert.equal((await run(reset)).ok, true);
    assert.equal((await run({ ...reset, newPassword: 'third password' })).ok, false, 'a used code is spent');
    assert.equal((await run({ command: 'verifyCredentials', email: account.email, password: 'second password' })).result.valid, true);
    assert.equal((await run({ command: 'listSecrets', ...keyOf(account) })).ok, true, 'the device key survives a reset');
  });

  test('a signed request is accepted once; its replay and a skewed clock are refused', async (t) => {
    t.after(() => service.setClockOffset(0));
    const account = await signUp(service, 'replay@example.test');
    const base = new URL(service.url);
    const target = requestTarget(base, '/korvos');
    const headers = signedHeaders({ deviceKey: parseDeviceKey(account.ed25519PrivateKeyHex), principalId: account.principalId }, 'GET', target, Buffer.alloc(0));
    const send = () => new Promise((resolve, reject) => {
      httpsRequest({ hostname: base.hostname, port: base.port, path: target, headers, ca: readFileSync(service.ca, 'utf8') }, (res) => {
        res.resume();
        res.on('end', () => resolve(res.statusCode));
      }).on('error', reject).end();
    });
    assert.equal(await send(), 200);
    assert.equal(await send(), 401);
    const together = await Promise.all([1, 2, 3].map(() => run({ command: 'listSecrets', ...keyOf(account) })));
    assert.ok(together.every((e) => e.ok), 'concurrent runs never share a nonce');
    service.setClockOffset(10 * 60);
    assert.match((await run({ command: 'listSecrets', ...keyOf(account) })).error, /clock|time/i);
  });

  test('a rotated device key stays pending until the security link is visited', async () => {
    const account = await signUp(service, 'rotate@example.test');
    const newKey = (await run({ command: 'generateKey' })).result.privateKeyHex;
    const withNewKey = { principalId: account.principalId, ed25519PrivateKeyHex: newKey };
    const rotate = { command: 'rotateKey', email: account.email, password: account.password, ed25519PrivateKeyHex: newKey };
    assert.equal((await run(rotate)).result.success, true);
    const pending = (await run({ command: 'createSession', ...withNewKey })).error;
    assert.match(pending, /confirm/i);
    assert.doesNotMatch(pending, /ed25519PrivateKeyHex/, 'a pending key is not an unusable one');
    assert.equal((await run({ command: 'listSecrets', ...keyOf(account) })).ok, true, 'the old key keeps working');
    assert.equal(await visitLink(service, service.latestMail(account.email, 'confirm-device').link), 200);
    assert.equal((await run({ command: 'createSession', ...withNewKey })).ok, true);
    assert.equal((await run({ ...rotate, password: 'wrong password' })).ok, false);
  });

  test('unknown keys are refused; a deleted account takes its key with it', async () => {
    const stranger = (await run({ command: 'generateKey' })).result.privateKeyHex;
    // Named so that the application asks the user to restore private access on this computer.
    assert.match((await run({ command: 'listSecrets', principalId: 'nobody', ed25519PrivateKeyHex: stranger })).error, /ed25519PrivateKeyHex/);
    const account = await signUp(service, 'leaving@example.test');
    const ask = { command: 'requestAccountDeletion', email: account.email, principalId: account.principalId };
    assert.equal((await run({ ...ask, password: 'wrong password' })).ok, false);
    assert.equal((await run({ ...ask, password: account.password })).ok, true);
    const otp = service.latestMail(account.email, 'delete-account').code;
    assert.equal((await run({ command: 'confirmAccountDeletion', email: account.email, otp })).result.success, true);
    assert.match((await run({ command: 'listSecrets', ...keyOf(account) })).error, /ed25519PrivateKeyHex/);
  });
});
