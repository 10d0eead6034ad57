// The main page's live view. While the page is visible it asks for the page
// itself about once a second and puts in place only what changed, so
// nothing blinks, the scroll stays and a row being clicked stays where it
// is. The page's own action links act in place and show their result beside
// their row. Without scripts the page and its links work as plain HTML.
(function () {
  'use strict';

  var POLL_INTERVAL_MS = 1000;
  // Sent with every action. Another site's page cannot add a header of its
  // own to a request without asking the console first, which it never
  // allows: on another screen the console acts for this page alone.
  var ACTION_HEADERS = {Accept: 'text/plain', 'X-Palisard-Page': '1'};
  var box = document.getElementById('Box');
  // What the console sent for each node on the page: a row may carry a
  // result note since, which is this script's, not the console's.
  var sentHtml = new WeakMap();
  // The result note of each row that has one, by the row's first link.
  var notes = new Map();
  var statusLine = document.createElement('h4');
  statusLine.style.display = 'none';
  statusLine.style.color = 'white';
  statusLine.style.textAlign = 'center';
  box.parentNode.insertBefore(statusLine, box);

  function childrenOf(node) {
    return Array.prototype.slice.call(node.childNodes);
  }

  function htmlOf(node) {
    return node.nodeType === 1 ? node.outerHTML : '#' + node.nodeValue;
  }

  // Elements with an id are sections: their children are matched in turn.
  function remember(section) {
    childrenOf(section).forEach(function (node) {
      sentHtml.set(node, htmlOf(node));
      if (node.id) remember(node);
    });
  }

  // Makes the children of `section` those of `fresh`, the same section of a
  // newer page: a node whose HTML is unchanged stays (and keeps its place
  // when the nodes before it stay too); a changed one is replaced.
  function update(section, fresh) {
    var unchanged = new Map();
    var sections = new Map();
    childrenOf(section).forEach(function (node) {
      if (node.id) {
        sections.set(node.id, node);
        return;
      }
      var html = sentHtml.get(node);
      if (!unchanged.has(html)) unchanged.set(html, []);
      unchanged.get(html).push(node);
    });
    var wanted = childrenOf(fresh).map(function (node) {
      var same = node.id ? sections.get(node.id) : (unchanged.get(htmlOf(node)) || []).shift();
      if (same && node.id) update(same, node);
      if (same) return same;
      sentHtml.set(node, htmlOf(node));
      if (node.id) remember(node);
      return node;
    });
    var keep = new Set(wanted);
    childrenOf(section).forEach(function (node) {
      if (!keep.has(node)) section.removeChild(node);
    });
    var next = section.firstChild;
    wanted.forEach(function (node) {
      if (node === next) {
        next = node.nextSibling;
      } else {
        section.insertBefore(node, next);
      }
    });
  }

  function firstLinkOf(row) {
    return childrenOf(row).filter(function (node) {
      return node.tagName === 'A';
    })[0];
  }

  function rowKey(row) {
    var link = firstLinkOf(row);
    return link ? link.getAttribute('href') : null;
  }

  function findRow(node, key) {
    var children = childrenOf(node);
    for (var i = 0; i < children.length; i++) {
      if (children[i].nodeType !== 1) continue;
      var row = rowKey(children[i]) === key ? children[i] : findRow(children[i], key);
      if (row) return row;
    }
    return null;
  }

  // Puts each note beside its row, which may have been replaced meanwhile;
  // a note whose row is gone goes too.
  function placeNotes() {
    notes.forEach(function (note, key) {
      var row = findRow(box, key);
      if (!row) {
        notes.delete(key);
      } else if (note.parentNode !== row) {
        row.appendChild(note);
      }
    });
  }

  function showNote(key, text) {
    var note = notes.get(key);
    if (!note) {
      note = document.createElement('span');
      note.style.marginLeft = '1em';
      note.style.color = '#D10202';
      notes.set(key, note);
    }
    note.textContent = text;
    placeNotes();
  }

  function showStatus(text) {
    statusLine.textContent = text;
    statusLine.style.display = text ? '' : 'none';
  }

  function enclosingLink(node) {
    while (node && node.tagName !== 'A') node = node.parentNode;
    return node;
  }

  // The links that stay on the console are its actions; the profile link
  // leaves for the community site as a plain link. The console answers an
  // action asked for as text with its message alone.
  document.addEventListener('click', function (event) {
    var link = enclosingLink(event.target);
    if (!link || event.button || event.ctrlKey || event.metaKey || event.shiftKey || event.altKey) return;
    var href = link.getAttribute('href');
    if (!/^\/[^\/]/.test(href)) return;
    event.preventDefault();
    var key = rowKey(link.parentNode);
    showNote(key, '...');
    fetch(href, {mode: 'same-origin', cache: 'no-store', headers: ACTION_HEADERS})
      .then(function (answer) {
        return answer.text();
      })
      .then(
        function (message) {
          showNote(key, message);
        },
        function () {
          showNote(key, 'The console does not answer');
        }
      );
  });

  var polling = false;
  var timer = 0;

  // A refusal (on another screen: the key changed) says why in its body.
  function show(answer, page) {
    var fresh = new DOMParser().parseFromString(page, 'text/html');
    if (!answer.ok) return showStatus(fresh.body.textContent);
    var freshBox = fresh.getElementById('Box');
    if (!freshBox) throw new Error('not the console page');
    update(box, freshBox);
    placeNotes();
    showStatus('');
  }

  function poll() {
    clearTimeout(timer);
    if (polling || document.visibilityState !== 'visible') return;
    polling = true;
    fetch('/', {mode: 'same-origin', cache: 'no-store'})
      .then(function (answer) {
        return answer.text().then(function (page) {
          show(answer, page);
        });
      })
      .catch(function () {
        showStatus('The console does not answer; trying again');
      })
      .then(function () {
        polling = false;
        timer = setTimeout(poll, POLL_INTERVAL_MS);
      });
  }

  remember(box);
  document.addEventListener('visibilitychange', poll);
  timer = setTimeout(poll, POLL_INTERVAL_MS);
})();
