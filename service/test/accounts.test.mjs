import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { EMAIL_TAKEN, INVALID_EMAIL, NOT_WAITING, SHORT_PASSWORD, UNVERIFIED, WRONG_CREDENTIALS } from '../src/accounts.mjs';
import { CODE_KINDS, CODE_LIFETIME_MS, EXPIRED_CODE, LOCKED_CODE, MAX_WRONG_TRIES, NO_CODE, OneTimeCodes, WRONG_CODE } from '../src/codes.mjs';
import { openDatabase } from '../src/db.mjs';
import { NO_SUCH_KORVO } from '../src/korvos.mjs';
import { PASSWORD, atOffset, call, createAccount, createKorvo, latestCode, mailTo, startTestService } from './support/harness.mjs';

// A different six-digit code than `code`.
const other = (code) => String((Number(code) + 1) % 1_000_000).padStart(6, '0');

test('code rules with an injected clock: ten minutes exactly, single use, malformed input costs no try', () => {
  const codes = new OneTimeCodes({ db: openDatabase(':memory:'), masterKey: Buffer.alloc(32, 7) });
  const kind = CODE_KINDS.verifyEmail;
  const outcome = (code, at) => { try { codes.consume('p', kind, code, at); return 'accepted'; } catch (err) { return err.message; } };
  const code = codes.issue('p', kind, 0);
  assert.equal(outcome(code, CODE_LIFETIME_MS), EXPIRED_CODE);
  for (const typed of ['', '12345', '1234567', '12a456', '１２３４５６', '12 345', -1, null]) assert.notEqual(outcome(typed, 1), 'accepted', String(typed));
  assert.equal(outcome(` ${code}\n`, CODE_LIFETIME_MS - 1), 'accepted', 'blanks around a code are fine, and no try was spent');
  assert.equal(outcome(code, 2), NO_CODE, 'a used code is gone');
});

