// The key capsule of a protected file: a hybrid encapsulation to the Korvo's public key
// (ML-KEM-768 and X25519) from which both this bridge and the service derive the file key.
// Only the Korvo's owner can have the service open it again.
import { createHash, createPrivateKey, createPublicKey, diffieHellman, generateKeyPairSync, hkdfSync } from 'node:crypto';
import { BridgeFailure } from './failure.mjs';
import { KEY_LENGTH } from './format.mjs';

export const CAPSULE_SUITE = 1;
export const KEM_PUBLIC_KEY_LENGTH = 1184;
export const KEM_CIPHERTEXT_LENGTH = 1088;
export const X25519_LENGTH = 32;
export const PUBLIC_KEY_LENGTH = KEM_PUBLIC_KEY_LENGTH + X25519_LENGTH;
export const CAPSULE_LENGTH = KEM_CIPHERTEXT_LENGTH + X25519_LENGTH;
const KDF_LABEL = Buffer.from('korvo-capsule-v1', 'latin1');
const SPKI_X25519_PREFIX = Buffer.from('302a300506032b656e032100', 'hex');
const PKCS8_X25519_PREFIX = Buffer.from('302e020100300506032b656e04220420', 'hex');

export const UNUSABLE_PUBLIC_KEY = (secretId) => `The Korvo service sent an unusable protection key for Korvo #${secretId}.`;
export const UNUSABLE_FILE_KEY = 'The Korvo service sent an unusable file key.';

const BASE64 = /^[A-Za-z0-9+/]*={0,2}$/;

export function decodeKorvoPublicKey(text, secretId) {
  const trimmed = typeof text === 'string' ? text.trim() : '';
  const bytes = BASE64.test(trimmed) ? Buffer.from(trimmed, 'base64') : Buffer.alloc(0);
  if (bytes.length !== PUBLIC_KEY_LENGTH) throw new BridgeFailure(UNUSABLE_PUBLIC_KEY(secretId));
  return { kemPublicKey: bytes.subarray(0, KEM_PUBLIC_KEY_LENGTH), x25519PublicKey: bytes.subarray(KEM_PUBLIC_KEY_LENGTH) };
}

export function decodeFileKey(text) {
  const bytes = typeof text === 'string' && BASE64.test(text) ? Buffer.from(text, 'base64') : Buffer.alloc(0);
  if (bytes.length !== KEY_LENGTH) throw new BridgeFailure(UNUSABLE_FILE_KEY);
  return bytes;
}

// Both sides compute the file key this way from the two shared secrets.
export function deriveFileKey({ kemSecret, x25519Secret, kemCiphertext, ephemeralPublicKey, x25519PublicKey, secretId, context }) {
  const salt = createHash('sha256').update(kemCiphertext).update(ephemeralPublicKey).update(x25519PublicKey).digest();
  const numbers = Buffer.alloc(12);
  numbers.writeBigUInt64BE(BigInt(secretId), 0);
  numbers.writeUInt32BE(context.length, 8);
  const info = Buffer.concat([KDF_LABEL, numbers.subarray(0, 8), numbers.subarray(8), context]);
  return Buffer.from(hkdfSync('sha256', Buffer.concat([kemSecret, x25519Secret]), salt, info, KEY_LENGTH));
}

function x25519KeyPair(privateKeyRaw) {
  if (!privateKeyRaw) return generateKeyPairSync('x25519');
  const privateKey = createPrivateKey({ key: Buffer.concat([PKCS8_X25519_PREFIX, privateKeyRaw]), format: 'der', type: 'pkcs8' });
  return { privateKey, publicKey: createPublicKey(privateKey) };
}

const loadKem = () => import('@noble/post-quantum/ml-kem.js');

// Starts loading the ML-KEM code early; a failure shows when it is used.
export function preloadKem() {
  loadKem().catch(() => {});
}

// Makes a fresh capsule for Korvo `secretId`; `context` is bound into the file key. `fixed`
// replaces the two random inputs (ML-KEM message, ephemeral X25519 key) for known-answer tests.
export async function encapsulate(publicKey, secretId, context, fixed = {}) {
  const { ml_kem768 } = await loadKem();
  const { cipherText, sharedSecret } = ml_kem768.encapsulate(publicKey.kemPublicKey, fixed.kemMessage);
  const ephemeral = x25519KeyPair(fixed.ephemeralPrivateKey);
  const peer = createPublicKey({ key: Buffer.concat([SPKI_X25519_PREFIX, publicKey.x25519PublicKey]), format: 'der', type: 'spki' });
  let x25519Secret;
  try {
    x25519Secret = diffieHellman({ privateKey: ephemeral.privateKey, publicKey: peer });
  } catch {
    x25519Secret = Buffer.alloc(X25519_LENGTH);
  }
  if (x25519Secret.every((byte) => byte === 0)) throw new BridgeFailure(UNUSABLE_PUBLIC_KEY(secretId));
  const ephemeralPublicKey = ephemeral.publicKey.export({ format: 'der', type: 'spki' }).subarray(SPKI_X25519_PREFIX.length);
  const kemCiphertext = Buffer.from(cipherText);
  const fileKey = deriveFileKey({
    kemSecret: Buffer.from(sharedSecret), x25519Secret, kemCiphertext, ephemeralPublicKey,
    x25519PublicKey: publicKey.x25519PublicKey, secretId, context,
  });
  return { capsule: Buffer.concat([kemCiphertext, ephemeralPublicKey]), fileKey };
}
