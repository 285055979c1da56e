#!/usr/bin/python3
"""The class list, the grades table, the marking history and the late badge in headless Chromium
against a real tallyport-server on loopback with the demo data and an admin marker (set up as
admin_page_test does). A marker who is not an admin gets no Restore and no password reset. Run by
ctest (browser.admin_pages)."""
import argparse
import os
import re
import shutil
import sys
import tempfile

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import Select, WebDriverWait

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from admin_page_test import ADMIN, MARKER, Server, browser, check, failures, fetch, log_in, quiet_console, screenshot  # noqa: E402

DEMO_STUDENT = '100123456'


def ready(driver):
    WebDriverWait(driver, 10).until(lambda d: d.find_element(By.TAG_NAME, 'body').get_attribute('data-ready'))


def unlabelled_fields(driver):
    return driver.execute_script('''
        return [...document.querySelectorAll('input, select, textarea')]
          .filter(i => !i.labels.length && !i.getAttribute('aria-label')).map(i => i.id);''')


def class_list(driver, url, screenshots):
    driver.get(url + '/course.html?course=3101')
    ready(driver)
    driver.find_element(By.LINK_TEXT, 'Class list and passwords').click()
    ready(driver)
    check(driver.current_url == f'{url}/students.html?course=3101', f'the course page links the class list: {driver.current_url}')
    check('Introduction to Programming' in driver.title, f'the title names the course: {driver.title!r}')
    row = driver.find_element(By.CSS_SELECTOR, f'#students tr[data-student="{DEMO_STUDENT}"]')
    cells = [td.text for td in row.find_elements(By.TAG_NAME, 'td')]
    check(cells[1] == 'Demo Student' and cells[2] == 'demo@example.edu' and cells[4] == 'yes',
          f'the demo student is listed as registered: {cells}')
    check(row.find_element(By.CSS_SELECTOR, 'td[data-entry="assignment-1"]').text.startswith('yes')
          and row.find_element(By.CSS_SELECTOR, 'td[data-entry="assignment-3"]').text == '—',
          'the row says which entries the student submitted to')
    check(not unlabelled_fields(driver), f'every field has a label {unlabelled_fields(driver)}')
    # The filter, by keyboard: who has not submitted to Assignment 3 (the demo student), then to
    # Assignment 1 (nobody).
    Select(driver.find_element(By.ID, 'not-submitted')).select_by_visible_text('Assignment 3')
    shown = [r.get_attribute('data-student') for r in driver.find_elements(By.CSS_SELECTOR, '#students tr')]
    check(shown == [DEMO_STUDENT], f'not submitted to Assignment 3 lists the demo student: {shown}')
    check('have not submitted to Assignment 3' in driver.find_element(By.ID, 'status').text, 'the filter says what it shows')
    Select(driver.find_element(By.ID, 'not-submitted')).select_by_visible_text('Assignment 1')
    shown = driver.find_elements(By.CSS_SELECTOR, '#students tr')
    check(not shown, f'not submitted to Assignment 1 lists nobody: {len(shown)} rows')
    Select(driver.find_element(By.ID, 'not-submitted')).select_by_index(0)
    box = driver.find_element(By.ID, 'password-box')
    check(not box.is_displayed(), 'no password is shown before a reset')
    driver.find_element(By.CSS_SELECTOR, f'#students tr[data-student="{DEMO_STUDENT}"] button.reset').click()
    WebDriverWait(driver, 10).until(lambda d: box.is_displayed())
    password = driver.find_element(By.ID, 'password').text
    check(re.fullmatch(r'[a-z2-9]{8}', password) is not None and not re.search(r'[ilo01]', password),
          f'reset shows an 8-character one-time password: {password!r}')
    check('in person' in box.text and driver.switch_to.active_element == box, 'the box says to hand it over in person and has the focus')
    screenshot(driver, screenshots, 'class-list.png')
    driver.find_element(By.ID, 'password-done').click()
    check(not box.is_displayed() and driver.find_element(By.ID, 'password').text == '', 'Done hides the password')


def grades(driver, url, screenshots):
    driver.get(url + '/course.html?course=3101')
    ready(driver)
    WebDriverWait(driver, 10).until(lambda d: d.find_elements(By.CSS_SELECTOR, '#grades-body tr'))
    heads = [th.text for th in driver.find_elements(By.CSS_SELECTOR, '#grades-head th')]
    check(heads[:3] == ['Number', 'Name', 'Assignment 1'] and heads[-1] == 'Total' and len(heads) == 15,
          f'the grades table has a column per entry and the total: {heads}')
    row = driver.find_element(By.CSS_SELECTOR, f'#grades-body tr[data-student="{DEMO_STUDENT}"]')
    cells = row.find_elements(By.TAG_NAME, 'td')
    texts = [c.text for c in cells]
    check(texts[1] == 'Demo Student', f'the name is read from the CSV without its byte-order mark: {texts[:2]}')
    check(texts[2].startswith('8') and 'late' in texts[2] and 'released' in texts[2],
          f'Assignment 1 shows 8, late and released: {texts[2]!r}')
    check('submitted' in texts[3] and texts[4] == '—', f'Assignment 2 is submitted, Assignment 3 empty: {texts[3:5]}')
    check(texts[-1] == '13', f'the total is 8 + 5: {texts[-1]!r}')
    check(driver.find_element(By.LINK_TEXT, 'Download grades (CSV)').get_attribute('download') is not None,
          'the download link stays')
    driver.execute_script("document.getElementById('grades-table').scrollIntoView()")
    screenshot(driver, screenshots, 'grades.png')
    # At 200 % zoom the page is still usable without sideways scrolling of the whole page.
    driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                           {'width': 640, 'height': 360, 'deviceScaleFactor': 2, 'mobile': False})
    for page in ('course.html', 'students.html'):
        driver.get(f'{url}/{page}?course=3101')
        ready(driver)
        wide = driver.execute_script('return document.documentElement.scrollWidth > window.innerWidth + 1')
        check(not wide, f'at 200 % zoom {page} does not scroll sideways as a whole')
        screenshot(driver, screenshots, page.replace('.html', '-200.png'))
    driver.execute_cdp_cmd('Emulation.clearDeviceMetricsOverride', {})


