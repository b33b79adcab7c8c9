// Device request signatures: Ed25519 over method, target, body hash, timestamp and nonce,
// with a replay window. Also the client side, used by tests and tools.
import { createHash, createPrivateKey, createPublicKey, randomBytes, sign, verify } from 'node:crypto';
import { ServiceError } from './http.mjs';

export const SIGNATURE_LABEL = 'KORVO-ED25519-V1';
export const REPLAY_WINDOW_MS = 5 * 60 * 1000;
export const NONCE_MEMORY_MS = 10 * 60 * 1000;

export const NOT_SIGNED = 'This request is not signed with a device key.';
export const STALE_REQUEST = "The request's time is more than 5 minutes away from Halvane's clock; check this computer's date and time.";
export const BAD_SIGNATURE = "The request's signature is not valid.";
export const REPLAYED_REQUEST = 'This request was already received once; send a new one.';

const SPKI_PREFIX = Buffer.from('302a300506032b6570032100', 'hex');
const PKCS8_PREFIX = Buffer.from('302e020100300506032b657004220420', 'hex');
const HEX64 = /^[0-9a-fA-F]{64}$/;

export function publicKeyObject(publicKeyHex) {
  return createPublicKey({ key: Buffer.concat([SPKI_PREFIX, Buffer.from(publicKeyHex, 'hex')]), format: 'der', type: 'spki' });
}

export function sha256Hex(bytes) {
  return createHash('sha256').update(bytes).digest('hex');
}

export function canonicalText({ method, target, body, timestamp, nonce }) {
  return [SIGNATURE_LABEL, method.toUpperCase(), target, sha256Hex(body), timestamp, nonce].join('\n');
}

// Checks the signature headers of `req` against `rawBody` (rules 1 to 3), then lets
// `authorise(publicKey)` judge the key (rules 5 and 6), and only then remembers the nonce (rule
// 4), so that requests from keys nobody registered leave nothing behind. Returns what
// `authorise` returns (by default the lowercase public key).
export function verifySignedRequest({ req, rawBody, now, nonces, authorise = (publicKey) => publicKey }) {
  const keyHex = req.headers['x-korvo-key'];
  const timestamp = req.headers['x-korvo-timestamp'];
  const nonce = req.headers['x-korvo-nonce'];
  const signature = req.headers['x-korvo-signature'];
  if (typeof keyHex !== 'string' || !HEX64.test(keyHex)
      || typeof timestamp !== 'string' || !/^[0-9]{1,16}$/.test(timestamp)
      || typeof nonce !== 'string' || !/^[0-9a-fA-F]{32,64}$/.test(nonce)
      || typeof signature !== 'string' || !/^[0-9a-fA-F]{128}$/.test(signature)) {
    throw new ServiceError(401, NOT_SIGNED, 'malformed-auth');
  }
  if (Math.abs(now - Number(timestamp)) > REPLAY_WINDOW_MS) throw new ServiceError(401, STALE_REQUEST, 'clock-skew');
  const text = canonicalText({ method: req.method, target: req.url, body: rawBody, timestamp, nonce });
  let valid = false;
  try {
    valid = verify(null, Buffer.from(text, 'utf8'), publicKeyObject(keyHex), Buffer.from(signature, 'hex'));
  } catch {
    valid = false;
  }
  if (!valid) throw new ServiceError(401, BAD_SIGNATURE, 'bad-signature');
  const publicKey = keyHex.toLowerCase();
  const approved = authorise(publicKey);
  if (!nonces.remember(publicKey, nonce.toLowerCase(), now)) throw new ServiceError(401, REPLAYED_REQUEST, 'replay');
  return approved;
}

// Nonces seen per key, kept for longer than the window on either side of the clock.
export class NonceMemory {
  constructor(db) {
    this.insert = db.prepare('INSERT OR IGNORE INTO nonces (public_key, nonce, seen_at) VALUES (?, ?, ?)');
    this.forget = db.prepare('DELETE FROM nonces WHERE seen_at < ?');
  }

  // True when the nonce is new for this key (and is now remembered).
  remember(publicKey, nonce, now) {
    this.forget.run(now - NONCE_MEMORY_MS);
    return this.insert.run(publicKey, nonce, now).changes === 1;
  }
}

// Client side. `privateKeyHex` is the 32-byte Ed25519 seed in hex (an optional "0x" is allowed).
export function deviceKeyFromHex(privateKeyHex) {
  const seed = Buffer.from(privateKeyHex.replace(/^0x/, ''), 'hex');
  const privateKey = createPrivateKey({ key: Buffer.concat([PKCS8_PREFIX, seed]), format: 'der', type: 'pkcs8' });
  const spki = createPublicKey(privateKey).export({ format: 'der', type: 'spki' });
  return { privateKey, publicKeyHex: spki.subarray(SPKI_PREFIX.length).toString('hex') };
}

export function signatureHeaders({ privateKeyHex, method, target, body, now = Date.now(), nonce }) {
  const key = deviceKeyFromHex(privateKeyHex);
  const timestamp = String(Math.floor(now));
  const usedNonce = nonce || randomBytes(16).toString('hex');
  const text = canonicalText({ method, target, body, timestamp, nonce: usedNonce });
  return {
    'X-Korvo-Key': key.publicKeyHex,
    'X-Korvo-Timestamp': timestamp,
    'X-Korvo-Nonce': usedNonce,
    'X-Korvo-Signature': sign(null, Buffer.from(text, 'utf8'), key.privateKey).toString('hex'),
  };
}
