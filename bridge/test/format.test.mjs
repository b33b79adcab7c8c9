// The account-file format on its own: chunk boundaries, tampering, truncation, and a reader
// written from the layout description alone.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { createDecipheriv, randomBytes } from 'node:crypto';
import { readFile, readdir, writeFile } from 'node:fs/promises';
import { join } from 'node:path';
import { openInput, writeAtomically } from '../lib/atomic-file.mjs';
import { POOL_THRESHOLD_CHUNKS, openChunks, sealChunks } from '../lib/chunk-stream.mjs';
import { readLockedHeader } from '../lib/file-commands.mjs';
import { CAPSULE_LENGTH, CAPSULE_SUITE } from '../lib/capsule.mjs';
import { DAMAGED_FILE, NEWER_FORMAT, NOT_A_KORVO_FILE, encodeHeader, headerLengthFromPrefix } from '../lib/format.mjs';
import { temporaryFolder } from './support/bridge.mjs';

const CHUNK = 64;

async function lock(dir, plain, key = randomBytes(32), header = encodeHeader({ chunkSize: CHUNK, secretId: 7, suite: CAPSULE_SUITE, capsule: randomBytes(CAPSULE_LENGTH) })) {
  const [source, locked] = [join(dir, 'plain.bin'), join(dir, 'plain.bin.korvo')];
  await writeFile(source, plain);
  const input = await openInput(source);
  await writeAtomically(locked, (out) => sealChunks(input.handle, out, { key, header, chunkSize: CHUNK })).finally(() => input.handle.close());
  return { key, header, locked };
}

// Opens `path` as the bridge does; resolves to the plaintext, or rejects with the failure.
async function unlock(dir, path, key) {
  const input = await openInput(path);
  const target = join(dir, 'opened.bin');
  try {
    const { header, chunkSize, plainSize } = await readLockedHeader(input);
    await writeAtomically(target, (out) => openChunks(input.handle, out, { key, header, chunkSize }));
    return { plain: await readFile(target), plainSize };
  } finally {
    await input.handle.close();
  }
}

// Decrypts straight from the layout: header length at offset 10, chunk size at 14, then blocks
// of chunk+16 bytes, nonce = 5 zero bytes, 6-byte index, last flag; the header is the AAD.
function independentReader(bytes, key) {
  const [headerLength, chunkSize] = [bytes.readUInt32BE(10), bytes.readUInt32BE(14)];
  const parts = [];
  for (let index = 0, offset = headerLength; offset < bytes.length; index += 1) {
    const end = Math.min(offset + chunkSize + 16, bytes.length);
    const nonce = Buffer.alloc(12);
    nonce.writeUIntBE(index, 5, 6);
    nonce[11] = end === bytes.length ? 1 : 0;
    const d = createDecipheriv('aes-256-gcm', key, nonce).setAAD(bytes.subarray(0, headerLength)).setAuthTag(bytes.subarray(end - 16, end));
    parts.push(d.update(bytes.subarray(offset, end - 16)), d.final());
    offset = end;
  }
  return Buffer.concat(parts);
}

test('sizes around chunk boundaries survive a round trip and match an independent reader', async (t) => {
  const dir = temporaryFolder(t);
  // The last size has more chunks than are read, sealed and written at once.
  for (const size of [0, 1, CHUNK, 2 * CHUNK, 2 * CHUNK + 5, POOL_THRESHOLD_CHUNKS * CHUNK]) {
    const plain = randomBytes(size);
    const { key, header, locked } = await lock(dir, plain);
    const bytes = await readFile(locked);
    const chunks = Math.max(1, Math.ceil(size / CHUNK));
    assert.equal(bytes.length, header.length + size + 16 * chunks, `length for ${size}`);
    assert.deepEqual(independentReader(bytes, key), plain, `independent reader for ${size}`);
    assert.deepEqual(await unlock(dir, locked, key), { plain, plainSize: size }, `round trip for ${size}`);
  }
});

test('a file sealed by an earlier version is sealed byte for byte the same, and opens', async (t) => {
  const dir = temporaryFolder(t);
  const vector = JSON.parse(await readFile(new URL('./vectors/chunks.json', import.meta.url), 'utf8'));
  const [key, header, plain, locked] = ['key', 'header', 'plain', 'locked'].map((name) => Buffer.from(vector[name], 'hex'));
  const target = (await lock(dir, plain, key, header)).locked;
  assert.deepEqual(await readFile(target), locked);
  assert.deepEqual((await unlock(dir, target, key)).plain, plain);
});

async function expectRefused(dir, path, key, sentence) {
  await assert.rejects(unlock(dir, path, key), (error) => error.message === sentence);
  assert.deepEqual((await readdir(dir)).filter((name) => /^\.?opened/.test(name)), [], 'nothing is left behind');
}

test('a change anywhere, a cut, an extension, reordered chunks or a wrong key are refused, leaving nothing behind', async (t) => {
  const dir = temporaryFolder(t);
  const { key, header, locked } = await lock(dir, randomBytes(3 * CHUNK + 10));
  const original = await readFile(locked);
  const h = header.length;
  const block = CHUNK + 16;
  const flip = (offset) => { const copy = Buffer.from(original); copy[offset] ^= 0x01; return copy; };
  const cut = (end) => original.subarray(0, end);
  const cases = {
    'format version': [flip(9), NEWER_FORMAT],
    'capsule suite': [flip(27), NEWER_FORMAT],
    magic: [flip(0), NOT_A_KORVO_FILE],
    'header length': [flip(13)],
    'Korvo number': [flip(25)], // the header is bound to every chunk (a flip in a chunk, a cut and another
    // text for the magic are the bridge's end-to-end cases)
    'cut inside the magic': [cut(4)],
    'cut inside the header': [cut(20)],
    'header only': [cut(h)],
    'cut inside the last tag': [cut(original.length - 3)],
    'one byte added': [Buffer.concat([original, Buffer.from([0])])],
    'a whole chunk added': [Buffer.concat([original, original.subarray(h, h + block)])],
    'two chunks swapped': [Buffer.concat([cut(h), original.subarray(h + block, h + 2 * block), original.subarray(h, h + block), original.subarray(h + 2 * block)])],
  };
  const damaged = join(dir, 'damaged.korvo');
  for (const [what, [bytes, sentence = DAMAGED_FILE]] of Object.entries(cases)) {
    await writeFile(damaged, bytes);
    await expectRefused(dir, damaged, key, sentence).catch((e) => assert.fail(`${what}: ${e.message}`));
  }
  await expectRefused(dir, locked, randomBytes(32), DAMAGED_FILE);
  // A capsule length that disagrees with the header length is refused before the capsule is sent.
  assert.throws(() => headerLengthFromPrefix(flip(29).subarray(0, h)), { message: DAMAGED_FILE });

  // The same refusals in the middle and at a cut of a body with many chunks in flight.
  const large = await lock(dir, randomBytes(40 * CHUNK));
  const largeBytes = await readFile(large.locked);
  const middle = Buffer.from(largeBytes);
  middle[h + 20 * block + 1] ^= 0x80;
  for (const bytes of [middle, largeBytes.subarray(0, h + 30 * block)]) {
    await writeFile(damaged, bytes);
    await expectRefused(dir, damaged, large.key, DAMAGED_FILE);
  }
});
