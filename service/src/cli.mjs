// Command line: serve (default) and latest-mail.
import { readFileSync } from 'node:fs';
import { join } from 'node:path';
import { latestMail } from './outbox.mjs';
import { DEFAULT_PORT, defaultServiceFolder } from './paths.mjs';
import { startService } from './server.mjs';

const USAGE = `usage: halvane.mjs [--port N] [--data DIR] [--clock-file FILE]
       halvane.mjs latest-mail [--to ADDRESS] [--data DIR] [--code | --link]`;
const portInUse = (port) => `Port ${port} is already in use; choose another with --port.`;
const BAD_CLOCK_FILE = 'The clock file must hold a number of seconds.';
const NO_MAIL = 'No e-mail has been sent yet.';
const noMailTo = (to) => `No e-mail has been sent to ${to}.`;
const MAIL_HAS_NO_CODE = 'The latest e-mail holds no code.';
const MAIL_HAS_NO_LINK = 'The latest e-mail holds no link.';

export class UsageError extends Error {}

export function parseArguments(argv) {
  const options = { command: 'serve', flags: new Set() };
  const args = [...argv];
  if (args[0] === 'latest-mail' || args[0] === 'serve') options.command = args.shift();
  const valueOf = (name) => {
    const value = args.shift();
    if (value === undefined || value.startsWith('--')) throw new UsageError(`${name} needs a value.\n${USAGE}`);
    return value;
  };
  while (args.length > 0) {
    const arg = args.shift();
    switch (arg) {
      case '--port': {
        const text = valueOf(arg);
        if (!/^[0-9]{1,5}$/.test(text) || Number(text) > 65535) throw new UsageError(`--port needs a number from 0 to 65535.\n${USAGE}`);
        options.port = Number(text);
        break;
      }
      case '--data': options.dataDir = valueOf(arg); break;
      case '--clock-file': options.clockFile = valueOf(arg); break;
      case '--to': options.to = valueOf(arg); break;
      case '--code': case '--link': options.flags.add(arg.slice(2)); break;
      case '--help': case '-h': throw new UsageError(USAGE);
      default: throw new UsageError(`Unknown argument ${arg}.\n${USAGE}`);
    }
  }
  return options;
}

// The real clock moved by the number of seconds in `file`, read on every call.
export function offsetClock(file) {
  return () => {
    let text = '';
    try {
      text = readFileSync(file, 'utf8').trim();
    } catch (err) {
      if (err.code !== 'ENOENT') throw err;
    }
    if (text === '') return Date.now();
    const seconds = Number(text);
    if (!Number.isFinite(seconds)) throw new Error(BAD_CLOCK_FILE);
    return Date.now() + seconds * 1000;
  };
}

async function serve(options) {
  const port = options.port ?? DEFAULT_PORT;
  let service;
  try {
    service = await startService({
      dataDir: options.dataDir || defaultServiceFolder(),
      port,
      clock: options.clockFile ? offsetClock(options.clockFile) : undefined,
    });
  } catch (err) {
    if (err.code === 'EADDRINUSE') {
      console.error(portInUse(port));
      return 1;
    }
    throw err;
  }
  console.log(`listening on ${service.url}`);
  console.log(`data folder ${service.dataDir}; trusted authority written to ${service.trustedCaPath}`);
  const stop = () => { service.close().then(() => process.exit(0)); };
  process.once('SIGINT', stop);
  process.once('SIGTERM', stop);
  return undefined;
}

function printLatestMail(options) {
  const folder = join(options.dataDir || defaultServiceFolder(), 'outbox');
  const mail = latestMail(folder, options.to);
  if (!mail) {
    console.error(options.to ? noMailTo(options.to) : NO_MAIL);
    return 1;
  }
  if (options.flags.has('code')) {
    if (!mail.code) { console.error(MAIL_HAS_NO_CODE); return 1; }
    console.log(mail.code);
  } else if (options.flags.has('link')) {
    if (!mail.link) { console.error(MAIL_HAS_NO_LINK); return 1; }
    console.log(mail.link);
  } else {
    process.stdout.write(mail.raw.replace(/\r\n/g, '\n'));
  }
  return 0;
}

// Returns an exit status, or undefined while the service keeps running.
export async function main(argv) {
  let options;
  try {
    options = parseArguments(argv);
  } catch (err) {
    if (!(err instanceof UsageError)) throw err;
    console.error(err.message);
    return 2;
  }
  return options.command === 'latest-mail' ? printLatestMail(options) : serve(options);
}
