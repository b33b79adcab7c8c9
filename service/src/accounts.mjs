// Verified accounts: credentials, password reset and deletion, and what sign-up (signups.mjs)
// and device registration ask of them. A caller who is not signed in gets the same answers, in
// the same time, whether or not an address has an account: the same password checks per
// request, the same code rules for every address, and mail made after the answer. Every password
// check is counted before it is judged (limits.mjs).
import { CODE_KINDS, readCode } from './codes.mjs';
import { ServiceError, requireString } from './http.mjs';
import { MAX_PASSWORD_LENGTH, MIN_PASSWORD_LENGTH, hashPassword, passwordMatches } from './passwords.mjs';

export const INVALID_EMAIL = 'Enter a valid email address.';
export const SHORT_PASSWORD = `Choose a password of at least ${MIN_PASSWORD_LENGTH} characters.`;
export const LONG_PASSWORD = `Choose a password of at most ${MAX_PASSWORD_LENGTH} characters.`;
export const UNVERIFIED = 'Verify your email with the code we sent you first.';
export const WRONG_CREDENTIALS = 'That email or password is not correct.';

const resetSentMessage = (email) => `If an account uses ${email}, we sent it a reset code.`;
const PASSWORD_CHANGED = 'Your password has been changed; sign in with the new one.';
const deletionCodeMessage = (email) => `We sent a confirmation code to ${email}.`;
const ACCOUNT_DELETED = 'Your account has been deleted.';

const CODE_MAILS = {
  [CODE_KINDS.verifyEmail]: { subject: 'Your Halvane code', purpose: 'to confirm your email address' },
  [CODE_KINDS.resetPassword]: { subject: 'Reset your Halvane password', purpose: 'to choose a new password' },
  [CODE_KINDS.deleteAccount]: { subject: 'Confirm deleting your Halvane account', purpose: 'to delete your account for good' },
};

// Trimmed, lower-cased; one "@" between non-empty parts, a dot in the domain, no blanks or
// control characters (the address also becomes an e-mail header).
export function normaliseEmail(raw) {
  const email = String(raw).trim().toLowerCase();
  if (email.length > 254 || !/^[^\s@\u0000-\u001f\u007f]+@[^\s@\u0000-\u001f\u007f]+\.[^\s@\u0000-\u001f\u007f]+$/.test(email)) {
    throw new ServiceError(400, INVALID_EMAIL);
  }
  return email;
}

export function checkNewPassword(password) {
  if (password.length < MIN_PASSWORD_LENGTH) throw new ServiceError(400, SHORT_PASSWORD);
  if (password.length > MAX_PASSWORD_LENGTH) throw new ServiceError(400, LONG_PASSWORD);
}

export class Accounts {
  constructor({ db, codes, outbox, limits }) {
    this.codes = codes;
    this.outbox = outbox;
    this.limits = limits;
    this.byEmail = db.prepare('SELECT * FROM accounts WHERE email = ?');
    this.byPrincipal = db.prepare('SELECT * FROM accounts WHERE principal_id = ?');
    this.liveSignupOf = db.prepare('SELECT * FROM signups WHERE email = ? AND cancelled = 0');
    this.signupById = db.prepare('SELECT * FROM signups WHERE principal_id = ?');
    this.setPassword = db.prepare('UPDATE accounts SET password_hash = ?, keys_reset_at = ? WHERE principal_id = ?');
    this.dropKeysBut = db.prepare('DELETE FROM device_keys WHERE principal_id = ? AND public_key IS NOT ?');
    const removals = ['DELETE FROM device_keys WHERE principal_id = ?', 'DELETE FROM korvos WHERE owner = ?',
      'DELETE FROM usage WHERE principal_id = ?', 'DELETE FROM jobs WHERE principal_id = ?',
      'DELETE FROM codes WHERE principal_id = ?', 'DELETE FROM accounts WHERE principal_id = ?'].map((s) => db.prepare(s));
    const removeSignups = db.prepare('DELETE FROM signups WHERE email = ?');
    this.removeAll = db.transaction((account) => {
      for (const r of removals) r.run(account.principal_id);
      removeSignups.run(account.email);
      outbox.forget(account.email);
      limits.forget(account.email);
    });
  }

  find(email) { return this.byEmail.get(email); }

  get(principalId) { return this.byPrincipal.get(principalId); }

  // The sign-up of `email` that may still be confirmed (at most one; see signups.mjs).
  liveSignup(email) { return this.liveSignupOf.get(email); }

  // Whether `password` opens `stored` (undefined: nobody's), counted against `subject`'s and
  // `client`'s limits before it is judged.
  async judgePassword(subject, password, stored, { client, now }) {
    const ticket = this.limits.admitPasswordTry(subject, client, now);
    const right = await passwordMatches(password, stored);
    if (right) this.limits.passwordRight(ticket);
    return right;
  }

