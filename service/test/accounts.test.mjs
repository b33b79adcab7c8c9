import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { EMAIL_TAKEN, INVALID_EMAIL, NOT_WAITING, SHORT_PASSWORD, UNVERIFIED, WRONG_CREDENTIALS } from '../src/accounts.mjs';
import { NO_CODE, WRONG_CODE } from '../src/codes.mjs';
import { NO_SUCH_KORVO } from '../src/korvos.mjs';
import { latestMail } from '../src/outbox.mjs';
import { PASSWORD, call, createAccount, createKorvo, latestCode, startTestService } from './support/harness.mjs';

let service;
before(async () => { service = await startTestService(); });
after(async () => { await service.stop(); });

const post = (path, body) => call(service, 'POST', `/v1/accounts/${path}`, body);

describe('registration', () => {
  test('an address is trimmed and lower-cased, and the code reaches that address', async () => {
    const made = await post('register', { email: '  New.User@Example.COM\n', password: PASSWORD });
    assert.equal(made.status, 201);
    assert.match(made.json.principalId, /\S/);
    const mail = latestMail(service.outboxFolder, 'new.user@example.com');
    assert.equal(mail.to, 'new.user@example.com');
    assert.match(mail.code, /^[0-9]{6}$/);
    assert.ok(mail.body.includes(mail.code));
    const verified = await post('verify-email', { email: 'NEW.USER@example.com', code: mail.code });
    assert.deepEqual(verified.json, { principalId: made.json.principalId, emailVerified: true });
  });

  test('passwords need at least eight characters', async () => {
    const seven = await post('register', { email: 'seven@example.com', password: '1234567' });
    assert.deepEqual([seven.status, seven.json.error], [400, SHORT_PASSWORD]);
    assert.equal(latestCode(service, 'seven@example.com'), undefined);
    const eight = await post('register', { email: 'eight@example.com', password: '12345678' });
    assert.equal(eight.status, 201);
  });

  test('malformed addresses are refused, including header injection', async () => {
    for (const email of ['', 'plain', 'a@b', '@example.com', 'a b@example.com', 'a@@example.com',
      'x@example.com\r\nBcc: victim@example.com', `${'a'.repeat(250)}@example.com`]) {
      const res = await post('register', { email, password: PASSWORD });
      assert.deepEqual([res.status, res.json.error], [400, INVALID_EMAIL], JSON.stringify(email));
    }
  });

  test('registering again before verifying replaces the password and the code', async () => {
    const first = await post('register', { email: 'twice@example.com', password: 'first password' });
    const oldCode = latestCode(service, 'twice@example.com');
    const second = await post('register', { email: 'twice@example.com', password: 'second password' });
    assert.equal(second.json.principalId, first.json.principalId);
    const newCode = latestCode(service, 'twice@example.com');
    if (oldCode !== newCode) {
      const stale = await post('verify-email', { email: 'twice@example.com', code: oldCode });
      assert.equal(stale.json.error, WRONG_CODE);
    }
    await post('verify-email', { email: 'twice@example.com', code: newCode });
    const old = await post('verify-credentials', { email: 'twice@example.com', password: 'first password' });
    assert.equal(old.json.valid, false);
    const current = await post('verify-credentials', { email: 'twice@example.com', password: 'second password' });
    assert.equal(current.json.valid, true);
  });

  test('a verified address cannot be registered or verified again', async () => {
    await createAccount(service, 'taken@example.com');
    const again = await post('register', { email: 'Taken@example.com', password: PASSWORD });
    assert.deepEqual([again.status, again.json.error], [409, EMAIL_TAKEN]);
    const resend = await post('resend-code', { email: 'taken@example.com' });
    assert.deepEqual([resend.status, resend.json.error], [404, NOT_WAITING]);
    const verify = await post('verify-email', { email: 'taken@example.com', code: '000000' });
    assert.equal(verify.status, 409);
  });
});

describe('credentials', () => {
  test('wrong passwords and unknown addresses look the same; unverified accounts are told to verify', async () => {
    const account = await createAccount(service, 'creds@example.com');
    const right = await post('verify-credentials', { email: ' CREDS@example.com', password: PASSWORD });
    assert.deepEqual(right.json, { valid: true, principalId: account.principalId });
    const wrong = await post('verify-credentials', { email: 'creds@example.com', password: `${PASSWORD}!` });
    const unknown = await post('verify-credentials', { email: 'nobody@example.com', password: PASSWORD });
    assert.deepEqual([wrong.status, wrong.json], [200, { valid: false, principalId: '' }]);
    assert.deepEqual([unknown.status, unknown.json], [200, { valid: false, principalId: '' }]);
    await post('register', { email: 'pending@example.com', password: PASSWORD });
    const pending = await post('verify-credentials', { email: 'pending@example.com', password: PASSWORD });
    assert.deepEqual([pending.status, pending.json.error], [403, UNVERIFIED]);
  });
});

