// The key capsule: the service's known-answer vector, and a round trip through an owner who
// opens capsules the way the service does.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createPrivateKey, diffieHellman, createPublicKey } from 'node:crypto';
import { readFileSync } from 'node:fs';
import {
  CAPSULE_LENGTH, KEM_CIPHERTEXT_LENGTH, UNUSABLE_PUBLIC_KEY, decodeFileKey, decodeKorvoPublicKey, deriveFileKey, encapsulate,
} from '../lib/capsule.mjs';

const vector = JSON.parse(readFileSync(new URL('./vectors/capsule.json', import.meta.url), 'utf8'));
const hex = (text) => Buffer.from(text, 'hex');

test('the capsule and file key match the known-answer vector', async () => {
  const publicKey = decodeKorvoPublicKey(vector.publicKey, vector.secretId);
  const { capsule, fileKey } = await encapsulate(publicKey, vector.secretId, Buffer.from(vector.contextBase64, 'base64'), {
    kemMessage: hex(vector.kemMessageHex),
    ephemeralPrivateKey: hex(vector.ephemeralPrivateHex),
  });
  assert.equal(capsule.toString('base64'), vector.capsule);
  assert.equal(fileKey.toString('base64'), vector.fileKey);
});

test('the owner of the Korvo derives the same key; another Korvo number or context does not', async () => {
  const { ml_kem768 } = await import('@noble/post-quantum/ml-kem.js');
  const kem = ml_kem768.keygen(hex(vector.kemSeedHex));
  const x = createPrivateKey({ key: Buffer.concat([hex('302e020100300506032b656e04220420'), hex(vector.x25519PrivateHex)]), format: 'der', type: 'pkcs8' });
  const xPublic = createPublicKey(x).export({ format: 'der', type: 'spki' }).subarray(12);
  const publicKey = decodeKorvoPublicKey(Buffer.concat([Buffer.from(kem.publicKey), xPublic]).toString('base64'), 9);
  const context = Buffer.from('header fields');
  const { capsule, fileKey } = await encapsulate(publicKey, 9, context);
  assert.equal(capsule.length, CAPSULE_LENGTH);

  const kemCiphertext = capsule.subarray(0, KEM_CIPHERTEXT_LENGTH);
  const ephemeralPublicKey = capsule.subarray(KEM_CIPHERTEXT_LENGTH);
  const peer = createPublicKey({ key: Buffer.concat([hex('302a300506032b656e032100'), ephemeralPublicKey]), format: 'der', type: 'spki' });
  const opened = (secretId, ctx) => deriveFileKey({
    kemSecret: Buffer.from(ml_kem768.decapsulate(kemCiphertext, kem.secretKey)),
    x25519Secret: diffieHellman({ privateKey: x, publicKey: peer }),
    kemCiphertext, ephemeralPublicKey, x25519PublicKey: xPublic, secretId, context: ctx,
  });
  assert.deepEqual(opened(9, context), fileKey);
  assert.notDeepEqual(opened(10, context), fileKey);
  assert.notDeepEqual(opened(9, Buffer.from('header fieldz')), fileKey);
});

test('public keys and file keys of the wrong size or encoding are refused', () => {
  const good = Buffer.alloc(1216, 1).toString('base64');
  assert.doesNotThrow(() => decodeKorvoPublicKey(`${good}\n`, 3));
  for (const bad of ['', Buffer.alloc(1215).toString('base64'), Buffer.alloc(1217).toString('base64'), `${good.slice(0, -4)}!!!!`, null]) {
    assert.throws(() => decodeKorvoPublicKey(bad, 3), { message: UNUSABLE_PUBLIC_KEY(3) });
  }
  assert.equal(decodeFileKey(Buffer.alloc(32, 7).toString('base64')).length, 32);
  for (const bad of [Buffer.alloc(31).toString('base64'), 'not base64 at all', undefined]) assert.throws(() => decodeFileKey(bad));
});
