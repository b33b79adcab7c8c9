// Writes a result beside its destination under a temporary name and renames it into place only
// when the work succeeded; on any failure, and when the bridge is told to stop, the temporary
// file is removed and the destination is left as it was.
import { constants, rmSync, writeSync } from 'node:fs';
import { open, rename, rm, stat } from 'node:fs/promises';
import { randomBytes } from 'node:crypto';
import { basename, dirname, join, resolve } from 'node:path';
import { BridgeFailure } from './failure.mjs';
import { INPUT_UNREADABLE, OUTPUT_UNWRITABLE } from './chunk-stream.mjs';

export const SAME_FILE = 'Choose a different place for the result than the file itself.';
export const NOT_A_FILE = 'The selected item is not a file.';
export const STOPPED = 'The bridge was stopped before it finished.';

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

// Refuses an output that is the input itself (same path, or another name for the same file).
// Returns the permission bits the result gets: those of the file it replaces, else owner-only
// when the input is not readable by everyone, else the usual 0644 under the umask.
export async function ensureDistinct(inputInfo, inputPath, outputPath) {
  if (resolve(inputPath) === resolve(outputPath)) throw new BridgeFailure(SAME_FILE);
  const existing = await stat(outputPath).catch(() => null);
  if (existing && existing.dev === inputInfo.dev && existing.ino === inputInfo.ino) throw new BridgeFailure(SAME_FILE);
  if (existing?.isFile()) return existing.mode & 0o7777;
  return inputInfo.mode & 0o004 ? 0o644 & ~process.umask() : 0o600;
}

// Temporary files in the making, removed if a signal stops the bridge.
const unfinished = new Set();
const STOP_SIGNALS = { SIGHUP: 1, SIGINT: 2, SIGTERM: 15 };
// Set as a result starts replacing its destination: a stop that comes from then on is too late,
// and the answer goes out as usual, so that the caller never reads "stopped" over a replaced file.
let placing = false;

function stopOnSignals() {
  if (stopOnSignals.done) return;
  stopOnSignals.done = true;
  for (const [signal, number] of Object.entries(STOP_SIGNALS)) {
    process.once(signal, () => {
      if (placing) return;
      for (const path of unfinished) rmSync(path, { force: true });
      try { writeSync(1, `${JSON.stringify({ ok: false, error: STOPPED })}\n`); } catch { /* nobody is reading */ }
      process.exit(128 + number);
    });
  }
}

// Runs `work(handle)` on a fresh temporary file beside `outputPath`, then gives it `mode` and
// renames it into place.
export async function writeAtomically(outputPath, work, mode = 0o644 & ~process.umask()) {
  const temporary = join(dirname(outputPath), `.${basename(outputPath)}.${randomBytes(6).toString('hex')}.partial`);
  stopOnSignals();
  let handle;
  // Known before it exists: a stop that comes while the file is being created removes it too.
  unfinished.add(temporary);
  try {
    handle = await open(temporary, 'wx', 0o600);
  } catch (error) {
    unfinished.delete(temporary);
    throw new BridgeFailure(OUTPUT_UNWRITABLE, { cause: error });
  }
  try {
    await work(handle);
    await handle.chmod(mode);
    await handle.close();
    handle = undefined;
    placing = true;
    await rename(temporary, outputPath);
  } catch (error) {
    await handle?.close().catch(() => {});
    await rm(temporary, { force: true }).catch(() => {});
    if (error instanceof BridgeFailure) throw error;
    throw new BridgeFailure(OUTPUT_UNWRITABLE, { cause: error });
  } finally {
    unfinished.delete(temporary);
  }
}
