// The page's worker: the core runs here, so the page stays responsive while it works. It keeps
// the tile data last chosen, so a new layout costs no second hand-over.
'use strict';

const ready = quorvexCore();
let tiles = null;  // { name, bytes: Uint8Array }

// Copies `bytes` into the core's memory; 0 when the memory cannot be had.
function put(core, bytes) {
  const at = core._malloc(Math.max(1, bytes.length));
  if (at !== 0) core.HEAPU8.set(bytes, at);
  return at;
}

function text(core, value) {
  const size = core.lengthBytesUTF8(value) + 1;
  const at = core._malloc(size);
  core.stringToUTF8(value, at, size);
  return at;
}

// The result of the last call, copied out of the core's memory, which is then released.
function result(core, written) {
  const line = core.UTF8ToString(core._page_result_line());
  let bytes = null;
  if (written) {
    const at = core._page_result_bytes();
    bytes = core.HEAPU8.slice(at, at + core._page_result_size()).buffer;
  }
  core._page_result_release();
  return { line, bytes, written: written === 1 };
}

function convert(core, width, height) {
  const name = text(core, tiles.name);
  const at = put(core, tiles.bytes);
  const written = at === 0 ? core._page_out_of_memory(name)
                           : core._page_convert(at, tiles.bytes.length, name, width, height);
  core._free(name);
  return result(core, written);
}

function pack(core, edited, original) {
  const name = text(core, edited.name);
  const originalName = original ? text(core, original.name) : 0;
  const at = put(core, edited.bytes);
  const originalAt = original && at !== 0 ? put(core, original.bytes) : 0;
  let written;
  if (at === 0 || (original && originalAt === 0)) {
    if (at !== 0) core._free(at);
    written = core._page_out_of_memory(at === 0 ? name : originalName);
  } else {
    written = core._page_pack(at, edited.bytes.length, name, originalAt, original ? original.bytes.length : 0,
                              originalName);
  }
  core._free(name);
  if (originalName !== 0) core._free(originalName);
  return result(core, written);
}

onmessage = async (event) => {
  const core = await ready;
  const job = event.data;
  let answer;
  if (job.kind === 'geometry') {
    answer = { side: core._page_block_side(), recordBytes: core._page_record_bytes() };
  } else if (job.kind === 'convert') {
    if (job.tiles) tiles = { name: job.tiles.name, bytes: new Uint8Array(job.tiles.bytes) };
    answer = convert(core, job.width, job.height);
  } else if (job.kind === 'pack') {
    answer = pack(core, { name: job.edited.name, bytes: new Uint8Array(job.edited.bytes) },
                  job.original ? { name: job.original.name, bytes: new Uint8Array(job.original.bytes) } : null);
  }
  answer.id = job.id;
  postMessage(answer, answer.bytes ? [answer.bytes] : []);
};
