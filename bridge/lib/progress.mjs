// Tells the application how far a file job has come: lines "progress DONE TOTAL" (bytes of the
// input) on standard error, at most ten a second plus the last one. Standard output keeps only
// the envelope.
import { writeSync } from 'node:fs';

const INTERVAL_MS = 100;
let lastReport = 0;
let enabled = false;

// Only the bridge's own process reports; code that seals in-process stays quiet.
export function enableProgressReports() {
  enabled = true;
}

export function reportProgress(done, total) {
  if (!enabled) return;
  const now = Date.now();
  if (done < total && now - lastReport < INTERVAL_MS) return;
  lastReport = now;
  // Straight to descriptor 2, as the envelope goes to 1; a line that cannot be written at once
  // (nobody reads, or the pipe is full) is dropped: the next one says more.
  try {
    writeSync(2, `progress ${done} ${total}\n`);
  } catch { /* dropped */ }
}
