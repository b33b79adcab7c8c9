// Results in the making, and every way the bridge can end before they are in place: a signal
// (SIGTERM also comes when the application dies, which asks for it), a pipe to the application
// that breaks, or an error nothing else caught. Each removes the unfinished files first.
import { rmSync, writeSync } from 'node:fs';
import { UNEXPECTED_FAILURE } from './failure.mjs';
import { announceUnfinished, onBrokenPipe } from './progress.mjs';

export const STOPPED = 'The bridge was stopped before it finished.';
const STOP_SIGNALS = { SIGHUP: 1, SIGINT: 2, SIGTERM: 15 };
// The status of a bridge whose application stopped reading it, as if SIGPIPE had ended it.
const BROKEN_PIPE_STATUS = 128 + 13;

const unfinished = new Set();
// Set as a result starts replacing its destination: a stop that comes from then on is too late,
// and the answer goes out as usual, so that the caller never reads "stopped" over a replaced file.
let placing = false;
let ending = false;

function endNow(status, error) {
  if (ending) return;
  ending = true;
  for (const path of unfinished) rmSync(path, { force: true });
  try { writeSync(1, `${JSON.stringify({ ok: false, error })}\n`); } catch { /* nobody is reading */ }
  process.exit(status);
}

function guard() {
  if (guard.done) return;
  guard.done = true;
  for (const [signal, number] of Object.entries(STOP_SIGNALS)) {
    process.once(signal, () => {
      if (!placing) endNow(128 + number, STOPPED);
    });
  }
  // A pipe to the application that breaks: progress lines fail at once; writes through the
  // streams fail later, as an error event that, unheard, would end the bridge and leave its files.
  const broken = () => {
    if (!placing) endNow(BROKEN_PIPE_STATUS, STOPPED);
  };
  onBrokenPipe(broken);
  for (const stream of [process.stdout, process.stderr]) stream.on('error', broken);
  process.on('uncaughtException', (error) => {
    try { writeSync(2, `${error?.stack ?? error}\n`); } catch { /* nobody is reading */ }
    endNow(1, UNEXPECTED_FAILURE);
  });
}

// `path` is about to be created: from now on every end of the bridge removes it. The
// application hears its name first, so that it can remove it after a kill nothing survives.
export function beginUnfinished(path, suffix) {
  guard();
  announceUnfinished(suffix);
  unfinished.add(path);
}

export function endUnfinished(path) {
  unfinished.delete(path);
}

export function startPlacing() {
  placing = true;
}
