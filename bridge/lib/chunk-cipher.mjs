// One chunk of the account-file format, sealed or opened. The runtime's WebCrypto AES-256-GCM
// runs each chunk on its thread pool, so several chunks are sealed at once on every core while
// this thread only reads and writes; it also takes a whole chunk in one call and returns the
// ciphertext with its tag appended, which is exactly a chunk's layout in the file.
import { webcrypto } from 'node:crypto';
import { BridgeFailure } from './failure.mjs';
import { DAMAGED_FILE, TAG_LENGTH, chunkNonce } from './format.mjs';

const { subtle } = webcrypto;

// `seal(index, last, plain)` resolves to the chunk as written (ciphertext, then tag);
// `open(index, last, block)` to the plaintext, only once the tag has been checked. The input's
// bytes are copied when the call is made, so its memory may be reused once the call resolves.
export async function chunkCipher(key, header) {
  const cryptoKey = await subtle.importKey('raw', key, 'AES-GCM', false, ['encrypt', 'decrypt']);
  const params = (index, last) => ({ name: 'AES-GCM', iv: chunkNonce(index, last), additionalData: header, tagLength: TAG_LENGTH * 8 });
  return {
    seal: async (index, last, plain) => new Uint8Array(await subtle.encrypt(params(index, last), cryptoKey, plain)),
    async open(index, last, block) {
      if (block.length < TAG_LENGTH) throw new BridgeFailure(DAMAGED_FILE);
      try {
        return new Uint8Array(await subtle.decrypt(params(index, last), cryptoKey, block));
      } catch (error) {
        // The one failure of a well-formed call: the tag does not match.
        if (error?.name === 'OperationError') throw new BridgeFailure(DAMAGED_FILE);
        throw error;
      }
    },
  };
}
