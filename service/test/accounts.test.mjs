import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { INVALID_EMAIL, SHORT_PASSWORD, UNVERIFIED, WRONG_CREDENTIALS } from '../src/accounts.mjs';
import { CODE_KINDS, CODE_LIFETIME_MS, EXPIRED_CODE, LOCKED_CODE, MALFORMED_CODE, OneTimeCodes, WRONG_CODE } from '../src/codes.mjs';
import { openDatabase } from '../src/db.mjs';
import { NO_SUCH_KORVO } from '../src/korvos.mjs';
import { CODE_REQUESTS_PER_ADDRESS, CODE_REQUESTS_PER_CLIENT, FREE_WRONG_PASSWORDS, Limits, WRONG_CODES_PER_DAY, tooManyCodeRequests, tooManyFromClient } from '../src/limits.mjs';
import { SIGNUP_QUIET_MS } from '../src/signups.mjs';
import { PASSWORD, atOffset, call, createAccount, createKorvo, latestCode, mailTo, newDevice, startTestService } from './support/harness.mjs';

const MINUTE = 60e3;
const HOUR = 60 * MINUTE;
// A different six-digit code than `code`, and `code` in another script's digits.
const other = (code) => String((Number(code) + 1) % 1_000_000).padStart(6, '0');
const inDigits = (zero, code) => [...code].map((d) => String.fromCodePoint(zero + Number(d))).join('');

function codeBench() {
  const db = openDatabase(':memory:');
  const codes = new OneTimeCodes({ db, masterKey: Buffer.alloc(32, 7), limits: new Limits(db) });
  const at = { now: 0 };
  const enter = (kind, typed, email = 'a@example.com') => {
    try { codes.consume({ email, kind, typed, now: at.now, candidates: ['p'] }); return 'accepted'; } catch (err) { return err.message; }
  };
  return { codes, at, enter };
}

test('code rules: ten minutes exactly, single use, decimal digits of any script, malformed input costs no try', () => {
  const { codes, at, enter } = codeBench();
  const kind = CODE_KINDS.deleteAccount;
  let code = codes.issue('p', kind, 0);
  at.now = CODE_LIFETIME_MS;
  assert.equal(enter(kind, code), EXPIRED_CODE);
  at.now = 1;
  for (const typed of ['', '12345', '1234567', '12a456', '12 345', '½23456', '１２３４５', -1, null]) assert.equal(enter(kind, typed), MALFORMED_CODE, String(typed));
  at.now = CODE_LIFETIME_MS - 1;
  assert.equal(enter(kind, ` ${inDigits(0xff10, code)}\n`), 'accepted', 'full-width digits with blanks around them');
  assert.equal(enter(kind, code), WRONG_CODE, 'a used code is gone');
  code = codes.issue('p', kind, at.now);
  assert.equal(enter(kind, inDigits(0x0660, code)), 'accepted', 'Arabic-Indic digits');
});

test('wrong codes: five per code and never a wait, none before it was mailed; after twenty in a day for an address and purpose, a code takes one', () => {
  const { codes, at, enter } = codeBench();
  const kind = CODE_KINDS.resetPassword;
  for (let i = 0; i < 5; i += 1) assert.equal(enter(kind, '123456'), WRONG_CODE);
  assert.equal(enter(kind, codes.issue('p', kind, 0)), 'accepted', 'wrong codes before it was mailed');
  let code = codes.issue('p', kind, 0);
  for (let i = 0; i < 5; i += 1) assert.equal(enter(kind, other(code)), WRONG_CODE);
  assert.equal(enter(kind, code), LOCKED_CODE, 'the code itself died after five wrong tries');
  code = codes.issue('p', kind, 0);
  for (let i = 0; i < WRONG_CODES_PER_DAY - 5; i += 1) assert.equal(enter(kind, other(code)), WRONG_CODE);
  code = codes.issue('p', kind, 0);
  assert.deepEqual([enter(kind, other(code)), enter(kind, code)], [WRONG_CODE, LOCKED_CODE], 'one wrong try is enough now');
  code = codes.issue('p', kind, 0);
  assert.deepEqual([enter(kind, other(code), 'b@example.com'), enter(kind, code, 'b@example.com')], [WRONG_CODE, 'accepted'], 'another address is not held up');
  at.now = 24 * HOUR + 1;
  code = codes.issue('p', kind, at.now);
  assert.deepEqual([enter(kind, other(code)), enter(kind, code)], [WRONG_CODE, 'accepted'], 'a day later');
});

