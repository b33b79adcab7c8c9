// Chunked AES-256-GCM over open file handles. Reads run ahead of the cipher work, which runs
// ahead of the writes, so a large file streams at disk speed with only a few chunks in memory;
// large files are sealed by worker threads on every core.
import { BridgeFailure } from './failure.mjs';
import { TAG_LENGTH } from './format.mjs';
import { openChunk, sealChunk } from './chunk-cipher.mjs';

export const INPUT_UNREADABLE = 'The selected file could not be read.';
export const OUTPUT_UNWRITABLE = 'The result could not be written to the chosen place.';

// At most this many chunks are being sealed or waiting to be written.
const IN_FLIGHT = 6;
// Files of at least this many chunks are sealed by worker threads.
export const POOL_THRESHOLD_CHUNKS = 16;

// Fills `buffer` from `position` until it is full or the file ends; resolves to the bytes read.
async function readFull(handle, buffer, position) {
  let filled = 0;
  while (filled < buffer.length) {
    let bytesRead;
    try {
      ({ bytesRead } = await handle.read(buffer, filled, buffer.length - filled, position + filled));
    } catch (error) {
      throw new BridgeFailure(INPUT_UNREADABLE, { cause: error });
    }
    if (bytesRead === 0) break;
    filled += bytesRead;
  }
  return buffer.subarray(0, filled);
}

class OrderedWriter {
  constructor(handle, position) {
    this.handle = handle;
    this.position = position;
    this.pending = Promise.resolve();
  }

  // Queues the pieces behind the previous write; the pieces must not be reused afterwards.
  async write(pieces) {
    await this.pending;
    const length = pieces.reduce((sum, piece) => sum + piece.length, 0);
    const position = this.position;
    this.position += length;
    this.pending = this.handle.writev(pieces, position).then(
      (result) => {
        if (result.bytesWritten !== length) throw new Error('short write');
      },
      (error) => {
        throw new BridgeFailure(OUTPUT_UNWRITABLE, { cause: error });
      },
    );
    this.pending.catch(() => {}); // observed by the next write or by finish()
  }

  async finish() {
    await this.pending;
  }
}

// Reads the input in blocks of `blockSize` from `start` and writes `transform(block, index,
// last)` for each, in order. A block is known to be the last once the read after it comes back
// empty, so reads run up to two blocks ahead. Every block gets its own memory, since a worker
// thread may take it.
async function transformBlocks(input, writer, start, blockSize, transform) {
  const empty = Promise.resolve(Buffer.alloc(0));
  const readBlock = (index) => readFull(input, Buffer.allocUnsafeSlow(blockSize), start + index * blockSize);
  const pending = [];
  let current = await readBlock(0);
  let next = current.length === blockSize ? readBlock(1) : empty;
  try {
    for (let index = 0; ; index += 1) {
      const following = await next;
      const last = following.length === 0;
      const afterThat = following.length === blockSize ? readBlock(index + 2) : empty;
      afterThat.catch(() => {}); // a failure is reported when the block is awaited
      const pieces = transform(current, index, last);
      pieces.catch(() => {}); // likewise, when its turn to be written comes
      pending.push(pieces);
      while (pending.length >= IN_FLIGHT || (last && pending.length)) await writer.write(await pending.shift());
      if (last) break;
      current = following;
      next = afterThat;
    }
  } finally {
    await Promise.allSettled(pending);
  }
  await writer.finish();
}

async function runChunks(mode, input, writer, { key, header, start, blockSize }) {
  const { size } = await input.stat();
  if (size - start < POOL_THRESHOLD_CHUNKS * blockSize) {
    const transform = mode === 'seal' ? sealChunk : openChunk;
    return transformBlocks(input, writer, start, blockSize, async (block, index, last) => transform(key, header, index, last, block));
  }
  const { ChunkPool } = await import('./chunk-pool.mjs');
  const pool = new ChunkPool(mode, key, header);
  try {
    return await transformBlocks(input, writer, start, blockSize, (block, index, last) => pool.transform(block, index, last));
  } finally {
    await pool.close();
  }
}

export async function sealChunks(input, output, { key, header, chunkSize }) {
  const writer = new OrderedWriter(output, 0);
  await writer.write([header]);
  await runChunks('seal', input, writer, { key, header, start: 0, blockSize: chunkSize });
}

// `header` is the exact header bytes read from the file; the chunks start right after it.
export async function openChunks(input, output, { key, header, chunkSize }) {
  const writer = new OrderedWriter(output, 0);
  await runChunks('open', input, writer, { key, header, start: header.length, blockSize: chunkSize + TAG_LENGTH });
}
