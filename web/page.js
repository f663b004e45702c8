// The page: hands files to the worker, shows and offers what it gives back. Everything stays
// in this page; the worker is made from the page's own text, so nothing is fetched.
'use strict';

const $ = (id) => document.getElementById(id);
const worker = new Worker(URL.createObjectURL(new Blob([$('worker-source').textContent], { type: 'text/javascript' })));
const waiting = new Map();
let nextJob = 1;
let geometry = null;        // { side, recordBytes }, from the core
let tiles = null;           // { name, size } of the tile data shown
let shown = null;           // { width, height } in blocks of the picture on the canvas
let edited = null;          // File
let links = { bmp: null, tis: null };

function setState(state, line) {
  document.body.dataset.state = state;
  if (line !== undefined) $('status').textContent = line;
}

function ask(job, transfer) {
  job.id = nextJob++;
  return new Promise((resolve) => {
    waiting.set(job.id, resolve);
    worker.postMessage(job, transfer || []);
  });
}

worker.onmessage = (event) => {
  const answer = event.data;
  if (answer.progress) {
    const [done, rows] = answer.progress;
    $('pack-progress').max = rows;
    $('pack-progress').value = done;
    return;
  }
  const resolve = waiting.get(answer.id);
  waiting.delete(answer.id);
  resolve(answer);
};
worker.onerror = (event) => setState('failed', `The page's worker stopped: ${event.message}`);

// A link that offers `bytes` as the file `name`, replacing what it offered before.
function offer(kind, element, bytes, name, type) {
  if (links[kind]) URL.revokeObjectURL(links[kind]);
  links[kind] = bytes ? URL.createObjectURL(bytes instanceof Blob ? bytes : new Blob([bytes], { type })) : null;
  if (links[kind]) {
    element.href = links[kind];
    element.download = name;
    element.setAttribute('aria-disabled', 'false');
  } else {
    element.removeAttribute('href');
    element.setAttribute('aria-disabled', 'true');
  }
}

// The name quorvex gives its output: the last extension cut, the new one added.
function outputName(name, extension) {
  const dot = name.lastIndexOf('.');
  return (dot > 0 ? name.slice(0, dot) : name) + extension;
}


function placeGrid() {
  const lines = $('grid-lines');
  lines.hidden = !$('grid').checked || !shown;
  if (lines.hidden) return;
  const canvas = $('picture');
  lines.style.left = `${canvas.offsetLeft}px`;
  lines.style.top = `${canvas.offsetTop}px`;
  lines.style.width = `${canvas.clientWidth}px`;
  lines.style.height = `${canvas.clientHeight}px`;
  const across = canvas.clientWidth / shown.width;
  const down = canvas.clientHeight / shown.height;
  lines.style.backgroundImage = 'linear-gradient(to right, rgba(224,168,74,0.55) 1px, transparent 1px),' +
    'linear-gradient(to bottom, rgba(224,168,74,0.55) 1px, transparent 1px)';
  lines.style.backgroundSize = `${across}px ${down}px`;
}

let conversions = 0;  // the latest asked for; answers to older ones are dropped

// `first`: the first picture of the tile data chosen, timed by bench/page_speed.py.
async function convert(width, height, file, first = false) {
  const asked = ++conversions;
  setState('working', 'Converting…');
  const job = { kind: 'convert', width, height, file };
  if (!$('actual-size').checked) {
    const frame = $('frame');
    job.fit = { width: frame.clientWidth * devicePixelRatio, height: frame.clientHeight * devicePixelRatio };
  }
  const answer = await ask(job);
  if (asked !== conversions) return;
  if (!answer.written) {
    offer('bmp', $('save-bmp'), null);
    $('save-png').disabled = true;
    setState('failed', answer.line);
    return;
  }
  // The worker has drawn the picture on the canvas; the page keeps its size for the grid.
  shown = { width, height };
  $('picture').dataset.size = `${width * geometry.side} x ${height * geometry.side}`;
  placeGrid();
  offer('bmp', $('save-bmp'), answer.file, outputName(tiles.name, '.bmp'), 'image/bmp');
  $('save-png').disabled = false;
  setState('done', answer.line);
  if (file || first) requestAnimationFrame(() => performance.mark('picture-shown'));
}

// Width and height from the records alone: the pair nearest a square, when the core cannot
// tell the layout. Shown as a start only.
function startingLayout(records) {
  let best = [records, 1];
  for (let width = 1; width * width <= records; ++width) {
    if (records % width === 0) best = [records / width, width];
  }
  return { width: best[0], height: best[1] };
}

// Sets the inputs to a layout and shows the picture at it.
function useLayout(layout) {
  $('width').value = layout.width;
  $('height').value = layout.height;
  layoutChanged();
}

// The runners-up the core offered, each a button that shows the picture at it.
function offerRunnersUp(layouts) {
  const also = $('also');
  also.replaceChildren();
  also.hidden = layouts.length === 0;
  if (also.hidden) return;
  also.append('Also possible:');
  for (const layout of layouts) {
    const button = document.createElement('button');
    button.type = 'button';
    button.className = 'also-layout';
    button.textContent = `${layout.width} x ${layout.height}`;
    button.addEventListener('click', () => useLayout(layout));
    also.append(' ', button);
  }
}

