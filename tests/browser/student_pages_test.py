#!/usr/bin/python3
"""The student pages in headless Chromium against a real tallyport-server on loopback, at phone
size (360 x 740, touch) and desktop size (1280 x 720): register (a refused field with the desktop
dialog's text, on the page and from the server), log in, submit an entry of every requirement kind
(a refused file with the client's message), serial and receipt, and each upload read back and
compared byte for byte with the package the desktop writer (package_probe) makes of the same
files; exam download; another student's serial refused. Then a marking saved and released through
the staff API is drawn on the student page cell for cell as the desktop View draws it
(view_marked_probe), and not shown before its release. Run by ctest (browser.student_pages)."""
import argparse
import base64
import hashlib
import http.cookiejar
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import urllib.error
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from marking_page_test import STUDENT_PORT, Server, check, failures  # noqa: E402

HOST = '127.0.0.48'  # our own loopback address: runs beside the marking page's test
ADMIN, ADMIN_PASSWORD = 'webadmin', 'student-pages-admin-1'
SIZES = {'phone': (360, 740), 'desktop': (1280, 720)}
# Each size in another time zone: the deadline 2099-12-31T23:59Z as the student there reads it.
ZONES = {'phone': ('America/Toronto', '6:59'), 'desktop': ('Europe/Oslo', '12:59')}
SX, SY = 0.93, 1.6
TEXT_RATIO = SX / SY
BASELINE = 0.8 * 16 / SX

TYPES = 'C Source,c,F,4/Header,h,F,4/Text,txt,A,8/Data,dat,B,8'
COURSE_TOML = f'''
number = 3102
name = "Web Submission"

[[component]]
name = "Assignment"
elements = 4
sections = 1
kind = "A"
max_mark = 10
types = "{TYPES}"
deadline = 2099-12-31T23:59:00Z

  [[component.entry]]
  label = "Assignment 1"
  requirement = "F,c"

  [[component.entry]]
  label = "Assignment 2"
  requirement = "M,c,h,txt,dat"
  size_limited = true

  [[component.entry]]
  label = "Assignment 3"
  requirement = "S,main.c,list.h"

  [[component.entry]]
  label = "Assignment 4"
  requirement = "D"

[[component]]
name = "Lab"
elements = 1
sections = 1
kind = "E"
max_mark = 5
types = "Text,txt,A,8"
requirement = "M,txt"
deadline = 2099-12-31T23:59:00Z

  [[component.entry]]
  label = "Lab 1"
  exam_files = [ {{ name = "question.txt", text = "Lab 1\\r\\nAdd the numbers.\\r\\n" }} ]
'''

# Files on disk, as a student would have them.
FILES = {
    'prog.c': b'int main(void)\n{\n\treturn 0;\n}',
    'prog.exe': b'MZ\x90\x00',
    'main.c': b'#include "list.h"\r\nint main() { return 0; }\r\n',
    'data.dat': bytes([0, 1, 2, 255, 13, 10, 26]),
    'big.dat': bytes(1048576),
    'helper.c': b'/* the main file, under another name */\nint main() {}\n',
    'LIST.H': b'struct list;\r',
    'project/src/a.c': b'int a;\n',
    'project/b.h': b'int b(void);\n',
    'project/notes.txt': b'read me\r\n',
    'project/skip.exe': b'no',
    'project/sub/data.dat': b'\x00\x01',
}


def prepare(binary, folder):
    def run(db):
        course = os.path.join(folder, 'course.toml')
        with open(course, 'w') as out:
            out.write(COURSE_TOML)
        subprocess.run([binary, 'course', 'load', '--db', db, course], check=True, stdout=subprocess.DEVNULL)
        subprocess.run([binary, 'marker', 'add', '--db', db, '--id', ADMIN, '--name', 'Wendy Admin', '--info',
                        'Room 12', '--course', '3101', '--course', '3102', '--admin'], check=True, stdout=subprocess.DEVNULL)
        subprocess.run([binary, 'marker', 'passwd', '--db', db, '--id', ADMIN], input=ADMIN_PASSWORD + '\n',
                       text=True, check=True, stdout=subprocess.DEVNULL)
    return run


def browser(size):
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for flag in ('--headless', '--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
                 '--disable-component-update', '--disable-sync'):
        options.add_argument(flag)
    width, height = SIZES[size]
    if size == 'phone':
        options.add_experimental_option('mobileEmulation', {
            'deviceMetrics': {'width': width, 'height': height, 'pixelRatio': 2, 'touch': True}})
    else:
        options.add_argument(f'--window-size={width},{height}')
    options.add_argument('--user-data-dir=' + tempfile.mkdtemp(prefix='tallyport-chromium-'))
    options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
    service = Service('/usr/bin/chromedriver', env={**os.environ, 'TZ': ZONES[size][0]})
    driver = webdriver.Chrome(service=service, options=options)
    if size == 'desktop':
        driver.set_window_size(width, height)
    return driver


