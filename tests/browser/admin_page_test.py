#!/usr/bin/python3
"""The admin's course page in headless Chromium against a real tallyport-server on loopback with
the demo data and an admin marker: release refused while a student could still submit, then
forced, then withdrawn; an extension granted, listed and removed; the grades downloaded as CSV.
A marker who is not an admin gets no Manage link and 403 from the API. Run by ctest
(browser.admin_page)."""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

HOST = '127.0.0.46'
CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                  '--disable-background-networking', '--disable-component-update', '--disable-sync']
ADMIN = ('amiller', 'admin-password-1')
MARKER = ('tjones', 'marking-demo-123')

failures = []


def check(condition, what):
    print(('ok   ' if condition else 'FAIL ') + what, flush=True)
    if not condition:
        failures.append(what)


class Server:
    """The demo database with an admin marker of course 3101 added (and whatever `prepare` does to
    the database before it is served), served on loopback."""

    def __init__(self, binary, web, folder, prepare=None):
        db = os.path.join(folder, 'demo.db')
        subprocess.run([binary, 'demo', '--db', db], check=True, stdout=subprocess.DEVNULL)
        subprocess.run([binary, 'marker', 'add', '--db', db, '--id', ADMIN[0], '--name', 'A Miller',
                        '--info', 'Admin', '--course', '3101', '--admin'], check=True, stdout=subprocess.DEVNULL)
        subprocess.run([binary, 'marker', 'passwd', '--db', db, '--id', ADMIN[0]], input=ADMIN[1] + '\n',
                       text=True, check=True, stdout=subprocess.DEVNULL)
        if prepare:
            prepare(db)
        self.log = open(os.path.join(folder, 'server.log'), 'w+')
        self.process = subprocess.Popen(
            [binary, 'serve', '--db', db, '--listen', f'{HOST}:0', '--staff-listen', f'{HOST}:0',
             '--staff-web', web], stderr=self.log)
        deadline = time.time() + 20
        while time.time() < deadline:
            self.log.seek(0)
            found = re.search(r'staff API at (http://[\d.]+:\d+)/api/', self.log.read())
            if found:
                self.url = found.group(1)
                return
            if self.process.poll() is not None:
                break
            time.sleep(0.05)
        self.log.seek(0)
        raise RuntimeError('the server did not start:\n' + self.log.read())

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


def browser(width, height):
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for flag in CHROMIUM_FLAGS + [f'--window-size={width},{height}']:
        options.add_argument(flag)
    options.add_argument('--user-data-dir=' + tempfile.mkdtemp(prefix='tallyport-chromium-'))
    options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
    return webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)


def log_in(driver, url, who):
    driver.get(url + '/')
    driver.find_element(By.ID, 'marker-id').send_keys(who[0])
    driver.find_element(By.ID, 'password').send_keys(who[1], Keys.ENTER)
    WebDriverWait(driver, 10).until(lambda d: d.current_url.endswith('/courses.html'))
    WebDriverWait(driver, 10).until(lambda d: 'Quiz' in d.find_element(By.ID, 'courses').text)


def fetch(driver, method, path, body=None):
    """A request from the page with its session and CSRF token: [status, text]."""
    return driver.execute_async_script('''
        const [method, path, body, done] = arguments;
        const headers = {'X-CSRF-Token': sessionStorage.getItem('csrfToken') || ''};
        if (body !== null) headers['Content-Type'] = 'application/json';
        fetch(path, {method, headers, body: body === null ? undefined : JSON.stringify(body)})
          .then(async r => done([r.status, await r.text()]));''', method, path, body)


def row(driver, key):
    return driver.find_element(By.CSS_SELECTOR, f'#entries tr[data-entry="{key}"]')


def status_says(driver, text):
    WebDriverWait(driver, 10).until(lambda d: text in d.find_element(By.ID, 'status').text)


def screenshot(driver, folder, name):
    if folder:
        driver.save_screenshot(os.path.join(folder, name))


def quiet_console(driver, what):
    """No script error and no policy violation; the one 409 the page expects is not a fault."""
    problems = [e['message'] for e in driver.get_log('browser')
                if e['level'] == 'SEVERE' and '409' not in e['message']]
    check(not problems, f'{what}: the console shows no errors {problems}')


