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
import { DAMAGED_FILE, NEWER_FORMAT, NOT_A_KORVO_FILE, encodeHeader } from '../lib/format.mjs';
import { temporaryFolder } from './support/bridge.mjs';

const CHUNK = 64;

async function lock(dir, plain, { chunkSize = CHUNK, secretId = 7 } = {}) {
  const key = randomBytes(32);
  const header = encodeHeader({ chunkSize, secretId, suite: CAPSULE_SUITE, capsule: randomBytes(CAPSULE_LENGTH) });
  const source = join(dir, 'plain.bin');
  const locked = join(dir, 'plain.bin.korvo');
  await writeFile(source, plain);
  const input = await openInput(source);
  try {
    await writeAtomically(locked, (out) => sealChunks(input.handle, out, { key, header, chunkSize }));
  } finally {
    await input.handle.close();
  }
  return { key, header, locked };
}

// Opens `path` as the bridge does; resolves to the plaintext, or rejects with the failure.
async function unlock(dir, path, key) {
  const input = await openInput(path);
  const target = join(dir, 'opened.bin');
  try {
    const locked = await readLockedHeader(input);
    await writeAtomically(target, (out) => openChunks(input.handle, out, { key, header: locked.header, chunkSize: locked.chunkSize }));
    return { plain: await readFile(target), plainSize: locked.plainSize };
  } finally {
    await input.handle.close();
  }
}

// Decrypts straight from the layout: header length at offset 10, chunk size at 14, then blocks
// of chunk+16 bytes, nonce = 5 zero bytes, 6-byte index, last flag; the header is the AAD.
function independentReader(bytes, key) {
  const headerLength = bytes.readUInt32BE(10);
  const chunkSize = bytes.readUInt32BE(14);
  const header = bytes.subarray(0, headerLength);
  const parts = [];
  let offset = headerLength;
  for (let index = 0; offset < bytes.length; index += 1) {
    const end = Math.min(offset + chunkSize + 16, bytes.length);
    const nonce = Buffer.alloc(12);
    nonce.writeUIntBE(index, 5, 6);
    nonce[11] = end === bytes.length ? 1 : 0;
    const d = createDecipheriv('aes-256-gcm', key, nonce);
    d.setAAD(header);
    d.setAuthTag(bytes.subarray(end - 16, end));
    parts.push(d.update(bytes.subarray(offset, end - 16)), d.final());
    offset = end;
  }
  return Buffer.concat(parts);
}

test('sizes around chunk boundaries survive a round trip and match an independent reader', async (t) => {
  const dir = temporaryFolder(t);
  // The last two sizes are large enough to be sealed and opened by worker threads.
  for (const size of [0, 1, CHUNK - 1, CHUNK, CHUNK + 1, 2 * CHUNK, 2 * CHUNK + 5, POOL_THRESHOLD_CHUNKS * CHUNK, 40 * CHUNK + 63]) {
    const plain = randomBytes(size);
    const { key, header, locked } = await lock(dir, plain);
    const bytes = await readFile(locked);
    const chunks = Math.max(1, Math.ceil(size / CHUNK));
    assert.equal(bytes.length, header.length + size + 16 * chunks, `length for ${size}`);
    assert.deepEqual(independentReader(bytes, key), plain, `independent reader for ${size}`);
    const opened = await unlock(dir, locked, key);
    assert.deepEqual(opened.plain, plain, `round trip for ${size}`);
    assert.equal(opened.plainSize, size, `size from the file length for ${size}`);
  }
});

async function expectRefused(dir, path, key, sentence) {
  await assert.rejects(unlock(dir, path, key), (error) => error.message === sentence);
  const left = (await readdir(dir)).filter((name) => name.startsWith('opened') || name.startsWith('.opened'));
  assert.deepEqual(left, [], 'nothing is left behind');
}

