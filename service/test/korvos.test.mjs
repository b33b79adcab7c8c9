import assert from 'node:assert/strict';
import { createHash, createPrivateKey, createPublicKey, diffieHellman, hkdfSync } from 'node:crypto';
import { readFileSync } from 'node:fs';
import { after, before, describe, test } from 'node:test';
import { ml_kem768 } from '@noble/post-quantum/ml-kem.js';
import { BAD_CAPSULE, BAD_CONTEXT, NOT_OWNER, NO_SUCH_KORVO } from '../src/korvos.mjs';
import { CAPSULE_BYTES, MAX_CONTEXT_BYTES, openCapsule, sealCapsule } from '../src/korvoCrypto.mjs';
import { call, createAccount, createKorvo, startTestService } from './support/harness.mjs';

const vector = JSON.parse(readFileSync(new URL('./vectors/capsule.json', import.meta.url), 'utf8'));
const b64 = (text) => Buffer.from(text, 'base64');

describe('capsule derivation', () => {
  test('the known-answer vector follows the published derivation step by step', () => {
    // Recomputed here from the written description, without the service's derivation code.
    const kem = ml_kem768.keygen(Buffer.from(vector.kemSeedHex, 'hex'));
    const publicKey = b64(vector.publicKey);
    assert.deepEqual(publicKey.subarray(0, 1184), Buffer.from(kem.publicKey));
    const capsule = b64(vector.capsule);
    assert.equal(capsule.length, 1120);
    const ctM = capsule.subarray(0, 1088);
    const epkX = capsule.subarray(1088);
    const pkX = publicKey.subarray(1184);
    const ssM = Buffer.from(ml_kem768.decapsulate(ctM, kem.secretKey));
    const xPrivate = createPrivateKey({
      key: { kty: 'OKP', crv: 'X25519', d: Buffer.from(vector.x25519PrivateHex, 'hex').toString('base64url'), x: pkX.toString('base64url') }, format: 'jwk',
    });
    const ssX = diffieHellman({ privateKey: xPrivate, publicKey: createPublicKey({ key: { kty: 'OKP', crv: 'X25519', x: epkX.toString('base64url') }, format: 'jwk' }) });
    const context = b64(vector.contextBase64);
    const info = Buffer.concat([Buffer.from('korvo-capsule-v1'), Buffer.from([0, 0, 0, 0, 0, 0, 0, vector.secretId]),
      Buffer.from([0, 0, 0, context.length]), context]);
    const salt = createHash('sha256').update(Buffer.concat([ctM, epkX, pkX])).digest();
    const key = Buffer.from(hkdfSync('sha256', Buffer.concat([ssM, ssX]), salt, info, 32));
    assert.equal(key.toString('base64'), vector.fileKey);
  });

  test('the sender side reproduces the vector and the service side opens it', () => {
    const publicKey = b64(vector.publicKey);
    const made = sealCapsule({
      publicKey, secretId: vector.secretId, context: b64(vector.contextBase64),
      kemMessage: Buffer.from(vector.kemMessageHex, 'hex'), ephemeralPrivate: Buffer.from(vector.ephemeralPrivateHex, 'hex'),
    });
    assert.equal(made.capsule.toString('base64'), vector.capsule);
    assert.equal(made.fileKey.toString('base64'), vector.fileKey);
    const privateMaterial = Buffer.from(vector.kemSeedHex + vector.x25519PrivateHex, 'hex');
    const open = (changes) => openCapsule({ privateMaterial, publicKey, secretId: vector.secretId, capsule: made.capsule, context: b64(vector.contextBase64), ...changes }).toString('base64');
    assert.equal(open({}), vector.fileKey);
    assert.notEqual(open({ secretId: vector.secretId + 1 }), vector.fileKey, 'bound to the Korvo number');
    assert.notEqual(open({ context: Buffer.from('another context') }), vector.fileKey, 'bound to the context');
    const flipped = Buffer.from(made.capsule);
    flipped[10] ^= 1;
    assert.notEqual(open({ capsule: flipped }), vector.fileKey, 'a changed KEM ciphertext gives another key');
  });
});

