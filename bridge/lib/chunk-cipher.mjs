// One chunk of the account-file format, sealed or opened. Used on the main thread and by the
// sealing workers alike.
import { createCipheriv, createDecipheriv } from 'node:crypto';
import { BridgeFailure } from './failure.mjs';
import { DAMAGED_FILE, TAG_LENGTH, chunkNonce } from './format.mjs';

// The cipher is fed in slices of this size: its output then stays in the processor's cache and
// its buffers come from the ordinary heap, which is much faster than one large call per chunk.
const SLICE = 64 * 1024;

function feed(cipher, data, pieces) {
  for (let at = 0; at < data.length; at += SLICE) pieces.push(cipher.update(data.subarray(at, at + SLICE)));
}

// Returns the pieces to write: the ciphertext, then the tag.
export function sealChunk(key, header, index, last, plain) {
  const cipher = createCipheriv('aes-256-gcm', key, chunkNonce(index, last));
  cipher.setAAD(header);
  const pieces = [];
  feed(cipher, plain, pieces);
  const tail = cipher.final();
  if (tail.length) pieces.push(tail);
  pieces.push(cipher.getAuthTag());
  return pieces;
}

// Returns the pieces to write: the plaintext, released only once its tag has been checked.
export function openChunk(key, header, index, last, block) {
  if (block.length < TAG_LENGTH) throw new BridgeFailure(DAMAGED_FILE);
  const decipher = createDecipheriv('aes-256-gcm', key, chunkNonce(index, last));
  decipher.setAAD(header);
  decipher.setAuthTag(block.subarray(block.length - TAG_LENGTH));
  const pieces = [];
  feed(decipher, block.subarray(0, block.length - TAG_LENGTH), pieces);
  let tail;
  try {
    tail = decipher.final();
  } catch {
    throw new BridgeFailure(DAMAGED_FILE);
  }
  if (tail.length) pieces.push(tail);
  return pieces;
}