def overview(driver, url, screenshots):
    links = driver.find_elements(By.PARTIAL_LINK_TEXT, 'Manage')
    check(len(links) == 1, f'an admin sees one Manage link: {[a.text for a in links]}')
    links[0].click()
    WebDriverWait(driver, 10).until(lambda d: d.find_element(By.TAG_NAME, 'body').get_attribute('data-ready'))
    check(driver.current_url == f'{url}/course.html?course=3101', f'Manage opens the course page: {driver.current_url}')
    names = [r.find_element(By.CSS_SELECTOR, 'td').text for r in driver.find_elements(By.CSS_SELECTOR, '#entries tr')]
    check(len(names) == 12 and names[2] == 'Assignment 3' and names[4] == 'Lab 1 Monday',
          f'every entry is listed by its student-facing name: {names}')
    cells = [td.text for td in row(driver, 'assignment-3').find_elements(By.TAG_NAME, 'td')]
    zone = driver.execute_script('return Intl.DateTimeFormat().resolvedOptions().timeZone')
    check(cells[1] == 'assignment-3' and '2099' in cells[3] and cells[5] == 'not released',
          f'the row of Assignment 3 holds its key, its deadline in 2099 and its state: {cells}')
    check(zone == 'America/St_Johns' and zone in driver.find_element(By.ID, 'zone').text, f'the time zone is named ({zone})')
    unlabelled = driver.execute_script('''
        return [...document.querySelectorAll('input')].filter(i => !i.labels.length).map(i => i.id);''')
    check(not unlabelled, f'every field has a label {unlabelled}')
    screenshot(driver, screenshots, 'course-page.png')


def release(driver, screenshots):
    row(driver, 'assignment-3').find_element(By.CSS_SELECTOR, 'button.release').click()
    warning = WebDriverWait(driver, 10).until(
        lambda d: d.find_element(By.ID, 'release-warning').is_displayed() and d.find_element(By.ID, 'release-warning'))
    text = warning.text
    check(re.search(r'\b1 student could still submit', text) is not None and 'Assignment 3' in text,
          f'the release warning gives the number of students: {text!r}')
    check(row(driver, 'assignment-3').find_elements(By.ID, 'release-warning') == [warning],
          'the warning sits in the row of the entry it is about')
    check(driver.switch_to.active_element.text == 'Release anyway', 'the confirmation has the keyboard focus')
    check(row(driver, 'assignment-3').find_elements(By.TAG_NAME, 'td')[5].text == 'not released',
          'nothing is released before the confirmation')
    screenshot(driver, screenshots, 'release-warning.png')
    driver.switch_to.active_element.send_keys(Keys.ENTER)
    status_says(driver, 'are released')
    check(not driver.find_elements(By.ID, 'release-warning'), 'the warning closes once confirmed')
    cells = row(driver, 'assignment-3').find_elements(By.TAG_NAME, 'td')
    check(cells[5].text == 'released' and cells[6].text == 'Unrelease', 'the row shows the marks released')
    check(driver.switch_to.active_element.text == 'Unrelease', 'the focus returns to the row')
    check(re.search(r'"entry":"assignment-3"[^}]*"marksReleased":true', fetch(driver, 'GET', '/api/courses')[1])
          is not None, 'the server holds the release')
    driver.switch_to.active_element.send_keys(Keys.ENTER)
    status_says(driver, 'withdrawn')
    check(row(driver, 'assignment-3').find_elements(By.TAG_NAME, 'td')[5].text == 'not released',
          'unrelease withdraws the marks')
    check(re.search(r'"entry":"assignment-3"[^}]*"marksReleased":false', fetch(driver, 'GET', '/api/courses')[1])
          is not None, 'the server holds the withdrawal')


