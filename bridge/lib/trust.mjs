// Certificate authorities the bridge trusts: the runtime's and the system's roots, plus the
// Korvo service's own authority, written by the service into the user's data folder (or the
// file named by KORVO_TRUSTED_CA). Verification itself is never switched off.
import { readFileSync } from 'node:fs';
import { homedir } from 'node:os';
import { join } from 'node:path';
import { rootCertificates } from 'node:tls';
import { BridgeFailure } from './failure.mjs';

export const UNREADABLE_TRUSTED_CA = (path) => `The trusted certificate file ${path} could not be read.`;

const SYSTEM_BUNDLES = ['/etc/ssl/certs/ca-certificates.crt', '/etc/pki/tls/certs/ca-bundle.crt', '/etc/ssl/cert.pem'];

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

export function trustedAuthorities(env = process.env) {
  const authorities = [...rootCertificates];
  for (const bundle of SYSTEM_BUNDLES) {
    const pem = readIfPresent(bundle);
    if (pem) {
      authorities.push(pem);
      break;
    }
  }
  const { path, named } = trustedCaPath(env);
  const korvoCa = readIfPresent(path);
  // A file named on purpose must be there; the default one is optional.
  if (korvoCa === null && named) throw new BridgeFailure(UNREADABLE_TRUSTED_CA(path));
  if (korvoCa) authorities.push(korvoCa);
  return authorities;
}
