// Tells the application how far a file job has come: lines "progress DONE TOTAL" (bytes of the
// input) on standard error, at most ten a second plus the last one, and "unfinished SUFFIX"
// before a temporary result ".NAME.SUFFIX.partial" beside the output is created, so that the
// application can remove that one file should the bridge be killed outright. Standard output
// keeps only the envelope.
const INTERVAL_MS = 100;
let lastReport = 0;
let enabled = false;

// Only the bridge's own process reports; code that seals in-process stays quiet.
export function enableProgressReports() {
  enabled = true;
}

function say(line) {
  try {
    process.stderr.write(line);
  } catch { /* nobody is reading */ }
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
