// Six-digit e-mailed codes: one live code per account and purpose, valid for ten minutes,
// dead after five wrong tries. Only a keyed hash of each code is stored.
import { randomInt, timingSafeEqual } from 'node:crypto';
import { ServiceError } from './http.mjs';
import { keyedHash } from './secrets.mjs';

export const CODE_LIFETIME_MS = 10 * 60 * 1000;
export const MAX_WRONG_TRIES = 5;
export const CODE_KINDS = Object.freeze({
  verifyEmail: 'verify-email',
  resetPassword: 'reset-password',
  deleteAccount: 'delete-account',
});

export const NO_CODE = 'There is no code waiting for this email; request a new code.';
export const WRONG_CODE = 'That code is not correct.';
export const EXPIRED_CODE = 'That code has expired; request a new code.';
export const LOCKED_CODE = 'That code was entered wrongly too many times; request a new code.';
const MALFORMED_CODE = 'Enter the six-digit code from your email.';

export class OneTimeCodes {
  constructor({ db, masterKey }) {
    this.masterKey = masterKey;
    this.upsert = db.prepare(`INSERT INTO codes (principal_id, kind, code_hash, expires_at, wrong_tries)
      VALUES (?, ?, ?, ?, 0)
      ON CONFLICT (principal_id, kind) DO UPDATE SET code_hash = excluded.code_hash,
        expires_at = excluded.expires_at, wrong_tries = 0`);
    this.find = db.prepare('SELECT code_hash, expires_at, wrong_tries FROM codes WHERE principal_id = ? AND kind = ?');
    this.countWrong = db.prepare('UPDATE codes SET wrong_tries = wrong_tries + 1 WHERE principal_id = ? AND kind = ?');
    this.remove = db.prepare('DELETE FROM codes WHERE principal_id = ? AND kind = ?');
  }

  hash(principalId, kind, code) {
    return keyedHash(this.masterKey, `code:${kind}:${principalId}:${code}`);
  }

  // Replaces any earlier code of the same purpose; returns the new code.
  issue(principalId, kind, now) {
    const code = String(randomInt(0, 1_000_000)).padStart(6, '0');
    this.upsert.run(principalId, kind, this.hash(principalId, kind, code), now + CODE_LIFETIME_MS);
    return code;
  }

  // Throws a ServiceError unless `code` is the live code; a matching code is used up.
  // `principalId` may be undefined (no such account): that reads as no code waiting.
  consume(principalId, kind, code, now) {
    const typed = typeof code === 'string' ? code.trim() : '';
    if (!/^[0-9]{6}$/.test(typed)) throw new ServiceError(400, MALFORMED_CODE);
    const row = principalId === undefined ? undefined : this.find.get(principalId, kind);
    if (!row) throw new ServiceError(400, NO_CODE);
    if (row.wrong_tries >= MAX_WRONG_TRIES) throw new ServiceError(400, LOCKED_CODE);
    if (now >= row.expires_at) throw new ServiceError(400, EXPIRED_CODE);
    const expected = Buffer.from(row.code_hash, 'hex');
    const given = Buffer.from(this.hash(principalId, kind, typed), 'hex');
    if (!timingSafeEqual(expected, given)) {
      this.countWrong.run(principalId, kind);
      throw new ServiceError(400, WRONG_CODE);
    }
    this.remove.run(principalId, kind);
  }

  discardAll(principalId) {
    for (const kind of Object.values(CODE_KINDS)) this.remove.run(principalId, kind);
  }
}
