// The pipeline page: lists the kernels that have a pipeline and shows the chosen one's graph,
// redrawn on every update its websocket channel relays. Every text from the server is put in
// the page as text, never as markup. The token leaves the address at once and is kept for the
// tab only (sessionStorage, so a reload works), never in a cookie; it is sent only here.
'use strict';

const page = {
  token: '',
  kernels: [],
  kernelId: null,
  componentId: null,   // the component chosen in the address
  shownKernel: null,   // the kernel whose picture is shown
  socket: null,
  socketTimer: null,
  graphLoading: false,
  graphStale: false,
  exporting: false,
};

// Every route lives below ".../nuvex-link/"; the page is ".../nuvex-link/view/".
const apiRoot = new URL('..', window.location.href);

function $(id) { return document.getElementById(id); }

function apiUrl(path) { return new URL(path, apiRoot); }

async function api(path, options = {}) {
  const headers = Object.assign({ Authorization: 'token ' + page.token }, options.headers || {});
  return fetch(apiUrl(path), Object.assign({}, options, { headers, cache: 'no-store' }));
}

async function failureText(response) {
  try {
    const body = await response.json();
    if (body && typeof body.message === 'string') return body.message;
  } catch (ignored) { /* not JSON */ }
  return response.status + ' ' + response.statusText;
}

function formatBytes(bytes) {
  if (bytes === null || bytes === undefined) return 'size unknown';
  const units = ['B', 'KiB', 'MiB', 'GiB', 'TiB'];
  let value = bytes;
  let unit = 0;
  while (value >= 1024 && unit < units.length - 1) { value /= 1024; unit += 1; }
  return (unit === 0 ? String(value) : value.toFixed(1)) + ' ' + units[unit];
}

function plural(count, word) { return count + ' ' + word + (count === 1 ? '' : 's'); }

function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

// --- The address: the token leaves it at once; kernel_id and the chosen component
// ("#component=...") stay so a link can be shared.

const kTokenKey = 'nuvex-link-token';

function readAddress() {
  const params = new URLSearchParams(window.location.search);
  const given = params.get('token');
  if (given) {
    try { window.sessionStorage.setItem(kTokenKey, given); } catch (ignored) { /* kept in memory */ }
  }
  let kept = null;
  try { kept = window.sessionStorage.getItem(kTokenKey); } catch (ignored) { /* none */ }
  page.token = given || kept || '';
  page.kernelId = params.get('kernel_id');
  page.componentId = componentInAddress();
  writeAddress(page.kernelId, true);
}

function componentInAddress() {
  const hash = new URLSearchParams(window.location.hash.slice(1));
  return hash.get('component');
}

function addressOf(kernelId, componentId) {
  const params = new URLSearchParams(window.location.search);
  params.delete('token');
  if (kernelId === null) params.delete('kernel_id'); else params.set('kernel_id', kernelId);
  const query = params.toString();
  const hash = componentId === null ? '' : '#' + new URLSearchParams({ component: componentId });
  return window.location.pathname + (query ? '?' + query : '') + hash;
}

function writeAddress(kernelId, replace) {
  const address = addressOf(kernelId, page.componentId);
  if (replace) window.history.replaceState({ kernelId }, '', address);
  else window.history.pushState({ kernelId }, '', address);
}

function writeComponentToAddress(componentId) {
  page.componentId = componentId;
  const address = addressOf(page.kernelId, componentId);
  if (address !== window.location.pathname + window.location.search + window.location.hash) {
    window.history.replaceState({ kernelId: page.kernelId }, '', address);
  }
}

// --- Kernels

async function loadKernels() {
  const note = $('kernels-note');
  try {
    const response = await api('view/kernels');
    if (!response.ok) throw new Error(await failureText(response));
    page.kernels = await response.json();
    note.textContent = page.kernels.length ? '' : 'No kernel has posted a pipeline yet.';
  } catch (error) {
    note.textContent = 'Cannot list the kernels: ' + error.message;
  }
  renderKernels();
  renderSummary();
}

function kernelById(kernelId) {
  return page.kernels.find((kernel) => kernel.kernel_id === kernelId) || null;
}

