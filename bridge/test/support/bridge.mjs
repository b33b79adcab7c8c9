// Runs the real bridge script as the application does: a child process, the request on its
// standard input, the envelope read from its standard output.
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { readdir, stat } from 'node:fs/promises';
import { setTimeout as sleep } from 'node:timers/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';

export const BRIDGE_SCRIPT = fileURLToPath(new URL('../../korvo-bridge.mjs', import.meta.url));

// `request` is an object (sent as JSON), a string (sent as is) or null (nothing sent and the
// input left open, as for the health check). `started(child)` may act on the running child;
// `script` runs another copy of the bridge (the benchmark compares versions).
export function runBridge(request, { args = [], env = {}, started, script = BRIDGE_SCRIPT } = {}) {
  return new Promise((resolve, reject) => {
    const child = spawn(process.execPath, [script, ...args], { env: { ...process.env, ...env }, stdio: ['pipe', 'pipe', 'pipe'] });
    started?.(child);
    let stdout = '';
    let stderr = '';
    child.stdout.on('data', (d) => { stdout += d; });
    child.stderr.on('data', (d) => { stderr += d; });
    child.on('error', reject);
    child.on('close', (status) => {
      if (request === null) child.stdin.destroy();
      let envelope;
      try { envelope = JSON.parse(stdout); } catch { envelope = undefined; }
      resolve({ status, stdout, stderr, envelope });
    });
    if (request !== null) child.stdin.end(typeof request === 'string' ? request : JSON.stringify(request));
  });
}

// For `started`: acts on a running bridge once its temporary output in `dir` holds `grown` bytes.
export const whenPartial = (dir, grown, action) => async (child) => {
  for (let i = 0; i < 3000; i += 1) {
    for (const name of (await readdir(dir)).filter((n) => n.endsWith('.partial'))) {
      if ((await stat(join(dir, name)).catch(() => ({ size: -1 }))).size >= grown) return action(child);
    }
    await sleep(2);
  }
  throw new Error('no temporary output appeared');
};

export function temporaryFolder(t) {
  const dir = mkdtempSync(join(tmpdir(), 'korvo-bridge-test-'));
  t.after(() => rmSync(dir, { recursive: true, force: true }));
  return dir;
}
