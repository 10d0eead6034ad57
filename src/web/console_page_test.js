// Runs console_page.js on the main page's fixture in a small stand-in of a
// browser's DOM, with fetch and the timer in the test's hands:
//   node console_page_test.js SCRIPT PAGE
'use strict';
const assert = require('assert');
const fs = require('fs');
const vm = require('vm');

// Just the DOM the script uses: an element, or text when `tag` is null.
// Nodes put into the page or taken out of it are counted.
let mutations = 0;
let shownDocument = null;
const count = (parent) => {
  for (let node = parent; node; node = node.parentNode) if (node === shownDocument) mutations++;
};
class Node {
  constructor(tag, attributes, text) {
    Object.assign(this, {tag, attributes, nodeValue: text, childNodes: [], style: {}, parentNode: null});
    Object.assign(this, {nodeType: tag ? 1 : 3, tagName: tag && tag.toUpperCase(), id: (attributes || {}).id || ''});
  }
  get firstChild() { return this.childNodes[0] || null; }
  get nextSibling() { const all = this.parentNode.childNodes; return all[all.indexOf(this) + 1] || null; }
  getAttribute(name) { return this.attributes[name]; }
  appendChild(node) { this.insertBefore(node, null); }
  removeChild(node) { count(this); this.childNodes.splice(this.childNodes.indexOf(node), 1); node.parentNode = null; }
  replaceChild(node, old) { this.insertBefore(node, old); this.removeChild(old); }
  cloneNode() { return new Node(this.tag, {...this.attributes}, this.nodeValue); }
  get body() { return this.find((node) => node.tag === 'body'); }
  insertBefore(node, before) {
    if (node.parentNode) node.parentNode.removeChild(node);
    count(this);
    node.parentNode = this;
    this.childNodes.splice(before ? this.childNodes.indexOf(before) : this.childNodes.length, 0, node);
  }
  get textContent() { return this.tag ? this.childNodes.map((node) => node.textContent).join('') : this.nodeValue; }
  set textContent(text) { this.childNodes = []; this.appendChild(new Node(null, null, text)); }
  get outerHTML() {
    if (!this.tag) return this.nodeValue;
    const attributes = Object.entries(this.attributes).map(([name, value]) => ` ${name}="${value}"`).join('');
    return `<${this.tag}${attributes}>${this.childNodes.map((node) => node.outerHTML).join('')}</${this.tag}>`;
  }
  find(test) {
    for (const node of this.childNodes) {
      const found = test(node) ? node : node.find(test);
      if (found) return found;
    }
    return null;
  }
  getElementById(id) { return this.find((node) => node.id === id); }
}

