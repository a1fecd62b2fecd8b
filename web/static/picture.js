// Finding one's way in a pipeline's picture: zoom and pan (wheel, drag, keys, "Fit"), a search
// that centres a component, and a component's details with what it reads and what reads it
// lit in the picture. When the server could not draw the picture, the components are listed
// instead. Texts from the server go in as text, never as markup. Uses app.js's helpers.
'use strict';

const picture = {
  svg: null,           // the drawn picture, or null
  whole: null,         // the picture's own box {x, y, w, h}, in its units
  view: null,          // what is shown: {cx, cy} in the same units at `scale` pixels per unit
  components: new Map(),  // identifier -> component as the server sent it
  children: new Map(),    // identifier -> identifiers of the components that read it
  selected: null,
  cacheRequest: 0,
};

const kMaxZoom = 4;  // screen pixels per picture unit

// An element id in the picture: "c-" and the identifier's UTF-8 bytes in hex.
function hexOf(text) {
  return [...new TextEncoder().encode(text)].map((byte) => byte.toString(16).padStart(2, '0')).join('');
}

function nodeElement(identifier) {
  return picture.svg ? document.getElementById('c-' + hexOf(identifier)) : null;
}

function parentIds(component) {
  return Array.isArray(component.parents)
    ? [...new Set(component.parents.map((parent) => parent.id))] : [];
}

// The components of the update GET kernels/<id> answers, with who reads each.
function takeComponents(update) {
  const added = update && update.updated_components && update.updated_components.added;
  picture.components = new Map();
  picture.children = new Map();
  for (const component of Array.isArray(added) ? added : []) {
    picture.components.set(component.identifier, component);
  }
  for (const [identifier, component] of picture.components) {
    for (const parent of parentIds(component)) {
      if (!picture.children.has(parent)) picture.children.set(parent, []);
      picture.children.get(parent).push(identifier);
    }
  }
}

// --- Zoom and pan, by the picture's viewBox. The view is a centre and a scale, so it holds
// when the box around the picture changes size (the details opening beside it).

// The picture's box on screen, inside the frame's border.
function graphBox() { return (picture.svg || $('graph')).getBoundingClientRect(); }

function applyView() {
  const { cx, cy, scale } = picture.view;
  const box = graphBox();
  const w = box.width / scale;
  const h = box.height / scale;
  picture.svg.setAttribute('viewBox', [cx - w / 2, cy - h / 2, w, h].join(' '));
  $('graph').dataset.zoom = scale.toFixed(3);
}

function fitScale() {
  const box = graphBox();
  return Math.min(1, box.width / picture.whole.w, box.height / picture.whole.h);
}

function fitPicture() {
  if (!picture.svg) return;
  const whole = picture.whole;
  picture.view = { cx: whole.x + whole.w / 2, cy: whole.y + whole.h / 2, scale: fitScale() };
  applyView();
}

// Zooms by `factor` keeping the point at (clientX, clientY) where it is on screen.
function zoomAt(clientX, clientY, factor) {
  if (!picture.svg) return;
  const box = graphBox();
  const view = picture.view;
  const scale = Math.max(Math.min(fitScale(), 0.5) / 2, Math.min(kMaxZoom, view.scale * factor));
  const dx = clientX - (box.left + box.width / 2);
  const dy = clientY - (box.top + box.height / 2);
  const px = view.cx + dx / view.scale;
  const py = view.cy + dy / view.scale;
  picture.view = { cx: px - dx / scale, cy: py - dy / scale, scale };
  applyView();
}

function zoomCentre(factor) {
  const box = graphBox();
  zoomAt(box.left + box.width / 2, box.top + box.height / 2, factor);
}

function panBy(dxPixels, dyPixels) {
  if (!picture.svg) return;
  picture.view.cx -= dxPixels / picture.view.scale;
  picture.view.cy -= dyPixels / picture.view.scale;
  applyView();
}

// Centres a component, zooming in to life size when the picture is shown smaller.
function centreOn(identifier) {
  const node = nodeElement(identifier);
  if (!node) return;
  // At the scale it will be shown at, with the view fitted to the box as it is now, so that
  // screen and picture units agree.
  picture.view.scale = Math.max(1, picture.view.scale);
  applyView();
  const box = graphBox();
  const place = node.getBoundingClientRect();
  const view = picture.view;
  view.cx += (place.left + place.width / 2 - (box.left + box.width / 2)) / view.scale;
  view.cy += (place.top + place.height / 2 - (box.top + box.height / 2)) / view.scale;
  applyView();
}

