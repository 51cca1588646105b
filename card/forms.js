// Shared by the setup pages. A page lists the data files it shows; when one of
// them did not load (the 404 page) or answered its UNAVAILABLE text, the page
// says so and offers no Save, so it never posts a value it could not load.
// Checkboxes and buttons post through hidden inputs: the module refuses a post
// that lacks a declared field, and an unticked box or an unpressed button
// sends nothing.
var Setup = {
  // The names whose variable is not an object.
  missing: function (names) {
    return names.filter(function (name) {
      var value = window[name];
      return typeof value !== 'object' || value === null;
    });
  },
  // True when every variable loaded; otherwise tells which did not and takes
  // every Save away.
  ready: function (names) {
    var gone = Setup.missing(names);
    Setup.bind();
    if (gone.length === 0) return true;
    var note = document.getElementById('status');
    note.textContent = 'Not available now: ' + gone.map(function (name) {
      return typeof window[name] === 'string' ? window[name] : name;
    }).join(', ') + '. Nothing can be saved from this page until it loads.';
    document.querySelectorAll('form input[type=submit], form button').forEach(function (button) {
      button.disabled = true;
      button.hidden = true;
    });
    document.querySelectorAll('form').forEach(function (form) {
      form.onsubmit = function () { return false; };
    });
    return false;
  },
  // Sets the input named `name` (and its checkbox, for a hidden input that
  // stands for one).
  set: function (name, value) {
    document.querySelectorAll('[name="' + name + '"]').forEach(function (input) { input.value = value; });
    document.querySelectorAll('[data-posts="' + name + '"]').forEach(function (box) { box.checked = Number(value) !== 0; });
  },
  // Each checkbox keeps its hidden input at 1 or 0; each button with
  // data-press sets its hidden input to data-value (default 1) and posts.
  bind: function () {
    document.querySelectorAll('[data-posts]').forEach(function (box) {
      box.onchange = function () { Setup.set(box.dataset.posts, box.checked ? 1 : 0); };
    });
    document.querySelectorAll('[data-press]').forEach(function (button) {
      button.onclick = function () {
        Setup.set(button.dataset.press, button.dataset.value || 1);
        button.form.submit();
      };
    });
  },
  // Fills a select with the items of a list: value(k) and label(k) for each.
  options: function (name, count, value, label) {
    var select = document.querySelector('select[name="' + name + '"]');
    for (var k = 0; k < count; ++k) select.add(new Option(label(k), value(k)));
  },
  // The page's query parameter, or the default.
  query: function (key, fallback) {
    var match = new RegExp('[?&]' + key + '=([^&]*)').exec(location.search);
    return match ? decodeURIComponent(match[1]) : fallback;
  },
  // A data file with a query, loaded in order with the page.
  load: function (path) { document.write('<script src="' + path + '"><\/script>'); },
  // A 32-bit address number as dotted text and back.
  dotted: function (number) {
    number = Math.floor(Number(number));
    return [24, 16, 8, 0].map(function (shift) { return Math.floor(number / Math.pow(2, shift)) % 256; }).join('.');
  },
  number: function (text) {
    return text.split('.').reduce(function (sum, part) { return sum * 256 + (Number(part) & 255); }, 0);
  }
};
