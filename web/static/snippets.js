// The Snippets panel: the snippet catalogue grouped by category with a search, a form built
// from the chosen snippet's parameters, its code rendered by the generate route and copied with
// one click. It uses the page's helpers from app.js ($, element, api, failureText), which runs
// first and holds the token. Every text from the server goes in as text, never as markup.
'use strict';

const snippetPanel = {
  catalogue: [],
  chosen: null,
};

function snippetKey(snippet) { return snippet.category + '/' + snippet.snippet_id; }

function showSnippetMessage(text) {
  $('snippet-message').textContent = text;
  $('snippet-message').hidden = !text;
}

async function loadSnippetCatalogue() {
  const note = $('snippets-note');
  note.textContent = 'Loading the snippets…';
  try {
    const response = await api('snippets');
    if (!response.ok) throw new Error(await failureText(response));
    const body = await response.json();
    snippetPanel.catalogue = Array.isArray(body.snippets) ? body.snippets : [];
    note.textContent = snippetPanel.catalogue.length ? '' : 'No snippets in the snippets folder.';
  } catch (error) {
    snippetPanel.catalogue = [];
    note.textContent = 'Cannot list the snippets: ' + error.message;
  }
  const chosen = snippetPanel.chosen && snippetPanel.catalogue.find(
    (snippet) => snippetKey(snippet) === snippetKey(snippetPanel.chosen));
  renderSnippetList();
  if (chosen) chooseSnippet(chosen); else if (snippetPanel.chosen) closeSnippetForm();
}

function matchesSearch(snippet, words) {
  const text = [snippet.category, snippet.snippet_id, snippet.title, snippet.description]
    .join(' ').toLowerCase();
  return words.every((word) => text.includes(word));
}

// The catalogue comes sorted by category, then id.
function renderSnippetList() {
  const list = $('snippet-list');
  list.replaceChildren();
  const words = $('snippet-search').value.toLowerCase().split(/\s+/).filter(Boolean);
  let group = null;
  let shown = 0;
  for (const snippet of snippetPanel.catalogue) {
    if (!matchesSearch(snippet, words)) continue;
    if (!group || group.dataset.category !== snippet.category) {
      group = element('div', 'snippet-group');
      group.dataset.category = snippet.category;
      group.append(element('h3', '', snippet.category), element('ul'));
      list.append(group);
    }
    const choice = element('button', 'snippet-choice');
    choice.type = 'button';
    choice.dataset.category = snippet.category;
    choice.dataset.snippetId = snippet.snippet_id;
    choice.setAttribute('aria-current', String(
      snippetPanel.chosen !== null && snippetKey(snippetPanel.chosen) === snippetKey(snippet)));
    choice.append(element('span', 'snippet-title', snippet.title),
                  element('span', 'snippet-id', snippet.snippet_id));
    choice.addEventListener('click', () => chooseSnippet(snippet));
    const item = element('li');
    item.append(choice);
    group.querySelector('ul').append(item);
    shown += 1;
  }
  if (snippetPanel.catalogue.length && !shown) {
    list.append(element('p', 'note', 'No snippet matches the search.'));
  }
}

// A parameter whose default or example is not text takes JSON (an object of metrics, say).
function takesJson(parameter) {
  return ['default', 'example'].some(
    (key) => key in parameter && typeof parameter[key] !== 'string');
}

function initialValue(parameter) {
  const key = 'default' in parameter ? 'default' : ('example' in parameter ? 'example' : null);
  if (key === null) return '';
  const value = parameter[key];
  return typeof value === 'string' ? value : JSON.stringify(value);
}

function parameterField(parameter, index) {
  const field = element('div', 'snippet-field');
  const inputId = 'snippet-parameter-' + index;
  const label = element('label', 'mono', parameter.name);
  label.htmlFor = inputId;
  field.append(label);
  if (parameter.description) field.append(element('p', 'note', parameter.description));
  const json = takesJson(parameter);
  const input = json ? element('textarea') : element('input');
  if (!json) input.type = 'text';
  else input.rows = 2;
  input.id = inputId;
  // Kept as data, not as the control's name: a named control would shadow the form's own
  // properties ("hidden", "submit").
  input.dataset.parameter = parameter.name;
  input.dataset.json = String(json);
  input.value = initialValue(parameter);
  if ('example' in parameter) {
    const example = parameter.example;
    input.placeholder = 'e.g. ' + (typeof example === 'string' ? example : JSON.stringify(example));
  }
  field.append(input);
  return field;
}

