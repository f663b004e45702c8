// The page's worker: the core runs here, so the page stays responsive while it works. It keeps
// the tile data last chosen in the core's memory, so a new layout costs no second copy, and it
// draws on the page's canvas itself, each block-row as the core makes it: the bitmap is never
// held whole, only in the file the page offers.
'use strict';

const ready = quorvexCore();
let canvas = null;  // the page's, handed over
let tiles = null;  // { name, at, size }: the bytes at `at` in the core's memory, or at 0 when it had none

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

function keep(core, name, bytes) {
  if (tiles && tiles.at !== 0) core._free(tiles.at);
  tiles = { name, at: put(core, bytes), size: bytes.length };
}

// Paints a 24-bit bitmap's pieces: the header, then block-rows of pixel rows, bottom first.
// The core turns each into RGBA in its own memory, read by the canvas from there.
function painter(core, width, height, side) {
  const pixelsWide = width * side;
  const stripBytes = pixelsWide * side * 4;
  const context = canvas.getContext('2d');
  let rgba = 0;  // one block-row of RGBA pixels, had once the header shows the counts are sound
  let row = height;  // the block-row the next piece holds, counted down
  let file = null;
  return {
    take(piece) {
      file = file ? new Blob([file, piece]) : new Blob([piece], { type: 'image/bmp' });
      if (row === height) {  // the header
        canvas.width = pixelsWide;
        canvas.height = height * side;
        rgba = core._malloc(stripBytes);
      } else if (rgba !== 0) {
        core._page_rgba(piece.byteOffset, pixelsWide, side, rgba);
        const pixels = new Uint8ClampedArray(core.HEAPU8.buffer, rgba, stripBytes);
        context.putImageData(new ImageData(pixels, pixelsWide, side), 0, row * side);
      }
      row -= 1;
    },
    // The bitmap's file, once all is painted; null when the strip could not be had.
    finish() {
      if (rgba === 0) return null;
      core._free(rgba);
      rgba = 0;
      return file;
    },
  };
}

function convert(core, width, height) {
  const name = text(core, tiles.name);
  const paint = painter(core, width, height, core._page_block_side());
  core.onPiece = paint.take;
  const written = tiles.at === 0 ? core._page_out_of_memory(name)
                                 : core._page_convert(tiles.at, tiles.size, name, width, height);
  const file = paint.finish();
  let answer = result(core, 0);
  answer.written = written === 1;
  if (answer.written && file === null) answer = result(core, core._page_out_of_memory(name));
  answer.file = file;
  core._free(name);
  return answer;
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
  if (job.kind === 'canvas') {
    canvas = job.canvas;
    answer = {};
  } else if (job.kind === 'png') {
    answer = { file: await canvas.convertToBlob({ type: 'image/png' }) };
  } else if (job.kind === 'geometry') {
    answer = { side: core._page_block_side(), recordBytes: core._page_record_bytes() };
  } else if (job.kind === 'convert') {
    if (job.tiles) keep(core, job.tiles.name, new Uint8Array(job.tiles.bytes));
    answer = convert(core, job.width, job.height);
  } else if (job.kind === 'pack') {
    answer = pack(core, { name: job.edited.name, bytes: new Uint8Array(job.edited.bytes) },
                  job.original ? { name: job.original.name, bytes: new Uint8Array(job.original.bytes) } : null);
  }
  answer.id = job.id;
  postMessage(answer, answer.bytes ? [answer.bytes] : []);
};
