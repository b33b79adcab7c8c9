// Six-digit e-mailed codes: one live code per principal and purpose, valid for ten minutes,
// dead after five wrong tries (after one, once its address has had twenty wrong tries of that
// purpose in a day; see limits.mjs). Only a keyed hash of each code is stored.
import { randomInt, timingSafeEqual } from 'node:crypto';
import { ServiceError } from './http.mjs';
import { WRONG_CODES_PER_DAY } from './limits.mjs';
import { keyedHash } from './secrets.mjs';

export const CODE_LIFETIME_MS = 10 * 60 * 1000;
export const MAX_WRONG_TRIES = 5;
export const CODE_KINDS = Object.freeze({
  verifyEmail: 'verify-email',
  resetPassword: 'reset-password',
  deleteAccount: 'delete-account',
});

export const WRONG_CODE = 'That code is not correct.';
export const EXPIRED_CODE = 'That code has expired; request a new code.';
export const LOCKED_CODE = 'That code was entered wrongly too many times; request a new code.';
export const MALFORMED_CODE = 'Enter the six-digit code from your email.';

// Decimal digits of any script (full-width, Arabic-Indic, ...) as ASCII digits. Unicode keeps
// every run of decimal digits contiguous and in order from zero, so a digit's value is its
// distance from the start of its run, modulo ten.
export function asciiDigits(text) {
  return text.normalize('NFKC').replace(/\p{Nd}/gu, (digit) => {
    const point = digit.codePointAt(0);
    let start = point;
    while (/\p{Nd}/u.test(String.fromCodePoint(start - 1))) start -= 1;
    return String((point - start) % 10);
  });
}

// The six ASCII digits of a typed code, blanks around it ignored; throws for anything else.
export function readCode(typed) {
  const code = typeof typed === 'string' ? asciiDigits(typed.trim()).trim() : '';
  if (!/^[0-9]{6}$/.test(code)) throw new ServiceError(400, MALFORMED_CODE);
  return code;
}

const NOBODY = '';
const NO_HASH = Buffer.alloc(32);

export class OneTimeCodes {
  constructor({ db, masterKey, limits }) {
    this.masterKey = masterKey;
    this.limits = limits;
    this.upsert = db.prepare(`INSERT INTO codes (principal_id, kind, code_hash, expires_at, wrong_tries)
      VALUES (?, ?, ?, ?, 0)
      ON CONFLICT (principal_id, kind) DO UPDATE SET code_hash = excluded.code_hash,
        expires_at = excluded.expires_at, wrong_tries = 0`);
    this.find = db.prepare('SELECT code_hash, expires_at, wrong_tries FROM codes WHERE principal_id = ? AND kind = ?');
    this.countWrong = db.prepare('UPDATE codes SET wrong_tries = wrong_tries + 1 WHERE principal_id = ? AND kind = ?');
    this.remove = db.prepare('DELETE FROM codes WHERE principal_id = ? AND kind = ?');
    this.removeAll = db.prepare('DELETE FROM codes WHERE principal_id = ?');
  }

  hash(principalId, kind, code) {
    return Buffer.from(keyedHash(this.masterKey, `code:${kind}:${principalId}:${code}`), 'hex');
  }

  // Replaces any earlier code of the same purpose; returns the new code.
  issue(principalId, kind, now, lifetime = CODE_LIFETIME_MS) {
    const code = String(randomInt(0, 1_000_000)).padStart(6, '0');
    this.upsert.run(principalId, kind, this.hash(principalId, kind, code).toString('hex'), now + lifetime);
    return code;
  }

  // Uses up the live code of one of `candidates` (principals whose codes may be meant; none for
  // an unknown address) and returns that principal, or throws. Every address does the same work,
  // and only someone who typed the right code learns that it expired or was locked. Wrong tries
  // count against the codes they were tried on, never against a code mailed later.
  consume({ email, kind, typed, now, candidates }) {
    const code = readCode(typed);
    const maxWrong = this.limits.wrongCodesToday(email, kind, now) >= WRONG_CODES_PER_DAY ? 1 : MAX_WRONG_TRIES;
    const tried = candidates.length > 0 ? candidates : [NOBODY];
    let matched;
    for (const principalId of tried) {
      const row = this.find.get(principalId, kind);
      const same = timingSafeEqual(row ? Buffer.from(row.code_hash, 'hex') : NO_HASH, this.hash(principalId, kind, code));
      if (same && row && matched === undefined) matched = { principalId, row };
    }
    if (matched) {
      if (matched.row.wrong_tries >= maxWrong) throw new ServiceError(400, LOCKED_CODE);
      if (now >= matched.row.expires_at) throw new ServiceError(400, EXPIRED_CODE);
      this.remove.run(matched.principalId, kind);
      this.limits.rightCode(email, kind);
      return matched.principalId;
    }
    for (const principalId of tried) this.countWrong.run(principalId, kind);
    this.limits.wrongCode(email, kind, now);
    throw new ServiceError(400, WRONG_CODE);
  }

  discardAll(principalId) {
    this.removeAll.run(principalId);
  }
}
