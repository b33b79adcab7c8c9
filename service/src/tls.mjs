// The service's own certificate authority and its localhost certificate, made once with the
// openssl command-line tool, and the copy of the authority's certificate that clients trust.
import { execFileSync } from 'node:child_process';
import { X509Certificate, randomBytes } from 'node:crypto';
import { chmodSync, existsSync, mkdirSync, readFileSync, renameSync, rmSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';

const CA_DAYS = '3650';
const SERVER_DAYS = '825';
const RENEW_BEFORE_MS = 7 * 24 * 60 * 60 * 1000;
const SERVER_EXTENSIONS = [
  'basicConstraints=critical,CA:FALSE',
  'keyUsage=critical,digitalSignature,keyEncipherment',
  'extendedKeyUsage=serverAuth',
  'subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1',
  'subjectKeyIdentifier=hash',
  'authorityKeyIdentifier=keyid,issuer',
].join('\n');

// The authority may vouch only for this computer's own names.
const NAME_CONSTRAINTS = 'nameConstraints=critical,permitted;DNS:localhost,permitted;IP:127.0.0.0/255.0.0.0,'
  + 'permitted;IP:::1/ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff';

function openssl(args, cwd) {
  return execFileSync('openssl', args, { cwd, stdio: ['ignore', 'pipe', 'pipe'], encoding: 'utf8' });
}

function newKey(file, cwd) {
  openssl(['genpkey', '-algorithm', 'EC', '-pkeyopt', 'ec_paramgen_curve:P-256', '-out', file], cwd);
  chmodSync(join(cwd, file), 0o600);
}

function makeAuthority(folder) {
  newKey('ca.key', folder);
  openssl(['req', '-x509', '-new', '-key', 'ca.key', '-sha256', '-days', CA_DAYS,
    '-subj', '/CN=Halvane Local Certificate Authority',
    '-addext', 'basicConstraints=critical,CA:TRUE,pathlen:0',
    '-addext', 'keyUsage=critical,keyCertSign,cRLSign',
    '-addext', 'subjectKeyIdentifier=hash',
    '-addext', NAME_CONSTRAINTS,
    '-out', 'ca.pem'], folder);
}

// Made under side names and renamed into place, so a failed renewal keeps the old pair.
function makeServerCertificate(folder) {
  newKey('server.key.new', folder);
  writeFileSync(join(folder, 'server.ext'), `${SERVER_EXTENSIONS}\n`);
  openssl(['req', '-new', '-key', 'server.key.new', '-subj', '/CN=localhost', '-out', 'server.csr'], folder);
  openssl(['x509', '-req', '-in', 'server.csr', '-CA', 'ca.pem', '-CAkey', 'ca.key',
    '-set_serial', `0x${randomBytes(12).toString('hex')}`,
    '-days', SERVER_DAYS, '-sha256', '-extfile', 'server.ext', '-out', 'server.pem.new'], folder);
  rmSync(join(folder, 'server.csr'), { force: true });
  rmSync(join(folder, 'server.ext'), { force: true });
  renameSync(join(folder, 'server.key.new'), join(folder, 'server.key'));
  renameSync(join(folder, 'server.pem.new'), join(folder, 'server.pem'));
}

function expiresSoon(certFile) {
  const cert = new X509Certificate(readFileSync(certFile));
  return Date.parse(cert.validTo) - Date.now() < RENEW_BEFORE_MS;
}

// An authority made by an earlier version, without name constraints, is replaced.
function usableAuthority(folder) {
  if (!existsSync(join(folder, 'ca.pem')) || !existsSync(join(folder, 'ca.key'))) return false;
  return /DNS:localhost/.test(openssl(['x509', '-in', 'ca.pem', '-noout', '-ext', 'nameConstraints'], folder));
}

// Makes whatever is missing in `folder` (the authority first, in a side folder renamed into
// place so that a failure leaves nothing half made) and returns the PEM texts.
export function ensureCertificates(folder) {
  if (!usableAuthority(folder)) {
    const building = `${folder}.building-${process.pid}`;
    rmSync(building, { recursive: true, force: true });
    mkdirSync(building, { recursive: true, mode: 0o700 });
    makeAuthority(building);
    makeServerCertificate(building);
    rmSync(folder, { recursive: true, force: true });
    renameSync(building, folder);
  } else if (!existsSync(join(folder, 'server.pem')) || !existsSync(join(folder, 'server.key'))
      || expiresSoon(join(folder, 'server.pem'))) {
    makeServerCertificate(folder);
  }
  return {
    ca: readFileSync(join(folder, 'ca.pem'), 'utf8'),
    key: readFileSync(join(folder, 'server.key'), 'utf8'),
    cert: readFileSync(join(folder, 'server.pem'), 'utf8'),
  };
}

export function writeTrustedAuthority(file, caPem) {
  mkdirSync(dirname(file), { recursive: true });
  const temporary = `${file}.${process.pid}.tmp`;
  writeFileSync(temporary, caPem);
  renameSync(temporary, file);
}
