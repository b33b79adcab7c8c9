// The service master key and what it protects: Korvo private keys sealed at rest with
// AES-256-GCM, and keyed hashes of one-time codes and link tokens.
import { createCipheriv, createDecipheriv, createHmac, randomBytes } from 'node:crypto';
import { existsSync, readFileSync, renameSync, writeFileSync } from 'node:fs';

const KEY_BYTES = 32;
const NONCE_BYTES = 12;
const TAG_BYTES = 16;
const BAD_MASTER_KEY = 'The service master key file is damaged.';

export function loadOrCreateMasterKey(file) {
  if (existsSync(file)) {
    const key = readFileSync(file);
    if (key.length !== KEY_BYTES) throw new Error(`${BAD_MASTER_KEY} (${file})`);
    return key;
  }
  const key = randomBytes(KEY_BYTES);
  const temporary = `${file}.${process.pid}.tmp`;
  writeFileSync(temporary, key, { mode: 0o600 });
  renameSync(temporary, file);
  return key;
}

// nonce ‖ ciphertext ‖ tag; `label` is bound as associated data so a sealed value cannot be
// moved to another row.
export function seal(masterKey, label, plain) {
  const nonce = randomBytes(NONCE_BYTES);
  const cipher = createCipheriv('aes-256-gcm', masterKey, nonce);
  cipher.setAAD(Buffer.from(label, 'utf8'));
  const body = Buffer.concat([cipher.update(plain), cipher.final()]);
  return Buffer.concat([nonce, body, cipher.getAuthTag()]);
}

export function unseal(masterKey, label, sealed) {
  const nonce = sealed.subarray(0, NONCE_BYTES);
  const tag = sealed.subarray(sealed.length - TAG_BYTES);
  const body = sealed.subarray(NONCE_BYTES, sealed.length - TAG_BYTES);
  const decipher = createDecipheriv('aes-256-gcm', masterKey, nonce);
  decipher.setAAD(Buffer.from(label, 'utf8'));
  decipher.setAuthTag(tag);
  return Buffer.concat([decipher.update(body), decipher.final()]);
}

export function keyedHash(masterKey, text) {
  return createHmac('sha256', masterKey).update(text, 'utf8').digest('hex');
}
