// Sign-up: an address and password wait as a sign-up until the code e-mailed for that sign-up
// is entered; only then do they become an account. Each sign-up has its own principal,
// password and code, so a second sign-up for the same address can neither change the first
// nor learn anything about it.
//
// Whoever enters a code proves only that they read the mailbox, not which sign-up they made,
// so the service never lets two sign-ups of one address compete: a sign-up with a different
// password made within a day of another cancels both (their codes stop working, and the
// address is told by e-mail), and the address can sign up again once it has had a quiet day.
// At most one sign-up per address can therefore be confirmed, and the code it was e-mailed is
// the only one that confirms it. Signing up again with the same password is taken as the same
// person retrying: the same sign-up gets a new code.
import { randomUUID } from 'node:crypto';
import { checkNewPassword, normaliseEmail } from './accounts.mjs';
import { CODE_KINDS, readCode } from './codes.mjs';
import { ServiceError, requireString } from './http.mjs';
import { hashPassword, passwordMatches } from './passwords.mjs';

export const SIGNUP_QUIET_MS = 24 * 60 * 60 * 1000;
export const EMAIL_TAKEN = 'An account with this email already exists; sign in instead.';

const codeSentMessage = (email) => `We sent a six-digit code to ${email}; it works for 10 minutes.`;
const codeResentMessage = (email) => `If ${email} is waiting for its code, we sent it a new one.`;
const STOPPED_MAIL = 'Two Halvane sign-ups with this email address and different passwords were started within a day of\n'
  + 'each other. To keep the address safe, neither can be confirmed, and the codes sent for them no longer work.\n\n'
  + 'If one of them was yours, create your account again once a day has passed without another sign-up.\n'
  + 'If none was yours, you can ignore this email.\n';

export class Signups {
  constructor({ db, accounts, codes, outbox, limits }) {
    this.accounts = accounts;
    this.codes = codes;
    this.outbox = outbox;
    this.limits = limits;
    this.recentOf = db.prepare('SELECT * FROM signups WHERE email = ?');
    this.insert = db.prepare('INSERT INTO signups (principal_id, email, password_hash, created_at, last_at, cancelled) VALUES (?, ?, ?, ?, ?, ?)');
    this.touch = db.prepare('UPDATE signups SET last_at = ? WHERE principal_id = ?');
    this.cancelAll = db.prepare('UPDATE signups SET cancelled = 1, last_at = ? WHERE email = ?');
    this.staleCodes = db.prepare('DELETE FROM codes WHERE principal_id IN (SELECT principal_id FROM signups WHERE last_at <= ? OR cancelled = 1)');
    this.removeStale = db.prepare('DELETE FROM signups WHERE last_at <= ?');
    this.promote = db.transaction((signup) => {
      db.prepare('INSERT INTO accounts (principal_id, email, password_hash, email_verified, created_at) VALUES (?, ?, ?, 1, ?)')
        .run(signup.principal_id, signup.email, signup.password_hash, signup.created_at);
      db.prepare('DELETE FROM codes WHERE principal_id IN (SELECT principal_id FROM signups WHERE email = ?)').run(signup.email);
      db.prepare('DELETE FROM signups WHERE email = ?').run(signup.email);
    });
  }

  // Sign-ups quiet for a day are dropped, and cancelled ones hold no live code.
  prune(now) {
    this.staleCodes.run(now - SIGNUP_QUIET_MS);
    this.removeStale.run(now - SIGNUP_QUIET_MS);
  }

  sendCode(signup, now) {
    this.touch.run(now, signup.principal_id);
    this.accounts.mailCode(signup, CODE_KINDS.verifyEmail, now);
  }

  // Two password checks whatever the address's state, so the time says nothing either.
  async register({ body, now, client }) {
    const email = normaliseEmail(requireString(body, 'email'));
    const password = requireString(body, 'password');
    checkNewPassword(password);
    if (this.accounts.find(email)) throw new ServiceError(409, EMAIL_TAKEN);
    this.limits.admitCodeRequest(email, client, now);
    this.prune(now);
    const live = this.accounts.liveSignup(email);
    const retry = await passwordMatches(password, live?.password_hash);
    const hash = retry ? undefined : await hashPassword(password);
    if (this.accounts.find(email)) throw new ServiceError(409, EMAIL_TAKEN); // verified meanwhile
    const current = this.accounts.liveSignup(email);
    if (retry && current?.principal_id === live.principal_id) {
      this.sendCode(current, now);
      return { status: 201, json: { principalId: current.principal_id, message: codeSentMessage(email) } };
    }
    const principalId = randomUUID();
    const contested = this.recentOf.all(email).length > 0;
    if (contested) this.cancelAll.run(now, email);
    this.insert.run(principalId, email, hash ?? await hashPassword(password), now, now, contested ? 1 : 0);
    if (contested) {
      this.prune(now);
      this.outbox.send({ to: email, kind: 'signup-stopped', subject: 'Your Halvane sign-up was stopped', text: STOPPED_MAIL }, now);
    } else {
      this.accounts.mailCode({ principal_id: principalId, email }, CODE_KINDS.verifyEmail, now);
    }
    return { status: 201, json: { principalId, message: codeSentMessage(email) } };
  }

  resendCode({ body, now, client }) {
    const email = normaliseEmail(requireString(body, 'email'));
    this.limits.admitCodeRequest(email, client, now);
    this.prune(now);
    const live = this.accounts.liveSignup(email);
    if (live) this.sendCode(live, now);
    return { json: { message: codeResentMessage(email) } };
  }

  verifyEmail({ body, now }) {
    const email = normaliseEmail(requireString(body, 'email'));
    const typed = requireString(body, 'code');
    readCode(typed);
    this.prune(now);
    const live = this.accounts.liveSignup(email);
    this.codes.consume({ email, kind: CODE_KINDS.verifyEmail, typed, now, candidates: live ? [live.principal_id] : [] });
    this.promote(live);
    return { json: { principalId: live.principal_id, emailVerified: true } };
  }

  routes() {
    const post = (path, handle) => ({ method: 'POST', pattern: new RegExp(`^/v1/accounts/${path}$`), auth: 'none', handle });
    return [
      post('register', (c) => this.register(c)),
      post('resend-code', (c) => this.resendCode(c)),
      post('verify-email', (c) => this.verifyEmail(c)),
    ];
  }
}