test('a change anywhere in the file, or a wrong key, is refused and leaves nothing behind', async (t) => {
  const dir = temporaryFolder(t);
  const plain = randomBytes(3 * CHUNK + 10);
  const { key, header, locked } = await lock(dir, plain);
  const original = await readFile(locked);
  const h = header.length;
  const spots = {
    'format version': [9, NEWER_FORMAT],
    'header length': [13, DAMAGED_FILE],
    'chunk size': [17, DAMAGED_FILE],
    'Korvo number': [25, DAMAGED_FILE],
    'capsule suite': [27, NEWER_FORMAT],
    'capsule': [40, DAMAGED_FILE],
    'first chunk text': [h, DAMAGED_FILE],
    'first chunk tag': [h + CHUNK + 3, DAMAGED_FILE],
    'middle chunk': [h + CHUNK + 16 + 5, DAMAGED_FILE],
    'last chunk tag': [original.length - 1, DAMAGED_FILE],
    'magic': [0, NOT_A_KORVO_FILE],
  };
  const tampered = join(dir, 'tampered.korvo');
  for (const [what, [offset, sentence]] of Object.entries(spots)) {
    const copy = Buffer.from(original);
    copy[offset] ^= 0x01;
    await writeFile(tampered, copy);
    await expectRefused(dir, tampered, key, sentence).catch((e) => assert.fail(`${what}: ${e.message}`));
  }
  await expectRefused(dir, locked, randomBytes(32), DAMAGED_FILE);

  // The same refusals when worker threads open the chunks.
  const large = await lock(dir, randomBytes(40 * CHUNK));
  const largeBytes = await readFile(large.locked);
  const middle = Buffer.from(largeBytes);
  middle[h + 20 * (CHUNK + 16) + 1] ^= 0x80;
  for (const bytes of [middle, largeBytes.subarray(0, h + 30 * (CHUNK + 16))]) {
    await writeFile(tampered, bytes);
    await expectRefused(dir, tampered, large.key, DAMAGED_FILE);
  }
});

test('cut, extended and reordered files are refused', async (t) => {
  const dir = temporaryFolder(t);
  const { key, header, locked } = await lock(dir, randomBytes(3 * CHUNK));
  const original = await readFile(locked);
  const h = header.length;
  const block = CHUNK + 16;
  const variants = {
    empty: Buffer.alloc(0),
    'inside the magic': original.subarray(0, 4),
    'inside the header': original.subarray(0, 20),
    'header only': original.subarray(0, h),
    'after one chunk': original.subarray(0, h + block),
    'after two chunks': original.subarray(0, h + 2 * block),
    'inside the last tag': original.subarray(0, original.length - 3),
    'one byte short': original.subarray(0, original.length - 1),
    'one byte added': Buffer.concat([original, Buffer.from([0])]),
    'a whole chunk added': Buffer.concat([original, original.subarray(h, h + block)]),
    'two chunks swapped': Buffer.concat([original.subarray(0, h), original.subarray(h + block, h + 2 * block),
      original.subarray(h, h + block), original.subarray(h + 2 * block)]),
  };
  const damaged = join(dir, 'damaged.korvo');
  for (const [what, bytes] of Object.entries(variants)) {
    await writeFile(damaged, bytes);
    await expectRefused(dir, damaged, key, DAMAGED_FILE).catch((e) => assert.fail(`${what}: ${e.message}`));
  }
  await writeFile(damaged, 'just some text that is long enough to hold a header and more');
  await expectRefused(dir, damaged, key, NOT_A_KORVO_FILE);
});

test('a failing write removes the temporary file and keeps the old destination', async (t) => {
  const dir = temporaryFolder(t);
  const target = join(dir, 'result.bin');
  await writeFile(target, 'previous');
  await assert.rejects(writeAtomically(target, async (out) => {
    await out.write(Buffer.from('partial'));
    throw new Error('disk full');
  }));
  assert.equal(await readFile(target, 'utf8'), 'previous');
  assert.deepEqual(await readdir(dir), ['result.bin']);
});