def ready(driver, page):
    """The page has loaded and finished its start-up (read in one script: no stale element when a
    navigation replaces the document meanwhile)."""
    WebDriverWait(driver, 15).until(lambda d: d.execute_script(
        'return location.pathname === arguments[0] && document.body && document.body.dataset.ready', page))


def fetch(driver, method, path, body=None):
    """A request from the page itself (its cookie and CSRF token): [status, body, headers]."""
    return driver.execute_async_script('''
        const [method, path, body, done] = arguments;
        const headers = {'X-CSRF-Token': sessionStorage.getItem('studentCsrfToken') || ''};
        if (body !== null) headers['Content-Type'] = 'application/json';
        fetch(path, {method, headers, body: body === null ? undefined : JSON.stringify(body)})
          .then(async r => done([r.status, await r.text(), r.headers.get('Content-Disposition')]));''',
        method, path, body)


class Staff:
    """The staff API as the admin marker, with its cookie and CSRF token."""
    def __init__(self, url):
        self.url = url
        self.opener = urllib.request.build_opener(urllib.request.HTTPCookieProcessor(http.cookiejar.CookieJar()))
        self.token = ''
        self.token = self.call('POST', '/api/login', {'id': ADMIN, 'password': ADMIN_PASSWORD})['csrfToken']

    def call(self, method, path, body=None):
        request = urllib.request.Request(self.url + path, method=method,
                                         data=None if body is None else json.dumps(body).encode(),
                                         headers={'Content-Type': 'application/json', 'X-CSRF-Token': self.token,
                                                  'Origin': self.url})
        with self.opener.open(request) as reply:
            return json.loads(reply.read() or b'null')


def desktop_package(args, requirement, folder, names):
    return subprocess.run([args.package_probe, TYPES, requirement, folder] + names, check=True,
                          capture_output=True, timeout=30).stdout


def stored_package(staff, serial):
    """The stored submission, read back through the staff API and laid out as a package."""
    submission = staff.call('GET', f'/api/submissions/{serial}')
    out = b'Number of Files: %d\r\n' % len(submission['files'])
    for number, f in enumerate(submission['files'], 1):
        content = base64.b64decode(f['content'])
        out += b'-' * 80 + b'\r\n' + b'File #%d: %s,%s,%d,%d\r\n' % (
            number, f['name'].encode('cp1252'), f['kind'].encode(), f['tabWidth'], len(content)) + content + b'EOF\r\n'
    return out


def message_of(panel):
    box = panel.find_element(By.CSS_SELECTOR, '.message')
    return box.get_attribute('textContent') if box.is_displayed() else ''


def open_panel(driver, key):
    card = driver.find_element(By.ID, f'entry-{key}')
    button = card.find_element(By.CSS_SELECTOR, '.submit-open')
    driver.execute_script('arguments[0].scrollIntoView()', button)
    button.click()
    return WebDriverWait(driver, 10).until(lambda d: card.find_element(By.CSS_SELECTOR, '.submit-panel'))


def choose(panel, paths, slot=0):
    panel.find_element(By.CSS_SELECTOR, f'input[id$="-input-{slot}"]').send_keys('\n'.join(paths))


def wait_loaded(driver, panel, count):
    """Files are read asynchronously: wait until `count` of them are listed."""
    WebDriverWait(driver, 10).until(lambda d: len(panel.find_elements(By.CSS_SELECTOR, '.chosen li.slot:not(.empty)')) == count)


def wait_message(driver, panel):
    WebDriverWait(driver, 10).until(lambda d: message_of(panel))
    return message_of(panel)


def submit_and_receipt(driver, panel):
    WebDriverWait(driver, 10).until(lambda d: panel.find_element(By.CSS_SELECTOR, '.send button').is_enabled())
    driver.execute_script('document.getElementById("receipt-area").replaceChildren()')
    panel.find_element(By.CSS_SELECTOR, '.send button').click()
    receipt = WebDriverWait(driver, 20).until(lambda d: d.find_element(By.CSS_SELECTOR, '#receipt-area .receipt'))
    serial = int(receipt.find_element(By.CLASS_NAME, 'serial-number').text)
    rows = [[td.text for td in tr.find_elements(By.TAG_NAME, 'td')] for tr in receipt.find_elements(By.CSS_SELECTOR, 'tbody tr')]
    return serial, rows, receipt


