// The key capsule against the service's known-answer vector (which fixes the whole derivation:
// Korvo number, context and both shared secrets), and the decoding of what the service sends.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { readFileSync } from 'node:fs';
import { UNUSABLE_PUBLIC_KEY, decodeFileKey, decodeKorvoPublicKey, encapsulate } from '../lib/capsule.mjs';

const vector = JSON.parse(readFileSync(new URL('./vectors/capsule.json', import.meta.url), 'utf8'));

test('the capsule and file key match the known-answer vector', async () => {
  const { capsule, fileKey } = await encapsulate(decodeKorvoPublicKey(vector.publicKey, vector.secretId), vector.secretId,
    Buffer.from(vector.contextBase64, 'base64'), { kemMessage: Buffer.from(vector.kemMessageHex, 'hex'), ephemeralPrivateKey: Buffer.from(vector.ephemeralPrivateHex, 'hex') });
  assert.deepEqual([capsule.toString('base64'), fileKey.toString('base64')], [vector.capsule, vector.fileKey]);
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
