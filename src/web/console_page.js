// The main page's live view. While the page is visible it asks for the page
// itself about once a second and brings the page up to date in place: a
// node whose HTML did not change is not touched, and a row that changed
// keeps its nodes and has only its changed text rewritten (a countdown
// ticks without replacing the link beside it), so no click is lost to a
// poll. The page's own action links act in place and show their result
// beside their row. Without scripts the page and its links work as plain
// HTML.
(function () {
  'use strict';

  var POLL_INTERVAL_MS = 1000;
  // A console that has not answered by then is told as not answering: a
  // hung program looks like a stopped one.
  var POLL_TIMEOUT_MS = 4000;
  var NO_ANSWER = 'The console does not answer; trying again';
  // On another screen the page's address holds the console's key. It goes
  // with every request in a header, never in a cookie: a browser sends an
  // address's cookies to every port of it, and lets a page on any port set
  // them. Another site's page cannot add a header of its own to a request
  // without asking the console first, which it never allows: on another
  // screen the console acts for this page alone.
  var key = new URLSearchParams(location.search).get('key');
  var KEY_HEADERS = key ? {'X-Palisard-Key': key} : {};
  var ACTION_HEADERS = Object.assign({Accept: 'text/plain', 'X-Palisard-Page': '1'}, KEY_HEADERS);
  var box = document.getElementById('Box');
  // What the console sent for each node on the page.
  var sentHtml = new WeakMap();
  // The result notes this script put into rows: not the console's.
  var notes = new WeakSet();
  var statusLine = document.createElement('h4');
  statusLine.style.display = 'none';
  statusLine.style.color = 'white';
  statusLine.style.textAlign = 'center';
  box.parentNode.insertBefore(statusLine, box);

  function childrenOf(node) {
    return Array.prototype.filter.call(node.childNodes, function (child) {
      return !notes.has(child);
    });
  }

  function htmlOf(node) {
    return node.nodeType === 1 ? node.outerHTML : '#' + node.nodeValue;
  }

  // What a row stands for across polls: the target of its first link.
  function rowKey(node) {
    var link = childrenOf(node).filter(function (child) {
      return child.tagName === 'A';
    })[0];
    return link ? link.getAttribute('href') : null;
  }

  function take(lists, key) {
    var list = lists.get(key);
    return list && list.shift();
  }

  function put(lists, key, node) {
    if (!lists.has(key)) lists.set(key, []);
    lists.get(key).push(node);
  }

  // Elements with an id are sections: their children are matched in turn.
  function remember(section) {
    childrenOf(section).forEach(function (node) {
      sentHtml.set(node, htmlOf(node));
      if (node.id) remember(node);
    });
  }

  // Makes `node` show what `fresh` shows, keeping every node of the same
  // kind and rewriting only text that changed; false, with nothing changed,
  // when the two differ in their tags or attributes.
  function morph(node, fresh) {
    if (node.nodeType !== fresh.nodeType || node.tagName !== fresh.tagName) return false;
    if (node.nodeType !== 1) {
      if (node.nodeValue !== fresh.nodeValue) node.nodeValue = fresh.nodeValue;
      return true;
    }
    var before = childrenOf(node);
    var after = childrenOf(fresh);
    if (before.length !== after.length || node.cloneNode(false).outerHTML !== fresh.cloneNode(false).outerHTML) {
      return false;
    }
    before.forEach(function (child, i) {
      if (!morph(child, after[i])) node.replaceChild(after[i], child);
    });
    return true;
  }

  // Makes the children of `section` those of `fresh`, the same section of a
  // newer page. Each unchanged node stays, once however often its HTML
  // repeats (two slots may hold the same player); a changed row takes over
  // the nodes of its old self; whatever is left goes.
  function update(section, fresh) {
    var sections = new Map();
    var unchanged = new Map();
    childrenOf(section).forEach(function (node) {
      if (node.id) {
        sections.set(node.id, node);
      } else {
        put(unchanged, sentHtml.get(node), node);
      }
    });
    var freshNodes = childrenOf(fresh);
    var kept = freshNodes.map(function (node) {
      return node.id ? sections.get(node.id) : take(unchanged, htmlOf(node));
    });
    var changed = new Map();
    unchanged.forEach(function (left) {
      left.forEach(function (node) {
        put(changed, rowKey(node), node);
      });
    });
    var wanted = freshNodes.map(function (node, i) {
      var same = kept[i];
      if (same && node.id) update(same, node);
      if (same) return same;
      var html = htmlOf(node);  // before morph takes nodes out of it
      var old = node.id ? null : take(changed, rowKey(node));
      var shown = old && morph(old, node) ? old : node;
      sentHtml.set(shown, html);
      if (shown.id) remember(shown);
      return shown;
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

  function showStatus(text) {
    if (statusLine.textContent === text) return;
    statusLine.textContent = text;
    statusLine.style.display = text ? '' : 'none';
  }

  function enclosingLink(node) {
    while (node && node.tagName !== 'A') node = node.parentNode;
    return node;
  }

  // The result note of `row`, made when it has none.
  function noteOf(row) {
    var note = Array.prototype.filter.call(row.childNodes, function (child) {
      return notes.has(child);
    })[0];
    if (!note) {
      note = document.createElement('span');
      note.style.marginLeft = '1em';
      note.style.color = '#D10202';
      notes.add(note);
      row.appendChild(note);
    }
    return note;
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
    var note = noteOf(link.parentNode);
    note.textContent = '...';
    fetch(href, {mode: 'same-origin', cache: 'no-store', headers: ACTION_HEADERS})
      .then(function (answer) {
        return answer.text();
      })
      .then(
        function (message) {
          note.textContent = message;
        },
        function () {
          note.textContent = 'The console does not answer';
        }
      );
  });

  var polling = false;
  var timer = 0;

  // A refusal (on another screen: the console refused the page's key) says
  // why in its body.
  function show(answer, page) {
    var fresh = new DOMParser().parseFromString(page, 'text/html');
    if (!answer.ok) return showStatus(fresh.body.textContent);
    var freshBox = fresh.getElementById('Box');
    if (!freshBox) throw new Error('not the console page');
    update(box, freshBox);
    showStatus('');
  }

  function poll() {
    clearTimeout(timer);
    if (polling || document.visibilityState !== 'visible') return;
    polling = true;
    var abort = new AbortController();
    var giveUp = setTimeout(function () {
      abort.abort();
    }, POLL_TIMEOUT_MS);
    fetch('/', {mode: 'same-origin', cache: 'no-store', headers: KEY_HEADERS, signal: abort.signal})
      .then(function (answer) {
        return answer.text().then(function (page) {
          show(answer, page);
        });
      })
      .catch(function () {
        showStatus(NO_ANSWER);
      })
      .then(function () {
        clearTimeout(giveUp);
        polling = false;
        timer = setTimeout(poll, POLL_INTERVAL_MS);
      });
  }

  remember(box);
  document.addEventListener('visibilitychange', poll);
  timer = setTimeout(poll, POLL_INTERVAL_MS);
})();