function snippetProblems(snippet) {
  const problems = Array.isArray(snippet.errors) ? [...snippet.errors] : [];
  const undeclared = Array.isArray(snippet.undeclared_parameters) ? snippet.undeclared_parameters : [];
  const unused = Array.isArray(snippet.unused_parameters) ? snippet.unused_parameters : [];
  if (undeclared.length) problems.push('snippet.json does not describe: ' + undeclared.join(', '));
  if (unused.length) problems.push('snippet.json describes parameters the template never uses: ' + unused.join(', '));
  return problems;
}

function chooseSnippet(snippet) {
  snippetPanel.chosen = snippet;
  for (const choice of document.querySelectorAll('#snippet-list .snippet-choice')) {
    choice.setAttribute('aria-current', String(choice.dataset.category === snippet.category &&
                                               choice.dataset.snippetId === snippet.snippet_id));
  }
  $('snippet-form').hidden = false;
  $('snippet-title').textContent = snippet.title;
  $('snippet-name').textContent = snippetKey(snippet);
  $('snippet-description').textContent = snippet.description || '';
  $('snippet-problems').replaceChildren(
    ...snippetProblems(snippet).map((problem) => element('li', '', problem)));
  const parameters = Array.isArray(snippet.parameters) ? snippet.parameters : [];
  $('snippet-fields').replaceChildren(...parameters.map(parameterField));
  $('snippet-output').hidden = true;
  $('snippet-code').textContent = '';
  showSnippetMessage('');
}

function closeSnippetForm() {
  snippetPanel.chosen = null;
  $('snippet-form').hidden = true;
}

// Empty fields are left out, so the template's own defaults apply. No prototype: a parameter
// may be called "__proto__".
function formParameters() {
  const parameters = Object.create(null);
  for (const input of $('snippet-fields').querySelectorAll('input, textarea')) {
    if (input.value === '') continue;
    if (input.dataset.json === 'true') {
      try {
        parameters[input.dataset.parameter] = JSON.parse(input.value);
      } catch (ignored) {
        throw new Error(input.dataset.parameter + ': not valid JSON');
      }
    } else {
      parameters[input.dataset.parameter] = input.value;
    }
  }
  return parameters;
}

async function renderSnippet(event) {
  event.preventDefault();
  const snippet = snippetPanel.chosen;
  if (!snippet) return;
  showSnippetMessage('');
  $('snippet-output').hidden = true;
  $('snippet-render').disabled = true;
  try {
    const response = await api('snippets/generate', {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify({ category: snippet.category, snippet_id: snippet.snippet_id,
                             parameters: formParameters() }),
    });
    if (!response.ok) throw new Error(await failureText(response));
    const body = await response.json();
    if (snippetPanel.chosen !== snippet) return;
    $('snippet-code').textContent = body.code;
    $('snippet-copy-state').textContent = '';
    $('snippet-output').hidden = false;
  } catch (error) {
    if (snippetPanel.chosen === snippet) showSnippetMessage(error.message);
  } finally {
    $('snippet-render').disabled = false;
  }
}

// The clipboard API where the browser grants it; otherwise the selected code is copied.
async function copySnippetCode() {
  const code = $('snippet-code').textContent;
  const state = $('snippet-copy-state');
  try {
    await navigator.clipboard.writeText(code);
    state.textContent = 'Copied';
  } catch (ignored) {
    const selection = window.getSelection();
    selection.selectAllChildren($('snippet-code'));
    state.textContent = document.execCommand('copy') ? 'Copied' : 'Select the code and copy it';
  }
}

function startSnippetPanel() {
  $('snippet-search').addEventListener('input', renderSnippetList);
  $('refresh-snippets').addEventListener('click', loadSnippetCatalogue);
  $('snippet-form').addEventListener('submit', renderSnippet);
  $('snippet-copy').addEventListener('click', copySnippetCode);
  loadSnippetCatalogue();
}

document.addEventListener('DOMContentLoaded', startSnippetPanel);