describe('accounts through the service', () => {
  let service;
  before(async () => { service = await startTestService(); });
  after(async () => { await service.stop(); });
  const post = (path, body) => call(service, 'POST', `/v1/accounts/${path}`, body);
  const refusal = async (path, body) => { const r = await post(path, body); return [r.status, r.json.error]; };
  const valid = async (email, password) => (await post('verify-credentials', { email, password })).json.valid;

  test('an address is trimmed and lower-cased; passwords need eight characters; malformed addresses are refused', async () => {
    const made = await post('register', { email: '  New.User@Example.COM\n', password: '12345678' });
    assert.equal(made.status, 201);
    const mail = mailTo(service, 'new.user@example.com');
    assert.equal(mail.to, 'new.user@example.com');
    assert.match(mail.code, /^[0-9]{6}$/);
    const verified = await post('verify-email', { email: 'NEW.USER@example.com', code: mail.code });
    assert.deepEqual(verified.json, { principalId: made.json.principalId, emailVerified: true });

    assert.deepEqual(await refusal('register', { email: 'seven@example.com', password: '1234567' }), [400, SHORT_PASSWORD]);
    assert.equal(latestCode(service, 'seven@example.com'), undefined);
    for (const email of ['', 'plain', 'a@b', '@example.com', 'a b@example.com', 'a@@example.com',
      'x@example.com\r\nBcc: victim@example.com', `${'a'.repeat(250)}@example.com`]) {
      assert.deepEqual(await refusal('register', { email, password: PASSWORD }), [400, INVALID_EMAIL], JSON.stringify(email));
    }
  });

  test('registering again before verifying replaces password and code; a verified address is taken', async () => {
    const email = 'twice@example.com';
    await post('register', { email, password: 'first password' });
    const oldCode = latestCode(service, email);
    await post('register', { email, password: 'second password' });
    const newCode = latestCode(service, email);
    if (oldCode !== newCode) assert.equal((await post('verify-email', { email, code: oldCode })).json.error, WRONG_CODE);
    await post('verify-email', { email, code: newCode });
    assert.deepEqual([await valid(email, 'first password'), await valid(` ${email.toUpperCase()}`, 'second password')], [false, true]);
    assert.deepEqual(await refusal('register', { email: 'Twice@example.com', password: PASSWORD }), [409, EMAIL_TAKEN]);
    assert.deepEqual(await refusal('resend-code', { email }), [404, NOT_WAITING]);
    assert.equal((await post('verify-email', { email, code: '000000' })).status, 409);
  });

  test('wrong passwords and unknown addresses look the same; unverified accounts are told to verify', async () => {
    await createAccount(service, 'creds@example.com');
    for (const [email, password] of [['creds@example.com', `${PASSWORD}!`], ['nobody@example.com', PASSWORD]]) {
      const res = await post('verify-credentials', { email, password });
      assert.deepEqual([res.status, res.json], [200, { valid: false, principalId: '' }]);
    }
    await post('register', { email: 'pending@example.com', password: PASSWORD });
    assert.deepEqual(await refusal('verify-credentials', { email: 'pending@example.com', password: PASSWORD }), [403, UNVERIFIED]);
  });

  test('a reset code sets the new password once, only for its own account and kind', async () => {
    const email = 'reset@example.com';
    await createAccount(service, email);
    const unknown = await post('forgot-password', { email: 'ghost@example.com' });
    assert.equal(unknown.json.message.replace('ghost', 'reset'), (await post('forgot-password', { email })).json.message);
    assert.equal(mailTo(service, 'ghost@example.com'), undefined);
    const code = latestCode(service, email);
    assert.equal((await post('reset-password', { email, code, newPassword: 'short' })).json.error, SHORT_PASSWORD);
    assert.equal((await post('reset-password', { email, code, newPassword: 'brand new secret' })).status, 200);
    assert.deepEqual([await valid(email, PASSWORD), await valid(email, 'brand new secret')], [false, true]);
    await post('register', { email: 'kinds@example.com', password: PASSWORD });
    for (const [who, typed] of [[email, code], ['ghost@example.com', code], ['kinds@example.com', latestCode(service, 'kinds@example.com')]]) {
      assert.deepEqual(await refusal('reset-password', { email: who, code: typed, newPassword: 'third secret!' }), [400, NO_CODE], who);
    }
  });

  test('an account code expires after ten minutes on the service clock', async () => {
    const email = 'late@example.com';
    await post('register', { email, password: PASSWORD });
    const code = latestCode(service, email);
    assert.deepEqual(await atOffset(service, CODE_LIFETIME_MS + 1000, () => refusal('verify-email', { email, code })), [400, EXPIRED_CODE]);
    await post('resend-code', { email });
    assert.equal((await post('verify-email', { email, code: latestCode(service, email) })).status, 200);
  });

  test('deletion needs password, principal and code; five wrong codes lock it out; it removes keys and Korvos for good', async () => {
    const account = await createAccount(service, 'leaving@example.com');
    const korvo = await createKorvo(service, account);
    const staying = await createAccount(service, 'staying@example.com');
    const ask = { email: account.email, password: PASSWORD, principalId: account.principalId };
    assert.deepEqual(await refusal('deletion/request', { ...ask, password: 'not the password' }), [401, WRONG_CREDENTIALS]);
    assert.equal((await post('deletion/request', { ...ask, principalId: staying.principalId })).status, 401);
    const confirm = (code) => post('deletion/confirm', { email: account.email, code });

    assert.equal((await post('deletion/request', ask)).status, 200);
    const locked = latestCode(service, account.email);
    for (let i = 0; i < MAX_WRONG_TRIES; i += 1) assert.equal((await confirm(other(locked))).json.error, WRONG_CODE);
    const late = await confirm(locked);
    assert.deepEqual([late.status, late.json.error], [400, LOCKED_CODE]);
    assert.equal(await valid(account.email, PASSWORD), true, 'not deleted');

    await post('deletion/request', ask);
    const mail = mailTo(service, account.email);
    assert.equal(mail.kind, 'delete-account');
    for (let i = 0; i < MAX_WRONG_TRIES - 1; i += 1) await confirm(other(mail.code));
    const done = await confirm(mail.code);
    assert.deepEqual([done.status, done.json.success], [200, true], 'four wrong tries leave the code alive');

    assert.deepEqual([await valid(account.email, PASSWORD), mailTo(service, account.email)], [false, undefined], 'its mails are gone too');
    assert.equal((await call(service, 'POST', '/v1/sessions', {}, { device: account.device })).status, 401);
    const key = await call(service, 'GET', `/v1/korvos/${korvo}/public-key`, undefined, { device: staying.device });
    assert.deepEqual([key.status, key.json.error], [404, NO_SUCH_KORVO]);
    const again = await createAccount(service, account.email);
    assert.notEqual(again.principalId, account.principalId);
    assert.ok(await createKorvo(service, again) > korvo, 'a deleted Korvo number is never given out again');
  });

  test('every failure is one sentence in an error body, with a fitting status', async () => {
    const register = '/v1/accounts/register';
    const cases = [['POST', register, '{"email": ', 400], ['POST', register, '[1,2]', 400],
      ['POST', register, JSON.stringify({ email: 'big@example.com', password: 'x'.repeat(70 * 1024) }), 413],
      ['POST', '/v1/accounts/no-such-thing', '{}', 404], ['GET', register, '', 405], ['GET', '//', '', 404], ['GET', 'http://[', '', 400]];
    for (const [method, path, rawBody, status] of cases) {
      const res = await call(service, method, path, undefined, { rawBody });
      assert.equal(res.status, status, `${method} ${path} ${rawBody.slice(0, 40)}`);
      assert.deepEqual(Object.keys(res.json), ['error']);
      assert.match(res.json.error, /^[A-Z].*[.]$/);
    }
    assert.match((await post('register', { password: PASSWORD })).json.error, /"email"/);
  });
});
