// Device keys: the first key of an account, replacement keys confirmed through an e-mailed
// link, the key check behind every signed request, and sessions.
import { createHash, randomBytes } from 'node:crypto';
import { normaliseEmail, UNVERIFIED, WRONG_CREDENTIALS } from './accounts.mjs';
import { ServiceError, requireString } from './http.mjs';
import { keyedHash } from './secrets.mjs';

export const CONFIRM_LINK_LIFETIME_MS = 24 * 60 * 60 * 1000;
export const SESSION_LIFETIME_MS = 24 * 60 * 60 * 1000;

export const KEY_TAKEN = 'This device key is already registered.';
export const ACCOUNT_HAS_KEY = 'This account already has a device key; sign in to set up this device.';
export const UNKNOWN_KEY = 'This device key is not registered with Halvane.';
export const PENDING_KEY = 'Confirm the security email we sent you, then sign in again.';
const WRONG_ACCOUNT = 'That password is not correct.';

const LINK_CONFIRMED = "This device's new key is confirmed; you can sign in again.";
const LINK_ALREADY_USED = "This device's new key was already confirmed; you can sign in.";
const LINK_UNKNOWN = 'This confirmation link is not valid.';
const LINK_EXPIRED = 'This confirmation link has expired; sign in again to get a new one.';

function page(status, sentence) {
  const html = '<!doctype html><html lang="en"><head><meta charset="utf-8"><title>Halvane</title></head>'
    + `<body><main><h1>Halvane</h1><p>${sentence}</p></main></body></html>\n`;
  return { status, html };
}

export function sessionAddress(publicKeyHex) {
  const digest = createHash('sha256').update('korvo-session').update(Buffer.from(publicKeyHex, 'hex')).digest();
  return `0x${digest.subarray(digest.length - 20).toString('hex')}`;
}

export class Devices {
  constructor({ db, accounts, outbox, masterKey, publicUrl }) {
    this.accounts = accounts;
    this.outbox = outbox;
    this.masterKey = masterKey;
    this.publicUrl = publicUrl;
    this.byKey = db.prepare('SELECT * FROM device_keys WHERE public_key = ?');
    this.countFor = db.prepare('SELECT COUNT(*) AS n FROM device_keys WHERE principal_id = ?');
    this.insert = db.prepare(`INSERT INTO device_keys (public_key, principal_id, status, created_at, confirm_token_hash, confirm_expires_at)
      VALUES (?, ?, ?, ?, ?, ?)`);
    this.byToken = db.prepare('SELECT * FROM device_keys WHERE confirm_token_hash = ?');
    this.activate = db.prepare("UPDATE device_keys SET status = 'active', confirm_expires_at = NULL WHERE public_key = ?");
  }

  // The account behind a signed request's key; rules 5 and 6 of the signing scheme.
  authorise(publicKey, claimedPrincipal) {
    const row = this.byKey.get(publicKey);
    if (!row || (claimedPrincipal !== undefined && claimedPrincipal !== row.principal_id)) {
      throw new ServiceError(401, UNKNOWN_KEY, 'unknown-key');
    }
    if (row.status !== 'active') throw new ServiceError(403, PENDING_KEY, 'pending-key');
    return { publicKey, principalId: row.principal_id };
  }

  // Only a verified account gets a key: a sign-up still waiting for its code has none to bind
  // to (unless a claim settles on it, claims.mjs), and an unknown principal costs the same
  // password check as a known one. Only an account's first key is bound with the password alone:
  // once a reset signed its keys out, new ones are confirmed by e-mail (rotate).
  async registerFirst(ctx) {
    const principalId = requireString(ctx.body, 'principalId');
    const password = requireString(ctx.body, 'password');
    const owner = await this.accounts.ownerByPrincipal(principalId, password, ctx);
    if (owner.signup) await this.accounts.signups.settleFirstKey(owner.signup, ctx.now, UNVERIFIED);
    const account = owner.account ?? (owner.signup && this.accounts.get(principalId));
    if (!account) throw new ServiceError(401, WRONG_ACCOUNT);
    if (this.byKey.get(ctx.newKey)) throw new ServiceError(409, KEY_TAKEN);
    if (this.countFor.get(principalId).n > 0 || account.keys_reset_at !== null) throw new ServiceError(409, ACCOUNT_HAS_KEY);
    this.insert.run(ctx.newKey, principalId, 'active', ctx.now, null, null);
    return {
      status: 201,
      json: {
        principalId,
        emailHex: Buffer.from(account.email, 'utf8').toString('hex'),
        nodeRegistrationStatus: 'complete',
        failedNodes: [],
        nodeErrors: [],
      },
    };
  }

  async rotate(ctx) {
    const email = normaliseEmail(requireString(ctx.body, 'email'));
    const account = await this.accounts.checkPassword(email, requireString(ctx.body, 'password'), ctx);
    if (!account) throw new ServiceError(401, WRONG_CREDENTIALS);
    if (this.byKey.get(ctx.newKey)) throw new ServiceError(409, KEY_TAKEN);
    const token = randomBytes(32).toString('base64url');
    const permitId = `permit-${randomBytes(8).toString('hex')}`;
    this.insert.run(ctx.newKey, account.principal_id, 'pending', ctx.now,
      keyedHash(this.masterKey, `link:${token}`), ctx.now + CONFIRM_LINK_LIFETIME_MS);
    const link = `${this.publicUrl()}/v1/devices/confirm?token=${token}`;
    this.outbox.send({
      to: account.email, kind: 'confirm-device', subject: 'Confirm the new key for your Halvane account', link,
      text: 'A device asked to use a new key with your Halvane account.\n\n'
        + `If that was you, open this link within 24 hours to confirm it:\n${link}\n\n`
        + 'If it was not you, do not open the link and change your password.\n',
    }, ctx.now);
    return { status: 201, json: { success: true, permitId } };
  }

  confirm(ctx) {
    const token = ctx.url.searchParams.get('token') || '';
    const row = this.byToken.get(keyedHash(this.masterKey, `link:${token}`));
    if (!token || !row) return page(404, LINK_UNKNOWN);
    if (row.status === 'active') return page(200, LINK_ALREADY_USED);
    if (ctx.now >= row.confirm_expires_at) return page(410, LINK_EXPIRED);
    this.activate.run(row.public_key);
    return page(200, LINK_CONFIRMED);
  }

  createSession(ctx) {
    return {
      json: {
        principalId: ctx.device.principalId,
        sessionAddress: sessionAddress(ctx.device.publicKey),
        expiresAt: new Date(ctx.now + SESSION_LIFETIME_MS).toISOString(),
      },
    };
  }

  routes() {
    return [
      { method: 'POST', pattern: /^\/v1\/devices\/register$/, auth: 'new-key', handle: (c) => this.registerFirst(c) },
      { method: 'POST', pattern: /^\/v1\/devices\/rotate$/, auth: 'new-key', handle: (c) => this.rotate(c) },
      { method: 'GET', pattern: /^\/v1\/devices\/confirm$/, auth: 'none', handle: (c) => this.confirm(c) },
      { method: 'POST', pattern: /^\/v1\/sessions$/, auth: 'device', handle: (c) => this.createSession(c) },
    ];
  }
}
