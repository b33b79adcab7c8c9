// A sealing worker: seals or opens the chunks it is sent and hands the pieces back.
import { parentPort, workerData } from 'node:worker_threads';
import { openChunk, sealChunk } from './chunk-cipher.mjs';

const { mode, key, header } = workerData;
const transform = mode === 'seal' ? sealChunk : openChunk;

// A piece that owns its whole memory can be moved to the main thread instead of copied.
const movable = (piece) => (piece.byteOffset === 0 && piece.buffer.byteLength === piece.length ? piece : Buffer.from(piece));

parentPort.on('message', ({ id, index, last, block, length }) => {
  try {
    const pieces = transform(Buffer.from(key), Buffer.from(header), index, last, Buffer.from(block, 0, length)).map(movable);
    parentPort.postMessage({ id, pieces: pieces.map((p) => p.buffer) }, pieces.map((p) => p.buffer));
  } catch (error) {
    parentPort.postMessage({ id, error: error.message, known: error.name === 'BridgeFailure' });
  }
});