def extensions(driver):
    section = driver.find_element(By.CSS_SELECTOR, '#extensions details[data-entry="assignment-2"]')
    section.find_element(By.TAG_NAME, 'summary').click()
    listing = section.find_element(By.CSS_SELECTOR, 'ul')
    WebDriverWait(driver, 10).until(lambda d: 'No extensions' in listing.text)
    section.find_element(By.CSS_SELECTOR, 'input[name=student]').send_keys('123456')
    # A local date and time far ahead; the page turns it into Unix seconds in the browser's zone.
    driver.execute_script('arguments[0].value = "2098-03-04T15:30"', section.find_element(By.CSS_SELECTOR, 'input[name=until]'))
    # 2098-03-04 15:30 in St John's (UTC-03:30, no daylight saving in March): the browser's zone.
    expected = 4044785400 + 3 * 3600 + 1800
    section.find_element(By.CSS_SELECTOR, 'button[type=submit]').click()
    WebDriverWait(driver, 10).until(lambda d: '123456' in listing.text)
    check('2098' in listing.text, f'the extension is listed with its date: {listing.text!r}')
    stored = fetch(driver, 'GET', '/api/courses/3101/entries/assignment-2/extensions')[1]
    check(f'"until":{expected}' in stored, f'the server holds the chosen local time ({expected}): {stored}')
    listing.find_element(By.TAG_NAME, 'button').click()
    WebDriverWait(driver, 10).until(lambda d: 'No extensions' in listing.text)
    stored = fetch(driver, 'GET', '/api/courses/3101/entries/assignment-2/extensions')[1]
    check('"extensions":[]' in stored, f'Remove deletes the extension on the server: {stored}')


def grades(driver):
    link = driver.find_element(By.LINK_TEXT, 'Download grades (CSV)')
    check(link.get_attribute('download') is not None, 'the grades link downloads')
    status, text = fetch(driver, 'GET', link.get_attribute('href'))
    first = text.lstrip('\ufeff').splitlines()[0] if text else ''
    check(status == 200 and first.startswith('number,name,email'), f'the grades are CSV: {status} {first[:40]!r}')


def admin_walk(url, screenshots):
    driver = browser(1280, 720)
    try:
        log_in(driver, url, ADMIN)
        overview(driver, url, screenshots)
        release(driver, screenshots)
        extensions(driver)
        grades(driver)
        quiet_console(driver, 'the course page')
        # At 200 % zoom the page is still usable without sideways scrolling of the whole page.
        driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                               {'width': 640, 'height': 360, 'deviceScaleFactor': 2, 'mobile': False})
        driver.refresh()
        WebDriverWait(driver, 10).until(lambda d: d.find_element(By.TAG_NAME, 'body').get_attribute('data-ready'))
        wide = driver.execute_script('return document.documentElement.scrollWidth > window.innerWidth + 1')
        check(not wide, 'at 200 % zoom the page does not scroll sideways as a whole')
        screenshot(driver, screenshots, 'course-page-200.png')
    finally:
        driver.quit()


def not_admin(url):
    driver = browser(1280, 720)
    try:
        log_in(driver, url, MARKER)
        check(not driver.find_elements(By.PARTIAL_LINK_TEXT, 'Manage'), 'a marker who is not an admin sees no Manage link')
        status, _ = fetch(driver, 'POST', '/api/courses/3101/entries/assignment-3/release', {'force': True})
        check(status == 403, f'a release by a marker who is not an admin is refused: {status}')
        driver.get(url + '/course.html?course=3101')
        WebDriverWait(driver, 10).until(lambda d: d.find_element(By.ID, 'error').is_displayed())
        check(not driver.find_element(By.ID, 'manage').is_displayed() and not driver.find_elements(By.CSS_SELECTOR, '#entries tr'),
              'the course page shows such a marker no controls')
    finally:
        driver.quit()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--server', required=True)
    parser.add_argument('--web', required=True)
    parser.add_argument('--screenshots', help='folder for the pages as PNG (or TALLYPORT_SCREENSHOT_DIR)')
    args = parser.parse_args()
    args.screenshots = args.screenshots or os.environ.get('TALLYPORT_SCREENSHOT_DIR')
    for program in ('/usr/bin/chromium', '/usr/bin/chromedriver'):
        if not os.path.exists(program):
            sys.exit(f'{program} is missing: run scripts/install-deps.sh')
    if args.screenshots:
        os.makedirs(args.screenshots, exist_ok=True)
    folder = tempfile.mkdtemp(prefix='tallyport-browser-')
    server = Server(args.server, args.web, folder)
    # The browser runs in a zone half an hour off whole hours, so a page that read the deadline
    # it is given as UTC, or dropped the minutes of the offset, stores a different time.
    os.environ['TZ'] = 'America/St_Johns'
    try:
        admin_walk(server.url, args.screenshots)
        not_admin(server.url)
    finally:
        server.stop()
    if failures:
        server.log.seek(0)
        print(server.log.read()[-3000:])
        sys.exit(f'{len(failures)} check(s) failed')
    shutil.rmtree(folder, ignore_errors=True)


if __name__ == '__main__':
    main()
