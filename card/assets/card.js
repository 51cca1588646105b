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
    {name: 'Network', pages: [
      ['/network.html', 'Connections'],
      ['/setup/ethernet.min.html', 'Ethernet port B'],
      ['/setup/wifi.min.html', 'Wi-Fi'],
      ['/setup/data_connections.min.html', 'Data connections'],
      ['/setup/alt_config.min.html', 'Alternate configuration']]},
    {name: 'Logs', pages: [
      ['/logs.html', 'Logs'],
      ['/totals.html', 'Totals'],
      ['/software.html', 'Software and errors'],
      ['/datafiles.html', 'Data files']]},
    {name: 'Welder', pages: [
      ['/welder.html', 'Welder information'],
      ['/setup/welder_info.min.html', 'Asset, service and clock']]}
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
  // data-fits: the most characters the machine keeps of a text field whose
  // declared length is longer (a longer text would be stored empty).
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
    if (input.dataset.fits && input.value.length > Number(input.dataset.fits)) {
      message = 'Enter at most ' + input.dataset.fits + ' characters.';
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
      input.required = input.dataset.optional === undefined;
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
    // A page's own checks of several fields together (after the fields' own).
    if (form.extraCheck) form.extraCheck();
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

  // ---- several forms on one page -------------------------------------------
  // Adds to `form`, as hidden inputs, every field of `from` it lacks, with
  // its value now: the module refuses a post without any declared field,
  // and a page that posts one form in parts (a submit flag each) sends the
  // other parts' fields along unread.
  carry: function (form, from) {
    Array.prototype.forEach.call(from.elements, function (field) {
      if (!field.name || form.elements[field.name]) return;
      var hidden = document.createElement('input');
      hidden.type = 'hidden';
      hidden.name = field.name;
      hidden.value = field.value;
      form.appendChild(hidden);
    });
  },

  // ---- addresses and the clock ------------------------------------------------
  ordinals: ['first', 'second', 'third', 'fourth'],
  // An adapter's addresses in the order of the network files and forms: the
  // octet inputs' prefix and what a person calls it.
  adapterAddresses: [['ipaddress', 'IP address'], ['subnetmask', 'Subnet mask'], ['gateway', 'Gateway'], ['dns', 'DNS server']],
  // The clock inputs the module reads, with the values it takes: the date
  // and the time, each a group that starts with its word.
  clockFields: [
    {name: 'year', min: 2000, max: 3000, size: 4, label: 'Year', starts: 'Date'},
    {name: 'month', min: 1, max: 12, size: 2, label: 'Month', before: ' - '},
    {name: 'day', min: 1, max: 31, size: 2, label: 'Day', before: ' - '},
    {name: 'hour', min: 0, max: 23, size: 2, label: 'Hour', starts: 'Time'},
    {name: 'minute', min: 0, max: 59, size: 2, label: 'Minute', before: ' : '}],
  // A number input with fixed limits.
  numberInput: function (holder, name, min, max, size, label, length) {
    var input = document.createElement('input');
    input.name = name;
    input.size = size;
    input.inputMode = 'numeric';
    input.dataset.min = min;
    input.dataset.max = max;
    input.setAttribute('aria-label', label);
    if (length) input.maxLength = length;
    holder.appendChild(input);
  },
  // Builds the repeated inputs a page marks, before Card.ready binds them:
  // <div data-adapter> gets the DHCP choice ("iptype1") and the adapter's
  // four addresses (suffix "1", data-length each); <span data-address="prefix"> gets the four octet inputs the module reads
  // ("<prefix>first<suffix>" to "<prefix>fourth<suffix>", from data-suffix),
  // each 0 to 255 and as long as data-length says; <span data-clock> the
  // date, the time and a field to name a new zone.
  expand: function () {
    document.querySelectorAll('[data-adapter]').forEach(function (div) {
      var choice = div.appendChild(document.createElement('p')).appendChild(document.createElement('label'));
      choice.textContent = 'Addresses ';
      var select = choice.appendChild(document.createElement('select'));
      select.name = 'iptype1';
      select.add(new Option('from a DHCP server', '1'));
      select.add(new Option('fixed, as below', '0'));
      Card.adapterAddresses.forEach(function (address) {
        var row = div.appendChild(document.createElement('p'));
        row.appendChild(document.createElement('label')).textContent = address[1];
        row.appendChild(document.createTextNode(' '));
        var span = row.appendChild(document.createElement('span'));
        span.dataset.address = address[0];
        span.dataset.suffix = '1';
        span.dataset.length = div.dataset.length;
        span.dataset.label = address[1];
      });
    });
    document.querySelectorAll('[data-address]').forEach(function (span) {
      Card.ordinals.forEach(function (ordinal, k) {
        if (k > 0) span.appendChild(document.createTextNode(' . '));
        Card.numberInput(span, span.dataset.address + ordinal + (span.dataset.suffix || ''), 0, 255, 3,
                         span.dataset.label + ', part ' + (k + 1), Number(span.dataset.length));
      });
    });
    document.querySelectorAll('[data-clock]').forEach(function (span) {
      var group = null;
      Card.clockFields.forEach(function (field) {
        if (field.starts) {
          group = span.appendChild(document.createElement('span'));
          group.className = 'group';
          group.textContent = field.starts + ' ';
        } else {
          group.appendChild(document.createTextNode(field.before));
        }
        Card.numberInput(group, field.name, field.min, field.max, field.size, field.label);
      });
      var zone = document.createElement('p'), label = document.createElement('label');
      label.textContent = 'New time zone ';
      var input = document.createElement('input');
      input.name = 'tzlist';
      input.size = 32;
      input.maxLength = 32;
      input.minLength = 3;
      input.dataset.optional = '';
      input.placeholder = 'empty: keep the zone';
      label.appendChild(input);
      zone.appendChild(label);
      var note = document.createElement('p');
      note.textContent = 'A zone is named as the machine lists it, for example "W. Europe Standard Time"; ' +
                         'the date and time are then read as that zone\'s.';
      span.parentNode.after(zone, note);
    });
  },
  // Shows a dotted address in the octet inputs of a prefix (nothing for a
  // text that is not four parts).
  setAddress: function (prefix, suffix, dotted) {
    var parts = String(dotted).split('.');
    if (parts.length !== 4) return;
    Card.ordinals.forEach(function (ordinal, k) { Card.set(prefix + ordinal + suffix, parts[k]); });
  },
  // An adapter's DHCP choice and addresses from a network file's elements,
  // from `at` on (DHCP flag, address, mask, gateway, DNS), in the form's
  // "iptype1" select and octet inputs (suffix "1"). With DHCP on, the octets
  // show what the server gave and cannot be edited: they are posted as shown
  // and not read.
  adapter: function (form, values, at) {
    Card.set('iptype1', String(values[at]) === '1' ? 1 : 0);
    Card.adapterAddresses.forEach(function (address, k) { Card.setAddress(address[0], '1', values[at + 1 + k]); });
    function shown() {
      var dhcp = form.elements.iptype1.value === '1';
      form.querySelectorAll('[data-address] input').forEach(function (input) { input.readOnly = dhcp; });
    }
    form.elements.iptype1.addEventListener('change', shown);
    shown();
  },
  // The device clock (from /CurrentTime.js) in a form's year to minute
  // inputs. Inputs nobody edited are moved on by the time the page has been
  // open when the form is posted, so saving never sets the clock back; a
  // date that does not exist is refused.
  clock: function (form) {
    var t = CurrentTime, opened = Date.now(), edited = false;
    var shown = Date.UTC(t.Year, t.Month - 1, t.Date, t.Hours, t.Minutes, t.Seconds);
    function fill(at) {
      var d = new Date(at);
      [d.getUTCFullYear(), d.getUTCMonth() + 1, d.getUTCDate(), d.getUTCHours(), d.getUTCMinutes()].forEach(function (value, k) {
        form.elements[Card.clockFields[k].name].value = k > 2 && value < 10 ? '0' + value : value;
      });
    }
    fill(shown);
    Card.clockFields.forEach(function (field) {
      form.elements[field.name].addEventListener('input', function () { edited = true; });
    });
    form.extraCheck = function () {
      if (!edited) fill(shown + Date.now() - opened);
      var day = form.elements.day, y = Number(form.elements.year.value), m = Number(form.elements.month.value);
      if (day.validationMessage === '' && new Date(Date.UTC(y, m - 1, Number(day.value))).getUTCMonth() !== m - 1) {
        day.setCustomValidity('That month has no day ' + day.value + '.');
      }
    };
  },
  // A zone's name with its offset from UTC ("Eastern Standard Time, UTC-05:00").
  zoneText: function (t) {
    var east = -Number(t.ZoneBias), hours = Math.floor(Math.abs(east) / 60), minutes = Math.abs(east) % 60;
    return t.ZoneName + ', UTC' + (east < 0 ? '-' : '+') + (hours < 10 ? '0' : '') + hours + ':' +
           (minutes < 10 ? '0' : '') + minutes;
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
    // A table wider than the screen scrolls within itself, never the page.
    main.querySelectorAll('table').forEach(function (table) {
      var scroller = document.createElement('div');
      scroller.className = 'scroller';
      table.parentNode.insertBefore(scroller, table);
      scroller.appendChild(table);
    });
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
