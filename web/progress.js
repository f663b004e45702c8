// The worker's side of the core's progress calls: each block-row packed is posted to the page.
mergeInto(LibraryManager.library, {
  page_progress: function (done, rows) {
    postMessage({ progress: [done, rows] });
  },
});
