#!/usr/bin/python3
"""The card in a real browser (Debian's headless Chromium through Selenium)
against quenta-httpd and the machine simulator on a demo root on 127.0.0.1,
as a person uses it. Exits 1 when a check failed, saying which; with
--screenshots DIR it also writes the main pages as PNG files.
"""
import argparse
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select, WebDriverWait
except ImportError as error:
    sys.exit("card_test: python3-selenium is missing (%s); scripts/install-deps.sh installs it" % error)

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"

# A representative form of each area that has forms: the page, the field a
# person changes and the new value.
SAVES = [
    ("/setup/error_edit.min.html", "are_time", "2.75"),
    ("/arc_management/program_naming.min.html", "custom_description", "Brackets, cell 2"),
    ("/setup/jog_purge.min.html", "time", "1.25"),
    ("/arc_management/retract_sequence_adjust.min.html", "seq_time", "0.4"),
    # Port B of the demo takes its addresses from DHCP: fixed first, then one changed.
    ("/setup/ethernet.min.html", "iptype1", "0"),
    ("/setup/ethernet.min.html", "gatewayfourth1", "7"),
    ("/setup/welder_info.min.html", "user_location", "Bay 4, north wall"),
]
# Posts the machine refuses though the page cannot tell (a page left open while
# the weld file or stage it shows went away): page, field, the value the page
# is made to post. The machine answers with its 400 page.
STALE = [
    ("/arc_management/weld_file_setup.min.html", "selected_program", "99"),
    ("/arc_management/retract_sequence_adjust.min.html", "seq_id", "999"),
]
# Values a page must refuse before posting: page, field, value.
REFUSED = [
    ("/setup/error_edit.min.html", "are_time", "fast"),
    ("/setup/error_edit.min.html", "are_volts", "7000"),
    ("/arc_management/program_naming.min.html", "custom_name", ""),
    ("/arc_management/full_sequence_adjust.min.html", "amps", "9999"),
    ("/setup/data_connections.min.html", "ipaddressfourth", "256"),
    ("/setup/data_connections.min.html", "month", "13"),
]
# The screens the pages are made for: the machine's panel and a phone
# (width, height, whether it is a phone).
PANEL = (1024, 600, False)
PHONE = (390, 844, True)
SCREENSHOTS = [
    ("/index.html", "live-status.png", PANEL),
    ("/arc_management/full_sequence_adjust.min.html", "weld-stages.png", PANEL),
    ("/setup/error_edit.min.html", "arc-error-limits.png", PANEL),
    ("/logs.html", "logs.png", PANEL),
    ("/network.html", "network.png", PANEL),
    ("/setup/ethernet.min.html", "ethernet.png", PANEL),
    ("/setup/welder_info.min.html", "welder-and-clock.png", PANEL),
    ("/index.html", "live-status-phone.png", PHONE),
]


