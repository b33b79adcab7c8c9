// Korvo key pairs (ML-KEM-768 with X25519) and the capsule that carries a file key.
// Both sides of the capsule live here: the service opens, tools and tests seal.
import { createHash, createPrivateKey, createPublicKey, diffieHellman, generateKeyPairSync, hkdfSync, randomBytes } from 'node:crypto';
import { ml_kem768 } from '@noble/post-quantum/ml-kem.js';

export const KEM_PUBLIC_BYTES = 1184;
export const KEM_CIPHERTEXT_BYTES = 1088;
export const X25519_BYTES = 32;
export const PUBLIC_KEY_BYTES = KEM_PUBLIC_BYTES + X25519_BYTES;
export const CAPSULE_BYTES = KEM_CIPHERTEXT_BYTES + X25519_BYTES;
// HKDF info is capped at 1024 bytes by node and OpenSSL; the label, number and length take 28.
export const MAX_CONTEXT_BYTES = 996;
export const FILE_KEY_BYTES = 32;
const KEM_SEED_BYTES = 64;
const INFO_LABEL = Buffer.from('korvo-capsule-v1', 'ascii');

export class CapsuleError extends Error {}

const b64url = (bytes) => Buffer.from(bytes).toString('base64url');

function x25519Public(raw) {
  return createPublicKey({ key: { kty: 'OKP', crv: 'X25519', x: b64url(raw) }, format: 'jwk' });
}

function x25519Private(d, x) {
  return createPrivateKey({ key: { kty: 'OKP', crv: 'X25519', d: b64url(d), x: b64url(x) }, format: 'jwk' });
}

function x25519Shared(privateKey, publicRaw) {
  let shared;
  try {
    shared = diffieHellman({ privateKey, publicKey: x25519Public(publicRaw) });
  } catch {
    throw new CapsuleError('X25519 agreement failed');
  }
  if (shared.every((b) => b === 0)) throw new CapsuleError('X25519 agreement gave zero');
  return shared;
}

// private: KEM seed (64) ‖ X25519 private (32); public: KEM encapsulation key ‖ X25519 public.
export function generateKorvoKeyPair() {
  const seed = randomBytes(KEM_SEED_BYTES);
  const kem = ml_kem768.keygen(seed);
  const { privateKey } = generateKeyPairSync('x25519');
  const jwk = privateKey.export({ format: 'jwk' });
  const publicKey = Buffer.concat([Buffer.from(kem.publicKey), Buffer.from(jwk.x, 'base64url')]);
  const privateMaterial = Buffer.concat([seed, Buffer.from(jwk.d, 'base64url')]);
  return { publicKey, privateMaterial };
}

export function publicKeyCid(publicKey) {
  return `sha256-${createHash('sha256').update(publicKey).digest('hex')}`;
}

export function deriveFileKey({ kemShared, x25519Shared: xShared, kemCiphertext, ephemeralPublic, recipientX25519, secretId, context }) {
  const salt = createHash('sha256').update(kemCiphertext).update(ephemeralPublic).update(recipientX25519).digest();
  const number = Buffer.alloc(8);
  number.writeBigUInt64BE(BigInt(secretId));
  const contextLength = Buffer.alloc(4);
  contextLength.writeUInt32BE(context.length);
  const info = Buffer.concat([INFO_LABEL, number, contextLength, context]);
  return Buffer.from(hkdfSync('sha256', Buffer.concat([kemShared, xShared]), salt, info, FILE_KEY_BYTES));
}

// Service side: the 32-byte file key from a capsule, or CapsuleError for a malformed one.
export function openCapsule({ privateMaterial, publicKey, secretId, capsule, context = Buffer.alloc(0) }) {
  if (capsule.length !== CAPSULE_BYTES) throw new CapsuleError('capsule length');
  if (context.length > MAX_CONTEXT_BYTES) throw new CapsuleError('context length');
  const kemCiphertext = capsule.subarray(0, KEM_CIPHERTEXT_BYTES);
  const ephemeralPublic = capsule.subarray(KEM_CIPHERTEXT_BYTES);
  const recipientX25519 = publicKey.subarray(KEM_PUBLIC_BYTES);
  const kem = ml_kem768.keygen(privateMaterial.subarray(0, KEM_SEED_BYTES));
  const kemShared = Buffer.from(ml_kem768.decapsulate(kemCiphertext, kem.secretKey));
  const xPrivate = x25519Private(privateMaterial.subarray(KEM_SEED_BYTES), recipientX25519);
  const xShared = x25519Shared(xPrivate, ephemeralPublic);
  return deriveFileKey({ kemShared, x25519Shared: xShared, kemCiphertext, ephemeralPublic, recipientX25519, secretId, context });
}

// Sender side, as the bridge does it: a fresh capsule and its file key for a Korvo's public key.
// `kemMessage` (32 bytes) and `ephemeralPrivate` (32 bytes) make it deterministic for vectors.
export function sealCapsule({ publicKey, secretId, context = Buffer.alloc(0), kemMessage, ephemeralPrivate }) {
  if (publicKey.length !== PUBLIC_KEY_BYTES) throw new CapsuleError('public key length');
  const kemPublic = publicKey.subarray(0, KEM_PUBLIC_BYTES);
  const recipientX25519 = publicKey.subarray(KEM_PUBLIC_BYTES);
  const encapsulated = kemMessage ? ml_kem768.encapsulate(kemPublic, kemMessage) : ml_kem768.encapsulate(kemPublic);
  const ephemeral = ephemeralPrivate
    ? createPrivateKey({ key: Buffer.concat([Buffer.from('302e020100300506032b656e04220420', 'hex'), ephemeralPrivate]), format: 'der', type: 'pkcs8' })
    : generateKeyPairSync('x25519').privateKey;
  const ephemeralPublic = Buffer.from(createPublicKey(ephemeral).export({ format: 'jwk' }).x, 'base64url');
  const kemCiphertext = Buffer.from(encapsulated.cipherText);
  const fileKey = deriveFileKey({
    kemShared: Buffer.from(encapsulated.sharedSecret),
    x25519Shared: x25519Shared(ephemeral, recipientX25519),
    kemCiphertext, ephemeralPublic, recipientX25519, secretId, context,
  });
  return { capsule: Buffer.concat([kemCiphertext, ephemeralPublic]), fileKey };
}