function installNavigation() {
  const graph = $('graph');
  new ResizeObserver(() => { if (picture.svg && picture.view) applyView(); }).observe(graph);
  graph.addEventListener('wheel', (event) => {
    if (!picture.svg) return;
    event.preventDefault();
    zoomAt(event.clientX, event.clientY, Math.exp(-event.deltaY * 0.0015));
  }, { passive: false });

  let drag = null;
  graph.addEventListener('pointerdown', (event) => {
    if (!picture.svg || event.button !== 0) return;
    drag = { x: event.clientX, y: event.clientY, moved: false };
  });
  window.addEventListener('pointermove', (event) => {
    if (!drag) return;
    const dx = event.clientX - drag.x;
    const dy = event.clientY - drag.y;
    if (!drag.moved && Math.hypot(dx, dy) < 4) return;
    drag.moved = true;
    graph.classList.add('dragging');
    panBy(dx, dy);
    drag.x = event.clientX;
    drag.y = event.clientY;
  });
  window.addEventListener('pointerup', () => {
    graph.classList.remove('dragging');
    // The click that ends a drag selects nothing.
    if (drag && drag.moved) graph.dataset.dragged = 'true';
    drag = null;
  });
  graph.addEventListener('click', (event) => {
    if (graph.dataset.dragged) { delete graph.dataset.dragged; return; }
    const node = event.target.closest && event.target.closest('g.node');
    if (!node || !node.id.startsWith('c-')) return;
    const identifier = identifierOfElement(node.id);
    if (identifier !== null) selectComponent(identifier, false);
  });

  graph.addEventListener('keydown', (event) => {
    if (!picture.svg) return;
    const step = 60;
    const actions = {
      '+': () => zoomCentre(1.25), '=': () => zoomCentre(1.25), '-': () => zoomCentre(0.8),
      ArrowLeft: () => panBy(step, 0), ArrowRight: () => panBy(-step, 0),
      ArrowUp: () => panBy(0, step), ArrowDown: () => panBy(0, -step),
      '0': fitPicture, f: fitPicture, Escape: () => selectComponent(null, false),
    };
    const action = actions[event.key];
    if (!action) return;
    event.preventDefault();
    action();
  });
  $('zoom-in').addEventListener('click', () => zoomCentre(1.25));
  $('zoom-out').addEventListener('click', () => zoomCentre(0.8));
  $('fit-button').addEventListener('click', fitPicture);
}

function identifierOfElement(id) {
  const hex = id.slice(2);
  if (!/^(?:[0-9a-f]{2})*$/.test(hex)) return null;
  const bytes = new Uint8Array(hex.length / 2);
  for (let i = 0; i < bytes.length; i += 1) bytes[i] = parseInt(hex.substr(i * 2, 2), 16);
  return new TextDecoder().decode(bytes);
}

// --- Showing the picture, or the list in its place

// Shows a newly drawn picture; `keepView` keeps the zoom and place of the one before.
function showPicture(svg, keepView) {
  const box = (svg.getAttribute('viewBox') || '').trim().split(/[\s,]+/).map(Number);
  const graph = $('graph');
  $('component-fallback').hidden = true;
  graph.hidden = false;
  svg.removeAttribute('width');
  svg.removeAttribute('height');
  const previous = picture.view;
  picture.svg = svg;
  picture.whole = box.length === 4 && box.every(Number.isFinite)
    ? { x: box[0], y: box[1], w: box[2] || 1, h: box[3] || 1 } : { x: 0, y: 0, w: 1, h: 1 };
  // A small picture gets a box its size; a large one a window on it.
  graph.style.height = Math.round(Math.max(240, Math.min(window.innerHeight * 0.7,
    picture.whole.h + 24))) + 'px';
  graph.replaceChildren(svg);
  if (keepView && previous) {
    picture.view = previous;
    applyView();
  } else {
    fitPicture();
  }
  $('picture-tools').hidden = false;
}

function showComponentList(reason) {
  picture.svg = null;
  $('graph').replaceChildren();
  $('graph').hidden = true;
  $('picture-tools').hidden = false;
  $('fallback-reason').textContent = reason;
  const list = $('fallback-list');
  list.replaceChildren();
  for (const [identifier, component] of picture.components) {
    const item = element('li');
    item.dataset.identifier = identifier;
    const link = componentLink(identifier);
    item.append(link, element('span', 'component-meta', statusWords(component)));
    list.append(item);
  }
  $('component-fallback').hidden = false;
}

function clearPicture() {
  picture.svg = null;
  picture.view = null;
  picture.components = new Map();
  picture.children = new Map();
  picture.selected = null;
  $('graph').replaceChildren();
  $('component-fallback').hidden = true;
  $('details').hidden = true;
  $('search-results').replaceChildren();
}

function statusWords(component) {
  return (component.execution_status || 'no status') + ' · ' +
    (component.diskcache_status || 'not_cached').replace('_', ' ');
}

// --- Selection: the details beside the picture and the neighbours lit in it

function componentLink(identifier) {
  const component = picture.components.get(identifier);
  const link = element('a', 'component-link',
    component ? (component.name || identifier) : identifier + ' (missing)');
  link.href = '#component=' + encodeURIComponent(identifier);
  link.title = identifier;
  link.addEventListener('click', (event) => {
    event.preventDefault();
    selectComponent(identifier, true);
  });
  return link;
}

