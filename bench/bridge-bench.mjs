// Times the bridge as the application runs it (a fresh node process per command, start-up
// included) against a local reference service, and locking and opening a large file through the
// bridge next to `korvo-cli lock` and `korvo-cli open` on the same file.
//
//   node bench/bridge-bench.mjs [--runs 20] [--size-mib 1024] [--file-runs 3]
//                               [--cli PATH] [--compare OTHER/korvo-bridge.mjs] [--dir DIR]
//
// `--compare` runs a second bridge script (another version) in the same rounds, so that both
// see the same load; `--cli` names korvo-cli when it is not in this tree's build*/ folders;
// the files go to DIR (default: the system's temporary folder).
import { spawnSync } from 'node:child_process';
import { randomFillSync } from 'node:crypto';
import { closeSync, existsSync, mkdtempSync, openSync, readdirSync, rmSync, writeSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { BRIDGE_SCRIPT, runBridge } from '../bridge/test/support/bridge.mjs';
import { serviceAvailable, signUp, startService } from '../bridge/test/support/service.mjs';

const ROOT = join(dirname(fileURLToPath(import.meta.url)), '..');
const option = (name, fallback) => {
  const at = process.argv.indexOf(name);
  return at > 0 ? process.argv[at + 1] : fallback;
};
const RUNS = Number(option('--runs', 20));
const SIZE_MIB = Number(option('--size-mib', 1024));
const FILE_RUNS = Number(option('--file-runs', 3));
const DIR = resolve(option('--dir', tmpdir()));
const OTHER = option('--compare', null);
const BRIDGES = [['bridge', BRIDGE_SCRIPT], ...(OTHER ? [['compared', resolve(OTHER)]] : [])];

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const mid = sorted.length >> 1;
  return sorted.length % 2 ? sorted[mid] : (sorted[mid - 1] + sorted[mid]) / 2;
};
const ms = (value) => `${value.toFixed(0).padStart(6)} ms`;
const label = (text) => text.padEnd(40);

function findCli() {
  const named = option('--cli', process.env.KORVO_CLI);
  if (named) return existsSync(named) ? resolve(named) : null;
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
  const again = spawnSync(SESSION_SCRIPT, [process.execPath, ...process.argv.slice(1), '--cli', CLI], { stdio: 'inherit' });
  process.exit(again.status ?? 1);
}

if (!serviceAvailable) {
  console.log('The reference service is not installed (run npm ci in service/); nothing to measure.');
  process.exit(0);
}

const timed = async (once) => {
  const started = performance.now();
  await once();
  return performance.now() - started;
};

