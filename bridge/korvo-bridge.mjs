#!/usr/bin/env node
// Korvo bridge: reads one JSON request on standard input, carries it out against the Korvo
// service, and writes one JSON envelope on standard output: {"ok":true,"result":{...}} and exit
// status 0, or {"ok":false,"error":"<sentence>"} and exit status 1. With "--check" it reads
// nothing and answers with its version, the default service address and the runtime's version.
import { readSync, writeSync } from 'node:fs';
import { BridgeFailure, UNEXPECTED_FAILURE } from './lib/failure.mjs';
import { BRIDGE_VERSION, DEFAULT_BLACKBOX_URL } from './lib/version.mjs';

export const MAX_REQUEST_BYTES = 1024 * 1024;
export const REQUEST_TOO_LARGE = 'The bridge request is larger than 1 MiB.';

// Written straight to descriptor 1, like the request is read: setting up process.stdout costs
// more start-up time than the rest of a local command. A non-blocking output that is full gets
// the rest through the stream; an output nobody reads any more is let go.
function reply(envelope, status) {
  const text = Buffer.from(`${JSON.stringify(envelope)}\n`);
  let written = 0;
  try {
    while (written < text.length) written += writeSync(1, text, written);
  } catch (error) {
    if (error.code === 'EAGAIN') {
      process.stdout.write(text.subarray(written), () => process.exit(status));
      return;
    }
  }
  process.exit(status);
}

// Read straight from descriptor 0: setting up process.stdin as a stream costs more start-up
// time than the whole request. A non-blocking input falls back to the stream. Past the size
// limit the rest is read and dropped, so the sender's write completes and it gets the envelope.
async function readStandardInput() {
  const parts = [];
  let size = 0;
  const keep = (part) => {
    size += part.length;
    if (size <= MAX_REQUEST_BYTES) parts.push(part);
  };
  const part = Buffer.allocUnsafe(64 * 1024);
  for (;;) {
    let count;
    try {
      count = readSync(0, part, 0, part.length, null);
    } catch (error) {
      if (error.code !== 'EAGAIN') throw error;
      for await (const rest of process.stdin) keep(rest);
      break;
    }
    if (count === 0) break;
    keep(Buffer.from(part.subarray(0, count)));
  }
  if (size > MAX_REQUEST_BYTES) throw new BridgeFailure(REQUEST_TOO_LARGE);
  return Buffer.concat(parts).toString('utf8');
}

async function main(args) {
  if (args.includes('--check')) {
    return { sdkVersion: BRIDGE_VERSION, blackboxUrl: DEFAULT_BLACKBOX_URL, node: process.version };
  }
  // Every module is loaded as soon as it is known to be needed, side by side with the others:
  // these two while the request is read, the command's own while the request is checked.
  const modules = Promise.all([import('./lib/request.mjs'), import('./lib/commands.mjs')]);
  const text = await readStandardInput();
  const [{ parseRequestText, validateRequest }, { FILE_COMMANDS, prepareCommand, runCommand }] = await modules;
  const raw = parseRequestText(text);
  prepareCommand(raw.command);
  const request = validateRequest(raw);
  if (FILE_COMMANDS.has(request.command)) (await import('./lib/progress.mjs')).enableProgressReports();
  return runCommand(request);
}

main(process.argv.slice(2)).then(
  (result) => reply({ ok: true, result }, 0),
  (error) => {
    if (!(error instanceof BridgeFailure)) process.stderr.write(`${error?.stack ?? error}\n`);
    reply({ ok: false, error: error instanceof BridgeFailure ? error.message : UNEXPECTED_FAILURE }, 1);
  },
);
