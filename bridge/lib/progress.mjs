// Tells the application how far a file job has come: lines "progress DONE TOTAL" (bytes of the
// input) on standard error, at most ten a second plus the last one. Standard output keeps only
// the envelope.
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
  try {
    process.stderr.write(`progress ${done} ${total}\n`);
  } catch { /* nobody is reading */ }
}