describe('Korvos through the service', () => {
  let service;
  let alice;
  let bob;
  before(async () => {
    service = await startTestService();
    alice = await createAccount(service, 'alice@example.com');
    bob = await createAccount(service, 'bob@example.com');
  });
  after(async () => { await service.stop(); });

  const publicKeyOf = async (account, n) => call(service, 'GET', `/v1/korvos/${n}/public-key`, undefined, { device: account.device });
  const openAs = (account, n, body) => call(service, 'POST', `/v1/korvos/${n}/capsule/open`, body, { device: account.device });

  test('numbers are global and lists hold only the owner\'s Korvos', async () => {
    const a1 = await createKorvo(service, alice);
    const b1 = await createKorvo(service, bob);
    const a2 = await createKorvo(service, alice);
    assert.deepEqual([b1 - a1, a2 - b1], [1, 1]);
    const list = await call(service, 'GET', '/v1/korvos', undefined, { device: alice.device });
    assert.deepEqual(list.json.secrets.map((s) => s.secretId), [a1, a2]);
    for (const secret of list.json.secrets) {
      assert.equal(secret.ownerPrincipalId, alice.principalId);
      assert.equal(secret.isSyncing, 0);
      assert.ok(Number.isInteger(secret.clusterId));
      assert.ok(!Number.isNaN(Date.parse(secret.createdAt)));
    }
    const key = await publicKeyOf(bob, a1);
    assert.deepEqual([key.status, key.json.secretId, key.json.chainId], [200, a1, 1]);
    assert.equal(b64(key.json.publicKey).length, 1216);
    assert.equal(list.json.secrets[0].publicKeyCid, `sha256-${createHash('sha256').update(b64(key.json.publicKey)).digest('hex')}`);
    assert.notEqual((await publicKeyOf(bob, a2)).json.publicKey, key.json.publicKey);
  });

  test('a capsule sealed for a Korvo opens for its owner only, with the same key', async () => {
    const n = await createKorvo(service, alice);
    const publicKey = b64((await publicKeyOf(bob, n)).json.publicKey);
    const context = Buffer.from('header bytes');
    const { capsule, fileKey } = sealCapsule({ publicKey, secretId: n, context });
    const body = { capsule: capsule.toString('base64'), context: context.toString('base64'), bytes: 10 };

    const refused = await openAs(bob, n, body);
    assert.deepEqual([refused.status, refused.json.error], [403, NOT_OWNER]);
    assert.equal(refused.json.fileKey, undefined);
    const opened = await openAs(alice, n, body);
    assert.equal(opened.status, 200);
    assert.equal(opened.json.fileKey, fileKey.toString('base64'));
    assert.match(opened.json.jobId, /\S/);
    const withoutContext = await openAs(alice, n, { ...body, context: undefined });
    assert.notEqual(withoutContext.json.fileKey, opened.json.fileKey);

    const bobUsage = await call(service, 'GET', '/v1/usage', undefined, { device: bob.device });
    assert.equal(bobUsage.json.decryption.count, 0, 'a refused opening is not metered');
  });

  test('damaged capsules are refused and cost nothing', async () => {
    const n = await createKorvo(service, alice);
    const publicKey = b64((await publicKeyOf(alice, n)).json.publicKey);
    const { capsule } = sealCapsule({ publicKey, secretId: n });
    const before = (await call(service, 'GET', '/v1/usage', undefined, { device: alice.device })).json.decryption;
    const lowOrderPoint = Buffer.concat([capsule.subarray(0, 1088), Buffer.alloc(32)]);
    const damaged = [
      [{ capsule: capsule.subarray(0, CAPSULE_BYTES - 1).toString('base64'), bytes: 1 }, BAD_CAPSULE],
      [{ capsule: Buffer.concat([capsule, Buffer.alloc(1)]).toString('base64'), bytes: 1 }, BAD_CAPSULE],
      [{ capsule: `${capsule.toString('base64').slice(0, -4)}!!!!`, bytes: 1 }, BAD_CAPSULE],
      [{ capsule: lowOrderPoint.toString('base64'), bytes: 1 }, BAD_CAPSULE],
      [{ capsule: capsule.toString('base64'), context: Buffer.alloc(MAX_CONTEXT_BYTES + 1).toString('base64'), bytes: 1 }, BAD_CONTEXT],
      [{ capsule: capsule.toString('base64'), context: 'not base64!', bytes: 1 }, BAD_CONTEXT],
    ];
    for (const [body, sentence] of damaged) {
      const res = await openAs(alice, n, body);
      assert.deepEqual([res.status, res.json.error], [400, sentence]);
    }
    for (const bytes of [-1, 1.5, '10', 2 ** 53, undefined]) {
      assert.equal((await openAs(alice, n, { capsule: capsule.toString('base64'), bytes })).status, 400, String(bytes));
    }
    const after = (await call(service, 'GET', '/v1/usage', undefined, { device: alice.device })).json.decryption;
    assert.deepEqual(after, before);
    const longest = await openAs(alice, n, { capsule: capsule.toString('base64'), context: Buffer.alloc(MAX_CONTEXT_BYTES).toString('base64'), bytes: 0 });
    assert.equal(longest.status, 200);
  });

  test('unknown and malformed Korvo numbers', async () => {
    for (const [n, status] of [[999999, 404], [0, 400], ['abc', 400], ['1.5', 400]]) assert.equal((await publicKeyOf(alice, n)).status, status, String(n));
    assert.equal((await publicKeyOf(alice, 999999)).json.error, NO_SUCH_KORVO);
  });
});