describe('password reset', () => {
  test('a reset code sets the new password once, and only for its own account', async () => {
    await createAccount(service, 'reset@example.com');
    const unknown = await post('forgot-password', { email: 'ghost@example.com' });
    const known = await post('forgot-password', { email: 'reset@example.com' });
    assert.equal(unknown.status, 200);
    assert.equal(unknown.json.message.replace('ghost', 'reset'), known.json.message);
    assert.equal(latestMail(service.outboxFolder, 'ghost@example.com'), undefined);
    const code = latestCode(service, 'reset@example.com');
    const tooShort = await post('reset-password', { email: 'reset@example.com', code, newPassword: 'short' });
    assert.equal(tooShort.json.error, SHORT_PASSWORD);
    const done = await post('reset-password', { email: 'reset@example.com', code, newPassword: 'brand new secret' });
    assert.equal(done.status, 200);
    assert.equal(typeof done.json.message, 'string');
    const old = await post('verify-credentials', { email: 'reset@example.com', password: PASSWORD });
    assert.equal(old.json.valid, false);
    assert.equal((await post('verify-credentials', { email: 'reset@example.com', password: 'brand new secret' })).json.valid, true);
    const reused = await post('reset-password', { email: 'reset@example.com', code, newPassword: 'third secret!' });
    assert.deepEqual([reused.status, reused.json.error], [400, NO_CODE]);
    const ghost = await post('reset-password', { email: 'ghost@example.com', code, newPassword: 'third secret!' });
    assert.deepEqual([ghost.status, ghost.json.error], [400, NO_CODE]);
    await post('register', { email: 'kinds@example.com', password: PASSWORD });
    const verifyCode = latestCode(service, 'kinds@example.com');
    const crossed = await post('reset-password', { email: 'kinds@example.com', code: verifyCode, newPassword: 'another secret' });
    assert.deepEqual([crossed.status, crossed.json.error], [400, NO_CODE], 'a verification code is not a reset code');
  });
});

describe('account deletion', () => {
  test('needs the password and the principal, then the e-mailed code; removes keys and Korvos for good', async () => {
    const account = await createAccount(service, 'leaving@example.com');
    const korvo = await createKorvo(service, account);
    const other = await createAccount(service, 'staying@example.com');

    const wrongPassword = await post('deletion/request', { email: account.email, password: 'not the password', principalId: account.principalId });
    assert.deepEqual([wrongPassword.status, wrongPassword.json.error], [401, WRONG_CREDENTIALS]);
    const wrongPrincipal = await post('deletion/request', { email: account.email, password: PASSWORD, principalId: other.principalId });
    assert.equal(wrongPrincipal.status, 401);
    const asked = await post('deletion/request', { email: account.email, password: PASSWORD, principalId: account.principalId });
    assert.equal(asked.status, 200);
    const code = latestMail(service.outboxFolder, account.email);
    assert.equal(code.kind, 'delete-account');
    const wrongCode = await post('deletion/confirm', { email: account.email, code: code.code === '000000' ? '000001' : '000000' });
    assert.equal(wrongCode.status, 400);
    const confirmed = await post('deletion/confirm', { email: account.email, code: code.code });
    assert.deepEqual([confirmed.status, confirmed.json.success], [200, true]);

    assert.equal((await post('verify-credentials', { email: account.email, password: PASSWORD })).json.valid, false);
    const session = await call(service, 'POST', '/v1/sessions', {}, { device: account.device });
    assert.equal(session.status, 401);
    const key = await call(service, 'GET', `/v1/korvos/${korvo}/public-key`, undefined, { device: other.device });
    assert.deepEqual([key.status, key.json.error], [404, NO_SUCH_KORVO]);

    const again = await createAccount(service, 'leaving@example.com');
    assert.notEqual(again.principalId, account.principalId);
    assert.ok(await createKorvo(service, again) > korvo, 'a deleted Korvo number is never given out again');
  });
});

describe('malformed requests', () => {
  test('every failure is one sentence in an error body, with a fitting status', async () => {
    const cases = [
      [{ rawBody: '{"email": ' }, 'register', 400],
      [{ rawBody: '[1,2]' }, 'register', 400],
      [{ body: { email: 'big@example.com', password: 'x'.repeat(70 * 1024) } }, 'register', 413],
      [{ body: {} }, 'no-such-thing', 404],
    ];
    for (const [input, path, status] of cases) {
      const res = await call(service, 'POST', `/v1/accounts/${path}`, input.body, { rawBody: input.rawBody });
      assert.equal(res.status, status, `${path} ${JSON.stringify(input).slice(0, 60)}`);
      assert.deepEqual(Object.keys(res.json), ['error']);
      assert.match(res.json.error, /^[A-Z].*[.]$/);
    }
    const wrongMethod = await call(service, 'GET', '/v1/accounts/register');
    assert.equal(wrongMethod.status, 405);
    const missing = await post('register', { password: PASSWORD });
    assert.match(missing.json.error, /"email"/);
  });
});
