// Korvos: numbered key pairs whose private halves stay sealed in the service; their public
// keys, the opening of file-key capsules for their owners, and the metered file jobs.
//
// Metering rests on what the service sees itself. A lock is reported with its capsule and
// context; the service records them (by hash) with the declared size, and charges the locker
// when the locker's bridge reports the file written. Opening looks the capsule up: only a
// finished lock is opened, and only when the opener's bridge sends the size it found in the
// file, which must be the recorded one; the opening is charged when the bridge reports the file
// authenticated and written. So a lock that was never reported or finished cannot be opened, a
// capsule that was not made for the Korvo is refused without charge, nobody can make another
// account pay for a size that is not the file's, and stopped or damaged work costs nothing.
// Korvos made before locks were recorded (recorded_locks = 0) still open unrecorded capsules,
// metered at the size sent, so that files locked for them stay readable.
import { createHash } from 'node:crypto';
import { ServiceError, optionalString, requireCount, requireString } from './http.mjs';
import { seal, unseal } from './secrets.mjs';
import { CAPSULE_BYTES, CapsuleError, MAX_CONTEXT_BYTES, generateKorvoKeyPair, openCapsule, publicKeyCid } from './korvoCrypto.mjs';

export const MAX_KORVOS_PER_ACCOUNT = 100;
const CLUSTER_ID = 1;
const CHAIN_ID = 1;
const SECRET_TYPE_HYBRID = 1;

export const NO_SUCH_KORVO = 'No Korvo has that number.';
export const BAD_KORVO_NUMBER = `A Korvo number is a whole number from 1 to ${Number.MAX_SAFE_INTEGER}.`;
export const TOO_MANY_KORVOS = `An account can hold at most ${MAX_KORVOS_PER_ACCOUNT} Korvos.`;
export const NOT_OWNER = 'Only the owner of this Korvo can open files protected for it.';
export const BAD_CAPSULE = "The protected file's key capsule is damaged.";
export const BAD_CONTEXT = `The capsule context must be base64 of at most ${MAX_CONTEXT_BYTES} bytes.`;
export const BAD_JOB_KIND = 'Only "encrypt" jobs are reported here; openings are counted with their capsule.';
export const UNRECORDED_LOCK = 'No file locked for this Korvo has this key capsule, so it cannot be opened.';
export const LOCK_RECORDED = 'This lock was already recorded.';
export const SIZE_MISMATCH = 'The file is not the size its lock recorded, so it cannot be opened.';

const STRICT_BASE64 = /^(?:[A-Za-z0-9+/]{4})*(?:[A-Za-z0-9+/]{2}==|[A-Za-z0-9+/]{3}=)?$/;

function decodeBase64(text, sentence) {
  if (!STRICT_BASE64.test(text)) throw new ServiceError(400, sentence);
  return Buffer.from(text, 'base64');
}

// Korvo numbers run from 1 to 2^53 - 1, the largest whole number JSON carries exactly.
const isKorvoNumber = (n) => Number.isSafeInteger(n) && n >= 1;

function parseKorvoNumber(text) {
  if (!/^[0-9]{1,16}$/.test(text) || !isKorvoNumber(Number(text))) throw new ServiceError(400, BAD_KORVO_NUMBER);
  return Number(text);
}

const sealLabel = (secretId) => `korvo-private-v1:${secretId}`;

// The capsule and context of a lock or an opening, checked, with the hash a lock is kept by.
function readLock(body) {
  const capsule = decodeBase64(requireString(body, 'capsule'), BAD_CAPSULE);
  if (capsule.length !== CAPSULE_BYTES) throw new ServiceError(400, BAD_CAPSULE);
  const contextText = optionalString(body, 'context');
  const context = contextText === undefined ? Buffer.alloc(0) : decodeBase64(contextText, BAD_CONTEXT);
  if (context.length > MAX_CONTEXT_BYTES) throw new ServiceError(400, BAD_CONTEXT);
  return { capsule, context, hash: createHash('sha256').update(capsule).update(context).digest('hex') };
}

export class Korvos {
  constructor({ db, masterKey, usage }) {
    this.db = db;
    this.masterKey = masterKey;
    this.usage = usage;
    this.listFor = db.prepare('SELECT secret_id, owner, public_key, created_at, updated_at FROM korvos WHERE owner = ? ORDER BY secret_id');
    this.countFor = db.prepare('SELECT COUNT(*) AS n FROM korvos WHERE owner = ?');
    this.byNumber = db.prepare('SELECT * FROM korvos WHERE secret_id = ?');
    this.insert = db.prepare('INSERT INTO korvos (owner, public_key, sealed_private, created_at, updated_at, recorded_locks) VALUES (?, ?, NULL, ?, ?, 1)');
    this.recordedLock = db.prepare("SELECT bytes, state FROM jobs WHERE kind = 'encrypt' AND secret_id = ? AND lock_hash = ?");
    this.storePrivate = db.prepare('UPDATE korvos SET sealed_private = ? WHERE secret_id = ?');
    // The number is only known after the insert, and the sealed key is bound to it.
    this.createTx = db.transaction((owner, pair, now) => {
      if (this.countFor.get(owner).n >= MAX_KORVOS_PER_ACCOUNT) throw new ServiceError(403, TOO_MANY_KORVOS);
      const secretId = Number(this.insert.run(owner, pair.publicKey, now, now).lastInsertRowid);
      this.storePrivate.run(seal(this.masterKey, sealLabel(secretId), pair.privateMaterial), secretId);
      return secretId;
    });
  }

