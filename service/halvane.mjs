#!/usr/bin/env node
// The Halvane reference service. `node halvane.mjs --help` lists the commands.
import { main } from './src/cli.mjs';

main(process.argv.slice(2)).then((status) => {
  if (status !== undefined) process.exitCode = status;
}, (err) => {
  console.error(err && err.message ? err.message : String(err));
  process.exitCode = 1;
});
