// Chunked AES-256-GCM over open file handles. Every chunk's place in the input and in the
// output follows from its index, so several chunks are read, sealed and written at once, each
// at its own offset; the sealing runs on the runtime's thread pool (chunk-cipher.mjs) while this
// thread reads and writes. Block memory is reused, so only a few chunks are ever in memory.
import { BridgeFailure } from './failure.mjs';
import { TAG_LENGTH } from './format.mjs';
import { chunkCipher } from './chunk-cipher.mjs';
import { BlockPool, keepFreedMemory, releaseMemory } from './chunk-pool.mjs';
import { reportProgress } from './progress.mjs';

export const INPUT_UNREADABLE = 'The selected file could not be read.';
export const OUTPUT_UNWRITABLE = 'The result could not be written to the chosen place.';

// At most this many chunks are being read, sealed or written at once: enough to keep the
// thread pool's four threads busy while others wait for their reads and writes.
const IN_FLIGHT = 8;
// Bodies of at least this many chunks get their memory prepared early (chunk-pool.mjs).
export const POOL_THRESHOLD_CHUNKS = 16;

// Fills `buffer` from `position`; a file that ends sooner changed while it was being read.
async function readFull(handle, buffer, position) {
  let filled = 0;
  while (filled < buffer.length) {
    let bytesRead;
    try {
      ({ bytesRead } = await handle.read(buffer, filled, buffer.length - filled, position + filled));
    } catch (error) {
      throw new BridgeFailure(INPUT_UNREADABLE, { cause: error });
    }
    if (bytesRead === 0) throw new BridgeFailure(INPUT_UNREADABLE);
    filled += bytesRead;
  }
  return buffer;
}

async function writeFull(handle, bytes, position) {
  for (let done = 0; done < bytes.length;) {
    let bytesWritten;
    try {
      ({ bytesWritten } = await handle.write(bytes, done, bytes.length - done, position + done));
    } catch (error) {
      throw new BridgeFailure(OUTPUT_UNWRITABLE, { cause: error });
    }
    if (bytesWritten === 0) throw new BridgeFailure(OUTPUT_UNWRITABLE);
    done += bytesWritten;
  }
}

// Reads the body (from `start`, `bodySize` bytes) in blocks of `blockSize` and writes
// `transform(index, last, block)` for block `index` at `outStart + index * outBlock`. Every
// chunk, the last one too, is known from the size taken when the file was opened, and an empty
// body is one empty last block.
async function transformBlocks({ input, output, start, bodySize, blockSize, outStart, outBlock }, pool, transform) {
  const count = Math.max(1, Math.ceil(bodySize / blockSize));
  let next = 0;
  let done = 0;
  let failure;
  const one = async (index) => {
    const length = Math.min(blockSize, bodySize - index * blockSize);
    const memory = pool.take();
    let result;
    try {
      const block = await readFull(input, memory.subarray(0, length), start + index * blockSize);
      result = await transform(index, index === count - 1, block);
    } finally {
      pool.give(memory);
    }
    await writeFull(output, result, outStart + index * outBlock);
    releaseMemory(result.buffer);
    done += length;
    reportProgress(done, bodySize);
  };
  const lane = async () => {
    while (next < count && failure === undefined) {
      const index = next;
      next += 1;
      try {
        await one(index);
      } catch (error) {
        failure ??= error;
      }
    }
  };
  await Promise.all(Array.from({ length: Math.min(IN_FLIGHT, count) }, lane));
  if (failure !== undefined) throw failure;
}

// Prepares the memory for a large body, while the key is still being worked out. Returns
// undefined when the body is small.
export async function prepareChunks(mode, bodySize, chunkSize) {
  const blockSize = mode === 'seal' ? chunkSize : chunkSize + TAG_LENGTH;
  if (bodySize < POOL_THRESHOLD_CHUNKS * blockSize) return undefined;
  keepFreedMemory();
  return new BlockPool(blockSize);
}

async function runChunks(mode, plan, { key, header, pool }) {
  pool ??= new BlockPool(plan.blockSize);
  try {
    const cipher = await chunkCipher(key, header);
    const transform = mode === 'seal' ? cipher.seal : cipher.open;
    await transformBlocks(plan, pool, transform);
  } finally {
    await pool.close();
  }
}

// `pool` (optional) is what prepareChunks made for this input; it is closed when done. `size`
// (optional): how many bytes of the input to seal, by default its size now.
export async function sealChunks(input, output, { key, header, chunkSize, pool, size }) {
  size ??= (await input.stat()).size;
  const writeHeader = writeFull(output, header, 0);
  writeHeader.catch(() => {}); // awaited below
  await runChunks('seal', { input, output, start: 0, bodySize: size, blockSize: chunkSize, outStart: header.length, outBlock: chunkSize + TAG_LENGTH }, { key, header, pool });
  await writeHeader;
}

// `header` is the exact header bytes read from the file; the chunks start right after it.
// `size` (optional): the file's length as its header was judged, by default its size now.
export async function openChunks(input, output, { key, header, chunkSize, pool, size }) {
  size ??= (await input.stat()).size;
  const plan = { input, output, start: header.length, bodySize: Math.max(0, size - header.length), blockSize: chunkSize + TAG_LENGTH, outStart: 0, outBlock: chunkSize };
  await runChunks('open', plan, { key, header, pool });
}
