// Locking a file for a Korvo and opening it again. The file's contents stay on this computer:
// only the key capsule (and the plaintext size, for metering) is sent to the service.
import { basename } from 'node:path';
import { BridgeFailure } from './failure.mjs';
import { INCOMPLETE_ANSWER } from './records.mjs';
import { DEVICE_AUTH, serviceCall } from './commands.mjs';
import { ensureDistinct, openInput, writeAtomically } from './atomic-file.mjs';
import { openChunks, prepareChunks, sealChunks } from './chunk-stream.mjs';
import { CAPSULE_LENGTH, CAPSULE_SUITE, decodeFileKey, decodeKorvoPublicKey, encapsulate } from './capsule.mjs';
import {
  DAMAGED_FILE, DEFAULT_CHUNK_SIZE, FIXED_HEADER_LENGTH, NEWER_FORMAT, TAG_LENGTH,
  decodeHeader, encodeHeader, headerLengthFromPrefix,
} from './format.mjs';

export const KORVO_MISMATCH = 'That Korvo could not be verified.';
export const INPUT_CHANGED = 'The selected file changed while it was being locked; try again once it is saved.';
const COMPLETED = 'completed';

// `work(input, mode)`: `mode` is what the output's permission bits will be.
async function withInput(path, outputPath, work, options) {
  const input = await openInput(path);
  try {
    const mode = await ensureDistinct(input.info, path, outputPath, options);
    return await work(input, mode);
  } finally {
    await input.handle.close().catch(() => {});
  }
}

function jobResult(answer, outputPath) {
  if (typeof answer.jobId !== 'string' || !answer.jobId) throw new BridgeFailure(INCOMPLETE_ANSWER);
  return { jobId: answer.jobId, status: COMPLETED, resultFileName: basename(outputPath), outputPath };
}

// Reports a job's result written (and, when opening, authenticated): only then is it charged.
function completeJob(request, answer) {
  if (typeof answer?.jobId !== 'string' || !answer.jobId) throw new BridgeFailure(INCOMPLETE_ANSWER);
  return serviceCall(request, { method: 'POST', path: `/usage/jobs/${encodeURIComponent(answer.jobId)}/complete`, auth: DEVICE_AUTH, body: {} });
}

// The lock records the size taken when the file was opened, and exactly that many bytes are
// sealed; a file written to meanwhile is refused rather than locked half old, half new.
async function ensureUnchanged(input) {
  const now = await input.handle.stat();
  if (now.size !== input.size || now.mtimeMs !== input.info.mtimeMs) throw new BridgeFailure(INPUT_CHANGED);
}

async function fetchPublicKey(request) {
  const answer = await serviceCall(request, { method: 'GET', path: `/korvos/${request.secretId}/public-key`, auth: DEVICE_AUTH });
  if (answer.secretId !== request.secretId) throw new BridgeFailure(KORVO_MISMATCH);
  return decodeKorvoPublicKey(answer.publicKey, request.secretId);
}

export async function encryptFile(request, { chunkSize = DEFAULT_CHUNK_SIZE } = {}) {
  const { secretId, filePath, outputPath } = request;
  return withInput(filePath, outputPath, async (input, mode) => {
    let job;
    // The sealing workers of a large file start while the service is being asked.
    const pool = await prepareChunks('seal', input.size, chunkSize);
    try {
      // The temporary output exists before the service is asked anything, so a place that
      // cannot be written is reported before the job is metered.
      await writeAtomically(outputPath, async (output) => {
        const publicKey = await fetchPublicKey(request);
        const header = encodeHeader({ chunkSize, secretId, suite: CAPSULE_SUITE, capsule: Buffer.alloc(CAPSULE_LENGTH) });
        const context = header.subarray(0, FIXED_HEADER_LENGTH);
        const { capsule, fileKey } = await encapsulate(publicKey, secretId, context);
        capsule.copy(header, FIXED_HEADER_LENGTH);
        // The service records the lock by its capsule and context: only recorded locks open.
        job = await serviceCall(request, {
          method: 'POST', path: '/usage/jobs', auth: DEVICE_AUTH,
          body: { kind: 'encrypt', secretId, bytes: input.size, capsule: capsule.toString('base64'), context: context.toString('base64') },
        });
        await sealChunks(input.handle, output, { key: fileKey, header, chunkSize, pool, size: input.size });
        await ensureUnchanged(input);
      }, mode, () => completeJob(request, job));
    } finally {
      await pool?.close();
    }
    return jobResult(job, outputPath);
  });
}

async function readExactly(handle, length, position) {
  const buffer = Buffer.alloc(length);
  const { bytesRead } = await handle.read(buffer, 0, length, position);
  return buffer.subarray(0, bytesRead);
}

// Reads and checks the header; also works out the plaintext size from the file's length, so a
// file whose length cannot be right is refused before the service is asked anything.
export async function readLockedHeader(input) {
  const prefix = await readExactly(input.handle, FIXED_HEADER_LENGTH, 0);
  const length = headerLengthFromPrefix(prefix);
  const header = await readExactly(input.handle, length, 0);
  const fields = decodeHeader(header);
  if (fields.suite !== CAPSULE_SUITE) throw new BridgeFailure(NEWER_FORMAT);
  if (fields.capsule.length !== CAPSULE_LENGTH) throw new BridgeFailure(DAMAGED_FILE);
  const body = input.size - length;
  const block = fields.chunkSize + TAG_LENGTH;
  const fullBlocks = Math.floor(body / block);
  const rest = body % block;
  if (body <= 0 || (rest > 0 && rest < TAG_LENGTH)) throw new BridgeFailure(DAMAGED_FILE);
  const plainSize = fullBlocks * fields.chunkSize + (rest > 0 ? rest - TAG_LENGTH : 0);
  return { header, ...fields, plainSize };
}

export async function decryptFile(request) {
  const { filePath, outputPath } = request;
  return withInput(filePath, outputPath, async (input, mode) => {
    const locked = await readLockedHeader(input);
    let answer;
    const pool = await prepareChunks('open', input.size - locked.header.length, locked.chunkSize);
    try {
      await writeAtomically(outputPath, async (output) => {
        // The capsule answers to the Korvo it was made for, whichever Korvo is selected in the
        // application; the service lets only that Korvo's owner open it.
        answer = await serviceCall(request, {
          method: 'POST', path: `/korvos/${locked.secretId}/capsule/open`, auth: DEVICE_AUTH,
          body: {
            capsule: locked.capsule.toString('base64'),
            context: locked.header.subarray(0, FIXED_HEADER_LENGTH).toString('base64'),
            bytes: locked.plainSize,
          },
        }).catch((error) => {
          // A capsule or header the service has no finished lock for, or a file of another size
          // than its lock, was changed after locking.
          throw error.reason === 'unrecorded-lock' || error.reason === 'size-mismatch' ? new BridgeFailure(DAMAGED_FILE) : error;
        });
        const key = decodeFileKey(answer.fileKey);
        await openChunks(input.handle, output, { key, header: locked.header, chunkSize: locked.chunkSize, pool, size: input.size });
      }, mode, () => completeJob(request, answer));
    } finally {
      await pool?.close();
    }
    return jobResult(answer, outputPath);
  }, { plaintext: true });
}
