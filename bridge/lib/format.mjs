// Layout of an account-mode protected file (".korvo"). All integers are big-endian.
//
//   header
//     offset  size  field
//     0       9     magic "KORVOACCT"
//     9       1     format version (1)
//     10      4     header length in bytes, magic included
//     14      4     plaintext bytes per chunk
//     18      8     Korvo number the file is locked for
//     26      2     capsule suite (1: ML-KEM-768 + X25519, see capsule.mjs)
//     28      2     capsule length n
//     30      n     key capsule
//   chunks, each: AES-256-GCM ciphertext of up to `chunk size` bytes, then its 16-byte tag.
//     Every chunk but the last holds exactly `chunk size` bytes; the last holds 0..chunk size.
//     nonce = 5 zero bytes | chunk index (6 bytes) | 1 for the last chunk, else 0
//     associated data = the whole header
//
// The per-file key comes from the capsule, so counter nonces never repeat under one key. The
// last-chunk flag in the nonce makes a file cut at a chunk boundary fail to open, and the
// header as associated data makes any change to it (Korvo number, capsule, chunk size) fail.
import { BridgeFailure } from './failure.mjs';

export const MAGIC = Buffer.from('KORVOACCT', 'latin1');
export const FORMAT_VERSION = 1;
export const FIXED_HEADER_LENGTH = 30;
export const MAX_HEADER_LENGTH = 64 * 1024;
export const TAG_LENGTH = 16;
export const NONCE_LENGTH = 12;
export const KEY_LENGTH = 32;
export const DEFAULT_CHUNK_SIZE = 1024 * 1024;
export const MAX_CHUNK_SIZE = 64 * 1024 * 1024;
export const MAX_CHUNK_INDEX = 2 ** 48 - 1;

export const NOT_A_KORVO_FILE = 'This file is not a Korvo account file.';
export const NEWER_FORMAT = 'This file was locked by a newer version of Korvo.';
export const DAMAGED_FILE = 'This file was changed or is incomplete, so it cannot be opened.';

export function encodeHeader({ chunkSize, secretId, suite, capsule }) {
  const header = Buffer.alloc(FIXED_HEADER_LENGTH + capsule.length);
  MAGIC.copy(header, 0);
  header.writeUInt8(FORMAT_VERSION, 9);
  header.writeUInt32BE(header.length, 10);
  header.writeUInt32BE(chunkSize, 14);
  header.writeBigUInt64BE(BigInt(secretId), 18);
  header.writeUInt16BE(suite, 26);
  header.writeUInt16BE(capsule.length, 28);
  Buffer.from(capsule).copy(header, FIXED_HEADER_LENGTH);
  return header;
}

// How many bytes the whole header takes, judged from its first FIXED_HEADER_LENGTH bytes.
export function headerLengthFromPrefix(prefix) {
  const magicSeen = prefix.subarray(0, MAGIC.length);
  if (!MAGIC.subarray(0, magicSeen.length).equals(magicSeen)) throw new BridgeFailure(NOT_A_KORVO_FILE);
  // A file that stops inside the magic was cut short rather than being something else.
  if (prefix.length <= MAGIC.length) throw new BridgeFailure(DAMAGED_FILE);
  if (prefix.readUInt8(9) !== FORMAT_VERSION) throw new BridgeFailure(NEWER_FORMAT);
  if (prefix.length < FIXED_HEADER_LENGTH) throw new BridgeFailure(DAMAGED_FILE);
  const length = prefix.readUInt32BE(10);
  if (length !== FIXED_HEADER_LENGTH + prefix.readUInt16BE(28) || length > MAX_HEADER_LENGTH) throw new BridgeFailure(DAMAGED_FILE);
  return length;
}

export function decodeHeader(header) {
  const length = headerLengthFromPrefix(header);
  if (header.length !== length) throw new BridgeFailure(DAMAGED_FILE);
  const chunkSize = header.readUInt32BE(14);
  const secretId = header.readBigUInt64BE(18);
  if (chunkSize < 1 || chunkSize > MAX_CHUNK_SIZE) throw new BridgeFailure(DAMAGED_FILE);
  if (secretId < 1n || secretId > BigInt(Number.MAX_SAFE_INTEGER)) throw new BridgeFailure(DAMAGED_FILE);
  return {
    chunkSize,
    secretId: Number(secretId),
    suite: header.readUInt16BE(26),
    capsule: header.subarray(FIXED_HEADER_LENGTH),
  };
}

export function chunkNonce(index, last) {
  if (index > MAX_CHUNK_INDEX) throw new BridgeFailure(DAMAGED_FILE);
  const nonce = Buffer.alloc(NONCE_LENGTH);
  nonce.writeUIntBE(index, 5, 6);
  nonce[11] = last ? 1 : 0;
  return nonce;
}
