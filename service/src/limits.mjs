// Limits on what a caller who is not signed in can repeat. Each limit answers 429 with one
// sentence that says how long to wait, and is counted for every address, known or not, so a limit
// says nothing about whether an account exists.
//
// Nobody but the owner can be told apart from the owner before a code or password is judged, so
// a limit that refuses tries unjudged refuses the owner's too. Hence:
// - Codes are never refused unjudged. Each code takes at most five wrong tries and then stops
//   working (codes.mjs); after twenty wrong tries for an address and purpose in a rolling day, a
//   code stops at its first wrong try. Guessing is therefore bounded by the codes mailed, and a
//   code is mailed only to the owner's mailbox; the owner can always have a fresh one (below).
// - Code e-mails are counted per purpose and address (five an hour, then one more whenever the
//   newest is ten minutes old, so an address that is refused always has a code that lives or can
//   ask again shortly) and per client.
// - Passwords are far harder to guess than codes, so each wrong one counts and, past a free
//   allowance, opens a short wait for its address during which no password is judged (the owner's
//   included). The wait never passes fifteen minutes, and the owner's way back that guessing
//   cannot close is the mailed reset code, whose success clears the count. A try is counted
//   before its password is judged, so parallel guesses meet the limit too.
// A client is the caller's network (clientKey): an attacker on one machine gets one budget.
import { ServiceError } from './http.mjs';

const MINUTE = 60 * 1000;
const HOUR = 60 * MINUTE;
const DAY = 24 * HOUR;

export const CODE_REQUESTS_PER_ADDRESS = 5; // per purpose and rolling hour; then one per code lifetime
export const CODE_REQUESTS_PER_CLIENT = 30; // per rolling hour
export const WRONG_CODES_PER_DAY = 20; // per address and purpose, before codes stop at their first wrong try
export const FREE_WRONG_PASSWORDS = 10; // per address and rolling day; then 1, 2, 4 ... minutes
export const PASSWORD_CHECKS_PER_CLIENT = 100; // per rolling hour
export const NEW_KEY_REQUESTS_PER_CLIENT = 60; // per rolling hour
// What a code e-mail is for; each has its own count per address.
export const CODE_PURPOSES = Object.freeze(['verify-email', 'reset-password', 'delete-account']);
const MAX_PASSWORD_WAIT = 15 * MINUTE;
const CODE_RENEWAL = 10 * MINUTE; // a code's lifetime

export function waitText(ms) {
  const minutes = Math.max(1, Math.ceil(ms / MINUTE));
  if (minutes === 1) return '1 minute';
  return minutes < 120 ? `${minutes} minutes` : `${Math.ceil(minutes / 60)} hours`;
}

export const tooManyCodeRequests = (wait) => `Too many codes were asked for this email address; try again in ${waitText(wait)}.`;
export const tooManyFromClient = (wait) => `This computer asked for too many codes; try again in ${waitText(wait)}.`;
export const wrongPasswordsWait = (wait) => `Too many wrong passwords were entered for this email address; try again in ${waitText(wait)}.`;
export const tooManyPasswordChecks = (wait) => `This computer tried too many passwords; try again in ${waitText(wait)}.`;
export const tooManyNewKeys = (wait) => `This computer asked for too many new device keys; try again in ${waitText(wait)}.`;

const IPV4 = /^(?:::ffff:)?(\d+)\.(\d+)\.(\d+)\.\d+$/i;

// The client an address belongs to: all of loopback is this computer; otherwise the /24 of an
// IPv4 address and the /64 of an IPv6 one, which one machine cannot multiply for free.
export function clientKey(address) {
  const text = String(address ?? '').toLowerCase();
  const v4 = IPV4.exec(text);
  if (v4) return v4[1] === '127' ? 'loopback' : `${v4[1]}.${v4[2]}.${v4[3]}.0/24`;
  if (text === '::1') return 'loopback';
  const [head, tail = ''] = text.split('::');
  const groups = [...head.split(':').filter(Boolean), ...Array(8).fill('0')].slice(0, 8);
  if (tail !== '' && head.split(':').filter(Boolean).length < 4) {
    const back = tail.split(':');
    groups.splice(8 - back.length, back.length, ...back);
  }
  return `${groups.slice(0, 4).map((g) => g.replace(/^0+(?=.)/, '')).join(':')}::/64`;
}