def check_upload(args, staff, what, serial, rows, expected):
    """The stored package is the desktop writer's, and the receipt names every file with its size
    and digest."""
    got = stored_package(staff, serial)
    check(got == expected, f'{what}: the stored package is byte for byte the desktop writer\'s ({len(got)} vs {len(expected)} bytes)')
    files = staff.call('GET', f'/api/submissions/{serial}')['files']
    receipt = [[f['name'], f'{len(base64.b64decode(f["content"])):,}',
                hashlib.sha256(base64.b64decode(f['content'])).hexdigest()] for f in files]
    shown = [[r[0], r[1], r[2].split(' ')[0]] for r in rows]
    check(shown == receipt, f'{what}: the receipt lists each file, size and SHA-256: {shown}')
    check(all('matches what your browser sent' in r[2] for r in rows), f'{what}: each digest matches what the browser sent')


def unlabelled(driver):
    """Controls without an accessible name: no label, no aria-label, no text."""
    return driver.execute_script('''return [...document.querySelectorAll('input, select, button, a[href]')]
        .filter(e => !(e.labels && e.labels.length) && !e.getAttribute('aria-label') && !e.textContent.trim()
                     && e.getAttribute('aria-hidden') !== 'true')
        .map(e => e.outerHTML.slice(0, 80));''')


def register_and_log_in(driver, url, number, shots, size):
    driver.get(url + '/student.html')
    ready(driver, '/student.html')
    check(not unlabelled(driver), f'{size}: every control of the login page has a name for screen readers: {unlabelled(driver)}')
    driver.find_element(By.ID, 'show-register').click()
    Select(driver.find_element(By.ID, 'register-course')).select_by_value('3102')
    fields = {'register-student': number, 'register-password': '  pass123 ', 'register-retype': 'pass123',
              'register-name': 'Lee, Ann', 'register-email': 'ann@example.edu'}
    for field, value in fields.items():
        driver.find_element(By.ID, field).send_keys(value)
    driver.find_element(By.ID, 'register-button').click()
    error = driver.find_element(By.ID, 'register-error').text
    check(error == 'Name must not contain any commas (,)', f'{size}: the page refuses a comma in the name as the desktop does: {error!r}')
    check(driver.switch_to.active_element.get_attribute('id') == 'register-name', f'{size}: the refused field has the focus')
    answer = fetch(driver, 'POST', '/api/student/register', {'course': 3102, 'student': number, 'password': 'pass123',
                                                               'name': 'Lee, Ann', 'email': 'a@b', 'questionnaire': '002'})
    body = json.loads(answer[1])
    check(answer[0] == 422 and body == {'error': 'Name must not contain any commas (,)', 'field': 'name'},
          f'{size}: the server refuses it with the same text: {answer[:2]}')
    if shots:
        driver.save_screenshot(os.path.join(shots, f'student-register-{size}.png'))
    driver.find_element(By.ID, 'register-name').clear()
    driver.find_element(By.ID, 'register-name').send_keys('Ann Lee')
    driver.find_element(By.ID, 'register-button').click()
    ready(driver, '/student-course.html')
    check('Ann Lee' in driver.find_element(By.ID, 'who').text, f'{size}: registering logs the student in')
    # Log out and in again with the trimmed password.
    driver.find_element(By.ID, 'logout').click()
    ready(driver, '/student.html')
    Select(driver.find_element(By.ID, 'login-course')).select_by_value('3102')
    driver.find_element(By.ID, 'login-student').send_keys(number)
    driver.find_element(By.ID, 'login-password').send_keys('pass123')
    driver.find_element(By.ID, 'login-button').click()
    ready(driver, '/student-course.html')


def update_details(driver, url, number, size):
    """A wrong current password is refused at its field; a new password, name and e-mail are saved
    and the new password opens the account."""
    driver.get(url + '/student.html')
    ready(driver, '/student.html')
    fields = {'update-current': 'wrong1', 'update-password': 'pass456', 'update-retype': 'pass456'}
    for field, value in fields.items():
        driver.find_element(By.ID, field).send_keys(value)
    driver.find_element(By.ID, 'update-button').click()
    WebDriverWait(driver, 10).until(lambda d: d.find_element(By.ID, 'update-error').is_displayed())
    check(driver.switch_to.active_element.get_attribute('id') == 'update-current',
          f'{size}: a wrong current password is refused at its field: {driver.find_element(By.ID, "update-error").text!r}')
    driver.find_element(By.ID, 'update-current').clear()
    driver.find_element(By.ID, 'update-current').send_keys('pass123')
    driver.find_element(By.ID, 'update-name').clear()
    driver.find_element(By.ID, 'update-name').send_keys('Ann B. Lee')
    driver.find_element(By.ID, 'update-button').click()
    WebDriverWait(driver, 10).until(lambda d: 'saved' in d.find_element(By.ID, 'status').text)
    check('Ann B. Lee' in driver.find_element(By.ID, 'who').text, f'{size}: the new name is shown')
    driver.execute_script('delete document.body.dataset.ready')  # logging out opens this page again
    driver.find_element(By.ID, 'logout').click()
    ready(driver, '/student.html')
    Select(driver.find_element(By.ID, 'login-course')).select_by_value('3102')
    driver.find_element(By.ID, 'login-student').send_keys(number)
    driver.find_element(By.ID, 'login-password').send_keys('pass456')
    driver.find_element(By.ID, 'login-button').click()
    ready(driver, '/student-course.html')
    check('Ann B. Lee' in driver.find_element(By.ID, 'who').text, f'{size}: the new password opens the account')