function renderKernels() {
  const list = $('kernel-list');
  list.replaceChildren();
  for (const kernel of page.kernels) {
    const item = element('li', 'kernel');
    item.dataset.kernelId = kernel.kernel_id;
    const link = element('a');
    link.href = '?kernel_id=' + encodeURIComponent(kernel.kernel_id);
    link.setAttribute('aria-current', String(kernel.kernel_id === page.kernelId));
    link.append(element('span', 'kernel-name', kernel.name || kernel.kernel_id));
    link.append(element('span', 'kernel-meta',
      plural(kernel.components, 'component') + ' · ' + kernel.cached + ' cached · ' +
      formatBytes(kernel.cache_bytes)));
    link.addEventListener('click', (event) => {
      event.preventDefault();
      selectKernel(kernel.kernel_id, false);
    });
    item.append(link);
    list.append(item);
  }
}

function renderSummary() {
  const kernel = page.kernelId === null ? null : kernelById(page.kernelId);
  $('pipeline-empty').hidden = page.kernelId !== null;
  $('pipeline-view').hidden = page.kernelId === null;
  if (page.kernelId === null) return;
  $('pipeline-name').textContent = kernel ? (kernel.name || 'Unnamed pipeline') : 'Pipeline';
  $('pipeline-kernel').textContent = page.kernelId;
  $('cache-summary').textContent = kernel
    ? 'Cache: ' + formatBytes(kernel.cache_bytes) + ' in ' + plural(kernel.cached, 'component')
    : '';
  $('export-button').disabled = page.exporting || !kernel || kernel.cached === 0;
  $('download-json').disabled = !kernel;
}

function selectKernel(kernelId, replace) {
  const changed = kernelId !== page.kernelId || !page.socket;
  if (kernelId !== page.kernelId) page.componentId = null;
  page.kernelId = kernelId;
  writeAddress(kernelId, replace);
  renderKernels();
  renderSummary();
  showMessage('');
  if (changed) {
    page.shownKernel = null;
    clearPicture();
    $('export-box').hidden = true;
    connectChannel();
  }
  loadGraph();
}

// --- The graph

function showMessage(text) {
  $('pipeline-message').textContent = text;
  $('pipeline-message').hidden = !text;
}

// Parsed as SVG, never as HTML; anything that could run or load is dropped on the way in.
function svgFromText(text) {
  const parsed = new DOMParser().parseFromString(text, 'image/svg+xml');
  const root = parsed.documentElement;
  if (!root || root.nodeName !== 'svg' || parsed.getElementsByTagName('parsererror').length) {
    throw new Error('The server sent a picture that is not valid SVG.');
  }
  for (const unsafe of root.querySelectorAll('script, foreignObject, iframe, object, embed')) {
    unsafe.remove();
  }
  for (const node of [root, ...root.querySelectorAll('*')]) {
    for (const attribute of [...node.attributes]) {
      const name = attribute.name.toLowerCase();
      if (name.startsWith('on') || name === 'href' || name === 'xlink:href') {
        node.removeAttribute(attribute.name);
      }
    }
  }
  // Graphviz sizes the picture in points; drawn one point to a pixel it fits more on screen.
  for (const side of ['width', 'height']) {
    const size = /^([0-9.]+)pt$/.exec(root.getAttribute(side) || '');
    if (size) root.setAttribute(side, size[1]);
  }
  return document.importNode(root, true);
}

// The picture and the components it shows, fetched together; when the server could not draw
// the picture, the components are listed with the reason.
async function loadGraph() {
  if (page.kernelId === null) return;
  if (page.graphLoading) { page.graphStale = true; return; }
  page.graphLoading = true;
  const kernelId = page.kernelId;
  try {
    const [pictureAnswer, pipelineAnswer] = await Promise.all([
      api('view/kernels/' + encodeURIComponent(kernelId) + '/graph.svg'),
      api('kernels/' + encodeURIComponent(kernelId)),
    ]);
    if (kernelId !== page.kernelId) return;
    if (pipelineAnswer.ok) takeComponents(await pipelineAnswer.json());
    const sameKernel = page.shownKernel === kernelId;
    page.shownKernel = kernelId;
    if (pictureAnswer.ok) {
      const svg = svgFromText(await pictureAnswer.text());
      svg.setAttribute('role', 'img');
      svg.setAttribute('aria-label', 'Pipeline graph of kernel ' + kernelId);
      showPicture(svg, sameKernel);
      showMessage('');
    } else {
      const reason = await failureText(pictureAnswer);
      if (!pipelineAnswer.ok) throw new Error(reason);
      showComponentList(reason);
      showMessage('');
    }
    const graph = $('graph');
    graph.dataset.version = String(Number(graph.dataset.version) + 1);
    restoreSelection(page.componentId, !sameKernel);
  } catch (error) {
    if (kernelId === page.kernelId) {
      clearPicture();
      showMessage(error.message);
    }
  } finally {
    page.graphLoading = false;
    if (page.graphStale) { page.graphStale = false; loadGraph(); }
  }
}

