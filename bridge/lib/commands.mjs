// What each command does. Most are one call to the service whose answer is cut down to the
// command's result record; key generation stays on this computer, and the two file commands
// live in their own module, loaded only when a file is locked or opened.
import { BridgeFailure } from './failure.mjs';
import { DEVICE_KEY_FIELD, generateDeviceKey } from './device-key.mjs';
import { shapeRecord } from './records.mjs';

export const UNKNOWN_DEVICE_KEY = `The Korvo service does not know this computer's device key (${DEVICE_KEY_FIELD}).`;

// How a call proves who sends it: not at all, with the account's device key, or with a new key
// that is being bound to the account (which the service knows only after this call).
const UNSIGNED = 'unsigned';
const DEVICE = 'device';
const NEW_KEY = 'new-key';
// Signed with the device key when the request carries one, unsigned otherwise.
const DEVICE_IF_GIVEN = 'device-if-given';

const call = (method, path, body, auth, record) => ({ method, path, body, auth, record });

const SERVICE_COMMANDS = {
  register: call('POST', () => '/accounts/register', (r) => ({ email: r.email, password: r.password }), UNSIGNED, 'RegisterResult'),
  verifyEmail: call('POST', () => '/accounts/verify-email', (r) => ({ email: r.email, code: r.otp }), UNSIGNED, 'VerifyEmailResult'),
  resendOtp: call('POST', () => '/accounts/resend-code', (r) => ({ email: r.email }), UNSIGNED, 'SimpleMessageResult'),
  registerKey: call('POST', () => '/devices/register', (r) => ({ principalId: r.principalId, password: r.password }), NEW_KEY, 'RegisterKeyResult'),
  verifyCredentials: call('POST', () => '/accounts/verify-credentials', (r) => ({ email: r.email, password: r.password }), UNSIGNED, 'VerifyCredentialsResult'),
  createSession: call('POST', () => '/sessions', () => ({}), DEVICE, 'SessionResult'),
  rotateKey: call('POST', () => '/devices/rotate', (r) => ({ email: r.email, password: r.password }), NEW_KEY, 'RotateKeyResult'),
  listSecrets: call('GET', () => '/korvos', undefined, DEVICE, 'SecretListResult'),
  createSecret: call('POST', () => '/korvos', () => ({}), DEVICE, 'CreateSecretResult'),
  dataConsumption: call('GET', () => '/usage', undefined, DEVICE, 'DataConsumptionResult'),
  forgotPassword: call('POST', () => '/accounts/forgot-password', (r) => ({ email: r.email }), UNSIGNED, 'SimpleMessageResult'),
  resetPassword: call('POST', () => '/accounts/reset-password', (r) => ({ email: r.email, code: r.otp, newPassword: r.newPassword }), DEVICE_IF_GIVEN, 'SimpleMessageResult'),
  requestAccountDeletion: call('POST', () => '/accounts/deletion/request', (r) => ({ email: r.email, password: r.password, principalId: r.principalId }), UNSIGNED, 'SimpleMessageResult'),
  confirmAccountDeletion: call('POST', () => '/accounts/deletion/confirm', (r) => ({ email: r.email, code: r.otp }), UNSIGNED, 'ConfirmAccountDeletionResult'),
  getSecretPublicKey: call('GET', (r) => `/korvos/${r.secretId}/public-key`, undefined, DEVICE, 'KorvoPublicKeyResult'),
};

export function signerFor(request, auth) {
  if (auth === DEVICE) return { deviceKey: request.deviceKey, principalId: request.principalId };
  if (auth === NEW_KEY) return { deviceKey: request.deviceKey };
  if (auth === DEVICE_IF_GIVEN && request.deviceKey) return { deviceKey: request.deviceKey, principalId: request.principalId };
  return undefined;
}

// One signed or unsigned call on behalf of `request`. A signed call whose key the service does
// not know fails with a sentence naming the device key field, so the application asks the
// user to restore access on this computer.
export async function serviceCall(request, { method, path, body, auth }) {
  const { callService } = await import('./service-client.mjs');
  try {
    return await callService(request.blackboxUrl, method, path, { body, signer: signerFor(request, auth) });
  } catch (error) {
    if (auth === DEVICE && error instanceof BridgeFailure && error.reason === 'unknown-key') {
      throw new BridgeFailure(UNKNOWN_DEVICE_KEY, { status: error.status, reason: error.reason });
    }
    throw error;
  }
}

export const DEVICE_AUTH = DEVICE;
export const FILE_COMMANDS = new Set(['encryptFile', 'decryptFile']);

// Starts loading what `command` needs while the request is still being checked; anything that
// fails to load fails again, and is reported, where it is used.
export function prepareCommand(command) {
  const files = FILE_COMMANDS.has(command);
  if (!files && !Object.hasOwn(SERVICE_COMMANDS, command)) return;
  const ignore = () => {};
  import('./service-client.mjs').catch(ignore);
  if (files) import('./file-commands.mjs').catch(ignore);
  if (command === 'encryptFile') import('./capsule.mjs').then((capsule) => capsule.preloadKem(), ignore);
}

export async function runCommand(request) {
  if (request.command === 'generateKey') return shapeRecord('GeneratedKey', generateDeviceKey());
  if (FILE_COMMANDS.has(request.command)) {
    const files = await import('./file-commands.mjs');
    return request.command === 'encryptFile' ? files.encryptFile(request) : files.decryptFile(request);
  }
  const spec = SERVICE_COMMANDS[request.command];
  const answer = await serviceCall(request, {
    method: spec.method,
    path: spec.path(request),
    body: spec.body?.(request),
    auth: spec.auth,
  });
  return shapeRecord(spec.record, answer);
}
