import assert from 'node:assert/strict';
import { after, before, describe, test } from 'node:test';
import { CODE_KINDS, CODE_LIFETIME_MS, EXPIRED_CODE, LOCKED_CODE, MAX_WRONG_TRIES, NO_CODE, OneTimeCodes, WRONG_CODE } from '../src/codes.mjs';
import { openDatabase } from '../src/db.mjs';
import { PASSWORD, call, createAccount, latestCode, startTestService } from './support/harness.mjs';

// A different six-digit code than `code`.
const other = (code) => String((Number(code) + 1) % 1_000_000).padStart(6, '0');

function freshCodes() {
  const db = openDatabase(':memory:');
  return { db, codes: new OneTimeCodes({ db, masterKey: Buffer.alloc(32, 7) }) };
}

function sentence(fn) {
  try {
    fn();
  } catch (err) {
    return err.message;
  }
  return 'accepted';
}

describe('code rules with an injected clock', () => {
  test('a code lives for exactly ten minutes', () => {
    const { codes } = freshCodes();
    const t = 1_700_000_000_000;
    const code = codes.issue('p1', CODE_KINDS.verifyEmail, t);
    assert.equal(sentence(() => codes.consume('p1', CODE_KINDS.verifyEmail, code, t + CODE_LIFETIME_MS)), EXPIRED_CODE);
    assert.equal(sentence(() => codes.consume('p1', CODE_KINDS.verifyEmail, code, t + CODE_LIFETIME_MS - 1)), 'accepted');
    assert.equal(sentence(() => codes.consume('p1', CODE_KINDS.verifyEmail, code, t + 1)), NO_CODE, 'a used code is gone');
  });

  test('malformed codes are refused without costing a try, and blanks around a code are fine', () => {
    const { codes } = freshCodes();
    const code = codes.issue('p', CODE_KINDS.resetPassword, 0);
    for (const typed of ['', '12345', '1234567', '12a456', '１２３４５６', '12 345', -1, null]) {
      assert.notEqual(sentence(() => codes.consume('p', CODE_KINDS.resetPassword, typed, 1)), 'accepted');
    }
    assert.equal(sentence(() => codes.consume('p', CODE_KINDS.resetPassword, ` ${code}\n`, 1)), 'accepted');
  });
});

describe('codes through the service', () => {
  let service;
  before(async () => { service = await startTestService(); });
  after(async () => { await service.stop(); });
  const post = (path, body) => call(service, 'POST', `/v1/accounts/${path}`, body);

  test('an account code expires after ten minutes on the service clock', async () => {
    await post('register', { email: 'late@example.com', password: PASSWORD });
    const code = latestCode(service, 'late@example.com');
    service.clock.offsetMs = CODE_LIFETIME_MS + 1000;
    try {
      const res = await post('verify-email', { email: 'late@example.com', code });
      assert.deepEqual([res.status, res.json.error], [400, EXPIRED_CODE]);
    } finally {
      service.clock.offsetMs = 0;
    }
    await post('resend-code', { email: 'late@example.com' });
    const fresh = await post('verify-email', { email: 'late@example.com', code: latestCode(service, 'late@example.com') });
    assert.equal(fresh.status, 200);
  });

  test('after five wrong deletion codes the right one no longer deletes', async () => {
    const account = await createAccount(service, 'locked@example.com');
    await post('deletion/request', { email: account.email, password: PASSWORD, principalId: account.principalId });
    const code = latestCode(service, account.email);
    for (let i = 0; i < MAX_WRONG_TRIES; i += 1) {
      assert.equal((await post('deletion/confirm', { email: account.email, code: other(code) })).json.error, WRONG_CODE);
    }
    const res = await post('deletion/confirm', { email: account.email, code });
    assert.deepEqual([res.status, res.json.error], [400, LOCKED_CODE]);
    assert.equal((await post('verify-credentials', { email: account.email, password: PASSWORD })).json.valid, true);

    await post('deletion/request', { email: account.email, password: PASSWORD, principalId: account.principalId });
    const fresh = latestCode(service, account.email);
    for (let i = 0; i < MAX_WRONG_TRIES - 1; i += 1) await post('deletion/confirm', { email: account.email, code: other(fresh) });
    assert.equal((await post('deletion/confirm', { email: account.email, code: fresh })).status, 200, 'four wrong tries leave the code alive');
  });
});