// --- The kernel's channel: pipeline updates redraw, export messages move the bar.

function setLive(state) {
  const live = $('live-state');
  live.dataset.state = state;
  live.textContent = { live: 'live', connecting: 'connecting', offline: 'offline' }[state];
}

function connectChannel() {
  if (page.socket) { page.socket.onclose = null; page.socket.close(); page.socket = null; }
  clearTimeout(page.socketTimer);
  if (page.kernelId === null) return;
  const address = apiUrl('kernels/' + encodeURIComponent(page.kernelId) + '/channels');
  address.protocol = address.protocol === 'https:' ? 'wss:' : 'ws:';
  address.searchParams.set('token', page.token);
  const kernelId = page.kernelId;
  const socket = new WebSocket(address);
  page.socket = socket;
  setLive('connecting');
  socket.onopen = () => {
    setLive('live');
    // Whatever changed while the channel was closed is drawn now.
    loadGraph();
  };
  socket.onmessage = (event) => onChannelMessage(event.data);
  socket.onclose = () => {
    if (page.socket !== socket || page.kernelId !== kernelId) return;
    page.socket = null;
    setLive('offline');
    page.socketTimer = setTimeout(connectChannel, 2000);
  };
}

function onChannelMessage(text) {
  let message;
  try { message = JSON.parse(text); } catch (ignored) { return; }
  if (!message || typeof message !== 'object') return;
  if (message.procedure === 'export:cache' && message.msg) {
    showExportProgress(message.msg.status, message.msg.progress);
  } else if (message.procedure === 'pipeline:updated') {
    loadGraph();
    refreshKernelCounts();
  }
}

async function refreshKernelCounts() {
  try {
    const response = await api('view/kernels');
    if (!response.ok) return;
    page.kernels = await response.json();
    renderKernels();
    renderSummary();
  } catch (ignored) { /* the next update tries again */ }
}

// --- Downloads

function notebookName(kernel) {
  const name = kernel && kernel.name ? kernel.name : page.kernelId;
  return name.endsWith('.ipynb') ? name : name + '.ipynb';
}

function downloadNameFrom(response, fallback) {
  const disposition = response.headers.get('Content-Disposition') || '';
  const match = /filename=([^;]+)/.exec(disposition);
  if (!match) return fallback;
  try { return decodeURIComponent(match[1].trim()); } catch (ignored) { return fallback; }
}

function saveBlob(blob, name) {
  const address = URL.createObjectURL(blob);
  const link = element('a');
  link.href = address;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(address), 60000);
}

async function downloadPipelineJson() {
  const kernel = kernelById(page.kernelId);
  const response = await api('pipeline/export', {
    method: 'POST',
    headers: { 'Content-Type': 'application/json' },
    body: JSON.stringify({ kernel_id: page.kernelId, cell_ids: [], ipynb_name: notebookName(kernel) }),
  });
  if (!response.ok) { showMessage(await failureText(response)); return; }
  const stem = notebookName(kernel).replace(/\.ipynb$/, '').split('/').pop();
  saveBlob(await response.blob(), stem + '-pipeline.json');
}

function showExportProgress(status, progress) {
  const box = $('export-box');
  const bar = $('export-progress');
  box.hidden = false;
  const percent = Math.max(0, Math.min(100, Number(progress) || 0));
  bar.value = percent;
  bar.dataset.status = status;
  const words = { invalid: 'Preparing…', running: 'Packing ' + percent + ' %',
                  successful: 'Packed, downloading…', failed: 'Export failed' };
  $('export-status').textContent = words[status] || status;
}