// How long until one more event fits when at most `max` may fall within `window`.
function waitForRoom(times, max, window, now) {
  return times.length < max ? 0 : times[times.length - max] + window - now;
}

export class Limits {
  constructor(db) {
    this.add = db.prepare('INSERT INTO limit_events (scope, subject, at) VALUES (?, ?, ?)');
    // Events later than now (the clock was moved back) are not counted.
    this.since = db.prepare('SELECT at FROM limit_events WHERE scope = ? AND subject = ? AND at > ? AND at <= ? ORDER BY at');
    this.clear = db.prepare('DELETE FROM limit_events WHERE scope = ? AND subject = ?');
    this.removeOne = db.prepare('DELETE FROM limit_events WHERE rowid = ?');
    this.clearSubject = db.prepare(`DELETE FROM limit_events WHERE subject IN (?${', ?'.repeat(CODE_PURPOSES.length)})`);
    this.prune = db.prepare('DELETE FROM limit_events WHERE at <= ?');
  }

  times(scope, subject, from, now) {
    return this.since.all(scope, subject, from, now).map((row) => row.at);
  }

  // Counts a request for a code e-mail of `purpose` to `email` from `client`, or throws the
  // limit it meets.
  admitCodeRequest(email, purpose, client, now) {
    this.prune.run(now - DAY);
    const subject = `${purpose}:${email}`;
    const asked = this.times('code-request', subject, now - HOUR, now);
    const renewal = asked.length > 0 ? asked[asked.length - 1] + CODE_RENEWAL - now : 0;
    const forAddress = Math.min(waitForRoom(asked, CODE_REQUESTS_PER_ADDRESS, HOUR, now), renewal);
    if (forAddress > 0) throw new ServiceError(429, tooManyCodeRequests(forAddress));
    this.admitPerClient('client-code-request', client, CODE_REQUESTS_PER_CLIENT, tooManyFromClient, now);
    this.add.run('code-request', subject, now);
  }

  admitPerClient(scope, client, max, sentence, now) {
    const wait = waitForRoom(this.times(scope, client, now - HOUR, now), max, HOUR, now);
    if (wait > 0) throw new ServiceError(429, sentence(wait));
    this.add.run(scope, client, now);
  }

  // Device-key requests (first key, rotation) store a nonce and check a password.
  admitNewKey(client, now) {
    this.prune.run(now - DAY);
    this.admitPerClient('client-new-key', client, NEW_KEY_REQUESTS_PER_CLIENT, tooManyNewKeys, now);
  }

  // Wrong codes for `email` and `kind` in the rolling day.
  wrongCodesToday(email, kind, now) { return this.times(`wrong-${kind}`, email, now - DAY, now).length; }

  wrongCode(email, kind, now) { this.add.run(`wrong-${kind}`, email, now); }

  rightCode(email, kind) { this.clear.run(`wrong-${kind}`, email); }

  // Counts a password check for `subject` (an address, or a principal) from `client` before it
  // is judged, or throws the limit it meets; returns a ticket for passwordRight.
  admitPasswordTry(subject, client, now) {
    this.prune.run(now - DAY);
    const tried = this.times('wrong-password', subject, now - DAY, now);
    const wait = tried.length < FREE_WRONG_PASSWORDS ? 0
      : tried[tried.length - 1] + Math.min(MAX_PASSWORD_WAIT, MINUTE * 2 ** (tried.length - FREE_WRONG_PASSWORDS)) - now;
    if (wait > 0) throw new ServiceError(429, wrongPasswordsWait(wait));
    this.admitPerClient('client-password', client, PASSWORD_CHECKS_PER_CLIENT, tooManyPasswordChecks, now);
    return this.add.run('wrong-password', subject, now).lastInsertRowid;
  }

  // The password of that try was right: it is not counted as wrong.
  passwordRight(ticket) { this.removeOne.run(ticket); }

  // The address proved it reads its mailbox and chose a new password.
  clearPasswordTries(email) { this.clear.run('wrong-password', email); }

  // Drops everything counted for an address (its account was deleted).
  forget(email) { this.clearSubject.run(email, ...CODE_PURPOSES.map((purpose) => `${purpose}:${email}`)); }
}