class Failed(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failed(message)


class Machine:
    """quenta-httpd and the simulator on a fresh demo root."""

    def __init__(self, args):
        self.root = tempfile.mkdtemp(prefix="card-test-")
        self.processes = []
        try:
            self.serve(args)
        except BaseException:
            self.stop()
            raise

    def serve(self, args):
        subprocess.run([args.machine, "--root", self.root, "init", "--demo", "--card", args.card],
                       check=True, stdout=subprocess.DEVNULL)
        self.start([args.machine, "--root", self.root, "status", "run", "--hz", "20"])
        self.start([args.machine, "--root", self.root, "mailbox", "drain", "--follow"])
        httpd = self.start([args.httpd, "--root", self.root, "--listen", "127.0.0.1:0",
                            "--access-log", os.path.join(self.root, "access.log")], stdout=subprocess.PIPE)
        deadline = time.time() + 20
        self.base = None
        while self.base is None and time.time() < deadline:
            line = httpd.stdout.readline().decode(errors="replace")
            check(line != "" or httpd.poll() is None, "quenta-httpd ended before it listened")
            found = re.search(r"listening on (http://127\.0\.0\.1:\d+)", line)
            if found:
                self.base = found.group(1)
        check(self.base is not None, "quenta-httpd did not say where it listens")

    def start(self, command, stdout=subprocess.DEVNULL):
        process = subprocess.Popen(command, stdout=stdout, stderr=subprocess.DEVNULL)
        self.processes.append(process)
        return process

    def stop(self):
        for process in self.processes:
            process.send_signal(signal.SIGTERM)
        for process in self.processes:
            try:
                process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                process.kill()
        shutil.rmtree(self.root, ignore_errors=True)


def browser():
    for path in (CHROMIUM, CHROMEDRIVER):
        check(os.access(path, os.X_OK), "%s is missing; scripts/install-deps.sh installs chromium and chromium-driver" % path)
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--window-size=1024,600", "--no-first-run", "--disable-extensions"):
        options.add_argument(flag)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    # The pages are seen as on the machine's panel unless a check says otherwise.
    screen(driver, PANEL)
    driver.set_page_load_timeout(30)
    return driver


def screen(driver, size):
    width, height, phone = size
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": phone})


class Card:
    def __init__(self, driver, base):
        self.driver = driver
        self.base = base

    def open(self, path):
        self.driver.get(self.base + path)
        WebDriverWait(self.driver, 10).until(
            lambda d: d.execute_script("return document.readyState === 'complete' && !!document.querySelector('header.card')"))

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def pages(self):
        return [page[0] for area in self.js("return Card.areas") for page in area["pages"]]

    def overflow(self, path):
        """Fails when the page is wider than the screen (it would scroll
        sideways as a whole), naming the widest element that sticks out."""
        wider = self.js("""var width = document.documentElement.clientWidth, worst = null;
            document.querySelectorAll('body *').forEach(function (e) {
              var right = e.getBoundingClientRect().right;
              if (right > width + 1 && (!worst || right > worst[1])) worst = [e.tagName + (e.name ? '[' + e.name + ']' : '') + (e.id ? '#' + e.id : ''), right];
            });
            return document.documentElement.scrollWidth > width ? [document.documentElement.scrollWidth - width, worst] : null""")
        check(wider is None, "%s: %s px wider than the %s px screen (%r sticks out)" % (
            path, wider and wider[0], self.js("return document.documentElement.clientWidth"), wider and wider[1]))

    def errors(self):
        return [entry["message"] for entry in self.driver.get_log("browser") if entry["level"] == "SEVERE"]

    def status(self):
        return self.js("return document.getElementById('status') ? document.getElementById('status').textContent : ''")

    def value(self, name):
        return self.js("return document.querySelector('[name=\"' + arguments[0] + '\"]').value", name)

    def type(self, name, text):
        field = self.driver.find_element(By.NAME, name)
        if field.tag_name == "select":
            Select(field).select_by_value(text)
            return
        field.clear()
        field.send_keys(text)

    def save(self):
        self.driver.find_element(By.CSS_SELECTOR, "form[method=post] [type=submit]").click()

    def wait_status(self, pattern):
        try:
            WebDriverWait(self.driver, 10).until(lambda d: re.search(pattern, self.status()))
        except Exception:
            raise Failed("status '%s' where '%s' was expected" % (self.status(), pattern))


def live_values_move(card, tables):
    card.open("/index.html")
    seen = set()
    deadline = time.time() + 20
    while time.time() < deadline and (len(seen) < 3 or card.js("return Live.samples.length") < 5):
        seen.add((card.js("return document.getElementById('sequence').textContent"),
                  card.js("return document.getElementById('current_actual').textContent")))
        time.sleep(0.4)
    check(len(seen) >= 3, "the live values did not move (saw %r)" % seen)
    check(card.js("return Live.samples.length") >= 5, "the chart holds too few samples")
    check(not re.search(r"No data", card.status()), "the start page says it has no data")


def every_page_opens(card, tables):
    posted = set()
    for path in card.pages():
        card.open(path)
        card.overflow(path)
        text = card.js("return document.body.innerText")
        errors = card.errors()
        check(not errors, "%s: console errors %s" % (path, errors))
        check("UNAVAILABLE" not in text and "Not available" not in text, "%s: %s" % (path, card.status()))
        for form in card.js("""return Array.from(document.querySelectorAll('form[method=post]')).map(function (f) {
                 return {action: f.getAttribute('action'), names: Array.from(new FormData(f).keys()),
                         lengths: Array.from(f.querySelectorAll('input[name]:not([type=hidden]):not([type=checkbox])')).map(function (i) {
                           return [i.name, i.maxLength]; })}; })"""):
            declared = tables["forms"].get(form["action"])
            check(declared is not None, "%s posts to %s, which the module does not serve" % (path, form["action"]))
            check(sorted(form["names"]) == sorted(declared),
                  "%s: posts %s, the module declares %s" % (path, sorted(form["names"]), sorted(declared)))
            for name, length in form["lengths"]:
                check(length == declared[name], "%s: %s takes %s characters, the module %s" % (path, name, length, declared[name]))
            posted.add(form["action"])
    missing = sorted(set(tables["forms"]) - posted)
    check(not missing, "forms the navigation does not reach: %s" % missing)
    card.open("/datafiles.html")
    listed = card.js("return dataFiles")
    registry = list(dict.fromkeys(tables["dataFiles"]))
    check(all(path in listed for path in registry), "data files missing from the data file page: %s" %
          [path for path in registry if path not in listed])


def pages_fit_a_phone(card, tables):
    screen(card.driver, PHONE)
    try:
        for path in card.pages():
            card.open(path)
            card.overflow(path)
    finally:
        screen(card.driver, PANEL)


def saved_values_stay(card, tables):
    for path, name, value in SAVES:
        card.open(path)
        card.type(name, value)
        card.save()
        card.wait_status(r"^Saved$")
        card.open(path)
        check(float(card.value(name)) == float(value) if re.match(r"^[\d.]+$", value) else card.value(name) == value,
              "%s: %s shows %r after saving %r" % (path, name, card.value(name), value))


def bad_values_refused(card, tables):
    for path, name, value in REFUSED:
        card.open(path)
        before = card.value(name)
        card.type(name, value)
        card.save()
        message = card.js("return document.querySelector('[name=\"' + arguments[0] + '\"]').validationMessage", name)
        check(message != "", "%s: %s=%r was not refused" % (path, name, value))
        card.open(path)
        check(card.value(name) == before, "%s: %s changed to %r though refused" % (path, name, card.value(name)))
    for path, name, value in STALE:
        card.open(path)
        card.js("var f = document.querySelector('[name=\"' + arguments[0] + '\"]');"
                "if (f.tagName === 'SELECT') f.add(new Option(arguments[1], arguments[1])); f.value = arguments[1];", name, value)
        card.save()
        card.wait_status(r"^Not saved\. 400 Bad Request\. The form could not be read")


def log_lists_the_save(card, tables):
    # The arc error limits save wrote parameter 390 (the arc error time).
    deadline = time.time() + 10
    newest = []
    while time.time() < deadline:
        card.open("/logs.html")
        newest = card.js("return Array.from(document.querySelectorAll('#rows tr')).slice(0, 30).map(r => r.innerText)")
        if any("Parameter 390 changed from the web page" in row for row in newest):
            return
        time.sleep(0.5)
    raise Failed("the system log does not list the save; newest entries %r" % newest[:5])


CHECKS = [live_values_move, every_page_opens, pages_fit_a_phone, saved_values_stay, bad_values_refused, log_lists_the_save]


def screenshots(card, folder):
    os.makedirs(folder, exist_ok=True)
    for path, name, size in SCREENSHOTS:
        screen(card.driver, size)
        card.open(path)
        time.sleep(15 if path == "/index.html" else 0.5)
        card.driver.save_screenshot(os.path.join(folder, name))
    screen(card.driver, PANEL)


def main():
    parser = argparse.ArgumentParser()
    for option in ("--httpd", "--machine", "--tables", "--card"):
        parser.add_argument(option, required=True)
    parser.add_argument("--screenshots")
    args = parser.parse_args()
    # The module's debug lines go to stderr; shown only when the tables could not be made.
    made = subprocess.run([args.tables], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if made.returncode != 0:
        sys.exit("card_test: %s failed:\n%s" % (args.tables, made.stderr.decode(errors="replace")[-2000:]))
    tables = json.loads(made.stdout)
    machine = Machine(args)
    driver = None
    failed = 0
    try:
        driver = browser()
        card = Card(driver, machine.base)
        for test in CHECKS:
            started = time.time()
            try:
                test(card, tables)
                print("ok   %s (%.1f s)" % (test.__name__, time.time() - started))
            except Failed as failure:
                failed += 1
                print("FAIL %s: %s" % (test.__name__, failure))
        if args.screenshots:
            screenshots(card, args.screenshots)
    finally:
        if driver is not None:
            driver.quit()
        machine.stop()
    print("browser: %d of %d checks failed" % (failed, len(CHECKS)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
