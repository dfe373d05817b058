// The page's script: it routes the visitor's presses to Form1's handlers,
// which run one at a time, each to the end of its drawing, as on the
// desktop; it shares each drawing out to workers, which count and colour
// bands of columns with their own instances of the core; and it paints what
// they send back. Every number of the picture comes from the core.
'use strict';

const picture = document.getElementById('Picture1');
const command = document.getElementById('Command1');
const prompt = document.getElementById('prompt');
// Picture1's pixels, 500 x 500, as the core draws them; the canvas has one
// pixel for each, which the browser shows as a solid block of device pixels
// at any size, never smoothed into its neighbours (image-rendering:
// pixelated). A drawing is put together here, and shown once it is done.
const side = picture.width;
const pixels = new ImageData(side, side);
const shown = picture.getContext('2d');
const programName = document.title;
let core = null;  // the page's instance of the core, which keeps the view

// A drawing is cut into this many bands a worker, and the bands dealt out
// in turn, so that each worker's lie all over the picture and the workers
// finish together even where one part of the picture takes longer.
const bandsPerWorker = 4;

function tell(message) {
  const status = document.getElementById('status');
  status.textContent = message;
  status.hidden = false;
  document.querySelector('main').hidden = true;
}

// The handlers, one after the other: a press made during a drawing waits
// for its end, and none is lost or merged with another.
const waiting = [];
let running = false;
async function deliver(handler) {
  waiting.push(handler);
  if (running) return;
  running = true;
  while (waiting.length > 0) {
    try {
      await waiting.shift()();
    } catch (error) {
      console.error(error);
      tell(`${programName} has stopped unexpectedly. Please reload the page to start it again.`);
      return;
    }
  }
  running = false;
}

// The workers, as many as the processor has cores, each ready once its core
// is. A drawing's bands are all given to the ready workers at once, so that
// none waits on the page between two bands. Until a worker is ready the page
// counts them itself. A worker that fails is let go, and what it was counting is
// counted again by the others, or here when none is left.
const workers = [];
let drawing = null;  // {view, bands, left, done}
let nextId = 0;

function startWorkers() {
  for (let i = 0; i < (navigator.hardwareConcurrency || 2); i++) {
    let worker;
    try {
      worker = new Worker('worker.js');
    } catch (error) {
      console.warn('The picture is counted on the page: no worker could start.', error);
      return;
    }
    worker.jobs = new Map();
    worker.onmessage = ({data}) => {
      if (data.error) {
        retire(worker, data.error);
      } else if (data.ready) {
        worker.ready = true;
      } else if (worker.jobs.delete(data.id)) {
        paint(data.left, data.width, data.height, new Uint8ClampedArray(data.pixels));
      }
    };
    // An error in the worker's own script comes with its message; a script
    // that could not be loaded, with none.
    worker.onerror = event => {
      event.preventDefault();
      retire(worker, event.message || 'could not load worker.js');
    };
    worker.onmessageerror = () => retire(worker, 'a message it could not read');
    workers.push(worker);
  }
}

function retire(worker, reason) {
  if (!workers.includes(worker)) return;
  console.error(`A worker counting the picture failed (${reason}); its columns are counted again.`);
  worker.terminate();
  workers.splice(workers.indexOf(worker), 1);
  drawing?.bands.push(...worker.jobs.values());
  worker.jobs.clear();
  share();
}

// Gives the drawing's bands to the ready workers, or counts them here when
// none is.
function share() {
  if (!drawing) return;
  const ready = workers.filter(worker => worker.ready);
  const bands = drawing.bands.splice(0);
  bands.forEach((band, i) => {
    const worker = ready[i % ready.length];
    if (worker) {
      const id = nextId++;
      worker.jobs.set(id, band);
      worker.postMessage({id, view: drawing.view, ...band});
    } else {
      const at = core._RenderColumns(band.first, band.count) / 4;
      const [left, width, height, pixels] = core.HEAP32.subarray(at, at + 4);
      paint(left, width, height, new Uint8ClampedArray(core.HEAPU8.buffer, pixels, 4 * width * height));
    }
  });
}

// What the window shows is brought up to date at the next frame once a
// handler has drawn, as on the desktop, where a handler runs to its end
// before the window is painted: the picture with all its bands, and the
// prompt as printed since the last Cls. A frame in the middle of a drawing
// would only hold up the next.
let printed = [];
let presenting = false;
function present() {
  if (presenting) return;
  presenting = true;
  requestAnimationFrame(() => {
    presenting = false;
    shown.putImageData(pixels, 0, 0);
    // Printed anew, even where the text is the same: a screen reader then
    // announces it once for every drawing.
    prompt.replaceChildren(...printed);
  });
}

