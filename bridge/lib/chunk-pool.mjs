// The block memory of one file job: every chunk is read into a block taken from here and the
// block comes back as soon as the chunk's bytes have been handed to the cipher, so only a few
// chunks are ever in memory however large the file.
const MiB = 1024 * 1024;
// Below the C library's largest dynamic mapping threshold (32 MiB on 64-bit glibc).
const HINT_BYTES = 31 * MiB;

// A message to a closed port is dropped with what it carries, so memory moved into it is freed
// at once instead of at the runtime's next collection.
let closedPort;
export function releaseMemory(arrayBuffer) {
  if (!closedPort) {
    closedPort = new MessageChannel().port1;
    closedPort.close();
  }
  closedPort.postMessage(arrayBuffer, [arrayBuffer]);
}

// Each sealed or opened chunk comes back from the cipher in fresh memory. Left to the runtime's
// collections, that memory is freed in batches of tens of megabytes, which glibc hands straight
// back to the system, so the next chunks land in new pages and pay a page fault every 4 KiB:
// about as much work as the encryption itself. So every chunk's memory is released once it is
// written (releaseMemory), and one large block is released first: glibc then raises its
// thresholds for the rest of the process and keeps freed memory for reuse. The block is never
// touched (it is mapped on demand and costs nothing). Elsewhere than glibc this does nothing.
export function keepFreedMemory() {
  if (keepFreedMemory.done) return;
  keepFreedMemory.done = true;
  releaseMemory(new ArrayBuffer(HINT_BYTES));
}

export class BlockPool {
  constructor(blockSize) {
    this.blockSize = blockSize;
    this.free = [];
  }

  take() {
    return this.free.pop() ?? Buffer.allocUnsafeSlow(this.blockSize);
  }

  give(block) {
    this.free.push(block);
  }

  // May be called more than once.
  close() {
    this.free = [];
    return Promise.resolve();
  }
}
