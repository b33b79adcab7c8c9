// Times the bridge as the application runs it (a fresh node process per command, start-up
// included) against a local reference service, and locking a large file through the bridge
// next to `korvo-cli lock` on the same file.
//
//   node bench/bridge-bench.mjs [--runs 20] [--size-mib 1024] [--file-runs 3]
import { spawnSync } from 'node:child_process';
import { randomFillSync } from 'node:crypto';
import { closeSync, existsSync, mkdtempSync, openSync, readdirSync, rmSync, writeSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';
import { runBridge } from '../bridge/test/support/bridge.mjs';
import { serviceAvailable, signUp, startService } from '../bridge/test/support/service.mjs';

const ROOT = join(dirname(fileURLToPath(import.meta.url)), '..');
const option = (name, fallback) => {
  const at = process.argv.indexOf(name);
  return at > 0 ? Number(process.argv[at + 1]) : fallback;
};
const RUNS = option('--runs', 20);
const SIZE_MIB = option('--size-mib', 1024);
const FILE_RUNS = option('--file-runs', 3);

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const mid = sorted.length >> 1;
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
};
const ms = (value) => `${value.toFixed(0).padStart(6)} ms`;

async function timeIt(times, once) {
  const samples = [];
  for (let i = 0; i < times; i += 1) {
    const started = performance.now();
    await once(i);
    samples.push(performance.now() - started);
  }
  return median(samples);
}

function findCli() {
  for (const name of readdirSync(ROOT).filter((n) => n.startsWith('build')).sort()) {
    const path = join(ROOT, name, 'src', 'cli', 'korvo-cli');
    if (existsSync(path)) return path;
  }
  return null;
}

function writeRandomFile(path, bytes) {
  const fd = openSync(path, 'w');
  const block = Buffer.allocUnsafe(16 * 1024 * 1024);
  for (let left = bytes; left > 0; left -= block.length) writeSync(fd, randomFillSync(block), 0, Math.min(left, block.length));
  closeSync(fd);
}

// korvo-cli keeps its key in the Secret Service: without a session bus, the whole benchmark
// runs again inside the project's headless session, so that neither side pays its start-up.
const CLI = findCli();
const SESSION_SCRIPT = join(ROOT, 'scripts', 'headless-session.sh');
if (CLI && !process.env.DBUS_SESSION_BUS_ADDRESS && existsSync(SESSION_SCRIPT)) {
  const again = spawnSync(SESSION_SCRIPT, [process.execPath, ...process.argv.slice(1)], { stdio: 'inherit' });
  process.exit(again.status ?? 1);
}

if (!serviceAvailable) {
  console.log('The reference service is not installed (run npm ci in service/); nothing to measure.');
  process.exit(0);
}

const folder = mkdtempSync(join(ROOT, 'bench', '.bridge-bench-'));
const service = await startService({ root: join(folder, 'service') });
try {
  // Rounds interleave every command with a bare node start, so that all of them see the same
  // load; the second column is the time above node's own start in the same round.
  console.log(`Bridge commands, wall time per run including node's start (median of ${RUNS} rounds):`);
  const account = await signUp(service, 'bench@example.test');
  const identity = { principalId: account.principalId, ed25519PrivateKeyHex: account.ed25519PrivateKeyHex };
  const commands = [
    ['--check', null, ['--check']],
    ['generateKey', { command: 'generateKey' }],
    ['createSession', { command: 'createSession', ...identity }],
    ['listSecrets', { command: 'listSecrets', ...identity }],
    ['getSecretPublicKey', { command: 'getSecretPublicKey', ...identity, secretId: account.secretId }],
    ['dataConsumption', { command: 'dataConsumption', ...identity }],
  ];
  const totals = new Map(commands.map(([name]) => [name, []]));
  const aboveNode = new Map(commands.map(([name]) => [name, []]));
  const bare = [];
  for (let round = 0; round < RUNS; round += 1) {
    const nodeStart = await timeIt(1, () => spawnSync(process.execPath, ['-e', '']));
    bare.push(nodeStart);
    for (const [name, request, args] of commands) {
      const value = await timeIt(1, async () => {
        const { envelope } = request === null ? await runBridge(null, { args }) : await service.bridge(request);
        if (!envelope?.ok) throw new Error(`${name}: ${envelope?.error}`);
      });
      totals.get(name).push(value);
      aboveNode.get(name).push(value - nodeStart);
    }
  }
  console.log(`  node -e "" (start-up alone)      ${ms(median(bare))}`);
  for (const [name] of commands) {
    console.log(`  ${name.padEnd(32)} ${ms(median(totals.get(name)))}   (${ms(median(aboveNode.get(name))).trim()} above node's start)`);
  }

  const input = join(folder, 'large.bin');
  const output = join(folder, 'large.bin.korvo');
  const opened = join(folder, 'large.opened');
  const cliOut = join(folder, 'large.bin.korvolocal');
  writeRandomFile(input, SIZE_MIB * 1024 * 1024);
  // Each run gets its own account, so that the monthly allowances never stop the measurement.
  const lockers = [];
  for (let i = 0; i < FILE_RUNS; i += 1) lockers.push(await signUp(service, `bench${i}@example.test`));
  console.log(`\nA ${SIZE_MIB} MiB file (median of ${FILE_RUNS}, runs interleaved, outputs removed between runs, page cache warm):`);
  const fileJob = async (command, who, filePath, outputPath) => {
    const started = performance.now();
    const { envelope } = await service.bridge({ command, principalId: who.principalId, ed25519PrivateKeyHex: who.ed25519PrivateKeyHex, secretId: who.secretId, filePath, outputPath });
    if (!envelope?.ok) throw new Error(`${command}: ${envelope?.error}`);
    return performance.now() - started;
  };
  const lockSamples = [];
  const openSamples = [];
  const cliSamples = [];
  let cliFailure = CLI ? null : 'not built (no build*/src/cli/korvo-cli)';
  for (const who of lockers) {
    for (const path of [output, opened, cliOut]) rmSync(path, { force: true });
    lockSamples.push(await fileJob('encryptFile', who, input, output));
    if (!cliFailure) {
      const started = performance.now();
      const run = spawnSync(CLI, ['lock', '-f', '-o', cliOut, input], { encoding: 'utf8' });
      cliSamples.push(performance.now() - started);
      if (run.status !== 0) cliFailure = `failed: ${(run.error?.message || run.stderr || `signal ${run.signal}`).trim()}`;
    }
    openSamples.push(await fileJob('decryptFile', who, output, opened));
  }
  const bridgeLock = median(lockSamples);
  console.log(`  bridge encryptFile               ${ms(bridgeLock)}   (${(SIZE_MIB / 1024 / (bridgeLock / 1000)).toFixed(2)} GiB/s)`);
  console.log(`  bridge decryptFile               ${ms(median(openSamples))}`);
  if (cliFailure) {
    console.log(`  korvo-cli lock                   ${cliFailure}: ratio skipped`);
  } else {
    const cliLock = median(cliSamples);
    console.log(`  korvo-cli lock                   ${ms(cliLock)}`);
    console.log(`  bridge / korvo-cli               ${(bridgeLock / cliLock).toFixed(2)} x`);
  }
} finally {
  await service.stop();
  rmSync(folder, { recursive: true, force: true });
}
