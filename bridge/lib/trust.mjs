// Certificate authorities the bridge trusts: the runtime's root store (the system's roots), plus
// the Korvo service's own authority, written by the service into the user's data folder (or the
// file named by KORVO_TRUSTED_CA). Verification itself is never switched off.
import { readFileSync } from 'node:fs';
import { homedir } from 'node:os';
import { join } from 'node:path';
import { createSecureContext, rootCertificates } from 'node:tls';
import { BridgeFailure } from './failure.mjs';

export const UNREADABLE_TRUSTED_CA = (path) => `The trusted certificate file ${path} could not be read.`;

export function trustedCaPath(env = process.env) {
  if (env.KORVO_TRUSTED_CA) return { path: env.KORVO_TRUSTED_CA, named: true };
  const dataHome = env.XDG_DATA_HOME || join(env.HOME || homedir(), '.local', 'share');
  return { path: join(dataHome, 'Korvo', 'trusted-ca.pem'), named: false };
}

function readIfPresent(path) {
  try {
    return readFileSync(path, 'utf8');
  } catch {
    return null;
  }
}

// The last context made, reused while the trusted file says the same (so that the calls of one
// run share a connection).
let lastContext;

// A TLS context trusting the runtime's root store plus the Korvo authority. Adding the one
// certificate to a copy of the already parsed root store costs about a millisecond, where
// handing every root over again as text costs tens of milliseconds on each run.
export function serviceSecureContext(env = process.env) {
  const { path, named } = trustedCaPath(env);
  const korvoCa = readIfPresent(path);
  if (lastContext && lastContext.path === path && lastContext.korvoCa === korvoCa) return lastContext.context;
  const context = makeSecureContext(path, named, korvoCa);
  lastContext = { path, korvoCa, context };
  return context;
}

function makeSecureContext(path, named, korvoCa) {
  // A file named on purpose must be there; the default one is optional.
  if (korvoCa === null && named) throw new BridgeFailure(UNREADABLE_TRUSTED_CA(path));
  if (!korvoCa) return createSecureContext();
  try {
    const context = createSecureContext();
    if (typeof context.context?.addCACert === 'function') {
      context.context.addCACert(korvoCa);
      return context;
    }
    return createSecureContext({ ca: [...rootCertificates, korvoCa] });
  } catch (error) {
    throw new BridgeFailure(UNREADABLE_TRUSTED_CA(path), { cause: error });
  }
}
