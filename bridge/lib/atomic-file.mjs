// Writes a result beside its destination under a temporary name and renames it into place only
// when the work succeeded; on any failure, and whenever the bridge ends early, the temporary
// file is removed and the destination is left as it was.
import { closeSync, constants, openSync } from 'node:fs';
import { open, rename, rm, stat } from 'node:fs/promises';
import { randomBytes } from 'node:crypto';
import { basename, dirname, join, resolve, sep } from 'node:path';
import { BridgeFailure } from './failure.mjs';
import { INPUT_UNREADABLE, OUTPUT_UNWRITABLE } from './chunk-stream.mjs';
import { beginUnfinished, endUnfinished, startPlacing } from './unfinished.mjs';

export const SAME_FILE = 'Choose a different place for the result than the file itself.';
export const NOT_A_FILE = 'The selected item is not a file.';
export const OUTPUT_NOT_A_FILE = 'The result can only be saved as a file: choose a file name, not a folder or a device.';

// Only a regular file is opened, and never so that opening waits: a FIFO or a device is refused
// by its type first, and one swapped in meanwhile opens at once without blocking and is refused.
export async function openInput(path) {
  let handle;
  try {
    if (!(await stat(path)).isFile()) throw new BridgeFailure(NOT_A_FILE);
    handle = await open(path, constants.O_RDONLY | constants.O_NONBLOCK | constants.O_NOCTTY);
    const info = await handle.stat();
    if (!info.isFile()) throw new BridgeFailure(NOT_A_FILE);
    return { handle, size: info.size, info };
  } catch (error) {
    await handle?.close();
    if (error instanceof BridgeFailure) throw error;
    throw new BridgeFailure(INPUT_UNREADABLE, { cause: error });
  }
}

// What is at `outputPath` now: nothing (undefined) or a regular file (its stat); anything else
// (a folder, a device, a FIFO, a name ending in a slash) is refused, since renaming a result
// there would fail or replace it.
async function existingOutput(outputPath) {
  const name = basename(outputPath);
  if (outputPath.endsWith(sep) || name === '' || name === '.' || name === '..') throw new BridgeFailure(OUTPUT_NOT_A_FILE);
  const existing = await stat(outputPath).catch(() => undefined);
  if (existing && !existing.isFile()) throw new BridgeFailure(OUTPUT_NOT_A_FILE);
  return existing;
}

// Refuses an output that is the input itself (same path, or another name for the same file)
// or that is not a regular file. Returns the permission bits the result gets: those of the file
// it replaces (never set-user-ID or set-group-ID); else, for contents opened from a locked file,
// owner-only (0600); else owner-only when the input is not readable by everyone, and the usual
// 0644 under the umask when it is.
export async function ensureDistinct(inputInfo, inputPath, outputPath, { plaintext = false } = {}) {
  if (resolve(inputPath) === resolve(outputPath)) throw new BridgeFailure(SAME_FILE);
  const existing = await existingOutput(outputPath);
  if (existing && existing.dev === inputInfo.dev && existing.ino === inputInfo.ino) throw new BridgeFailure(SAME_FILE);
  if (existing) return existing.mode & 0o777;
  return !plaintext && inputInfo.mode & 0o004 ? 0o644 & ~process.umask() : 0o600;
}

// Runs `work(handle)` on a fresh temporary file beside `outputPath`, gives it `mode`, checks
// that the destination is still nothing or a regular file, runs `finish()` (the last word
// before the result counts as delivered) and renames it into place.
export async function writeAtomically(outputPath, work, mode = 0o644 & ~process.umask(), finish = async () => {}) {
  const suffix = randomBytes(6).toString('hex');
  const temporary = join(dirname(outputPath), `.${basename(outputPath)}.${suffix}.partial`);
  let handle;
  let made = false;
  // Known before it exists, and made at once, so that no end of the bridge can come while the
  // file is being made and miss it.
  beginUnfinished(temporary, suffix);
  try {
    closeSync(openSync(temporary, 'wx', 0o600));
    made = true;
    handle = await open(temporary, 'r+');
  } catch (error) {
    if (made) await rm(temporary, { force: true }).catch(() => {});
    endUnfinished(temporary);
    throw new BridgeFailure(OUTPUT_UNWRITABLE, { cause: error });
  }
  try {
    await work(handle);
    await handle.chmod(mode);
    // On disk before it takes the destination's name, so a crash never leaves an empty result
    // in place of the earlier file.
    await handle.datasync();
    await handle.close();
    handle = undefined;
    await existingOutput(outputPath);
    await finish();
    startPlacing();
    await rename(temporary, outputPath);
  } catch (error) {
    await handle?.close().catch(() => {});
    await rm(temporary, { force: true }).catch(() => {});
    if (error instanceof BridgeFailure) throw error;
    throw new BridgeFailure(OUTPUT_UNWRITABLE, { cause: error });
  } finally {
    endUnfinished(temporary);
  }
}