// Enough of HTML for our pages, which close every element in order.
function parse(html) {
  const document = new Node('#document', {});
  let open = document;
  const token = /<![^>]*>|<\/[a-z0-9]+>|<([a-z0-9]+)([^>]*)>|[^<]+/gi;
  for (let match; (match = token.exec(html)); ) {
    if (match[0].startsWith('<!')) {
      continue;
    } else if (match[0].startsWith('</')) {
      open = open.parentNode;
    } else if (!match[1]) {
      open.appendChild(new Node(null, null, match[0]));
    } else {
      const attributes = Object.fromEntries([...match[2].matchAll(/([\w-]+)="([^"]*)"/g)].map((m) => [m[1], m[2]]));
      const element = new Node(match[1], attributes);
      open.appendChild(element);
      if (match[1] !== 'meta') open = element;
      if (/^(style|script)$/.test(match[1])) {
        const end = html.indexOf('</', token.lastIndex);
        element.appendChild(new Node(null, null, html.slice(token.lastIndex, end)));
        token.lastIndex = end;
      }
    }
  }
  return document;
}

const [scriptFile, pageFile] = process.argv.slice(2);
const page = fs.readFileSync(pageFile, 'utf8');
const document = (shownDocument = parse(page));
const listeners = {};
Object.assign(document, {visibilityState: 'visible', createElement: (tag) => new Node(tag, {})});
document.addEventListener = (type, listener) => (listeners[type] = listener);
// The console: the next poll's answer (a page; {status, body}; HANG, which
// ends only when the script gives up; or null: no answer), the message for
// an action; every request is recorded.
const HANG = {};
let served = page;
const timers = new Map();
let lastTimer = 0;
const requests = [];
vm.runInNewContext(fs.readFileSync(scriptFile, 'utf8'), {
  document,
  location: {search: '?x=1&key=k3y'},  // another screen's address
  URLSearchParams,
  AbortController,
  DOMParser: class { parseFromString(text) { return parse(text); } },
  fetch(url, options) {
    requests.push(JSON.stringify([url, options]));
    if (served === null) return Promise.reject(new TypeError('Failed to fetch'));
    if (served === HANG) return new Promise((_, reject) => options.signal.addEventListener('abort', reject));
    const {status, body} = typeof served === 'string' ? {status: 200, body: served} : served;
    return Promise.resolve({ok: status === 200, status, text: () => Promise.resolve(url === '/' ? body : 'Report successful')});
  },
  setTimeout: (callback, delay) => (timers.set(++lastTimer, {callback, delay}), lastTimer),
  clearTimeout: (id) => timers.delete(id),
});

const settle = async () => { for (let i = 0; i < 5; i++) await new Promise(setImmediate); };
// Lets the timers set for `delay` milliseconds run out.
const elapse = (delay) => {
  for (const [id, timer] of [...timers]) if (timer.delay === delay) timers.delete(id) && timer.callback();
  return settle();
};
const poll = (nextPage) => { served = nextPage; return elapse(1000); };
const box = document.getElementById('Box');
const link = (href) => box.find((node) => node.tag === 'a' && node.getAttribute('href') === href);
const rowsOf = (href) => box.childNodes.filter((row) => row.tag === 'h4' && row.childNodes[0].attributes?.href === href);
const boss = '/votekick?76561197960287930';
const eve = '/votekick?76561197960265728';
const twin = page.split('\n').find((line) => line.includes('Jos\u00e9')) + '\n';  // Eve's second slot

(async () => {
  // Nothing changed: over a few polls no node is touched; Eve keeps a row
  // in each of her two slots.
  const eveRows = rowsOf(eve);
  mutations = 0;
  for (let i = 0; i < 3; i++) await poll(page);
  assert.strictEqual(mutations, 0);
  assert.deepStrictEqual(rowsOf(eve), eveRows);

  // A vote, a new chat line and a block; then her second slot lets go.
  const blocked = document.getElementById('Blocked');
  const next = page.replace('( 1/3 )', '( 2/3 )')
    .replace('\t\t\t<h4>line 2</h4>\n', '')
    .replace('line 1</h4>\n', 'line 1</h4>\n\t\t\t<h4>a &lt;b&gt;</h4>\n')
    .replace('Blocked">\n', 'Blocked">\n\t\t<h3>Blocked:</h3>\n' +
      '\t\t<h4><a href="/unblock?9">unblock</a> | 9 | votes | 4:59 left | <bdi>x</bdi></h4>\n');
  await poll(next);
  assert.strictEqual(box.outerHTML, parse(next).getElementById('Box').outerHTML);
  assert.deepStrictEqual(rowsOf(eve), eveRows, 'a changed row keeps its nodes');
  assert.strictEqual(document.getElementById('Blocked'), blocked, 'a section is found by its id and kept');
  await poll(next.replace(twin, ''));
  assert.deepStrictEqual(rowsOf(eve), [eveRows[0]]);

  // A countdown rewrites its own text alone: the link beside it stays.
  const unblock = link('/unblock?9');
  mutations = 0;
  await poll(next.replace(twin, '').replace('4:59 left', '4:58 left'));
  assert.deepStrictEqual([mutations, link('/unblock?9')], [0, unblock]);
  assert.strictEqual(unblock.parentNode.textContent, 'unblock | 9 | votes | 4:58 left | x');

  // An action asks for its message alone, marked as the console's own
  // script's, and shows it beside its row, also once the row changed; the
  // profile link stays a plain link.
  let prevented = 0;
  const click = (href) => listeners.click({target: link(href), button: 0, preventDefault: () => prevented++});
  click('http://steamcommunity.com/profiles/76561197960287930');
  click('/report?76561197960287930');
  assert.strictEqual(prevented, 1);
  assert.strictEqual(requests.at(-1),
    JSON.stringify(['/report?76561197960287930',
      {mode: 'same-origin', cache: 'no-store', headers: {Accept: 'text/plain', 'X-Palisard-Page': '1', 'X-Palisard-Key': 'k3y'}}]));
  assert.deepStrictEqual(JSON.parse(requests[0])[1].headers, {'X-Palisard-Key': 'k3y'}, 'a poll brings the key');
  await settle();
  assert.ok(link(boss).parentNode.textContent.endsWith('profile | Boss&lt;1&gt;Report successful'));
  await poll(next.replace('( 0/3 )', '( 1/3 )'));
  assert.ok(link(boss).parentNode.textContent.endsWith('( 1/3 ) | report | profile | Boss&lt;1&gt;Report successful'));

  // A console that does not answer, or not within a few seconds, is told
  // until it answers again; a refusal tells its reason. A page not shown
  // asks for nothing.
  const status = box.parentNode.childNodes[box.parentNode.childNodes.indexOf(box) - 1];
  const shown = () => [status.textContent, status.style.display];
  const silent = ['The console does not answer; trying again', ''];
  await poll(null);
  assert.deepStrictEqual(shown(), silent);
  await poll(next);
  assert.strictEqual(status.style.display, 'none');
  await poll(HANG);
  assert.strictEqual(status.style.display, 'none', 'not yet');
  await elapse(4000);
  assert.deepStrictEqual(shown(), silent);
  await poll({status: 403, body: '<!DOCTYPE html>\n<html><body>Refused: the key changed.</body></html>\n'});
  assert.deepStrictEqual(shown(), ['Refused: the key changed.', '']);
  await poll(next);
  assert.strictEqual(status.style.display, 'none');
  document.visibilityState = 'hidden';
  const asked = requests.length;
  await poll(next);
  assert.strictEqual(requests.length, asked);
  console.log('console page: ok');
})().catch((error) => {
  console.error(error);
  process.exit(1);
});