function lightUp(identifier) {
  const svg = picture.svg;
  if (!svg) return;
  for (const lit of [...svg.querySelectorAll('.lit')]) lit.classList.remove('lit', 'selected', 'parent', 'child');
  svg.classList.toggle('has-selection', identifier !== null);
  if (identifier === null) return;
  const component = picture.components.get(identifier);
  const parents = component ? parentIds(component) : [];
  const children = picture.children.get(identifier) || [];
  const mark = (element, ...classes) => { if (element) element.classList.add('lit', ...classes); };
  mark(nodeElement(identifier), 'selected');
  const own = hexOf(identifier);
  for (const parent of parents) {
    mark(nodeElement(parent), 'parent');
    mark(document.getElementById('e-' + hexOf(parent) + '-' + own));
  }
  for (const child of children) {
    mark(nodeElement(child), 'child');
    mark(document.getElementById('e-' + own + '-' + hexOf(child)));
  }
}

function fillList(listId, identifiers) {
  const list = $(listId);
  list.replaceChildren();
  for (const identifier of identifiers) {
    const item = element('li');
    item.append(componentLink(identifier));
    list.append(item);
  }
  if (!identifiers.length) list.append(element('li', 'note', 'none'));
}

function showDetails(identifier) {
  const details = $('details');
  if (identifier === null) { details.hidden = true; return; }
  const component = picture.components.get(identifier);
  details.hidden = false;
  details.dataset.identifier = identifier;
  $('details-name').textContent = component ? (component.name || identifier) : identifier;
  $('details-id').textContent = identifier;
  $('details-status').textContent = component ? (component.execution_status || 'no status') : 'missing';
  $('details-cache').textContent = component ? (component.diskcache_status || 'not_cached').replace('_', ' ') : '—';
  $('details-code').textContent = component && typeof component.code === 'string' ? component.code : '';
  fillList('details-parents', component ? parentIds(component) : []);
  fillList('details-children', picture.children.get(identifier) || []);
  loadCacheSize(identifier, component);
}

async function loadCacheSize(identifier, component) {
  const size = $('details-size');
  const request = ++picture.cacheRequest;
  if (!component || !component.diskcache_dir) { size.textContent = 'no cache folder'; return; }
  size.textContent = '…';
  try {
    const response = await api('view/kernels/' + encodeURIComponent(page.kernelId) +
      '/components/' + encodeURIComponent(identifier) + '/cache');
    if (!response.ok) throw new Error(await failureText(response));
    const body = await response.json();
    if (request === picture.cacheRequest) size.textContent = formatBytes(body.cache_bytes);
  } catch (error) {
    if (request === picture.cacheRequest) size.textContent = 'unknown: ' + error.message;
  }
}

// Selects a component (null: none), shows its details, lights its neighbours and keeps it in
// the address so a link opens it again.
function selectComponent(identifier, centre) {
  if (identifier !== null && !picture.components.has(identifier) && !nodeElement(identifier)) {
    identifier = null;
  }
  picture.selected = identifier;
  lightUp(identifier);
  showDetails(identifier);
  for (const item of $('fallback-list').children) {
    item.classList.toggle('selected', item.dataset.identifier === identifier);
  }
  if (identifier !== null && centre) centreOn(identifier);
  writeComponentToAddress(identifier);
}

// After a redraw: the selection holds while its component is still there.
function restoreSelection(identifier, centre) {
  if (identifier === null) return;
  selectComponent(identifier, centre);
}

// --- Search

function searchMatches(text) {
  const wanted = text.trim().toLowerCase();
  if (!wanted) return [];
  const found = [];
  for (const [identifier, component] of picture.components) {
    const name = (component.name || '').toLowerCase();
    if (name.includes(wanted) || identifier.toLowerCase().includes(wanted)) {
      found.push(identifier);
      if (found.length === 20) break;
    }
  }
  return found;
}

function installSearch() {
  const input = $('component-search');
  const results = $('search-results');
  const choose = (identifier) => {
    results.replaceChildren();
    input.value = '';
    selectComponent(identifier, true);
  };
  input.addEventListener('input', () => {
    results.replaceChildren();
    for (const identifier of searchMatches(input.value)) {
      const component = picture.components.get(identifier);
      const item = element('li');
      const button = element('button', 'search-result');
      button.type = 'button';
      button.dataset.identifier = identifier;
      button.append(element('span', 'result-name', component.name || identifier),
        element('span', 'result-id', identifier));
      button.addEventListener('click', () => choose(identifier));
      item.append(button);
      results.append(item);
    }
    if (input.value.trim() && !results.children.length) {
      results.append(element('li', 'note', 'No component matches.'));
    }
  });
  input.addEventListener('keydown', (event) => {
    if (event.key === 'Enter') {
      const first = searchMatches(input.value)[0];
      if (first !== undefined) choose(first);
    } else if (event.key === 'Escape') {
      input.value = '';
      results.replaceChildren();
    }
  });
  $('details-close').addEventListener('click', () => selectComponent(null, false));
}

function installPicture() {
  installNavigation();
  installSearch();
}