def versions_listed(driver):
    return driver.execute_script(
        "return [...document.querySelectorAll('#versions li[data-version]')].map(li => li.dataset.version)")


def open_marking(driver, url):
    driver.get(url + '/mark.html?course=3101&entry=assignment-1&serial=1')
    ready(driver)
    driver.find_element(By.CSS_SELECTOR, '#history summary').click()
    WebDriverWait(driver, 10).until(lambda d: versions_listed(d))


def history(driver, url, screenshots):
    open_marking(driver, url)
    check('Assignment 1' in driver.title, f'the marking page title names the entry: {driver.title!r}')
    check(versions_listed(driver) == ['1'], f'the history lists version 1: {versions_listed(driver)}')
    first = driver.find_element(By.CSS_SELECTOR, '#versions li[data-version="1"]').text
    zone = driver.execute_script('''return new Intl.DateTimeFormat(undefined, {timeZoneName: 'short'})
        .formatToParts(new Date()).find(p => p.type === 'timeZoneName').value''')
    check('8/10' in first and 'tjones' in first and zone in first, f'version 1: its mark, marker and time with zone {zone}: {first!r}')
    check(not driver.find_elements(By.CSS_SELECTOR, '#versions button.restore'), 'the current version has no Restore')
    mark = driver.find_element(By.ID, 'mark')
    mark.clear()
    mark.send_keys('6')
    driver.find_element(By.ID, 'save').click()
    WebDriverWait(driver, 10).until(lambda d: versions_listed(d) == ['2', '1'])
    check(True, 'after a save the history shows 2 versions')
    screenshot(driver, screenshots, 'marking-history.png')
    driver.find_element(By.CSS_SELECTOR, '#versions li[data-version="1"] button.restore').click()
    WebDriverWait(driver, 10).until(lambda d: versions_listed(d) == ['3', '2', '1'])
    check(driver.find_element(By.ID, 'mark').get_attribute('value') == '8', 'restoring version 1 brings the mark back to 8')
    stored = fetch(driver, 'GET', '/api/submissions/1')[1]
    check('"mark":8' in stored and '"version":3' in stored, f'the server holds the restored mark as version 3: {stored[-200:]}')
    # A restore based on a version that is no longer current is refused and said so.
    fetch(driver, 'PUT', '/api/submissions/1/marking', {'version': 3, 'mark': 7, 'detail': '', 'files': []})
    driver.find_element(By.CSS_SELECTOR, '#versions li[data-version="2"] button.restore').click()
    WebDriverWait(driver, 10).until(lambda d: d.find_element(By.ID, 'error').is_displayed())
    check('saved this marking since' in driver.find_element(By.ID, 'error').text, 'a stale restore says someone saved since')


def late_badge(driver, url, screenshots):
    driver.get(url + '/entry.html?course=3101&entry=assignment-2')
    WebDriverWait(driver, 10).until(lambda d: d.find_elements(By.CSS_SELECTOR, '#submissions tr'))
    check('Assignment 2' in driver.title, f'the entry page title names the entry: {driver.title!r}')
    badges = [b.text for b in driver.find_elements(By.CSS_SELECTOR, '#submissions .badge.late')]
    check(len(badges) == 1 and re.fullmatch(r'late \(\d+ d \d+ h \d+ min\)', badges[0]) is not None,
          f'the decades-late submission has a late badge: {badges}')
    deadline = driver.find_elements(By.CSS_SELECTOR, '#submissions td')[2].text
    check(re.search(r'\d{4}', deadline) is not None, f'the student\'s deadline is shown: {deadline!r}')
    screenshot(driver, screenshots, 'entry-late.png')


def admin_walk(url, screenshots):
    driver = browser(1280, 720)
    try:
        log_in(driver, url, ADMIN)
        class_list(driver, url, screenshots)
        grades(driver, url, screenshots)
        history(driver, url, screenshots)
        late_badge(driver, url, screenshots)
        quiet_console(driver, 'the admin pages')
    finally:
        driver.quit()


def not_admin(url):
    driver = browser(1280, 720)
    try:
        log_in(driver, url, MARKER)
        driver.get(url + '/students.html?course=3101')
        ready(driver)
        check(driver.find_elements(By.CSS_SELECTOR, f'#students tr[data-student="{DEMO_STUDENT}"]')
              and not driver.find_elements(By.CSS_SELECTOR, 'button.reset'),
              'a marker who is not an admin sees the class list without reset buttons')
        open_marking(driver, url)
        check(len(versions_listed(driver)) >= 2 and not driver.find_elements(By.CSS_SELECTOR, 'button.restore'),
              f'such a marker reads the history without Restore: {versions_listed(driver)}')
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
