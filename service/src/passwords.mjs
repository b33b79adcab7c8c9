// Password hashing with scrypt; stored as "scrypt$N$r$p$salt$hash" (base64 parts).
import { randomBytes, scrypt, timingSafeEqual } from 'node:crypto';

export const MIN_PASSWORD_LENGTH = 8;
export const MAX_PASSWORD_LENGTH = 1024;

const N = 16384;
const R = 8;
const P = 1;
const KEY_LENGTH = 32;

function derive(password, salt, n, r, p) {
  return new Promise((resolve, reject) => {
    scrypt(password, salt, KEY_LENGTH, { N: n, r, p, maxmem: 64 * 1024 * 1024 }, (err, key) => {
      if (err) reject(err); else resolve(key);
    });
  });
}

export async function hashPassword(password) {
  const salt = randomBytes(16);
  const key = await derive(password, salt, N, R, P);
  return ['scrypt', N, R, P, salt.toString('base64'), key.toString('base64')].join('$');
}

// A stored hash that cannot be read never matches.
export async function verifyPassword(password, stored) {
  const parts = typeof stored === 'string' ? stored.split('$') : [];
  if (parts.length !== 6 || parts[0] !== 'scrypt') return false;
  const [n, r, p] = parts.slice(1, 4).map(Number);
  const salt = Buffer.from(parts[4], 'base64');
  const expected = Buffer.from(parts[5], 'base64');
  const key = await derive(password, salt, n, r, p);
  return key.length === expected.length && timingSafeEqual(key, expected);
}

// Spends the same work as a real check, so an unknown address answers as slowly as a known one.
export async function spendPasswordCheck(password) {
  await derive(password, Buffer.alloc(16), N, R, P);
  return false;
}

// Whether `password` matches `stored` (undefined: nobody's), always at the cost of one check; a
// password longer than any that can be set is checked only in its allowed length, and fails.
export async function passwordMatches(password, stored) {
  const usable = stored !== undefined && password.length <= MAX_PASSWORD_LENGTH;
  if (!usable) return spendPasswordCheck(password.slice(0, MAX_PASSWORD_LENGTH));
  return verifyPassword(password, stored);
}
