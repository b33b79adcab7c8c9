// Limits on what a caller who is not signed in can repeat: asking for e-mailed codes (per address
// and per client address, in a rolling hour) and entering wrong codes (per address and purpose,
// across new codes: free tries, then a growing wait, and a ceiling per rolling day). Each limit
// answers 429 with one sentence that says how long to wait. Counts are kept for every address,
// known or not, so a limit says nothing about whether an account exists.
import { ServiceError } from './http.mjs';

const MINUTE = 60 * 1000;
const HOUR = 60 * MINUTE;
const DAY = 24 * HOUR;

export const CODE_REQUESTS_PER_ADDRESS = 5; // per rolling hour
export const CODE_REQUESTS_PER_CLIENT = 30; // per rolling hour
export const FREE_WRONG_CODES = 5; // then 1, 2, 4 ... minutes after each, at most an hour
export const WRONG_CODES_PER_DAY = 20;
const MAX_WAIT = HOUR;

export function waitText(ms) {
  const minutes = Math.max(1, Math.ceil(ms / MINUTE));
  if (minutes === 1) return '1 minute';
  return minutes < 120 ? `${minutes} minutes` : `${Math.ceil(minutes / 60)} hours`;
}

export const tooManyCodeRequests = (wait) => `Too many codes were asked for this email address; try again in ${waitText(wait)}.`;
export const tooManyFromClient = (wait) => `This computer asked for too many codes; try again in ${waitText(wait)}.`;
export const wrongCodesWait = (wait) => `Too many wrong codes were entered for this email address; try again in ${waitText(wait)}.`;
export const wrongCodesToday = (wait) => `Too many wrong codes were entered for this email address today; try again in ${waitText(wait)}.`;

// How long until one more event fits when at most `max` may fall within `window`.
function waitForRoom(times, max, window, now) {
  return times.length < max ? 0 : times[times.length - max] + window - now;
}

export class Limits {
  constructor(db) {
    this.add = db.prepare('INSERT INTO limit_events (scope, subject, at) VALUES (?, ?, ?)');
    this.since = db.prepare('SELECT at FROM limit_events WHERE scope = ? AND subject = ? AND at > ? ORDER BY at');
    this.clear = db.prepare('DELETE FROM limit_events WHERE scope = ? AND subject = ?');
    this.clearSubject = db.prepare('DELETE FROM limit_events WHERE subject = ?');
    this.prune = db.prepare('DELETE FROM limit_events WHERE at <= ?');
  }

  times(scope, subject, from) {
    return this.since.all(scope, subject, from).map((row) => row.at);
  }

  // Counts a request for a code e-mail to `email` from `client`, or throws the limit it meets.
  admitCodeRequest(email, client, now) {
    this.prune.run(now - DAY);
    const forAddress = waitForRoom(this.times('code-request', email, now - HOUR), CODE_REQUESTS_PER_ADDRESS, HOUR, now);
    if (forAddress > 0) throw new ServiceError(429, tooManyCodeRequests(forAddress));
    const forClient = waitForRoom(this.times('client-code-request', client, now - HOUR), CODE_REQUESTS_PER_CLIENT, HOUR, now);
    if (forClient > 0) throw new ServiceError(429, tooManyFromClient(forClient));
    this.add.run('code-request', email, now);
    this.add.run('client-code-request', client, now);
  }

  // Throws while the wrong codes entered for `email` and `kind` call for a wait.
  admitCodeTry(email, kind, now) {
    const wrong = this.times(`wrong-${kind}`, email, now - DAY);
    const daily = waitForRoom(wrong, WRONG_CODES_PER_DAY, DAY, now);
    const growing = wrong.length < FREE_WRONG_CODES ? 0
      : wrong[wrong.length - 1] + Math.min(MAX_WAIT, MINUTE * 2 ** (wrong.length - FREE_WRONG_CODES)) - now;
    if (daily > 0 && daily >= growing) throw new ServiceError(429, wrongCodesToday(daily));
    if (growing > 0) throw new ServiceError(429, wrongCodesWait(growing));
  }

  wrongCode(email, kind, now) { this.add.run(`wrong-${kind}`, email, now); }

  rightCode(email, kind) { this.clear.run(`wrong-${kind}`, email); }

  // Drops everything counted for an address (its account was deleted).
  forget(email) { this.clearSubject.run(email); }
}
