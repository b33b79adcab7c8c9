// Spreads the chunks of one large file over a few worker threads, so sealing runs on every core
// while the main thread reads and writes. Answers come back per chunk; the caller keeps order.
import { Worker } from 'node:worker_threads';
import { availableParallelism } from 'node:os';
import { BridgeFailure } from './failure.mjs';

export const MAX_WORKERS = 4;

export class ChunkPool {
  constructor(mode, key, header, count = Math.min(MAX_WORKERS, availableParallelism())) {
    this.waiting = new Map();
    this.nextId = 0;
    this.workers = Array.from({ length: Math.max(1, count) }, () => {
      const worker = new Worker(new URL('./chunk-worker.mjs', import.meta.url), {
        workerData: { mode, key: Buffer.from(key), header: Buffer.from(header) },
      });
      worker.on('message', (reply) => this.settle(reply));
      worker.on('error', (error) => this.failAll(error));
      return worker;
    });
  }

  settle({ id, pieces, error, known }) {
    const entry = this.waiting.get(id);
    this.waiting.delete(id);
    if (error !== undefined) entry.reject(known ? new BridgeFailure(error) : new Error(error));
    else entry.resolve(pieces.map((piece) => Buffer.from(piece)));
  }

  failAll(error) {
    for (const entry of this.waiting.values()) entry.reject(error);
    this.waiting.clear();
  }

  // `block` must own its memory: it is moved to the worker and unusable afterwards.
  transform(block, index, last) {
    const id = this.nextId;
    this.nextId += 1;
    return new Promise((resolve, reject) => {
      this.waiting.set(id, { resolve, reject });
      this.workers[index % this.workers.length].postMessage(
        { id, index, last, block: block.buffer, length: block.length }, [block.buffer]);
    });
  }

  async close() {
    await Promise.all(this.workers.map((worker) => worker.terminate()));
  }
}