def student_run(args, url, size, number, disk):
    driver = browser(size)
    shots = args.screenshots
    staff = Staff(url)
    serials = []
    try:
        register_and_log_in(driver, url, number, shots, size)
        width = driver.execute_script('return [document.documentElement.scrollWidth, innerWidth]')
        check(width[0] <= width[1], f'{size}: the course page fits the width without scrolling sideways: {width}')
        zoomed = driver.execute_script('''document.documentElement.style.zoom = 2;
            const fits = document.documentElement.scrollWidth <= innerWidth;
            document.documentElement.style.zoom = ''; return fits;''')
        check(zoomed, f'{size}: at 200 % zoom the course page still fits the width')
        names = driver.execute_script('return [...document.querySelectorAll(".entry-card h2")].map(h => h.firstChild.textContent)')
        check(names == ['Assignment 1', 'Assignment 2', 'Assignment 3', 'Assignment 4', 'Lab 1'],
              f'{size}: every entry is listed by the name the desktop client gives it: {names}')
        zone = driver.find_element(By.ID, 'zone').text
        deadline = driver.find_element(By.CSS_SELECTOR, '#entry-assignment-1 .dates dd:nth-of-type(2)').text
        check(ZONES[size][0] in zone and ZONES[size][1] in deadline and ZONES[size][0] in deadline,
              f'{size}: the deadline in the browser\'s zone, named: {zone!r}, {deadline!r}')

        # One file: a refused extension first, in the client's words.
        panel = open_panel(driver, 'assignment-1')
        choose(panel, [os.path.join(disk, 'prog.exe')])
        check(wait_message(driver, panel) == 'You are not permitted to submit files with the\nextension for file prog.exe',
              f'{size}: a refused file gets the client\'s message: {message_of(panel)!r}')
        choose(panel, [os.path.join(disk, 'prog.c')])
        wait_loaded(driver, panel, 1)
        if shots:
            driver.save_screenshot(os.path.join(shots, f'student-submit-{size}.png'))
        check(not unlabelled(driver), f'{size}: every control of the course page and its submit panel has a name for screen readers: {unlabelled(driver)}')
        # The connection lost during the upload: the page says so, and nothing is stored.
        driver.execute_cdp_cmd('Network.enable', {})
        offline = {'offline': True, 'latency': 0, 'downloadThroughput': -1, 'uploadThroughput': -1}
        driver.execute_cdp_cmd('Network.emulateNetworkConditions', offline)
        panel.find_element(By.CSS_SELECTOR, '.send button').click()
        WebDriverWait(driver, 10).until(lambda d: message_of(panel))
        driver.execute_cdp_cmd('Network.emulateNetworkConditions', {**offline, 'offline': False})
        driver.execute_cdp_cmd('Network.disable', {})
        stored = [e['submissions'] for e in json.loads(fetch(driver, 'GET', '/api/student/course')[1])['entries']
                  if e['key'] == 'assignment-1'][0]
        check(message_of(panel).startswith('Not submitted: The upload was cut off before the server stored it: nothing was stored.')
              and stored == [], f'{size}: a lost connection is reported and nothing is stored: {message_of(panel)!r}, {stored}')
        serial, rows, _ = submit_and_receipt(driver, panel)
        check_upload(args, staff, f'{size} single file', serial, rows, desktop_package(args, 'F,c', disk, ['prog.c']))
        if shots:
            driver.save_screenshot(os.path.join(shots, f'student-receipt-{size}.png'))
        serials.append(serial)

        # Any files: two chosen at once, the text file's tab width changed to 2.
        panel = open_panel(driver, 'assignment-2')
        # Over the size limit with its headers: refused before anything is sent, as the client does.
        choose(panel, [os.path.join(disk, 'big.dat')])
        wait_loaded(driver, panel, 1)
        panel.find_element(By.CSS_SELECTOR, '.send button').click()
        check(message_of(panel) == 'The file(s) your are submitting are too large.\nThe maximum allowed total size is 1048576.\n'
              'Please confirm you are only submitting the correct files.', f'{size}: the size limit in the client\'s words: {message_of(panel)!r}')
        panel.find_element(By.CSS_SELECTOR, '.chosen button[aria-label="Remove big.dat"]').click()
        choose(panel, [os.path.join(disk, 'main.c'), os.path.join(disk, 'data.dat')])
        wait_loaded(driver, panel, 2)
        tab = panel.find_element(By.CSS_SELECTOR, 'input[type=number]')
        tab.clear()
        tab.send_keys('2\t')
        serial, rows, _ = submit_and_receipt(driver, panel)
        expected = desktop_package(args, 'M,c,h,txt,dat', disk, ['main.c', 'data.dat']).replace(b'main.c,F,4,', b'main.c,F,2,')
        check_upload(args, staff, f'{size} any files, tab width 2', serial, rows, expected)

        # Named files: the rename question for a wrong name, the missing-file refusal, a name in
        # another case taken without a question.
        panel = open_panel(driver, 'assignment-3')
        choose(panel, [os.path.join(disk, 'helper.c')], 0)
        alert = WebDriverWait(driver, 5).until(lambda d: d.switch_to.alert)
        check(alert.text.replace('\r', '') == "You specified a file with an incorrect name.\nDo you want to rename it as main.c "
              "when submitting?\nNOTE:  You probably don't want to do this!", f'{size}: the rename question: {alert.text!r}')
        alert.accept()
        wait_loaded(driver, panel, 1)
        panel.find_element(By.CSS_SELECTOR, '.send button').click()
        check(wait_message(driver, panel) == "You haven't loaded one of the required files.", f'{size}: a missing named file is refused')
        choose(panel, [os.path.join(disk, 'LIST.H')], 1)
        wait_loaded(driver, panel, 2)
        serial, rows, _ = submit_and_receipt(driver, panel)
        check_upload(args, staff, f'{size} named files', serial, rows,
                     desktop_package(args, 'S,main.c,list.h', disk, ['helper.c', 'LIST.H']))

        # A project folder, scanned in the client's order.
        panel = open_panel(driver, 'assignment-4')
        panel.find_element(By.CSS_SELECTOR, 'input[webkitdirectory]').send_keys(os.path.join(disk, 'project'))
        wait_loaded(driver, panel, 4)
        serial, rows, _ = submit_and_receipt(driver, panel)
        check_upload(args, staff, f'{size} project folder', serial, rows,
                     desktop_package(args, 'D', os.path.join(disk, 'project'), []))
        serials.append(serial)

        # The course page lists the submissions; a receipt opens again from the list.
        WebDriverWait(driver, 10).until(lambda d: d.find_elements(By.CSS_SELECTOR, f'[data-serial="{serial}"]'))
        driver.find_element(By.CSS_SELECTOR, f'[data-serial="{serials[0]}"] button').click()
        WebDriverWait(driver, 10).until(lambda d: f'{serials[0]:04d}' in d.find_element(By.ID, 'receipt-area').text)

        # Exam questions as a download.
        card = driver.find_element(By.ID, 'entry-lab-1')
        card.find_element(By.CSS_SELECTOR, '.exam-open').click()
        link = WebDriverWait(driver, 10).until(lambda d: card.find_element(By.CSS_SELECTOR, '.exam-files a'))
        answer = fetch(driver, 'GET', link.get_attribute('href').replace(url, ''))
        check(answer[0] == 200 and answer[1] == 'Lab 1\r\nAdd the numbers.\r\n' and 'attachment' in (answer[2] or ''),
              f'{size}: the exam question downloads as an attachment: {answer}')
        if shots:
            driver.save_screenshot(os.path.join(shots, f'student-course-{size}.png'))
        update_details(driver, url, number, size)
        quiet_console(driver, url, f'{size} student pages',
                      ['/api/student/register', '/api/student/account', '/api/student/entries/assignment-1/submissions'])
        return driver, serials
    except Exception:
        driver.quit()
        raise


