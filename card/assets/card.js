// The card's shared script: the navigation of every page, loading the data
// files, filling and checking forms, and posting them.
//
// Data files are scripts (var X = ...;) loaded with <script>; a file that
// cannot be read declares a quoted UNAVAILABLE text instead of its object, and
// one that is not served leaves its variable undefined. A form page offers no
// Save until every file it shows has loaded, so it never posts a value it
// could not load. Checkboxes and buttons post through hidden inputs: the
// module refuses a post that lacks a declared field, and an unticked box or an
// unpressed button sends nothing. Every text from the machine is put into the
// page as text, never as markup.
var Card = {
  // The navigation: areas, each with its pages. The browser tests open every
  // page listed here.
  areas: [
    {name: 'Live status', pages: [['/index.html', 'Live status']]},
    {name: 'Programs', pages: [
      ['/arc_management/process_selection.html', 'Process selection'],
      ['/arc_management/full_sequence_adjust.min.html', 'Weld stages'],
      ['/arc_management/time_sequence_adjust.min.html', 'Stage times'],
      ['/arc_management/retract_sequence_adjust.min.html', 'Retract'],
      ['/arc_management/program_naming.min.html', 'Naming'],
      ['/arc_management/weld_file_setup.min.html', 'Weld files'],
      ['/arc_management/advanced_triggers.min.html', 'Advanced triggers'],
      ['/arc_management/custom_process_selection.html', 'Custom process'],
      ['/programs.html', 'All programs']]},
    {name: 'Setup', pages: [
      ['/setup/error_edit.min.html', 'Arc error limits'],
      ['/setup/error_config.min.html', 'Error enables'],
      ['/arc_management/process_enables.min.html', 'Process enables'],
      ['/arc_management/enables_locks.min.html', 'Enables and locks'],
      ['/setup/jog_purge.min.html', 'Jog and purge'],
      ['/arc_management/trigger_hold_edit.min.html', 'Trigger hold'],
      ['/setup/weld_cable.min.html', 'Weld cables'],
      ['/setup/spool.min.html', 'Spools'],
      ['/setup/region.min.html', 'Region'],
      ['/setup/robot_options.html', 'Robot'],
      ['/setup/dry_run.html', 'Dry run'],
      ['/arc_management/runin_sequence_adjust.min.html', 'Run-in'],
      ['/arc_management/burnback_sequence_adjust.min.html', 'Burnback'],
      ['/arc_management/retract_start.html', 'Retract start'],
      ['/setup/autocal.html', 'Calibration'],
      ['/data_management/data_management.min.html', 'Weld data'],
      ['/data_management/factory_reset.min.html', 'Factory reset']]},
    {name: 'Network', pages: [['/network.html', 'Connections'], ['/setup/alt_config.min.html', 'Alternate configuration']]},
    {name: 'Logs', pages: [
      ['/logs.html', 'Logs'],
      ['/totals.html', 'Totals'],
      ['/software.html', 'Software and errors'],
      ['/datafiles.html', 'Data files']]},
    {name: 'Welder', pages: [['/welder.html', 'Welder information']]}
  ],
  // The module refuses a field longer than this unless the form declares
  // another length (the browser tests hold the pages to the module's table).
  defaultFieldLength: 15,
  inchesToMetres: 0.0254,

  // ---- loading ---------------------------------------------------------
  // A data file with a query, loaded in order with the page (while the page
  // is being read).
  load: function (path) { document.write('<script src="' + path + '"><\/script>'); },
  // Both banks' spool data (one variable name, SpoolData) as SpoolOne and
  // SpoolTwo.
  loadSpools: function () {
    Card.load('/logs/SpoolData.js?BankNumber=1');
    document.write('<script>var SpoolOne = window.SpoolData; SpoolData = undefined;<\/script>');
    Card.load('/logs/SpoolData.js?BankNumber=2');
    document.write('<script>var SpoolTwo = window.SpoolData;<\/script>');
  },
  // A data file loaded now, after the page; `done(ok)` follows. A query
  // that changes every time keeps caches from answering for the machine.
  fetchScript: function (path, done) {
    var script = document.createElement('script');
    script.src = path + (path.indexOf('?') < 0 ? '?' : '&') + 'now=' + Date.now();
    script.onload = function () { script.remove(); done(true); };
    script.onerror = function () { script.remove(); done(false); };
    document.head.appendChild(script);
  },
  // The object a data file declared, or null when it is missing or is an
  // UNAVAILABLE text.
  value: function (name) {
    var value = window[name];
    return typeof value === 'object' && value !== null ? value : null;
  },
  // The names whose variable is not an object.
  missing: function (names) { return names.filter(function (name) { return Card.value(name) === null; }); },
  // The page's query parameter, or the default.
  query: function (key, fallback) {
    var match = new RegExp('[?&]' + key + '=([^&]*)').exec(location.search);
    return match ? decodeURIComponent(match[1]) : fallback;
  },

  // ---- the page's messages ----------------------------------------------
  status: function (text, kind) {
    var note = document.getElementById('status');
    note.textContent = text;
    note.className = kind || '';
  },
  // True when every variable loaded; otherwise says which did not and takes
  // every Save away.
  ready: function (names) {
    var gone = Card.missing(names);
    Card.bind();
    if (gone.length === 0) return true;
    Card.status('Not available now: ' + gone.map(function (name) {
      return typeof window[name] === 'string' ? window[name] : name;
    }).join(', ') + '.' + (document.forms.length ? ' Nothing can be saved from this page until it loads.' : ''), 'problem');
    document.querySelectorAll('form input[type=submit], form button').forEach(function (button) {
      button.disabled = true;
      button.hidden = true;
    });
    document.querySelectorAll('form').forEach(function (form) {
      form.onsubmit = function () { return false; };
    });
    return false;
  },

  // ---- forms ------------------------------------------------------------
  // Whether wire feed speeds are shown in metres per minute (the region's
  // metric setting); the machine stores them in inches per minute.
  metric: function () {
    var m = Card.value('MetricEnableCheck');
    return m !== null && Number(m.MetricEnable) === 1;
  },
  // A value from the machine in the unit the input shows (data-unit: "wfs"
  // for a wire feed speed, "tenths" for a value the machine keeps in tenths,
  // such as volts).
  shown: function (input, value) {
    if (input.dataset.unit === 'wfs' && Card.metric()) return Math.round(value * Card.inchesToMetres * 100) / 100;
    if (input.dataset.unit === 'tenths' && value !== '') return Number(value) / 10;
    return value;
  },
  // The input's value in the unit the machine takes.
  posted: function (input) {
    var value = input.value;
    if (input.dataset.unit === 'wfs' && Card.metric()) return String(Math.round(Number(value) / Card.inchesToMetres));
    if (input.dataset.unit === 'tenths') return String(Math.round(Number(value) * 10));
    return value;
  },
  // Sets the input named `name` (and its checkbox, for a hidden input that
  // stands for one).
  set: function (name, value) {
    document.querySelectorAll('[name="' + name + '"]').forEach(function (input) { input.value = Card.shown(input, value); });
    document.querySelectorAll('[data-posts="' + name + '"]').forEach(function (box) { box.checked = Number(value) !== 0; });
  },
  // Fills a select with the items of a list: value(k) and label(k) for each.
  options: function (name, count, value, label) {
    var select = document.querySelector('select[name="' + name + '"]');
    for (var k = 0; k < count; ++k) select.add(new Option(label(k), value(k)));
  },
  // A number input's limits as a validity message, in the shown unit: fixed
  // (data-min, data-max) or the values of two other inputs of the form
  // (data-between="lowName highName", a setting within its own limits).
  check: function (input) {
    var message = '', min = Number(input.dataset.min), max = Number(input.dataset.max);
    if (input.dataset.between) {
      var names = input.dataset.between.split(' ');
      min = Number(input.form.elements[names[0]].value);
      max = Number(input.form.elements[names[1]].value);
    }
    if (input.dataset.min !== undefined || input.dataset.between) {
      var value = Number(input.value);
      if (input.value.trim() === '' || isNaN(value)) message = 'Enter a number.';
      else if (value < min || value > max) message = 'Enter a number from ' + min + ' to ' + max + '.';
    }
    input.setCustomValidity(message);
  },
  // Checkboxes, buttons, limits and the posting of every form on the page.
  bind: function () {
    document.querySelectorAll('[data-posts]').forEach(function (box) {
      box.onchange = function () { Card.set(box.dataset.posts, box.checked ? 1 : 0); };
    });
    document.querySelectorAll('[data-press]').forEach(function (button) {
      button.onclick = function () {
        Card.set(button.dataset.press, button.dataset.value || 1);
        button.form.requestSubmit();
      };
    });
    document.querySelectorAll('form input:not([type]), form input[type=text]').forEach(function (input) {
      if (!input.name) return;
      input.required = true;
      if (input.maxLength < 0) input.maxLength = Card.defaultFieldLength;
      input.oninput = function () { Card.check(input); };
    });
    document.querySelectorAll('[data-unit=wfs]').forEach(function (input) {
      var unit = document.querySelector('[data-unit-of="' + input.name + '"]');
      if (unit) unit.textContent = Card.metric() ? 'm/min' : 'in/min';
    });
    document.querySelectorAll('form[method=post]').forEach(function (form) {
      form.onsubmit = function (event) {
        event.preventDefault();
        Card.post(form);
      };
    });
  },
  // Posts the form as the module reads it (multipart) and shows the answer.
  // The machine answers "200 OK" either way: with the form's own page when
  // every setting was stored ("Saved"), or with an error page (400 when the
  // form could not be read or a setting not stored), whose words are shown.
  post: function (form) {
    if (form.dataset.confirm && !window.confirm(form.dataset.confirm)) return;
    form.querySelectorAll('input').forEach(Card.check);
    if (!form.reportValidity()) return;
    // A page's own last step before posting (fields that copy others).
    if (form.beforePost) form.beforePost();
    var body = new FormData(form);
    form.querySelectorAll('[data-unit]').forEach(function (input) {
      if (input.name) body.set(input.name, Card.posted(input));
    });
    Card.status('Saving...');
    fetch(form.getAttribute('action'), {method: 'POST', body: body}).then(function (answer) {
      return answer.text().then(function (text) {
        var page = new DOMParser().parseFromString(text, 'text/html');
        var own = Array.prototype.some.call(page.forms, function (other) {
          return other.getAttribute('action') === form.getAttribute('action');
        });
        if (answer.ok && own) {
          sessionStorage.setItem('card-saved', location.pathname);
          location.reload();
        } else {
          Card.status('Not saved. ' + Card.pageText(page) + ' Check the values and save again.', 'problem');
        }
      });
    }).catch(function (error) {
      Card.status('Not saved: the machine did not answer (' + error.message + ').', 'problem');
    });
  },
  // The heading and first paragraph of an answer page, as text.
  pageText: function (page) {
    return ['h1', 'p'].map(function (tag) {
      var element = page.querySelector(tag);
      return element ? element.textContent.trim().replace(/\.?$/, '.') : '';
    }).join(' ').trim();
  },

  // What an error number means, from the error list (when the page loaded
  // /ErrorList.js), or ''.
  errorName: function (number) {
    var list = Card.value('ErrorList');
    var k = list ? list.ID.indexOf(number) : -1;
    return k >= 0 ? list.Description[k] : '';
  },

  // ---- tables -------------------------------------------------------------
  // Fills a table body with rows of cells (texts and numbers, set as text).
  rows: function (tbody, rows) {
    tbody.textContent = '';
    rows.forEach(function (cells) {
      var row = tbody.insertRow();
      cells.forEach(function (cell) { row.insertCell().textContent = cell; });
    });
  },
  // A 32-bit address number as dotted text and back.
  dotted: function (number) {
    number = Math.floor(Number(number));
    return [24, 16, 8, 0].map(function (shift) { return Math.floor(number / Math.pow(2, shift)) % 256; }).join('.');
  },
  number: function (text) {
    return text.split('.').reduce(function (sum, part) { return sum * 256 + (Number(part) & 255); }, 0);
  },

  // ---- the frame around every page ----------------------------------------
  link: function (href, text, current) {
    var a = document.createElement('a');
    a.href = href;
    a.textContent = text;
    if (current) a.setAttribute('aria-current', 'page');
    return a;
  },
  frame: function () {
    var here = location.pathname === '/' ? '/index.html' : location.pathname;
    var header = document.createElement('header');
    header.className = 'card';
    header.appendChild(Card.link('/index.html', 'Quenta II')).className = 'brand';
    var areas = document.createElement('nav');
    areas.className = 'areas';
    areas.setAttribute('aria-label', 'Areas');
    var mine = null;
    Card.areas.forEach(function (area) {
      var inside = area.pages.some(function (page) { return page[0] === here; });
      if (inside) mine = area;
      areas.appendChild(Card.link(area.pages[0][0], area.name, inside));
    });
    header.appendChild(areas);
    var main = document.createElement('main');
    while (document.body.firstChild) main.appendChild(document.body.firstChild);
    document.body.appendChild(header);
    if (mine && mine.pages.length > 1) {
      var pages = document.createElement('nav');
      pages.className = 'pages';
      pages.setAttribute('aria-label', mine.name);
      mine.pages.forEach(function (page) { pages.appendChild(Card.link(page[0], page[1], page[0] === here)); });
      document.body.appendChild(pages);
    }
    document.body.appendChild(main);
    if (sessionStorage.getItem('card-saved') === location.pathname) {
      sessionStorage.removeItem('card-saved');
      var note = document.getElementById('status');
      if (note && !note.textContent) Card.status('Saved', 'saved');
    }
  }
};
document.write('<link rel="stylesheet" href="/assets/card.css">' +
               '<meta name="viewport" content="width=device-width, initial-scale=1">');
// Wire feed speeds follow the region's units on every page.
Card.load('/MetricEnableCheck.js');
document.addEventListener('DOMContentLoaded', Card.frame);
