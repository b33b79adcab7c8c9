// Identity of this bridge, answered by the health check.
export const BRIDGE_VERSION = '1.0.0';
export const DEFAULT_BLACKBOX_URL = 'https://localhost:3010';