def quiet_console(driver, url, what, expected=()):
    """No script error, no policy violation, no refused request but those the test provoked, and
    every request went to the server itself."""
    problems = [e['message'] for e in driver.get_log('browser') if e['level'] == 'SEVERE'
                and not (' - Failed to load resource' in e['message'] and any(e['message'].startswith(url + path) for path in expected))]
    check(not problems, f'{what}: the console shows no errors {problems}')
    elsewhere = [r for r in driver.execute_script(
        'return performance.getEntriesByType("resource").map(r => r.name)') if not r.startswith(url + '/')]
    check(not elsewhere, f'{what}: no request leaves the server {elsewhere}')


def others_refused(driver, other_serial):
    missing = fetch(driver, 'GET', '/api/student/submissions/99999999')
    other = fetch(driver, 'GET', f'/api/student/submissions/{other_serial}')
    check(other[0] == 404 and other[:2] == missing[:2],
          f'another student\'s serial is answered as one that does not exist: {other[:2]} vs {missing[:2]}')


def probe(args, entry):
    out = subprocess.run([args.probe, HOST, str(STUDENT_PORT), str(entry)], check=True, capture_output=True,
                         text=True, timeout=60).stdout
    lines = [json.loads(line) for line in out.splitlines() if line.startswith('{')]
    return lines[0]['mark'], lines[1:]