  // The verified account `password` opens, else undefined (unknown address included).
  async checkPassword(email, password, ctx) {
    const account = this.find(email);
    return (await this.judgePassword(email, password, account?.password_hash, ctx)) ? account : undefined;
  }

  // What `password` opens by principal: { account } for a verified one, { signup } for a sign-up
  // still waiting for its code, or {} for nothing.
  async ownerByPrincipal(principalId, password, ctx) {
    const account = this.get(principalId);
    const signup = account ? undefined : this.signupById.get(principalId);
    const owner = account ?? signup;
    return (await this.judgePassword(owner?.email ?? principalId, password, owner?.password_hash, ctx)) ? { account, signup } : {};
  }

  // Issues and mails a code after the answer has gone out.
  mailCode(owner, kind, now) {
    this.outbox.later(() => {
      const code = this.codes.issue(owner.principal_id, kind, now);
      const { subject, purpose } = CODE_MAILS[kind];
      this.outbox.write({
        to: owner.email, kind, subject, code,
        text: `Your Halvane code is ${code}.\n\nEnter it ${purpose}. It works for 10 minutes.\n`
          + "If you did not ask for it, you can ignore this email.\n",
      }, now);
    });
  }

  // A correct password of a sign-up still waiting for its code is told to verify first. An
  // address with an account may also have such a sign-up (signups.mjs), so both are checked, at
  // once, for every address.
  async verifyCredentials({ body, client, now }) {
    const email = normaliseEmail(requireString(body, 'email'));
    const password = requireString(body, 'password');
    const ticket = this.limits.admitPasswordTry(email, client, now);
    const account = this.find(email);
    const signup = this.liveSignup(email);
    const [opensAccount, opensSignup] = await Promise.all([account, signup].map((owner) => passwordMatches(password, owner?.password_hash)));
    if (opensAccount || opensSignup) this.limits.passwordRight(ticket);
    if (opensAccount) return { json: { valid: true, principalId: account.principal_id } };
    if (opensSignup) throw new ServiceError(403, UNVERIFIED);
    return { json: { valid: false, principalId: '' } };
  }

  forgotPassword({ body, now, client }) {
    const email = normaliseEmail(requireString(body, 'email'));
    this.limits.admitCodeRequest(email, CODE_KINDS.resetPassword, client, now);
    const account = this.find(email);
    if (account) this.mailCode(account, CODE_KINDS.resetPassword, now);
    return { json: { message: resetSentMessage(email) } };
  }

  // The code is judged before the new password is hashed. Every device key of the account is
  // signed out but the one that signed the request, if any: whoever may have used the old
  // password has to sign in again, through the e-mailed confirmation of a new key.
  async resetPassword({ body, now, device }) {
    const email = normaliseEmail(requireString(body, 'email'));
    const typed = requireString(body, 'code');
    const newPassword = requireString(body, 'newPassword');
    readCode(typed);
    checkNewPassword(newPassword);
    const account = this.find(email);
    this.codes.consume({ email, kind: CODE_KINDS.resetPassword, typed, now, candidates: account ? [account.principal_id] : [] });
    this.setPassword.run(await hashPassword(newPassword), now, account.principal_id);
    this.dropKeysBut.run(account.principal_id, device?.principalId === account.principal_id ? device.publicKey : null);
    this.limits.clearPasswordTries(email);
    return { json: { message: PASSWORD_CHANGED } };
  }

  async requestDeletion({ body, now, client }) {
    const email = normaliseEmail(requireString(body, 'email'));
    const password = requireString(body, 'password');
    const principalId = requireString(body, 'principalId');
    const account = await this.checkPassword(email, password, { client, now });
    if (!account || account.principal_id !== principalId) throw new ServiceError(401, WRONG_CREDENTIALS);
    this.limits.admitCodeRequest(email, CODE_KINDS.deleteAccount, client, now);
    this.mailCode(account, CODE_KINDS.deleteAccount, now);
    return { json: { message: deletionCodeMessage(email) } };
  }

  confirmDeletion({ body, now }) {
    const email = normaliseEmail(requireString(body, 'email'));
    const typed = requireString(body, 'code');
    const account = this.find(email);
    this.codes.consume({ email, kind: CODE_KINDS.deleteAccount, typed, now, candidates: account ? [account.principal_id] : [] });
    this.removeAll(account);
    return { json: { success: true, message: ACCOUNT_DELETED } };
  }

  routes() {
    const post = (path, handle) => ({ method: 'POST', pattern: new RegExp(`^/v1/accounts/${path}$`), auth: 'none', handle });
    return [
      post('verify-credentials', (c) => this.verifyCredentials(c)),
      post('forgot-password', (c) => this.forgotPassword(c)),
      { ...post('reset-password', (c) => this.resetPassword(c)), auth: 'optional-device' },
      post('deletion/request', (c) => this.requestDeletion(c)),
      post('deletion/confirm', (c) => this.confirmDeletion(c)),
    ];
  }
}
