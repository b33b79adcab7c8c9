// Reading and checking one request. Every command names the fields it needs; a field that is
// present must have the right JSON type whichever command carries it.
import { BridgeFailure } from './failure.mjs';
import { DEVICE_KEY_FIELD, parseDeviceKey } from './device-key.mjs';
import { DEFAULT_BLACKBOX_URL } from './version.mjs';

export const NOT_JSON = 'The bridge request is not a JSON object.';
export const NO_COMMAND = 'The bridge request names no command.';
// A command name is echoed only when it looks like one, so the answer stays short and plain.
export const UNKNOWN_COMMAND = (name) => (/^[A-Za-z][A-Za-z0-9]{0,39}$/.test(name)
  ? `The bridge does not know the command "${name}".` : 'The bridge does not know that command.');
export const BAD_PRINCIPAL = 'The request field principalId must be printable text of at most 256 characters.';
export const BAD_CODE = 'Enter the six-digit code from your email.';
export const MISSING_FIELD = (field, command) => `The ${command} request is missing ${field}.`;
export const WRONG_TYPE = (field, kind) => `The request field ${field} must be ${kind}.`;
// The same limit and sentence as the service's: numbers JSON carries exactly.
export const BAD_SECRET_ID = `A Korvo number is a whole number from 1 to ${Number.MAX_SAFE_INTEGER}.`;
export const BAD_URL = 'The service address must be an https address.';

const TEXT_FIELDS = ['command', 'blackboxUrl', 'email', 'password', 'otp', 'newPassword', 'principalId',
  DEVICE_KEY_FIELD, 'filePath', 'outputPath', 'jobId'];
const INTEGER_FIELDS = ['ttl', 'intervalMs', 'maxAttempts'];

// Fields each command needs besides `command` and `blackboxUrl`.
export const COMMAND_FIELDS = {
  register: ['email', 'password'],
  verifyEmail: ['email', 'otp'],
  resendOtp: ['email'],
  generateKey: [],
  registerKey: ['password', 'principalId', DEVICE_KEY_FIELD],
  verifyCredentials: ['email', 'password'],
  createSession: ['principalId', DEVICE_KEY_FIELD],
  rotateKey: ['email', 'password', DEVICE_KEY_FIELD],
  listSecrets: ['principalId', DEVICE_KEY_FIELD],
  createSecret: ['principalId', DEVICE_KEY_FIELD],
  dataConsumption: ['principalId', DEVICE_KEY_FIELD],
  forgotPassword: ['email'],
  resetPassword: ['email', 'otp', 'newPassword'],
  requestAccountDeletion: ['email', 'password', 'principalId'],
  confirmAccountDeletion: ['email', 'otp'],
  getSecretPublicKey: ['principalId', DEVICE_KEY_FIELD, 'secretId'],
  encryptFile: ['principalId', DEVICE_KEY_FIELD, 'secretId', 'filePath', 'outputPath'],
  decryptFile: ['principalId', DEVICE_KEY_FIELD, 'secretId', 'filePath', 'outputPath'],
};

// Commands that are signed with the device key when the request carries one (a password reset
// from the computer whose key should stay valid), and unsigned otherwise.
export const OPTIONALLY_SIGNED = new Set(['resetPassword']);

export function parseRequestText(text) {
  let value;
  try {
    value = JSON.parse(text);
  } catch {
    throw new BridgeFailure(NOT_JSON);
  }
  if (value === null || typeof value !== 'object' || Array.isArray(value)) throw new BridgeFailure(NOT_JSON);
  return value;
}

// Returns the checked request: `deviceKey` holds the parsed key when the command needs one,
// `blackboxUrl` is always a URL object.
export function validateRequest(raw) {
  if (raw.command === undefined || raw.command === null || raw.command === '') throw new BridgeFailure(NO_COMMAND);
  for (const field of TEXT_FIELDS) {
    if (field === DEVICE_KEY_FIELD) continue; // judged by the key parser, whose text names the field
    if (raw[field] != null && typeof raw[field] !== 'string') throw new BridgeFailure(WRONG_TYPE(field, 'text'));
  }
  for (const field of INTEGER_FIELDS) {
    if (raw[field] != null && !Number.isSafeInteger(raw[field])) throw new BridgeFailure(WRONG_TYPE(field, 'a whole number'));
  }
  if (raw.secretId != null && !(Number.isSafeInteger(raw.secretId) && raw.secretId >= 1)) throw new BridgeFailure(BAD_SECRET_ID);
  // principalId travels in a request header.
  if (raw.principalId != null && !/^[\x21-\x7e]{1,256}$/.test(raw.principalId)) throw new BridgeFailure(BAD_PRINCIPAL);
  const needed = COMMAND_FIELDS[raw.command];
  if (!Object.hasOwn(COMMAND_FIELDS, raw.command)) throw new BridgeFailure(UNKNOWN_COMMAND(raw.command));

  const request = { ...raw, blackboxUrl: parseServiceUrl(raw.blackboxUrl) };
  for (const field of needed) {
    if (field === DEVICE_KEY_FIELD) {
      request.deviceKey = parseDeviceKey(raw[field]);
    } else if (raw[field] == null || raw[field] === '') {
      throw new BridgeFailure(MISSING_FIELD(field, raw.command));
    }
  }
  if (OPTIONALLY_SIGNED.has(raw.command) && raw.principalId && raw[DEVICE_KEY_FIELD]) {
    request.deviceKey = parseDeviceKey(raw[DEVICE_KEY_FIELD]);
  }
  if (needed.includes('otp')) request.otp = readCode(raw.otp);
  return request;
}

// The six ASCII digits of a typed code: blanks around it dropped, and decimal digits of any
// script (full-width, Arabic-Indic, ...) read by value. Unicode keeps each run of decimal digits
// contiguous and in order from zero, so a digit's value is its distance from the run's start.
export function readCode(typed) {
  const code = typed.trim().normalize('NFKC').replace(/\p{Nd}/gu, (digit) => {
    const point = digit.codePointAt(0);
    let start = point;
    while (/\p{Nd}/u.test(String.fromCodePoint(start - 1))) start -= 1;
    return String((point - start) % 10);
  }).trim();
  if (!/^[0-9]{6}$/.test(code)) throw new BridgeFailure(BAD_CODE);
  return code;
}

export function parseServiceUrl(text) {
  let url;
  try {
    url = new URL(text == null || text === '' ? DEFAULT_BLACKBOX_URL : text);
  } catch {
    throw new BridgeFailure(BAD_URL);
  }
  if (url.protocol !== 'https:') throw new BridgeFailure(BAD_URL);
  return url;
}