def pixel(units, scale):
    return (units * scale + 50) // 100


def page_drawing(driver):
    """Every file's drawn cells and stroke segments in pixels as the page draws them, every line
    drawn (as for printing)."""
    files = driver.execute_script('''
        window.dispatchEvent(new Event('beforeprint'));
        return [...document.querySelectorAll('svg.page')].map(svg => ({
          texts: [...svg.querySelectorAll('text')].map(t => ({
            cls: t.getAttribute('class'), xs: t.getAttribute('x').split(' ').map(Number),
            y: Number(t.getAttribute('y')), glyphs: t.textContent})),
          strokes: [...svg.querySelectorAll('polyline')].map(p => p.getAttribute('points').trim().split(' ').map(s => s.split(',').map(Number))),
          margin: (l => l ? [Number(l.getAttribute('x1')), Number(l.getAttribute('y2')), svg.viewBox.baseVal.height] : null)(svg.querySelector('line.margin')),
        }));''')
    drawn = []
    for f in files:
        cells = []
        for t in f['texts']:
            y = round((t['y'] - BASELINE) * TEXT_RATIO)
            colour = 'red' if 'comment' in t['cls'] else 'black'
            units = list(t['glyphs'])  # one code point each; the columns are per UTF-16 unit
            xs, i = t['xs'], 0
            for ch in units:
                cells.append((pixel(int(round(xs[i])), 93), pixel(y, 160), ch, colour))
                i += len(ch.encode('utf-16-le')) // 2
        segments = set()
        for points in f['strokes']:
            for (x1, y1), (x2, y2) in zip(points, points[1:]):
                a, b = (pixel(round(x1), 93), pixel(round(y1), 160)), (pixel(round(x2), 93), pixel(round(y2), 160))
                if a != b:
                    segments.add(tuple(sorted([a, b])))
        drawn.append({'cells': sorted(cells), 'segments': segments, 'margin': f['margin']})
    return drawn


def view_drawing(lines):
    out = []
    for line in lines:
        cells = sorted((x, y, text, colour) for x, y, text, colour in line['drawing']['cells'] if text.strip())
        segments = {tuple(sorted([(x1, y1), (x2, y2)])) for x1, y1, x2, y2 in line['drawing']['segments'] if (x1, y1) != (x2, y2)}
        out.append({'cells': cells, 'segments': segments})
    return out


def compare_with_view(args, driver, url, key, entry, what):
    driver.get(f'{url}/student-marked.html?entry={key}')
    ready(driver, '/student-marked.html')
    mark, lines = probe(args, entry)
    shown = driver.find_element(By.ID, 'mark').text
    check(shown == mark, f'{what}: the page shows the View\'s mark: {shown!r} vs {mark!r}')
    page, view = page_drawing(driver), view_drawing(lines)
    check(len(page) == len(view) and len(view) > 0, f'{what}: one drawing per file ({len(page)} vs {len(view)})')
    for index, (p, v) in enumerate(zip(page, view)):
        missing = [c for c in v['cells'] if c not in p['cells']][:5]
        extra = [c for c in p['cells'] if c not in v['cells']][:5]
        check(p['cells'] == v['cells'], f'{what}, file {index}: {len(p["cells"])} cells drawn as the View draws them '
              f'(missing {missing}, extra {extra})')
        check(p['segments'] == v['segments'], f'{what}, file {index}: the strokes\' {len(v["segments"])} segments as the View draws them')
        check(p['margin'] is None or (p['margin'][0] == 800 and p['margin'][1] >= p['margin'][2]),
              f'{what}, file {index}: the margin line at column 80 over the whole page: {p["margin"]}')


