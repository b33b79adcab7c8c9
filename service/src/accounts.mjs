// Accounts: registration with an e-mailed code, credentials, password reset and deletion.
import { randomUUID } from 'node:crypto';
import { CODE_KINDS } from './codes.mjs';
import { ServiceError, requireString } from './http.mjs';
import { MAX_PASSWORD_LENGTH, MIN_PASSWORD_LENGTH, hashPassword, spendPasswordCheck, verifyPassword } from './passwords.mjs';

export const INVALID_EMAIL = 'Enter a valid email address.';
export const SHORT_PASSWORD = `Choose a password of at least ${MIN_PASSWORD_LENGTH} characters.`;
export const LONG_PASSWORD = `Choose a password of at most ${MAX_PASSWORD_LENGTH} characters.`;
export const EMAIL_TAKEN = 'An account with this email already exists; sign in instead.';
export const NOT_WAITING = 'No account with this email is waiting for its code.';
export const ALREADY_VERIFIED = 'This email is already verified; sign in instead.';
export const UNVERIFIED = 'Verify your email with the code we sent you first.';
export const WRONG_CREDENTIALS = 'That email or password is not correct.';

const codeSentMessage = (email) => `We sent a six-digit code to ${email}; it works for 10 minutes.`;
const codeResentMessage = (email) => `We sent a new six-digit code to ${email}.`;
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
  constructor({ db, codes, outbox }) {
    this.db = db;
    this.codes = codes;
    this.outbox = outbox;
    this.byEmail = db.prepare('SELECT * FROM accounts WHERE email = ?');
    this.byPrincipal = db.prepare('SELECT * FROM accounts WHERE principal_id = ?');
    this.insert = db.prepare('INSERT INTO accounts (principal_id, email, password_hash, email_verified, created_at) VALUES (?, ?, ?, 0, ?)');
    this.setPassword = db.prepare('UPDATE accounts SET password_hash = ? WHERE principal_id = ?');
    this.markVerified = db.prepare('UPDATE accounts SET email_verified = 1 WHERE principal_id = ?');
    const removals = ['DELETE FROM device_keys WHERE principal_id = ?', 'DELETE FROM korvos WHERE owner = ?',
      'DELETE FROM usage WHERE principal_id = ?', 'DELETE FROM jobs WHERE principal_id = ?',
      'DELETE FROM codes WHERE principal_id = ?', 'DELETE FROM accounts WHERE principal_id = ?'].map((s) => db.prepare(s));
    this.removeAll = db.transaction((account) => {
      for (const r of removals) r.run(account.principal_id);
      outbox.forget(account.email);
    });
  }

  find(email) { return this.byEmail.get(email); }

  get(principalId) { return this.byPrincipal.get(principalId); }

  // The account when `password` is its password, else undefined (unknown address included).
  async checkPassword(email, password) {
    const account = this.find(email);
    if (!account) return spendPasswordCheck(password).then(() => undefined);
    return (await verifyPassword(password, account.password_hash)) ? account : undefined;
  }

  mailCode(account, kind, now) {
    const code = this.codes.issue(account.principal_id, kind, now);
    const { subject, purpose } = CODE_MAILS[kind];
    this.outbox.send({
      to: account.email, kind, subject, code,
      text: `Your Halvane code is ${code}.\n\nEnter it ${purpose}. It works for 10 minutes.\n`
        + "If you did not ask for it, you can ignore this email.\n",
    }, now);
  }

  async register(body, now) {
    const email = normaliseEmail(requireString(body, 'email'));
    const password = requireString(body, 'password');
    checkNewPassword(password);
    const hash = await hashPassword(password);
    let account = this.find(email);
    if (account && account.email_verified) throw new ServiceError(409, EMAIL_TAKEN);
    if (account) {
      this.setPassword.run(hash, account.principal_id);
    } else {
      this.insert.run(randomUUID(), email, hash, now);
      account = this.find(email);
    }
    this.mailCode(account, CODE_KINDS.verifyEmail, now);
    return { status: 201, json: { principalId: account.principal_id, message: codeSentMessage(email) } };
  }

  resendCode(body, now) {
    const email = normaliseEmail(requireString(body, 'email'));
    const account = this.find(email);
    if (!account || account.email_verified) throw new ServiceError(404, NOT_WAITING);
    this.mailCode(account, CODE_KINDS.verifyEmail, now);
    return { json: { message: codeResentMessage(email) } };
  }

  verifyEmail(body, now) {
    const email = normaliseEmail(requireString(body, 'email'));
    const code = requireString(body, 'code');
    const account = this.find(email);
    if (account && account.email_verified) throw new ServiceError(409, ALREADY_VERIFIED);
    this.codes.consume(account?.principal_id, CODE_KINDS.verifyEmail, code, now);
    this.markVerified.run(account.principal_id);
    return { json: { principalId: account.principal_id, emailVerified: true } };
  }

  async verifyCredentials(body) {
    const email = normaliseEmail(requireString(body, 'email'));
    const account = await this.checkPassword(email, requireString(body, 'password'));
    if (!account) return { json: { valid: false, principalId: '' } };
    if (!account.email_verified) throw new ServiceError(403, UNVERIFIED);
    return { json: { valid: true, principalId: account.principal_id } };
  }

  forgotPassword(body, now) {
    const email = normaliseEmail(requireString(body, 'email'));
    const account = this.find(email);
    if (account) this.mailCode(account, CODE_KINDS.resetPassword, now);
    return { json: { message: resetSentMessage(email) } };
  }

  async resetPassword(body, now) {
    const email = normaliseEmail(requireString(body, 'email'));
    const code = requireString(body, 'code');
    const newPassword = requireString(body, 'newPassword');
    checkNewPassword(newPassword);
    const hash = await hashPassword(newPassword);
    const account = this.find(email);
    this.codes.consume(account?.principal_id, CODE_KINDS.resetPassword, code, now);
    this.setPassword.run(hash, account.principal_id);
    // Whoever reset the password has read the mailbox, so the address counts as verified.
    this.markVerified.run(account.principal_id);
    return { json: { message: PASSWORD_CHANGED } };
  }

  async requestDeletion(body, now) {
    const email = normaliseEmail(requireString(body, 'email'));
    const password = requireString(body, 'password');
    const principalId = requireString(body, 'principalId');
    const account = await this.checkPassword(email, password);
    if (!account || account.principal_id !== principalId) throw new ServiceError(401, WRONG_CREDENTIALS);
    this.mailCode(account, CODE_KINDS.deleteAccount, now);
    return { json: { message: deletionCodeMessage(email) } };
  }

  confirmDeletion(body, now) {
    const email = normaliseEmail(requireString(body, 'email'));
    const code = requireString(body, 'code');
    const account = this.find(email);
    this.codes.consume(account?.principal_id, CODE_KINDS.deleteAccount, code, now);
    this.removeAll(account);
    return { json: { success: true, message: ACCOUNT_DELETED } };
  }

  routes() {
    const post = (path, handle) => ({ method: 'POST', pattern: new RegExp(`^/v1/accounts/${path}$`), auth: 'none', handle });
    return [
      post('register', (c) => this.register(c.body, c.now)),
      post('resend-code', (c) => this.resendCode(c.body, c.now)),
      post('verify-email', (c) => this.verifyEmail(c.body, c.now)),
      post('verify-credentials', (c) => this.verifyCredentials(c.body)),
      post('forgot-password', (c) => this.forgotPassword(c.body, c.now)),
      post('reset-password', (c) => this.resetPassword(c.body, c.now)),
      post('deletion/request', (c) => this.requestDeletion(c.body, c.now)),
      post('deletion/confirm', (c) => this.confirmDeletion(c.body, c.now)),
    ];
  }
}