async function exportCache() {
  const kernel = kernelById(page.kernelId);
  page.exporting = true;
  renderSummary();
  showMessage('');
  showExportProgress('invalid', 0);
  try {
    const query = new URLSearchParams({ kernel_id: page.kernelId, ipynb_name: notebookName(kernel) });
    const response = await api('cache/export?' + query.toString());
    if (!response.ok) throw new Error(await failureText(response));
    const name = downloadNameFrom(response, 'diskcache.tar.gz');
    const blob = await response.blob();
    saveBlob(blob, name);
    showExportProgress('successful', 100);
    $('export-status').textContent = 'Downloaded ' + name + ' (' + formatBytes(blob.size) + ')';
    $('export-progress').dataset.status = 'downloaded';
  } catch (error) {
    showExportProgress('failed', 0);
    showMessage(error.message);
  } finally {
    page.exporting = false;
    renderSummary();
  }
}

// --- Dataset changes and server information

async function loadDatasetDiff() {
  const note = $('diff-note');
  const table = $('diff-table');
  const rows = table.querySelector('tbody');
  note.textContent = 'Comparing staged datasets…';
  rows.replaceChildren();
  table.hidden = true;
  try {
    const response = await api('veyra/dataset/diff');
    const body = await response.json();
    const datasets = Array.isArray(body.datasets) ? body.datasets : [];
    for (const dataset of datasets) {
      const changes = Array.isArray(dataset.changes) ? dataset.changes : [];
      for (const change of changes) {
        const row = element('tr');
        row.append(element('td', '', dataset.dataset_name));
        row.append(element('td', '', String(dataset.current_version)));
        row.append(element('td', 'mono', change.path));
        row.append(element('td', 'change-' + change.status, change.status));
        rows.append(row);
      }
    }
    table.hidden = rows.children.length === 0;
    if (typeof body.message === 'string') note.textContent = body.message;
    else if (!datasets.length) note.textContent = 'No datasets.';
    else note.textContent = rows.children.length ? '' : 'Every staged dataset matches its stored version.';
  } catch (error) {
    note.textContent = 'Cannot compare the datasets: ' + error.message;
  }
}

// The token is never shown, nor anything that carries it.
function masked(text) {
  if (typeof text !== 'string' || !page.token) return text;
  return text.split(page.token).join('••••••');
}

async function loadServerInfo() {
  const list = $('server-info');
  list.replaceChildren();
  try {
    const response = await api('server/info');
    if (!response.ok) throw new Error(await failureText(response));
    const info = await response.json();
    const shown = [['Version', info.version], ['Address', masked(info.url)],
                   ['Base URL', info.base_url], ['Root folder', info.root_dir],
                   ['Process', info.pid], ['Token', info.token ? '•••••• (hidden)' : 'none']];
    for (const [label, value] of shown) {
      list.append(element('dt', '', label));
      list.append(element('dd', '', value === null || value === undefined ? '—' : masked(String(value))));
    }
    // Inside Jupyter, server info describes Jupyter's server, and so does its version.
    const host = document.body.dataset.host === 'jupyter' ? 'Jupyter Server ' : 'Nuvex Link server ';
    $('server-line').textContent = host + (info.version || '') +
      (info.root_dir ? ' · ' + info.root_dir : '');
  } catch (error) {
    list.append(element('dd', 'message', 'Cannot read the server information: ' + error.message));
  }
}

function start() {
  readAddress();
  installPicture();
  $('refresh-kernels').addEventListener('click', loadKernels);
  $('refresh-diff').addEventListener('click', loadDatasetDiff);
  $('export-button').addEventListener('click', exportCache);
  $('download-json').addEventListener('click', () => {
    downloadPipelineJson().catch((error) => showMessage(error.message));
  });
  window.addEventListener('hashchange', () => {
    const componentId = componentInAddress();
    if (componentId !== picture.selected) selectComponent(componentId, true);
  });
  window.addEventListener('popstate', () => {
    const kernelId = new URLSearchParams(window.location.search).get('kernel_id');
    if (kernelId !== null) selectKernel(kernelId, true);
  });
  loadKernels().then(() => {
    // With a single kernel there is nothing to choose.
    if (page.kernelId === null && page.kernels.length === 1) page.kernelId = page.kernels[0].kernel_id;
    if (page.kernelId !== null) selectKernel(page.kernelId, true);
  });
  loadServerInfo();
  loadDatasetDiff();
}

document.addEventListener('DOMContentLoaded', start);