NEAR_THE_VIEW = """
const done = arguments[0];
import('/student-marked-drawing.js').then(async ({ MarkedFileDrawing }) => {
  // 2,000 lines, a two-line comment every 50 lines and a stroke every 400, in a 300 px view.
  const lines = Array.from({ length: 2000 }, (_, n) => `L${n};`).join('\\n');
  const annotations = [];
  for (let n = 0; n < 2000; n += 50) annotations.push({ type: 'comment', x: 300, y: n * 10 + 5, text: `note ${n}\\nmore` });
  for (let n = 20; n < 2000; n += 400)
    annotations.push({ type: 'stroke', x: 0, y: n * 10, width: 100, height: 10, points: [[0, 0], [50, 300], [100, 0]] });
  const svg = document.createElementNS('http://www.w3.org/2000/svg', 'svg');
  svg.setAttribute('class', 'page');
  const scroller = document.createElement('div');
  scroller.className = 'page-scroller';
  scroller.style.height = scroller.style.maxHeight = '300px';
  scroller.append(svg);
  document.body.append(scroller);
  const drawing = new MarkedFileDrawing(svg, scroller, { kind: 'A', tabWidth: 4, content: btoa(lines), annotations });
  const seen = () => ({
    lines: [...svg.querySelectorAll('text.source')].map((t) => Number(t.textContent.slice(1, -1))),
    notes: [...svg.querySelectorAll('g.comment')].map((g) => Number(g.textContent.match(/\\d+/)[0])),
    strokes: [...svg.querySelectorAll('polyline')].map((p) => Number(p.getAttribute('points').split(' ')[0].split(',')[1]) / 10),
  });
  const frame = () => new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve, 0)));
  const views = [];
  // The top; a stroke reaching into the view from above (its points 30 lines below its top) with
  // a comment under it; a comment cut by the view's top edge; the middle; the end.
  for (const top of [0, 6960, 16024, 16000, 31700, scroller.scrollHeight]) {
    scroller.scrollTop = top;
    await frame();
    // The rows in view, in page units (1.6 px each).
    views.push({ from: scroller.scrollTop / 1.6, to: (scroller.scrollTop + scroller.clientHeight) / 1.6, ...seen() });
  }
  drawing.drawEverything(true);
  const printed = seen();
  drawing.drawEverything(false);
  const after = seen();
  scroller.remove();
  done({ views, printed, after });
}).catch((e) => done(String(e)));
"""


def drawn_near_the_view(driver):
    """A long file shows every line, comment and stroke that meets the view wherever it is scrolled,
    and not much more; printing puts every one of them in, and afterwards a screenful again."""
    result = driver.execute_async_script(NEAR_THE_VIEW)
    check(isinstance(result, dict), f'the drawing module draws a long file: {str(result)[:200]}')
    if not isinstance(result, dict):
        return
    for view in result['views']:
        where = f'scrolled to rows {view["from"]:.0f}-{view["to"]:.0f}'
        lines = {n for n in range(2000) if n * 10 < view['to'] and (n + 1) * 10 > view['from']}
        notes = {n for n in range(0, 2000, 50) if n * 10 + 5 < view['to'] and n * 10 + 25 > view['from']}
        strokes = {n for n in range(20, 2000, 400) if n * 10 < view['to'] and n * 10 + 300 > view['from']}
        check(lines <= set(view['lines']) and len(view['lines']) < len(lines) + 40,
              f'{where}: the {len(lines)} lines in view drawn, and few others ({len(view["lines"])} drawn)')
        check(notes <= set(view['notes']) and len(view['notes']) < len(notes) + 3,
              f'{where}: the comments in view drawn {sorted(notes)}, and few others {sorted(view["notes"])}')
        check(strokes <= set(view['strokes']) and len(view['strokes']) <= len(strokes) + 1,
              f'{where}: the strokes in view drawn {sorted(strokes)}, and few others {sorted(view["strokes"])}')
    printed = result['printed']
    check(sorted(printed['lines']) == list(range(2000)) and sorted(printed['notes']) == list(range(0, 2000, 50))
          and sorted(printed['strokes']) == list(range(20, 2000, 400)),
          f'printing draws all 2000 lines, 40 comments and 5 strokes: {len(printed["lines"])}, '
          f'{len(printed["notes"])}, {len(printed["strokes"])}')
    after = result['after']
    check(len(after['lines']) < 100 and len(after['notes']) < 5,
          f'after printing a screenful again: {len(after["lines"])} lines, {len(after["notes"])} comments')