describe('accounts through the service', () => {
  let service;
  before(async () => { service = await startTestService(); });
  after(async () => { await service.stop(); });
  const post = (path, body, options) => call(service, 'POST', `/v1/accounts/${path}`, body, options);
  const refusal = async (path, body, options) => { const r = await post(path, body, options); return [r.status, r.json.error]; };
  const valid = async (email, password) => (await post('verify-credentials', { email, password })).json.valid;
  const bind = async (device, principalId, password) => (await call(service, 'POST', '/v1/devices/register', { principalId, password }, { device })).status;
  const session = async (device) => (await call(service, 'POST', '/v1/sessions', {}, { device })).status;

  test('an address is trimmed and lower-cased; passwords need eight characters; malformed addresses are refused', async () => {
    const made = await post('register', { email: '  New.User@Example.COM\n', password: '12345678' });
    const mail = mailTo(service, 'new.user@example.com');
    assert.equal(mail.to, 'new.user@example.com');
    const verified = await post('verify-email', { email: 'NEW.USER@example.com', code: mail.code });
    assert.deepEqual(verified.json, { principalId: made.json.principalId, emailVerified: true });

    assert.deepEqual(await refusal('register', { email: 'seven@example.com', password: '1234567' }), [400, SHORT_PASSWORD]);
    assert.equal(latestCode(service, 'seven@example.com'), undefined);
    for (const email of ['', 'plain', 'a@b', '@example.com', 'a b@example.com', 'a@@example.com',
      'x@example.com\r\nBcc: victim@example.com', `${'a'.repeat(250)}@example.com`]) {
      assert.deepEqual(await refusal('register', { email, password: PASSWORD }), [400, INVALID_EMAIL], JSON.stringify(email));
    }
  });

  test('signing up again with the same password is a retry with a new code', async () => {
    const email = 'twice@example.com';
    const first = (await post('register', { email, password: PASSWORD })).json;
    const oldCode = latestCode(service, email);
    const again = (await post('register', { email, password: PASSWORD })).json;
    const newCode = latestCode(service, email);
    assert.equal(again.principalId, first.principalId);
    if (oldCode !== newCode) assert.equal((await post('verify-email', { email, code: oldCode })).json.error, WRONG_CODE);
    assert.equal((await post('verify-email', { email, code: newCode })).status, 200);
  });

  test('an address signed up again by someone else before its code is entered: the other learns and changes nothing and ends with no working key', async () => {
    const email = 'victim@example.com';
    const victim = (await post('register', { email, password: PASSWORD })).json;
    const victimCode = latestCode(service, email);
    const theirs = (await post('register', { email, password: 'attacker password' }, { from: '127.0.0.66' })).json;
    assert.deepEqual([theirs.message, theirs.principalId === victim.principalId], [victim.message, false]);
    const attackerKey = newDevice();
    for (const principalId of [victim.principalId, theirs.principalId]) assert.notEqual(await bind(attackerKey, principalId, 'attacker password'), 201);
    // Neither sign-up can be confirmed now, whichever code is typed; the address is told why.
    assert.equal((await post('verify-email', { email, code: victimCode })).json.error, WRONG_CODE);
    assert.deepEqual([mailTo(service, email).kind, await valid(email, 'attacker password')], ['signup-stopped', false]);

    await atOffset(service, SIGNUP_QUIET_MS + MINUTE, async () => {
      const owner = await createAccount(service, email); // after a quiet day, the owner signs up and binds a key
      for (const principalId of [theirs.principalId, owner.principalId]) assert.equal(await bind(attackerKey, principalId, 'attacker password'), 401);
    });
  });

  test('callers who are not signed in get the same answers for unknown, waiting and verified addresses', async () => {
    await createAccount(service, 'known@example.com');
    await post('register', { email: 'waiting@example.com', password: PASSWORD });
    const answers = async (email) => {
      const code = other(latestCode(service, email) ?? '999999');
      const rows = [];
      for (const [path, body] of [['verify-email', { code }], ['reset-password', { code, newPassword: 'a new password' }],
        ['resend-code', {}], ['forgot-password', {}], ['deletion/confirm', { code }]]) {
        const res = await post(path, { email, ...body });
        rows.push([path, res.status, JSON.stringify(res.json).replaceAll(email, 'ADDRESS')]);
      }
      return rows;
    };
    const unknown = await answers('nobody@example.com');
    assert.deepEqual(await answers('waiting@example.com'), unknown);
    assert.deepEqual(await answers('known@example.com'), unknown);
  });

  test('asking for codes is limited per address and purpose and per client, in one sentence that says how long', async () => {
    await atOffset(service, 2 * 24 * HOUR, async () => {
      for (const [path, email, count, sentence] of [
        ['register', 'flood1@example.com', CODE_REQUESTS_PER_ADDRESS, tooManyCodeRequests(10 * MINUTE)],
        ['resend-code', 'flood2@example.com', CODE_REQUESTS_PER_ADDRESS, tooManyCodeRequests(10 * MINUTE)],
        ['forgot-password', 'flood2@example.com', CODE_REQUESTS_PER_ADDRESS, tooManyCodeRequests(10 * MINUTE)],
        // One computer has one budget, whichever loopback address it calls from.
        ['forgot-password', (i) => `many${i}@example.com`, CODE_REQUESTS_PER_CLIENT - 3 * CODE_REQUESTS_PER_ADDRESS, tooManyFromClient(HOUR)]]) {
        const ask = (i) => [path, { email: typeof email === 'function' ? email(i) : email, password: PASSWORD }, { from: `127.0.0.${1 + (i % 3)}` }];
        for (let i = 0; i < count; i += 1) assert.ok((await post(...ask(i))).status < 300, `${path} ${i}`);
        assert.deepEqual(await refusal(...ask(count)), [429, sentence], path);
      }
    });
  });

  test('wrong passwords and unknown addresses look the same; a waiting sign-up is told to verify; ten wrong a day are free', async () => {
    await createAccount(service, 'creds@example.com');
    for (const [email, password] of [['creds@example.com', `${PASSWORD}!`], ['nobody@example.com', PASSWORD], ['creds@example.com', 'x'.repeat(2000)]]) {
      const res = await post('verify-credentials', { email, password });
      assert.deepEqual([res.status, res.json], [200, { valid: false, principalId: '' }]);
    }
    // Right passwords are not counted; the free wrong ones are judged, the next one waits.
    const email = (await createAccount(service, 'allowance@example.com')).email;
    for (let i = 0; i < 12; i += 1) assert.equal(await valid(email, PASSWORD), true);
    for (let i = 0; i < FREE_WRONG_PASSWORDS; i += 1) assert.equal(await valid(email, `wrong ${i} password`), false);
    assert.equal((await post('verify-credentials', { email, password: 'one too many' })).status, 429);
    await post('register', { email: 'pending@example.com', password: PASSWORD });
    assert.deepEqual(await refusal('verify-credentials', { email: 'pending@example.com', password: PASSWORD }), [403, UNVERIFIED]);
  });

  test('a reset code sets the new password once, only for its own account and kind', async () => {
    const email = 'reset@example.com';
    await createAccount(service, email);
    await post('forgot-password', { email });
    const code = latestCode(service, email);
    assert.equal((await post('reset-password', { email, code, newPassword: 'short' })).json.error, SHORT_PASSWORD);
    assert.equal((await post('reset-password', { email, code, newPassword: 'brand new secret' })).status, 200);
    assert.deepEqual([await valid(email, PASSWORD), await valid(email, 'brand new secret')], [false, true]);
    await post('register', { email: 'kinds@example.com', password: PASSWORD });
    for (const [who, typed] of [[email, code], ['ghost@example.com', code], ['kinds@example.com', latestCode(service, 'kinds@example.com')]]) {
      assert.deepEqual(await refusal('reset-password', { email: who, code: typed, newPassword: 'third secret!' }), [400, WRONG_CODE], who);
    }
  });

  test('deletion needs password, principal and code; it removes keys, Korvos and mails for good', async () => {
    const account = await createAccount(service, 'leaving@example.com');
    const korvo = await createKorvo(service, account);
    const staying = await createAccount(service, 'staying@example.com');
    const ask = { email: account.email, password: PASSWORD, principalId: account.principalId };
    assert.deepEqual(await refusal('deletion/request', { ...ask, password: 'not the password' }), [401, WRONG_CREDENTIALS]);
    assert.equal((await post('deletion/request', { ...ask, principalId: staying.principalId })).status, 401);
    assert.equal((await post('deletion/request', ask)).status, 200);
    const mail = mailTo(service, account.email);
    assert.equal((await post('deletion/confirm', { email: account.email, code: other(mail.code) })).json.error, WRONG_CODE);
    assert.deepEqual([mail.kind, await valid(account.email, PASSWORD)], ['delete-account', true], 'not deleted');
    assert.equal((await post('deletion/confirm', { email: account.email, code: mail.code })).json.success, true);
    assert.deepEqual([await valid(account.email, PASSWORD), mailTo(service, account.email)], [false, undefined], 'its mails are gone too');
    assert.equal(await session(account.device), 401);
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