// Puts a band's pixels into Picture1; the last of a drawing ends it.
function paint(left, width, height, band) {
  for (let y = 0; y < height; y++) {
    pixels.data.set(band.subarray(4 * width * y, 4 * width * (y + 1)), 4 * (side * y + left));
  }
  if (--drawing.left === 0) {
    const done = drawing.done;
    drawing = null;
    done();
  }
}

// Draws the current view into Picture1, then prints the prompt under it.
function RenderSet() {
  const at = core._viewState();
  const view = core.HEAPU8.slice(at, at + core._viewStateSize()).buffer;
  const columns = core._gridColumns();
  const size = Math.ceil(columns / (bandsPerWorker * Math.max(1, workers.filter(worker => worker.ready).length)));
  const bands = [];
  for (let first = 0; first < columns; first += size) {
    bands.push({first, count: Math.min(size, columns - first)});
  }
  return new Promise(resolve => {
    drawing = {view, bands, left: bands.length, done: resolve};
    share();
  }).then(() => {
    printed = ['Select interesting area and CLICK', ' *'];
    present();
  });
}

// Erases Form1's printed text, the prompt; or Picture1's picture.
function Cls(surface) {
  if (surface === picture) {
    // Clear, where the canvas shows its background.
    pixels.data.fill(0);
  } else {
    printed = [];
  }
}

let audio = null;
// A short tone.
function Beep() {
  try {
    audio ??= new AudioContext();
    const tone = audio.createOscillator();
    const volume = audio.createGain();
    tone.frequency.value = 880;
    volume.gain.value = 0.1;
    tone.connect(volume).connect(audio.destination);
    tone.start();
    tone.stop(audio.currentTime + 0.12);
  } catch (error) {
    console.warn('No tone could be played.', error);
  }
}

async function Form_Load() {
  core._Form_Load();
  Cls(document);
  await RenderSet();
}

async function Command1_Click() {
  Cls(picture);
  core._Command1_Click();
  await RenderSet();
}

async function Picture1_MouseDown(X, Y) {
  if (!core._Picture1_MouseDown(X, Y)) {
    // One more press would overflow: the picture shows the deepest view.
    Beep();
    return;
  }
  Cls(document);
  await RenderSet();
}

// A press with any mouse button, a pen or the first finger of a touch is a
// press on the grid point under it.
function press(event) {
  const box = picture.getBoundingClientRect();
  const X = Math.min(side - 1, Math.floor((event.clientX - box.left) * side / box.width));
  const Y = Math.min(side - 1, Math.floor((event.clientY - box.top) * side / box.height));
  deliver(() => Picture1_MouseDown(X, Y));
}
picture.addEventListener('pointerdown', event => {
  if (event.isPrimary) press(event);
});
// A second mouse button pressed while one is held reaches the page as a move
// of the pointer whose button changed; it is a press all the same.
const buttonBits = [1, 4, 2, 8, 16];
picture.addEventListener('pointermove', event => {
  if (event.button >= 0 && (event.buttons & buttonBits[event.button])) press(event);
});
// The middle button scrolls and the right one opens a menu elsewhere; here
// they zoom.
picture.addEventListener('mousedown', event => {
  if (event.button === 1) event.preventDefault();
});
picture.addEventListener('contextmenu', event => event.preventDefault());
command.addEventListener('click', () => deliver(Command1_Click));

// A module of one function that splats a value into a 128-bit vector: valid
// only where the browser has WebAssembly's SIMD, which the core counts with.
const simdProbe = new Uint8Array([0, 97, 115, 109, 1, 0, 0, 0, 1, 5, 1, 96, 0, 1, 123, 3, 2, 1, 0,
                                  10, 8, 1, 6, 0, 65, 0, 253, 15, 11]);

async function start() {
  if (typeof WebAssembly !== 'object' || !WebAssembly.validate(simdProbe)) {
    tell(`This browser cannot run WebAssembly with its SIMD instructions, which ${programName} needs. ` +
         'Please update it, or open the page in a current version of Chrome, Edge, Firefox or Safari.');
    return;
  }
  if (typeof MandelbrotCore !== 'function') {
    tell(`${programName} could not be loaded: a file of the page is missing. Please reload the page.`);
    return;
  }
  try {
    core = await MandelbrotCore();
  } catch (error) {
    console.error(error);
    tell(`${programName} could not be loaded. Please check the connection and reload the page.`);
    return;
  }
  await deliver(Form_Load);
  // The workers start once the first picture is drawn, which the page counts
  // itself: sooner than a worker could start, and without workers taking the
  // processor from it meanwhile.
  startWorkers();
  // Once visited, the page opens and draws without a network: a service
  // worker keeps this build's files. It is fetched after the first picture,
  // so as not to hold it up. Browsers run service workers only for pages
  // from https:// or from this computer.
  if ('serviceWorker' in navigator && window.isSecureContext) {
    navigator.serviceWorker.register('service-worker.js').catch(error => console.warn(error));
  }
}

start();
