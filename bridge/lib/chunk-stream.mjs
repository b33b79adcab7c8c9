// Chunked AES-256-GCM over open file handles. Reads run one chunk ahead (the read after a chunk
// tells whether it was the last) and overlap with the cipher work and the previous write, so a
// large file streams at disk speed with only a few chunks in memory.
import { createCipheriv, createDecipheriv } from 'node:crypto';
import { BridgeFailure } from './failure.mjs';
import { DAMAGED_FILE, TAG_LENGTH, chunkNonce } from './format.mjs';

export const INPUT_UNREADABLE = 'The selected file could not be read.';
export const OUTPUT_UNWRITABLE = 'The result could not be written to the chosen place.';

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

// Walks the input in blocks of `blockSize` starting at `start`, calling `each(block, index, last)`
// in order. A block is known to be the last once the read after it comes back empty, so reads
// run up to two blocks ahead: while `each` works on block i, block i+2 is being read. Three
// buffers rotate; `each` must be done with its block before it returns.
async function forEachBlock(input, start, blockSize, each) {
  const buffers = [Buffer.allocUnsafe(blockSize), Buffer.allocUnsafe(blockSize), Buffer.allocUnsafe(blockSize)];
  const empty = Promise.resolve(Buffer.alloc(0));
  const readBlock = (index) => readFull(input, buffers[index % 3], start + index * blockSize);
  let current = await readBlock(0);
  let next = current.length === blockSize ? readBlock(1) : empty;
  for (let index = 0; ; index += 1) {
    const following = await next;
    const last = following.length === 0;
    const afterThat = following.length === blockSize ? readBlock(index + 2) : empty;
    afterThat.catch(() => {}); // a failure is reported when the block is awaited
    await each(current, index, last);
    if (last) return;
    current = following;
    next = afterThat;
  }
}

export async function sealChunks(input, output, { key, header, chunkSize }) {
  const writer = new OrderedWriter(output, 0);
  await writer.write([header]);
  await forEachBlock(input, 0, chunkSize, async (plain, index, last) => {
    const cipher = createCipheriv('aes-256-gcm', key, chunkNonce(index, last));
    cipher.setAAD(header);
    const sealed = cipher.update(plain);
    const tail = cipher.final();
    await writer.write(tail.length ? [sealed, tail, cipher.getAuthTag()] : [sealed, cipher.getAuthTag()]);
  });
  await writer.finish();
}

// `header` is the exact header bytes read from the file; the chunks start right after it.
export async function openChunks(input, output, { key, header, chunkSize }) {
  const writer = new OrderedWriter(output, 0);
  await forEachBlock(input, header.length, chunkSize + TAG_LENGTH, async (block, index, last) => {
    if (block.length < TAG_LENGTH) throw new BridgeFailure(DAMAGED_FILE);
    const decipher = createDecipheriv('aes-256-gcm', key, chunkNonce(index, last));
    decipher.setAAD(header);
    decipher.setAuthTag(block.subarray(block.length - TAG_LENGTH));
    const plain = decipher.update(block.subarray(0, block.length - TAG_LENGTH));
    let tail;
    try {
      tail = decipher.final();
    } catch {
      throw new BridgeFailure(DAMAGED_FILE);
    }
    await writer.write(tail.length ? [plain, tail] : [plain]);
  });
  await writer.finish();
}
