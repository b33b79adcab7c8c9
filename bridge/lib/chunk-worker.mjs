// A sealing worker: seals or opens the chunks it is sent and hands the pieces back, together
// with the block's memory so that the main thread can read the next block into it.
import { parentPort, workerData } from 'node:worker_threads';
import { openChunk, sealChunk } from './chunk-cipher.mjs';

const { mode } = workerData;
const transform = mode === 'seal' ? sealChunk : openChunk;
let key;
let header;

// A piece that owns its whole memory can be moved to the main thread instead of copied.
const movable = (piece) => (piece.byteOffset === 0 && piece.buffer.byteLength === piece.length ? piece : Buffer.from(piece));

parentPort.on('message', (message) => {
  if (message.key) {
    key = Buffer.from(message.key);
    header = Buffer.from(message.header);
    return;
  }
  const { id, index, last, block, length } = message;
  try {
    const pieces = transform(key, header, index, last, Buffer.from(block, 0, length)).map(movable);
    const moved = pieces.map((piece) => piece.buffer);
    parentPort.postMessage({ id, pieces: moved, block }, [...moved, block]);
  } catch (error) {
    parentPort.postMessage({ id, error: error.message, known: error.name === 'BridgeFailure', block }, [block]);
  }
});