def marked_run(args, url, other_serial):
    driver = browser('desktop')
    staff = Staff(url)
    try:
        driver.get(url + '/student.html')
        ready(driver, '/student.html')
        Select(driver.find_element(By.ID, 'login-course')).select_by_value('3101')
        driver.find_element(By.ID, 'login-student').send_keys('123456')
        driver.find_element(By.ID, 'login-password').send_keys('demo123')
        driver.find_element(By.ID, 'login-button').click()
        ready(driver, '/student-course.html')
        others_refused(driver, other_serial)
        # The demo's released marking of hello.c.
        compare_with_view(args, driver, url, 'assignment-1', 0, 'released demo marking')
        if args.screenshots:
            driver.save_screenshot(os.path.join(args.screenshots, 'student-marked-desktop.png'))
        # Assignment 2: marked now through the staff API, not shown until released.
        serial = staff.call('GET', '/api/courses/3101/entries/assignment-2/submissions')['submissions'][0]['serial']
        current = staff.call('GET', f'/api/submissions/{serial}')
        files = [{'index': i, 'name': f['name'], 'annotations': []} for i, f in enumerate(current['files'])]
        files[0]['annotations'] = [
            {'type': 'comment', 'x': 40, 'y': 10, 'text': 'Two lines:\nthe second – with 10€'},
            {'type': 'comment', 'x': 810, 'y': 0, 'text': 'Beside the margin'},
            {'type': 'stroke', 'x': 20, 'y': 25, 'width': 100, 'height': 10, 'points': [[0, 0], [50, 10], [100, 0]]},
        ]
        staff.call('PUT', f'/api/submissions/{serial}/marking', {'version': current['marking']['version'], 'mark': 8,
                                                                  'detail': 'Well structured.', 'files': files})
        driver.get(f'{url}/student-marked.html?entry=assignment-2')
        WebDriverWait(driver, 10).until(lambda d: d.find_element(By.TAG_NAME, 'body').get_attribute('data-ready') == 'refused')
        status = driver.find_element(By.ID, 'status').text
        check('not been released' in status and not driver.find_elements(By.CSS_SELECTOR, 'svg.page text'),
              f'a marking is not shown before its release: {status!r}')
        staff.call('POST', '/api/courses/3101/entries/assignment-2/release', {})
        compare_with_view(args, driver, url, 'assignment-2', 1, 'marking released through the staff API')
        drawn_near_the_view(driver)
        detail = driver.find_element(By.ID, 'detail').text
        marker = driver.find_element(By.ID, 'marker').text
        check(detail == 'Well structured.' and 'Wendy Admin' in marker, f'the detail and the marker\'s name: {detail!r}, {marker!r}')
        if args.screenshots:
            driver.save_screenshot(os.path.join(args.screenshots, 'student-marked-released-desktop.png'))
            driver.set_window_size(360, 740)
            driver.get(f'{url}/student-marked.html?entry=assignment-2')
            ready(driver, '/student-marked.html')
            driver.save_screenshot(os.path.join(args.screenshots, 'student-marked-phone.png'))
            pdf = driver.execute_cdp_cmd('Page.printToPDF', {'printBackground': True})
            with open(os.path.join(args.screenshots, 'student-marked.pdf'), 'wb') as out:
                out.write(base64.b64decode(pdf['data']))
        quiet_console(driver, url, 'marked view', ['/api/student/submissions/', '/api/student/entries/assignment-2/marked'])
    finally:
        driver.quit()


def slowed_login(url):
    """Guesses are slowed: after a few wrong passwords the page says how long to wait. Last, as
    it slows this address's logins for a while."""
    driver = browser('phone')
    try:
        driver.get(url + '/student.html')
        ready(driver, '/student.html')
        Select(driver.find_element(By.ID, 'login-course')).select_by_value('3102')
        driver.find_element(By.ID, 'login-student').send_keys('300001')
        shown = ''
        for _ in range(8):
            driver.find_element(By.ID, 'login-password').clear()
            driver.find_element(By.ID, 'login-password').send_keys('guess99')
            driver.find_element(By.ID, 'login-button').click()
            WebDriverWait(driver, 10).until(lambda d: d.find_element(By.ID, 'login-button').is_enabled())
            shown = driver.find_element(By.ID, 'login-error').text
            if shown.startswith('Too many'):
                break
        check(re.fullmatch(r'Too many attempts\. Wait \d+ seconds?, then try again\.', shown) is not None,
              f'repeated wrong passwords: the page says how long to wait: {shown!r}')
    finally:
        driver.quit()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--server', required=True)
    parser.add_argument('--probe', required=True)
    parser.add_argument('--package-probe', required=True)
    parser.add_argument('--web', required=True)
    parser.add_argument('--screenshots', help='folder for screenshots (or TALLYPORT_SCREENSHOT_DIR)')
    args = parser.parse_args()
    args.screenshots = args.screenshots or os.environ.get('TALLYPORT_SCREENSHOT_DIR')
    for program in ('/usr/bin/chromium', '/usr/bin/chromedriver'):
        if not os.path.exists(program):
            sys.exit(f'{program} is missing: run scripts/install-deps.sh')
    folder = tempfile.mkdtemp(prefix='tallyport-student-pages-')
    disk = os.path.join(folder, 'files')
    for name, data in FILES.items():
        os.makedirs(os.path.dirname(os.path.join(disk, name)), exist_ok=True)
        with open(os.path.join(disk, name), 'wb') as out:
            out.write(data)
    server = Server(args.server, args.web, folder, host=HOST, prepare=prepare(args.server, folder))
    try:
        other_serial = None
        for size, number in (('phone', '300001'), ('desktop', '300002')):
            driver, serials = student_run(args, server.url, size, number, disk)
            if other_serial is not None:
                others_refused(driver, other_serial)
            other_serial = serials[0]
            driver.quit()
        marked_run(args, server.url, other_serial)
        slowed_login(server.url)
    finally:
        server.stop()
    if failures:
        server.log.seek(0)
        print(server.log.read()[-3000:])
        sys.exit(f'{len(failures)} check(s) failed')
    shutil.rmtree(folder, ignore_errors=True)


if __name__ == '__main__':
    main()
