// Tells the application how far a file job has come: lines "progress DONE TOTAL" (bytes of the
// input) on standard error, at most ten a second plus the last one, and "unfinished SUFFIX"
// before a temporary result ".NAME.SUFFIX.partial" beside the output is created, so that the
// application can remove that one file should the bridge be killed outright. Standard output
// keeps only the envelope.
import { writeSync } from 'node:fs';

const INTERVAL_MS = 100;
let lastReport = 0;
let enabled = false;

// Only the bridge's own process reports; code that seals in-process stays quiet.
export function enableProgressReports() {
  enabled = true;
}

// Called when standard error turns out to be a broken pipe: the application stopped reading.
let brokenPipe = () => {};
export function onBrokenPipe(handler) {
  brokenPipe = handler;
}

// Straight to descriptor 2, as the envelope goes to 1. A line that cannot be written at once is
// dropped (the next one says more); a reader that is gone ends the job.
function say(line) {
  try {
    writeSync(2, line);
  } catch (error) {
    if (error?.code === 'EPIPE') brokenPipe();
  }
}

export function reportProgress(done, total) {
  if (!enabled) return;
  const now = Date.now();
  if (done < total && now - lastReport < INTERVAL_MS) return;
  lastReport = now;
  say(`progress ${done} ${total}\n`);
}

export function announceUnfinished(suffix) {
  if (enabled) say(`unfinished ${suffix}\n`);
}