const folder = mkdtempSync(join(DIR, 'korvo-bridge-bench-'));
const service = await startService({ root: join(folder, 'service') });
const bridge = (script, request, args) => runBridge(request === null ? null : { blackboxUrl: service.url, ...request }, { args, script, env: service.env });
try {
  // Rounds interleave every command with a bare node start, so that all of them see the same
  // load; the second column is the time above node's own start in the same round.
  console.log(`Bridge commands, wall time per run including node's start (median of ${RUNS} rounds):`);
  const account = await signUp(service, 'bench@example.test');
  const identity = { principalId: account.principalId, ed25519PrivateKeyHex: account.ed25519PrivateKeyHex };
  const commands = [
    ['--check', null, ['--check']],
    ['generateKey (local)', { command: 'generateKey' }],
    ['createSession', { command: 'createSession', ...identity }],
    ['listSecrets', { command: 'listSecrets', ...identity }],
    ['getSecretPublicKey', { command: 'getSecretPublicKey', ...identity, secretId: account.secretId }],
    ['dataConsumption', { command: 'dataConsumption', ...identity }],
  ];
  const rows = BRIDGES.flatMap(([who, script]) => commands.map(([name, request, args]) => ({ name: BRIDGES.length > 1 ? `${who} ${name}` : name, script, request, args, totals: [], above: [] })));
  const bare = [];
  for (let round = 0; round < RUNS; round += 1) {
    const nodeStart = await timed(() => spawnSync(process.execPath, ['-e', '0']));
    bare.push(nodeStart);
    for (const row of rows) {
      const value = await timed(async () => {
        const { envelope, stderr } = await bridge(row.script, row.request, row.args ?? []);
        if (!envelope?.ok) throw new Error(`${row.name}: ${envelope?.error ?? stderr}`);
      });
      row.totals.push(value);
      row.above.push(value - nodeStart);
    }
  }
  console.log(`  ${label('node -e 0 (start-up alone)')}${ms(median(bare))}`);
  for (const row of rows) console.log(`  ${label(row.name)}${ms(median(row.totals))}   (${ms(median(row.above)).trim()} above node's start)`);

  const input = join(folder, 'large.bin');
  writeRandomFile(input, SIZE_MIB * 1024 * 1024);
  const path = (name) => join(folder, name);
  // Each run gets its own account, so that the monthly allowances never stop the measurement.
  const lockers = [];
  for (let i = 0; i < FILE_RUNS * BRIDGES.length; i += 1) lockers.push(await signUp(service, `bench${i}@example.test`));
  console.log(`\nA ${SIZE_MIB} MiB file (median of ${FILE_RUNS}, runs interleaved, outputs removed between runs, page cache warm):`);
  const fileJob = async (script, command, who, filePath, outputPath) => timed(async () => {
    const request = { command, principalId: who.principalId, ed25519PrivateKeyHex: who.ed25519PrivateKeyHex, secretId: who.secretId, filePath, outputPath };
    const { envelope, stderr } = await bridge(script, request);
    if (!envelope?.ok) throw new Error(`${command}: ${envelope?.error ?? stderr}`);
  });
  let cliFailure = CLI ? null : 'not built (no build*/src/cli/korvo-cli; name it with --cli)';
  const cli = (args) => timed(async () => {
    const run = spawnSync(CLI, args, { encoding: 'utf8' });
    if (run.status !== 0) cliFailure = `failed: ${(run.error?.message || run.stderr || `signal ${run.signal}`).trim()}`;
  });
  const samples = new Map();
  const add = (name, value) => samples.set(name, [...(samples.get(name) ?? []), value]);
  for (let run = 0; run < FILE_RUNS; run += 1) {
    for (const name of readdirSync(folder).filter((n) => n !== 'large.bin' && n !== 'service')) rmSync(path(name), { force: true });
    for (const [b, [who, script]] of BRIDGES.entries()) {
      const locker = lockers[run * BRIDGES.length + b];
      add(`${who} encryptFile`, await fileJob(script, 'encryptFile', locker, input, path(`${who}.korvo`)));
      if (!cliFailure) add('korvo-cli lock', await cli(['lock', '-f', '-o', path('large.korvolocal'), input]));
      add(`${who} decryptFile`, await fileJob(script, 'decryptFile', locker, path(`${who}.korvo`), path(`${who}.opened`)));
      if (!cliFailure) add('korvo-cli open', await cli(['open', '-f', '-o', path('large.opened'), path('large.korvolocal')]));
    }
  }
  const figure = (name) => median(samples.get(name));
  for (const [who] of BRIDGES) {
    const lock = figure(`${who} encryptFile`);
    console.log(`  ${label(`${who} encryptFile`)}${ms(lock)}   (${(SIZE_MIB / 1024 / (lock / 1000)).toFixed(2)} GiB/s)`);
    console.log(`  ${label(`${who} decryptFile`)}${ms(figure(`${who} decryptFile`))}`);
  }
  if (cliFailure) {
    console.log(`  ${label('korvo-cli')}${cliFailure}: ratios skipped`);
  } else {
    console.log(`  ${label('korvo-cli lock')}${ms(figure('korvo-cli lock'))}`);
    console.log(`  ${label('korvo-cli open')}${ms(figure('korvo-cli open'))}`);
    for (const [who] of BRIDGES) {
      console.log(`  ${label(`${who} encryptFile / korvo-cli lock`)}${(figure(`${who} encryptFile`) / figure('korvo-cli lock')).toFixed(2).padStart(6)} x`);
      console.log(`  ${label(`${who} decryptFile / korvo-cli open`)}${(figure(`${who} decryptFile`) / figure('korvo-cli open')).toFixed(2).padStart(6)} x`);
    }
  }
} finally {
  await service.stop();
  rmSync(folder, { recursive: true, force: true });
}
