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
// person retrying: the same sign-up gets a new code. A stopped address is not stopped for good:
// it is mailed a claim code with which its reader can still finish one of the sign-ups
// (claims.mjs).
//
// An address that already has an account is signed up the same way, in the same time and with
// the same answers, so nobody learns that it has one; but its sign-ups never get a code, and the
// address is mailed a notice instead.
import { randomUUID } from 'node:crypto';
import { checkNewPassword, normaliseEmail } from './accounts.mjs';
import { Claims } from './claims.mjs';
import { CODE_KINDS, readCode } from './codes.mjs';
import { requireString } from './http.mjs';
import { hashPassword, passwordMatches } from './passwords.mjs';

export const SIGNUP_QUIET_MS = 24 * 60 * 60 * 1000;

const codeSentMessage = (email) => `We sent a six-digit code to ${email}; it works for 10 minutes.`;
const codeResentMessage = (email) => `If ${email} is waiting for its code, we sent it a new one.`;
const EXISTS_MAIL = 'Someone tried to create a Halvane account with this email address, which already has one.\n\n'
  + 'If it was you, sign in with your password instead; if you forgot it, choose "Forgot password" to reset it.\n'
  + 'If it was not you, you can ignore this email: nothing was changed.\n';

export class Signups {
  constructor({ db, accounts, codes, outbox, limits, claimHoldMs = 2000 }) {
    this.accounts = accounts;
    this.outbox = outbox;
    this.limits = limits;
    this.claims = new Claims({ db, codes, outbox, holdMs: claimHoldMs });
    this.recentOf = db.prepare('SELECT * FROM signups WHERE email = ?');
    this.insert = db.prepare(`INSERT INTO signups (principal_id, email, password_hash, created_at, last_at, cancelled, candidate)
      VALUES (?, ?, ?, ?, ?, ?, ?)`);
    this.touch = db.prepare('UPDATE signups SET last_at = ? WHERE principal_id = ?');
    this.cancelAll = db.prepare('UPDATE signups SET cancelled = 1, last_at = ? WHERE email = ?');
    this.staleCodes = db.prepare('DELETE FROM codes WHERE principal_id IN (SELECT principal_id FROM signups WHERE last_at <= ? OR cancelled = 1)');
    this.removeStale = db.prepare('DELETE FROM signups WHERE last_at <= ?');
    this.promote = db.transaction((signup) => {
      db.prepare('INSERT INTO accounts (principal_id, email, password_hash, email_verified, created_at) VALUES (?, ?, ?, 1, ?)')
        .run(signup.principal_id, signup.email, signup.password_hash, signup.created_at);
      db.prepare('DELETE FROM codes WHERE principal_id IN (SELECT principal_id FROM signups WHERE email = ?)').run(signup.email);
      db.prepare('DELETE FROM signups WHERE email = ?').run(signup.email);
      this.claims.drop(signup.email);
    });
    accounts.signups = this;
  }

  // Sign-ups quiet for a day are dropped, and cancelled ones hold no live code.
  prune(now) {
    this.staleCodes.run(now - SIGNUP_QUIET_MS);
    this.removeStale.run(now - SIGNUP_QUIET_MS);
    this.claims.prune(now);
  }

  // A code for a waiting sign-up; the notice instead when the address has an account.
  sendCode(signup, now) {
    this.touch.run(now, signup.principal_id);
    if (this.accounts.find(signup.email)) this.sendNotice(signup.email, now);
    else this.accounts.mailCode(signup, CODE_KINDS.verifyEmail, now);
  }

  sendNotice(email, now) {
    this.outbox.send({ to: email, kind: 'account-exists', subject: 'Your Halvane account', text: EXISTS_MAIL }, now);
  }

  // Two password checks whatever the address's state, so the time says nothing either; mail is
  // made after the answer (outbox.mjs).
  async register({ body, now, client }) {
    const email = normaliseEmail(requireString(body, 'email'));
    const password = requireString(body, 'password');
    checkNewPassword(password);
    this.limits.admitCodeRequest(email, CODE_KINDS.verifyEmail, client, now);
    this.prune(now);
    const live = this.accounts.liveSignup(email);
    const retry = await passwordMatches(password, live?.password_hash);
    const hash = retry ? undefined : await hashPassword(password);
    const current = this.accounts.liveSignup(email);
    const answer = (principalId) => ({ status: 201, json: { principalId, message: codeSentMessage(email) } });
    if (retry && current?.principal_id === live.principal_id) {
      this.sendCode(current, now);
      return answer(current.principal_id);
    }
    const principalId = randomUUID();
    const hasAccount = Boolean(this.accounts.find(email));
    const claim = hasAccount ? undefined : this.claims.of(email);
    const contested = !claim && this.recentOf.all(email).length > 0;
    if (contested) this.cancelAll.run(now, email);
    this.insert.run(principalId, email, hash ?? await hashPassword(password), now, now, claim || contested ? 1 : 0, claim ? 1 : 0);
    if (claim) this.claims.join(email, now);
    else if (hasAccount) this.sendNotice(email, now);
    else if (contested) this.claims.open(email, now);
    else this.accounts.mailCode({ principal_id: principalId, email }, CODE_KINDS.verifyEmail, now);
    if (contested) this.prune(now);
    return answer(principalId);
  }

  resendCode({ body, now, client }) {
    const email = normaliseEmail(requireString(body, 'email'));
    this.limits.admitCodeRequest(email, CODE_KINDS.verifyEmail, client, now);
    this.prune(now);
    const live = this.accounts.liveSignup(email);
    if (live) this.sendCode(live, now);
    else if (this.claims.of(email)) this.claims.mailCode(email, now);
    return { json: { message: codeResentMessage(email) } };
  }

  verifyEmail({ body, now }) {
    const email = normaliseEmail(requireString(body, 'email'));
    const typed = requireString(body, 'code');
    readCode(typed);
    this.prune(now);
    if (this.claims.of(email)) return { json: this.claims.verify(email, typed, now) };
    const live = this.accounts.liveSignup(email);
    this.codes().consume({ email, kind: CODE_KINDS.verifyEmail, typed, now, candidates: live ? [live.principal_id] : [] });
    this.promote(live);
    return { json: { principalId: live.principal_id, emailVerified: true } };
  }

  codes() { return this.accounts.codes; }

  // The first device key of a sign-up still waiting (its password checked): makes it the account
  // when it is the one a claim settles on; otherwise throws the answer a waiting sign-up gets.
  async settleFirstKey(signup, now, unverified) {
    await this.claims.settle(signup, now, unverified);
    this.promote(signup);
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