async function chooseTiles(file) {
  if (!file) return;
  // Marks for bench/page_speed.py: from the choice to the picture on the screen.
  performance.clearMarks();
  performance.mark('tiles-chosen');
  tiles = { name: file.name, size: file.size };
  const records = Math.ceil(file.size / geometry.recordBytes);
  const whole = file.size % geometry.recordBytes === 0;
  $('tiles-about').textContent = `${file.name}: ${file.size.toLocaleString('en')} bytes, ` +
    `${records.toLocaleString('en')} record${records === 1 ? '' : 's'}${whole ? '' : ' (the last one short)'}`;
  setState('working', 'Finding the layout…');
  // The worker keeps the bytes it reads here for the conversions that follow.
  const guess = await ask({ kind: 'layout', file });
  const start = guess.layouts.length > 0 ? guess.layouts[0] : startingLayout(Math.max(records, 1));
  $('width').value = start.width;
  $('height').value = start.height;
  $('width').disabled = false;
  $('height').disabled = false;
  // The core's own words: the layout found, or why it cannot tell and what is shown instead.
  $('guesses').textContent = guess.layouts.length > 0 ? guess.lines[0]
    : `${guess.lines[0]}${/[.!]$/.test(guess.lines[0]) ? '' : '.'} Shown nearest to a square instead: change it until the picture fits.`;
  offerRunnersUp(guess.layouts.slice(1));
  await convert(start.width, start.height, null, true);
}

function layoutChanged() {
  if (!tiles || $('width').value === '' || $('height').value === '') return;
  const width = Number($('width').value);
  const height = Number($('height').value);
  if (!Number.isInteger(width) || !Number.isInteger(height)) return;
  convert(width, height, null);
}

async function pack() {
  if (!edited) return;
  const original = $('original').files[0] || null;
  setState('working', 'Packing…');
  offer('tis', $('save-tis'), null);
  $('pack-progress').value = 0;
  const job = { kind: 'pack', edited: { name: edited.name, bytes: await edited.arrayBuffer() } };
  const transfer = [job.edited.bytes];
  if (original) {
    job.original = { name: original.name, bytes: await original.arrayBuffer() };
    transfer.push(job.original.bytes);
  }
  const answer = await ask(job, transfer);
  if (!answer.written) {
    setState('failed', answer.line);
    return;
  }
  offer('tis', $('save-tis'), answer.bytes, outputName(edited.name, '.tis'), 'application/octet-stream');
  setState('done', answer.line);
}

// The record under the pointer, as the grid names it.
function pointAt(event) {
  if (!shown) return;
  const box = $('picture').getBoundingClientRect();
  const column = Math.floor((event.clientX - box.left) / box.width * shown.width);
  const row = Math.floor((event.clientY - box.top) / box.height * shown.height);
  if (column < 0 || row < 0 || column >= shown.width || row >= shown.height) return;
  const record = row * shown.width + column;
  const mark = $('pointed');
  mark.hidden = false;
  mark.style.left = `${$('picture').offsetLeft + column * box.width / shown.width}px`;
  mark.style.top = `${$('picture').offsetTop + row * box.height / shown.height}px`;
  mark.style.width = `${box.width / shown.width}px`;
  mark.style.height = `${box.height / shown.height}px`;
  $('pointer').textContent = `Block column ${column}, row ${row}: record ${record}, ` +
    `at byte ${(record * geometry.recordBytes).toLocaleString('en')}`;
}

async function savePng() {
  const answer = await ask({ kind: 'png' });
  const link = document.createElement('a');
  link.href = URL.createObjectURL(answer.file);
  link.download = outputName(tiles.name, '.png');
  link.click();
  setTimeout(() => URL.revokeObjectURL(link.href), 10000);
}

function isPicture(file) {
  return /\.(bmp|png)$/i.test(file.name) || file.type === 'image/bmp' || file.type === 'image/png';
}

$('tiles').addEventListener('change', () => chooseTiles($('tiles').files[0]));
$('width').addEventListener('change', layoutChanged);
$('height').addEventListener('change', layoutChanged);
$('edited').addEventListener('change', () => { edited = $('edited').files[0] || null; pack(); });
$('original').addEventListener('change', pack);
$('save-png').addEventListener('click', savePng);
$('grid').addEventListener('change', placeGrid);
$('actual-size').addEventListener('change', () => {
  $('frame').classList.toggle('actual', $('actual-size').checked);
  // The canvas holds the picture at the size shown: 1:1 paints it again at full size.
  if (shown) convert(shown.width, shown.height, null);
});
window.addEventListener('resize', placeGrid);
$('picture').addEventListener('mousemove', pointAt);
$('picture').addEventListener('mouseleave', () => { $('pointed').hidden = true; });
for (const kind of ['dragenter', 'dragover']) {
  document.addEventListener(kind, (event) => { event.preventDefault(); document.body.classList.add('dragging'); });
}
document.addEventListener('dragleave', () => document.body.classList.remove('dragging'));
document.addEventListener('drop', (event) => {
  event.preventDefault();
  document.body.classList.remove('dragging');
  const file = event.dataTransfer.files[0];
  if (!file) return;
  if (isPicture(file)) {
    edited = file;
    pack();
  } else {
    chooseTiles(file);
  }
});

// The worker draws on the canvas, so the picture never crosses between threads.
const offscreen = $('picture').transferControlToOffscreen();
ask({ kind: 'canvas', canvas: offscreen }, [offscreen]);
ask({ kind: 'geometry' }).then((answer) => {
  geometry = answer;
  setState('idle', 'Ready. Choose or drop tile data to see it, or an edited picture to pack it.');
});
