// One of the page's counting workers: its own instance of the core, which
// draws the bands of columns that the page asks for.
//
//   tells:    {ready: true} once its core runs, or {error}
//   asked:    {id, view, first, count}   view: the view's fields, as bytes
//   answers:  {id, left, width, height, pixels}   pixels transferred, RGBA
//         or  {id, error}
'use strict';

// The core; or, if it cannot start, the file that could not be loaded.
let core;
try {
  importScripts('core.js');
  core = MandelbrotCore().catch(error => Promise.reject(`could not load core.wasm (${error})`));
} catch (error) {
  core = Promise.reject(`could not load core.js (${error})`);
}
core.then(() => self.postMessage({ready: true}), error => self.postMessage({error}));

self.onmessage = async ({data: {id, view, first, count}}) => {
  try {
    const instance = await core;
    instance.HEAPU8.set(new Uint8Array(view), instance._viewState());
    const at = instance._RenderColumns(first, count) / 4;
    const [left, width, height, pixels] = instance.HEAP32.subarray(at, at + 4);
    const copy = instance.HEAPU8.slice(pixels, pixels + 4 * width * height).buffer;
    self.postMessage({id, left, width, height, pixels: copy}, [copy]);
  } catch (error) {
    self.postMessage({id, error: String(error)});
  }
};
