// The page's worker: the core runs here, so the page stays responsive while it works. It keeps
// the tile data last chosen in the core's memory, so a new layout costs no second copy, and it
// draws on the page's canvas itself, each block-row as the core makes it: the bitmap is never
// held whole, only in the file the page offers.
'use strict';

const ready = quorvexCore();
let canvas = null;  // the page's, handed over
let shown = null;   // { width, height } of the last conversion, for a PNG at full size
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

// Paints a 24-bit bitmap's pieces (the header, then block-rows of pixel rows, bottom first) on
// `target` at `scale` (1 or less), and keeps them as the bitmap's file when `keepFile`. The core
// turns each block-row into RGBA, made smaller when scaled, in its own memory, read by the
// canvas from there.
function painter(core, width, height, side, target, scale, keepFile) {
  const pixelsWide = width * side;
  const stripBytes = pixelsWide * side * 4;
  const context = target.getContext('2d');
  const place = (row) => Math.round(row * side * scale);
  let rgba = 0;  // one block-row of RGBA pixels, had once the header shows the counts are sound
  let row = height;  // the block-row the next piece holds, counted down
  let file = null;
  return {
    take(piece) {
      if (keepFile) file = file ? new Blob([file, piece]) : new Blob([piece], { type: 'image/bmp' });
      if (row === height) {  // the header
        target.width = Math.max(1, Math.round(pixelsWide * scale));
        target.height = Math.max(1, place(height));
        rgba = core._malloc(stripBytes);
      } else if (rgba !== 0) {
        const high = place(row + 1) - place(row);
        if (high > 0) {
          if (scale < 1) {
            core._page_rgba_smaller(piece.byteOffset, pixelsWide, side, rgba, target.width, high);
          } else {
            core._page_rgba(piece.byteOffset, pixelsWide, side, rgba);
          }
          const bytes = new Uint8ClampedArray(core.HEAPU8.buffer, rgba, target.width * high * 4);
          context.putImageData(new ImageData(bytes, target.width, high), 0, place(row));
        }
      }
      row -= 1;
    },
    // Whether the strip could be had (false: nothing was painted), freeing it.
    finish() {
      if (rgba === 0) return false;
      core._free(rgba);
      rgba = 0;
      return true;
    },
    file: () => file,
  };
}

// Converts the tile data kept at width x height blocks, painting on `target` at `scale`.
function convert(core, width, height, target, scale, keepFile) {
  const name = text(core, tiles.name);
  const paint = painter(core, width, height, core._page_block_side(), target, scale, keepFile);
  core.onPiece = paint.take;
  const written = tiles.at === 0 ? core._page_out_of_memory(name)
                                 : core._page_convert(tiles.at, tiles.size, name, width, height);
  const painted = paint.finish();
  let answer = result(core, 0);
  answer.written = written === 1;
  if (answer.written && !painted) answer = result(core, core._page_out_of_memory(name));
  answer.file = paint.file();
  core._free(name);
  return answer;
}

// Reads a chosen file straight into the core's memory, a chunk at a time: no second copy.
async function keepFile(core, file) {
  if (tiles && tiles.at !== 0) core._free(tiles.at);
  tiles = { name: file.name, at: core._malloc(Math.max(1, file.size)), size: file.size };
  if (tiles.at === 0) return;
  const reader = file.stream().getReader();
  for (let at = tiles.at; ;) {
    const { done, value } = await reader.read();
    if (done) break;
    core.HEAPU8.set(value, at);
    at += value.length;
  }
}

// Guesses the layout of the tile data kept: the layouts found (the best first, then the
// runners-up; none when the core cannot tell) and the core's lines for them.
function guessLayout(core) {
  const name = text(core, tiles.name);
  const found = tiles.at === 0 ? core._page_out_of_memory(name) : core._page_layout(tiles.at, tiles.size, name);
  const layouts = [];
  for (let i = 0; i < found; ++i) layouts.push({ width: core._page_layout_width(i), height: core._page_layout_height(i) });
  const lines = result(core, 0).line.split('\n');
  core._free(name);
  return { layouts, lines };
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

async function handle(core, job) {
  if (job.kind === 'canvas') {
    canvas = job.canvas;
    return {};
  }
  if (job.kind === 'geometry') return { side: core._page_block_side(), recordBytes: core._page_record_bytes() };
  if (job.kind === 'layout') {
    await keepFile(core, job.file);
    return guessLayout(core);
  }
  if (job.kind === 'convert') {
    if (job.file) await keepFile(core, job.file);
    const side = core._page_block_side();
    // Scaled to the room the page has, unless 1:1 is asked: a large picture then costs the
    // canvas only what the screen shows.
    const scale = job.fit ? Math.min(1, job.fit.width / (job.width * side), job.fit.height / (job.height * side)) : 1;
    const answer = convert(core, job.width, job.height, canvas, scale, true);
    if (answer.written) shown = { width: job.width, height: job.height };
    return answer;
  }
  if (job.kind === 'png') {
    // The PNG is the picture at full size, whatever the canvas shows: painted once more apart.
    const side = core._page_block_side();
    const full = new OffscreenCanvas(shown.width * side, shown.height * side);
    convert(core, shown.width, shown.height, full, 1, false);
    return { file: await full.convertToBlob({ type: 'image/png' }) };
  }
  return pack(core, { name: job.edited.name, bytes: new Uint8Array(job.edited.bytes) },
              job.original ? { name: job.original.name, bytes: new Uint8Array(job.original.bytes) } : null);
}

// One job at a time, in the order asked: reading a file must not let the next job begin.
let queue = Promise.resolve();
onmessage = (event) => {
  queue = queue.then(async () => {
    const core = await ready;
    const answer = await handle(core, event.data);
    answer.id = event.data.id;
    postMessage(answer, answer.bytes ? [answer.bytes] : []);
  });
};