  existing(secretId) {
    const row = this.byNumber.get(secretId);
    if (!row) throw new ServiceError(404, NO_SUCH_KORVO);
    return row;
  }

  describe(row) {
    return {
      secretId: row.secret_id,
      ownerPrincipalId: row.owner,
      isSyncing: 0,
      clusterId: CLUSTER_ID,
      secretType: SECRET_TYPE_HYBRID,
      publicKeyCid: publicKeyCid(row.public_key),
      createdAt: new Date(row.created_at).toISOString(),
      updatedAt: new Date(row.updated_at).toISOString(),
    };
  }

  list(ctx) {
    return { json: { success: true, secrets: this.listFor.all(ctx.device.principalId).map((r) => this.describe(r)) } };
  }

  create(ctx) {
    const pair = generateKorvoKeyPair();
    const secretId = this.createTx(ctx.device.principalId, pair, ctx.now);
    return {
      status: 201,
      json: { success: true, secretId, clusterId: CLUSTER_ID, publicKeyCid: publicKeyCid(pair.publicKey), status: 'active' },
    };
  }

  publicKey(ctx) {
    const row = this.existing(parseKorvoNumber(ctx.params.secretId));
    return { json: { chainId: CHAIN_ID, secretId: row.secret_id, publicKey: row.public_key.toString('base64') } };
  }

  openCapsule(ctx) {
    const row = this.existing(parseKorvoNumber(ctx.params.secretId));
    if (row.owner !== ctx.device.principalId) throw new ServiceError(403, NOT_OWNER);
    const { capsule, context, hash } = readLock(ctx.body);
    const recorded = this.recordedLock.get(row.secret_id, hash);
    // A lock whose bridge never reported its file written has no file behind it.
    if (recorded ? recorded.state !== 'charged' : row.recorded_locks) throw new ServiceError(400, UNRECORDED_LOCK, 'unrecorded-lock');
    // The opener's bridge found this size in the file; the locker's figure alone is not believed.
    const bytes = requireCount(ctx.body, 'bytes');
    if (recorded && bytes !== recorded.bytes) throw new ServiceError(400, SIZE_MISMATCH, 'size-mismatch');
    this.usage.admit(ctx.device.principalId, 'decrypt', bytes, ctx.now);
    let fileKey;
    try {
      fileKey = openCapsule({
        privateMaterial: unseal(this.masterKey, sealLabel(row.secret_id), row.sealed_private),
        publicKey: row.public_key,
        secretId: row.secret_id,
        capsule,
        context,
      });
    } catch (err) {
      if (err instanceof CapsuleError) throw new ServiceError(400, BAD_CAPSULE);
      throw err;
    }
    // Recorded only once the key is in hand (a damaged capsule costs nothing), and charged when
    // the bridge reports the file authenticated and written.
    const jobId = this.usage.start({ principalId: ctx.device.principalId, kind: 'decrypt', secretId: row.secret_id, bytes, now: ctx.now });
    return { json: { fileKey: fileKey.toString('base64'), jobId, status: 'opened' } };
  }

  reportJob(ctx) {
    if (requireString(ctx.body, 'kind') !== 'encrypt') throw new ServiceError(400, BAD_JOB_KIND);
    const secretId = ctx.body.secretId;
    if (!isKorvoNumber(secretId)) throw new ServiceError(400, BAD_KORVO_NUMBER);
    const row = this.existing(secretId);
    const bytes = requireCount(ctx.body, 'bytes');
    const lock = ctx.body.capsule == null && !row.recorded_locks ? undefined : readLock(ctx.body);
    if (lock && this.recordedLock.get(secretId, lock.hash)) throw new ServiceError(409, LOCK_RECORDED);
    const jobId = this.usage.start({ principalId: ctx.device.principalId, kind: 'encrypt', secretId, bytes, now: ctx.now, lockHash: lock?.hash });
    return { status: 201, json: { jobId, status: 'recorded' } };
  }

  completeJob(ctx) {
    this.usage.complete({ principalId: ctx.device.principalId, jobId: ctx.params.jobId, now: ctx.now });
    return { json: { jobId: ctx.params.jobId, status: 'completed' } };
  }

  consumption(ctx) {
    return { json: this.usage.consumption(ctx.device.principalId, ctx.now) };
  }

  routes() {
    const signed = (method, pattern, handle) => ({ method, pattern, auth: 'device', handle });
    return [
      signed('GET', /^\/v1\/korvos$/, (c) => this.list(c)),
      signed('POST', /^\/v1\/korvos$/, (c) => this.create(c)),
      signed('GET', /^\/v1\/korvos\/(?<secretId>[^/]+)\/public-key$/, (c) => this.publicKey(c)),
      signed('POST', /^\/v1\/korvos\/(?<secretId>[^/]+)\/capsule\/open$/, (c) => this.openCapsule(c)),
      signed('POST', /^\/v1\/usage\/jobs$/, (c) => this.reportJob(c)),
      signed('POST', /^\/v1\/usage\/jobs\/(?<jobId>job-[0-9a-f]{24})\/complete$/, (c) => this.completeJob(c)),
      signed('GET', /^\/v1\/usage$/, (c) => this.consumption(c)),
    ];
  }
}
