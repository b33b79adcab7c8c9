// The device's Ed25519 key: generation, parsing of the hexadecimal form the application keeps,
// and signing. Uses node's own Ed25519 so that no extra code is loaded for it.
import { createPrivateKey, createPublicKey, generateKeyPairSync, sign } from 'node:crypto';
import { BridgeFailure } from './failure.mjs';

// DER prefixes that wrap a raw 32-byte Ed25519 seed (PKCS#8) and public key (SPKI).
const PKCS8_ED25519_PREFIX = Buffer.from('302e020100300506032b657004220420', 'hex');
const SPKI_ED25519_PREFIX = Buffer.from('302a300506032b6570032100', 'hex');

export const DEVICE_KEY_FIELD = 'ed25519PrivateKeyHex';
export const MISSING_DEVICE_KEY = `The request has no ${DEVICE_KEY_FIELD}.`;
export const MALFORMED_DEVICE_KEY = `The ${DEVICE_KEY_FIELD} in the request is not a 32-byte hexadecimal key.`;

const HEX_64 = /^[0-9a-fA-F]{64}$/;

// Accepts the stored form: 64 hexadecimal digits, optionally after one lower-case "0x".
export function parseDeviceKey(text) {
  if (text === undefined || text === null || text === '') throw new BridgeFailure(MISSING_DEVICE_KEY);
  if (typeof text !== 'string') throw new BridgeFailure(MALFORMED_DEVICE_KEY);
  const bare = text.startsWith('0x') ? text.slice(2) : text;
  if (!HEX_64.test(bare)) throw new BridgeFailure(MALFORMED_DEVICE_KEY);
  const seed = Buffer.from(bare, 'hex');
  const privateKey = createPrivateKey({ key: Buffer.concat([PKCS8_ED25519_PREFIX, seed]), format: 'der', type: 'pkcs8' });
  const publicKeyRaw = createPublicKey(privateKey).export({ format: 'der', type: 'spki' }).subarray(SPKI_ED25519_PREFIX.length);
  return { privateKey, publicKeyHex: publicKeyRaw.toString('hex') };
}

export function generateDeviceKey() {
  const { privateKey, publicKey } = generateKeyPairSync('ed25519');
  const seed = privateKey.export({ format: 'der', type: 'pkcs8' }).subarray(PKCS8_ED25519_PREFIX.length);
  const pub = publicKey.export({ format: 'der', type: 'spki' }).subarray(SPKI_ED25519_PREFIX.length);
  return { privateKeyHex: seed.toString('hex'), publicKeyHex: pub.toString('hex') };
}

export function signMessage(deviceKey, message) {
  return sign(null, Buffer.from(message), deviceKey.privateKey);
}
