// The result records the application decodes, field by field. Each answer of the service is cut
// down to its record: listed fields only, required ones checked, optional ones kept when they
// have the right type. An answer that lacks a required field is refused here, with a sentence,
// rather than handed on for the application to fail on.
import { BridgeFailure } from './failure.mjs';

export const INCOMPLETE_ANSWER = 'The Korvo service sent an incomplete answer.';

const isText = (v) => typeof v === 'string';
const isBoolean = (v) => typeof v === 'boolean';
const isInteger = (v) => Number.isSafeInteger(v);
const isNumber = (v) => typeof v === 'number' && Number.isFinite(v);
const isTextList = (v) => Array.isArray(v) && v.every(isText);
const isInstant = (v) => isNumber(v) || isText(v);

// A field is [check, required] or [nested record, required] or [[nested record], required].
const field = (check, required = true) => [check, required];
const optional = (check) => field(check, false);

export const USAGE_STATS = {
  limit: field(isNumber), used: field(isNumber), remaining: field(isNumber), count: field(isInteger),
  requestLimit: field(isInteger), rateLimit: field(isNumber), limitGB: field(isNumber),
  usedGB: field(isNumber), remainingGB: field(isNumber),
};

export const KORVO_SECRET = {
  secretId: field(isInteger), ownerPrincipalId: field(isText), delegatePrincipalId: optional(isText),
  isSyncing: optional(isInteger), clusterId: field(isInteger), secretType: optional(isInteger),
  publicKeyCid: optional(isText), createdAt: optional(isText), updatedAt: optional(isText),
};

export const RECORDS = {
  RegisterResult: { principalId: field(isText), message: optional(isText) },
  VerifyEmailResult: { principalId: field(isText), emailVerified: field(isBoolean) },
  SimpleMessageResult: { message: optional(isText) },
  GeneratedKey: { privateKeyHex: field(isText), publicKeyHex: field(isText) },
  RegisterKeyResult: {
    principalId: field(isText), emailHex: optional(isText), nodeRegistrationStatus: field(isText),
    failedNodes: optional(isTextList), nodeErrors: optional(isTextList),
  },
  VerifyCredentialsResult: { valid: field(isBoolean), principalId: field(isText) },
  SessionResult: { principalId: field(isText), sessionAddress: field(isText), expiresAt: field(isText) },
  RotateKeyResult: { success: field(isBoolean), permitId: optional(isText) },
  SecretListResult: { success: field(isBoolean), secrets: field([KORVO_SECRET]) },
  CreateSecretResult: {
    success: field(isBoolean), secretId: field(isInteger), clusterId: field(isInteger),
    publicKeyCid: optional(isText), status: field(isText),
  },
  DataConsumptionResult: {
    userId: field(isText), userType: field(isText), planId: field(isText), cycleType: field(isText),
    periodStart: field(isInstant), periodEnd: field(isInstant),
    encryption: field(USAGE_STATS), decryption: field(USAGE_STATS),
  },
  ConfirmAccountDeletionResult: { success: field(isBoolean), message: optional(isText) },
  KorvoPublicKeyResult: { chainId: field(isInteger), secretId: field(isInteger), publicKey: field(isText) },
  FileJobResult: {
    jobId: field(isText), status: field(isText), resultFileName: optional(isText), outputPath: optional(isText),
  },
  BridgeCheckResult: { sdkVersion: field(isText), blackboxUrl: field(isText), node: field(isText) },
};

function shapeValue(spec, value) {
  if (typeof spec === 'function') return spec(value) ? { ok: true, value } : { ok: false };
  if (Array.isArray(spec)) {
    if (!Array.isArray(value)) return { ok: false };
    const items = [];
    for (const item of value) {
      const shaped = shapeValue(spec[0], item);
      if (!shaped.ok) return shaped;
      items.push(shaped.value);
    }
    return { ok: true, value: items };
  }
  if (value === null || typeof value !== 'object' || Array.isArray(value)) return { ok: false };
  const out = {};
  for (const [key, [check, required]] of Object.entries(spec)) {
    if (value[key] === undefined || value[key] === null) {
      if (required) return { ok: false };
      continue;
    }
    const shaped = shapeValue(check, value[key]);
    if (shaped.ok) out[key] = shaped.value;
    else if (required) return { ok: false };
  }
  return { ok: true, value: out };
}

export function shapeRecord(name, answer) {
  const shaped = shapeValue(RECORDS[name], answer);
  if (!shaped.ok) throw new BridgeFailure(INCOMPLETE_ANSWER);
  return shaped.value;
}
