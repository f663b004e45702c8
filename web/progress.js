// The worker's side of the core's calls out: each block-row packed is posted to the page, each
// piece of a bitmap goes to the worker's handler.
mergeInto(LibraryManager.library, {
  page_piece: function (at, size) {
    Module.onPiece(HEAPU8.subarray(at, at + size));
  },
  page_progress: function (done, rows) {
    postMessage({ progress: [done, rows] });
  },
});
