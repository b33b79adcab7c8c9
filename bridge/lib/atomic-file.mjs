// Writes a result beside its destination under a temporary name and renames it into place only
// when the work succeeded; on any failure the temporary file is removed and the destination is
// left as it was.
import { open, rename, rm, stat } from 'node:fs/promises';
import { randomBytes } from 'node:crypto';
import { basename, dirname, join, resolve } from 'node:path';
import { BridgeFailure } from './failure.mjs';
import { INPUT_UNREADABLE, OUTPUT_UNWRITABLE } from './chunk-stream.mjs';

export const SAME_FILE = 'Choose a different place for the result than the file itself.';
export const NOT_A_FILE = 'The selected item is not a file.';

export async function openInput(path) {
  let handle;
  try {
    handle = await open(path, 'r');
    const info = await handle.stat();
    if (!info.isFile()) throw new BridgeFailure(NOT_A_FILE);
    return { handle, size: info.size, info };
  } catch (error) {
    await handle?.close();
    if (error instanceof BridgeFailure) throw error;
    throw new BridgeFailure(INPUT_UNREADABLE, { cause: error });
  }
}

// Refuses an output that is the input itself (same path, or another name for the same file).
export async function ensureDistinct(inputInfo, inputPath, outputPath) {
  if (resolve(inputPath) === resolve(outputPath)) throw new BridgeFailure(SAME_FILE);
  const existing = await stat(outputPath).catch(() => null);
  if (existing && existing.dev === inputInfo.dev && existing.ino === inputInfo.ino) throw new BridgeFailure(SAME_FILE);
}

// Runs `work(handle)` on a fresh temporary file beside `outputPath`, then renames it into place.
export async function writeAtomically(outputPath, work) {
  const temporary = join(dirname(outputPath), `.${basename(outputPath)}.${randomBytes(6).toString('hex')}.partial`);
  let handle;
  try {
    handle = await open(temporary, 'wx', 0o600);
  } catch (error) {
    throw new BridgeFailure(OUTPUT_UNWRITABLE, { cause: error });
  }
  try {
    await work(handle);
    await handle.chmod(0o644 & ~process.umask());
    await handle.close();
    handle = undefined;
    await rename(temporary, outputPath);
  } catch (error) {
    await handle?.close().catch(() => {});
    await rm(temporary, { force: true }).catch(() => {});
    if (error instanceof BridgeFailure) throw error;
    throw new BridgeFailure(OUTPUT_UNWRITABLE, { cause: error });
  }
}
