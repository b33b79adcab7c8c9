export const UNEXPECTED_FAILURE = 'The bridge failed unexpectedly.';

// A failure whose message is a finished sentence for the user; it becomes the envelope's `error`.
// `status` and `reason` keep what the service said about it, when it came from the service.
export class BridgeFailure extends Error {
  constructor(message, { cause, status, reason } = {}) {
    super(message, cause ? { cause } : undefined);
    this.name = 'BridgeFailure';
    if (status !== undefined) this.status = status;
    if (reason !== undefined) this.reason = reason;
  }
}
