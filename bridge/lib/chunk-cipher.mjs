// One chunk of the account-file format, sealed or opened. Used on the main thread and by the
// sealing workers alike.
import { createCipheriv, createDecipheriv } from 'node:crypto';
import { BridgeFailure } from './failure.mjs';
import { DAMAGED_FILE, TAG_LENGTH, chunkNonce } from './format.mjs';

// Returns the pieces to write: the ciphertext, then the tag.
export function sealChunk(key, header, index, last, plain) {
  const cipher = createCipheriv('aes-256-gcm', key, chunkNonce(index, last));
  cipher.setAAD(header);
  const sealed = cipher.update(plain);
  const tail = cipher.final();
  return tail.length ? [sealed, tail, cipher.getAuthTag()] : [sealed, cipher.getAuthTag()];
}

// Returns the pieces to write: the plaintext, released only once its tag has been checked.
export function openChunk(key, header, index, last, block) {
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
  return tail.length ? [plain, tail] : [plain];
}
