#!/usr/bin/python3
"""The class list, the grades table, the marking history and the late badge in headless Chromium
against a real tallyport-server on loopback with the demo data and an admin marker (set up as
admin_page_test does), then the rest of an admin's term: a class list imported by the page, a
marker added, given a password and another removed, an entry's work allocated evenly and by hand,
and the audit of it all. The marker added sees their work with "Assigned to me"; a marker who is
not an admin gets none of the controls, and the API refuses them. Run by ctest
(browser.admin_pages)."""
import argparse
import json
import os
import re
import shutil
import sqlite3
import sys
import tempfile

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from admin_page_test import ADMIN, MARKER, Server, browser, check, failures, fetch, log_in, quiet_console, screenshot, status_says  # noqa: E402

DEMO_STUDENT = '100123456'
OTHERS = ['100000001', '100000002']  # two more students with work for Assignment 1
NEW_MARKER = ('bsmith', 'bsmith-password-2')


def add_work(db):
    """Two more students' submissions for Assignment 1, as the rows the store keeps (the pages read
    only the rows of these two, never their packages)."""
    with sqlite3.connect(db) as connection:
        for student in OTHERS:
            connection.execute(
                "INSERT INTO submissions (course, student, entry, time, file_count, bytes) "
                "SELECT 3101, ?, id, 1700000000, 1, 0 FROM entries WHERE course = 3101 AND key = 'assignment-1'",
                (int(student),))


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


def listed_students(driver):
    return [r.get_attribute('data-student') for r in driver.find_elements(By.CSS_SELECTOR, '#students tr')]


def import_class_list(driver, url, screenshots, folder):
    driver.get(url + '/students.html?course=3101')
    ready(driver)
    before = listed_students(driver)
    bad = os.path.join(folder, 'list-with-a-fault.csv')
    with open(bad, 'w') as out:
        out.write('number,name,e-mail\n123456,Demo Student,demo@example.edu\n100000001,Ada Byron\n')
    driver.find_element(By.ID, 'import-file').send_keys(bad)
    driver.find_element(By.CSS_SELECTOR, '#import button[type=submit]').click()
    fault = driver.find_element(By.ID, 'import-error')
    WebDriverWait(driver, 10).until(lambda d: fault.is_displayed())
    check('list-with-a-fault.csv' in fault.text and 'line 3' in fault.text and 'nothing was imported' in fault.text,
          f'the server\'s refusal names the file and the line: {fault.text!r}')
    check(listed_students(driver) == before, 'a refused list changes nothing')
    screenshot(driver, screenshots, 'class-list-import-refused.png')
    good = os.path.join(folder, 'class-list.csv')
    with open(good, 'w') as out:
        out.write('number,name,e-mail\n123456,Demo Student,demo@example.edu\n'
                  '100000001,Ada Byron,ada@example.edu\n100000002,Alan Turing,alan@example.edu\n')
    driver.find_element(By.ID, 'import-file').send_keys(good)
    driver.find_element(By.CSS_SELECTOR, '#import button[type=submit]').click()
    status_says(driver, 'Imported 3 students')
    said = driver.find_element(By.ID, 'status').text
    check('3 added, 0 changed, 0 removed' in said, f'the import says what changed: {said!r}')
    check(not fault.is_displayed(), 'the earlier refusal is gone')
    check(listed_students(driver) == OTHERS + [DEMO_STUDENT], f'the list shows the imported students: {listed_students(driver)}')
    ada = [td.text for td in driver.find_elements(By.CSS_SELECTOR, f'#students tr[data-student="{OTHERS[0]}"] td')]
    check(ada[1:5] == ['Ada Byron', 'ada@example.edu', 'yes', 'no'], f'a listed student who has not registered: {ada}')
    screenshot(driver, screenshots, 'class-list-imported.png')


def marker_row(driver, marker):
    return driver.find_elements(By.CSS_SELECTOR, f'#markers tr[data-marker="{marker}"]')


def add_marker(driver, marker, name, password):
    for field, value in (('add-id', marker), ('add-name', name), ('add-info', 'Lab TA'), ('add-password', password)):
        driver.find_element(By.ID, field).clear()
        driver.find_element(By.ID, field).send_keys(value)
    driver.find_element(By.CSS_SELECTOR, '#add button[type=submit]').click()


def markers_page(driver, url, screenshots):
    driver.get(url + '/course.html?course=3101')
    ready(driver)
    driver.find_element(By.LINK_TEXT, 'Markers').click()
    ready(driver)
    check(driver.current_url == f'{url}/markers.html?course=3101', f'the course page links the markers: {driver.current_url}')
    ids = [r.get_attribute('data-marker') for r in driver.find_elements(By.CSS_SELECTOR, '#markers tr')]
    check(ids == ['amiller', 'tjones'], f'the course\'s markers are listed: {ids}')
    # amiller saved Assignment 1's marking in the history walk; three students submitted to it.
    progress = marker_row(driver, 'amiller')[0].find_element(By.CSS_SELECTOR, 'td[data-entry="assignment-1"]').text
    check(progress == '1 of 3', f'progress per entry: amiller marked 1 of 3 for Assignment 1: {progress!r}')
    check(not unlabelled_fields(driver), f'every field has a label {unlabelled_fields(driver)}')
    check(driver.find_element(By.ID, 'add-course-3101').is_selected(), 'the new marker marks this course unless untold')

    add_marker(driver, 'tjones', 'Someone Else', 'twelve-chars-1')
    status_says(driver, 'was not added')
    check('already a marker tjones' in driver.find_element(By.ID, 'status').text, 'an id in use is refused with the server\'s reason')
    add_marker(driver, 'bsmith', 'B Smith', 'bsmith-password-1')
    status_says(driver, 'Marker bsmith is added')
    cells = [td.text for td in marker_row(driver, 'bsmith')[0].find_elements(By.TAG_NAME, 'td')]
    check(cells[1:3] == ['marker', 'set'], f'bsmith is listed as a marker with a password: {cells}')
    driver.find_element(By.ID, 'add-admin').click()
    add_marker(driver, 'ctemp', 'C Temp', 'ctemp-password-1')
    status_says(driver, 'Marker ctemp is added as an admin')

    # Removal asks first; the keyboard confirms it.
    marker_row(driver, 'ctemp')[0].find_element(By.CSS_SELECTOR, 'button.remove').click()
    confirm = driver.find_element(By.ID, 'remove-confirm')
    check(confirm.is_displayed() and 'ctemp' in confirm.text and driver.switch_to.active_element.text == 'Remove',
          'removing asks first, with the focus on the confirmation')
    driver.switch_to.active_element.send_keys(Keys.ENTER)
    status_says(driver, 'Marker ctemp is removed')
    check(not marker_row(driver, 'ctemp') and not confirm.is_displayed(), 'the removed marker is gone from the list')
    check(not marker_row(driver, 'amiller')[0].find_elements(By.TAG_NAME, 'button'), 'an admin cannot remove themself')

    Select(driver.find_element(By.ID, 'password-marker')).select_by_value('bsmith')
    driver.find_element(By.ID, 'password-new').send_keys(NEW_MARKER[1], Keys.ENTER)
    status_says(driver, 'The password of bsmith is set')
    screenshot(driver, screenshots, 'markers-forms.png')
    driver.execute_script("window.scrollTo(0, 0); document.querySelector('.wide').scrollLeft = 0")
    screenshot(driver, screenshots, 'markers.png')


def submission_rows(driver):
    """Student -> the row's "Assigned to" (a select's value for an admin, else its text)."""
    rows = {}
    for tr in driver.find_elements(By.CSS_SELECTOR, '#submissions tr'):
        student = tr.find_element(By.TAG_NAME, 'a').text.replace('Student ', '')
        cell = tr.find_element(By.CSS_SELECTOR, 'td.assigned')
        selects = cell.find_elements(By.TAG_NAME, 'select')
        rows[student] = selects[0].get_attribute('value') if selects else cell.text
    return rows


def allocation_of(driver):
    reply = fetch(driver, 'GET', '/api/courses/3101/entries/assignment-1/allocation')[1]
    return {str(a['student']): a['marker'] for a in json.loads(reply)['allocation']}


def allocation(driver, url, screenshots):
    driver.get(url + '/entry.html?course=3101&entry=assignment-1')
    ready(driver)
    check(submission_rows(driver) == {s: '' for s in OTHERS + [DEMO_STUDENT]},
          f'three submissions, none allocated: {submission_rows(driver)}')
    check(not unlabelled_fields(driver), f'every field has a label {unlabelled_fields(driver)}')
    boxes = {b.get_attribute('value'): b for b in driver.find_elements(By.CSS_SELECTOR, 'input[name=even-marker]')}
    check(sorted(boxes) == ['amiller', 'bsmith', 'tjones'], f'evenly among the course\'s markers: {sorted(boxes)}')
    boxes['tjones'].click()  # only amiller and bsmith
    driver.find_element(By.ID, 'allocate-evenly').click()
    status_says(driver, 'allocated among amiller, bsmith')
    even = {OTHERS[0]: 'amiller', OTHERS[1]: 'bsmith', DEMO_STUDENT: 'amiller'}
    check(submission_rows(driver) == even, f'in turn by student number among the ticked: {submission_rows(driver)}')
    check(allocation_of(driver) == even, 'the server holds the even allocation')
    # By hand, by keyboard: the demo student's work to bsmith.
    select = driver.find_element(By.CSS_SELECTOR, f'#submissions select[aria-label="Marker of Student {DEMO_STUDENT}"]')
    select.send_keys('bsmith')
    status_says(driver, f'Student {DEMO_STUDENT}: assigned to bsmith')
    check(allocation_of(driver)[DEMO_STUDENT] == 'bsmith', 'the server holds the change by hand')
    screenshot(driver, screenshots, 'entry-allocation.png')
    driver.find_element(By.ID, 'only-assigned').click()
    check(list(submission_rows(driver)) == [OTHERS[0]], f'"Assigned to me" shows amiller his one: {list(submission_rows(driver))}')
    driver.find_element(By.ID, 'only-assigned').click()


def audit(driver, url, screenshots):
    driver.get(url + '/course.html?course=3101')
    ready(driver)
    rows = [[td.text for td in tr.find_elements(By.TAG_NAME, 'td')]
            for tr in driver.find_elements(By.CSS_SELECTOR, '#audit tr')]
    changes = [tuple(r[2:5]) for r in rows]
    check(changes[:1] == [('allocate', 'Assignment 1', f'student {DEMO_STUDENT}')],
          f'the newest change first: the allocation by hand {changes[:1]}')
    for change in [('allocate', 'Assignment 1', f'student {OTHERS[1]}'),
                   ('add-marker', 'whole course', 'marker bsmith'),
                   ('marker-password', 'whole course', 'marker bsmith'),
                   ('remove-marker', 'whole course', 'marker ctemp'),
                   ('import-class-list', 'whole course', '—'),
                   ('reset-password', 'whole course', f'student {DEMO_STUDENT}'),
                   ('restore', 'Assignment 1', f'student {DEMO_STUDENT}')]:
        check(change in changes, f'the audit lists {change}')
    check(all(r[1] == 'amiller' for r in rows[:9]), 'the newest rows name amiller')
    check(sum(c[0] == 'import-class-list' for c in changes) == 1, 'the refused import left no row')
    driver.execute_script("document.getElementById('audit-table').scrollIntoView()")
    screenshot(driver, screenshots, 'audit.png')


def zoomed(driver, url, screenshots):
    """At 200 % zoom on a 1280 x 720 screen each new page is usable without sideways scrolling of
    the whole page; its wide table scrolls in a region the keyboard reaches."""
    driver.execute_cdp_cmd('Emulation.setDeviceMetricsOverride',
                           {'width': 640, 'height': 360, 'deviceScaleFactor': 2, 'mobile': False})
    for page in ('markers.html?course=3101', 'entry.html?course=3101&entry=assignment-1', 'course.html?course=3101'):
        driver.get(f'{url}/{page}')
        ready(driver)
        wide = driver.execute_script('return document.documentElement.scrollWidth > window.innerWidth + 1')
        check(not wide, f'at 200 % zoom {page} does not scroll sideways as a whole')
        regions = driver.execute_script(
            "return [...document.querySelectorAll('.wide')].map(r => r.tabIndex === 0 && "
            "r.getAttribute('role') === 'region' && !!r.getAttribute('aria-label'))")
        check(regions and all(regions), f'{page}: its wide tables scroll in named regions the keyboard reaches')
        screenshot(driver, screenshots, page.split('.')[0] + '-200.png')
    driver.execute_script("document.getElementById('audit-table').scrollIntoView()")
    screenshot(driver, screenshots, 'audit-200.png')
    driver.execute_cdp_cmd('Emulation.clearDeviceMetricsOverride', {})


def admin_walk(url, screenshots, folder):
    driver = browser(1280, 720)
    try:
        log_in(driver, url, ADMIN)
        class_list(driver, url, screenshots)
        grades(driver, url, screenshots)
        history(driver, url, screenshots)
        late_badge(driver, url, screenshots)
        quiet_console(driver, 'the admin pages')
        import_class_list(driver, url, screenshots, folder)
        markers_page(driver, url, screenshots)
        allocation(driver, url, screenshots)
        audit(driver, url, screenshots)
        zoomed(driver, url, screenshots)
        # The refused import (422) and the id in use (409) are the only failed requests.
        problems = [e['message'] for e in driver.get_log('browser')
                    if e['level'] == 'SEVERE' and ' 422 ' not in e['message'] and ' 409 ' not in e['message']]
        check(not problems, f'the pages of the term: the console shows no other errors {problems}')
    finally:
        driver.quit()


def assigned_marker(url, screenshots):
    """The marker the admin added sees their allocated work and none of the admin's controls."""
    driver = browser(1280, 720)
    try:
        log_in(driver, url, NEW_MARKER)
        driver.get(url + '/entry.html?course=3101&entry=assignment-1')
        ready(driver)
        check(not driver.find_element(By.ID, 'allocation').is_displayed()
              and not driver.find_elements(By.CSS_SELECTOR, '#submissions select'),
              'a marker who is not an admin gets no allocation controls')
        check(submission_rows(driver) == {OTHERS[0]: 'amiller', OTHERS[1]: 'bsmith', DEMO_STUDENT: 'bsmith'},
              f'"Assigned to" shows each marker: {submission_rows(driver)}')
        driver.find_element(By.ID, 'only-assigned').send_keys(Keys.SPACE)
        check(list(submission_rows(driver)) == [OTHERS[1], DEMO_STUDENT],
              f'"Assigned to me" shows bsmith their two: {list(submission_rows(driver))}')
        screenshot(driver, screenshots, 'entry-assigned-to-me.png')
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
        driver.get(url + '/students.html?course=3101')
        ready(driver)
        check(not driver.find_element(By.ID, 'import').is_displayed(), 'nor a class list import')
        driver.get(url + '/entry.html?course=3101&entry=assignment-1')
        ready(driver)
        check(not driver.find_element(By.ID, 'allocation').is_displayed()
              and not driver.find_elements(By.CSS_SELECTOR, '#submissions select'), 'nor allocation controls')
        driver.get(url + '/markers.html?course=3101')
        WebDriverWait(driver, 10).until(lambda d: d.find_element(By.ID, 'error').is_displayed())
        check(not driver.find_element(By.ID, 'manage').is_displayed() and not driver.find_elements(By.CSS_SELECTOR, '#markers tr'),
              'the markers page shows such a marker nothing')
        entry = '/api/courses/3101/entries/assignment-1'
        for method, path, body in [('GET', '/api/courses/3101/markers', None),
                                   ('POST', '/api/markers', {'id': 'zz', 'name': 'Z', 'courses': [3101], 'password': 'twelve-chars'}),
                                   ('PUT', '/api/markers/bsmith/password', {'password': 'twelve-chars'}),
                                   ('DELETE', '/api/markers/bsmith', None),
                                   ('POST', '/api/courses/3101/class-list', {'csv': 'number,name,e-mail\n1,A,a@x\n'}),
                                   ('PUT', entry + '/allocation', {'student': 123456, 'marker': 'tjones'}),
                                   ('POST', entry + '/allocation/even', {}),
                                   ('GET', '/api/courses/3101/audit', None)]:
            status = fetch(driver, method, path, body)[0]
            check(status == 403, f'the API refuses {method} {path} to such a marker: {status}')
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
    server = Server(args.server, args.web, folder, add_work)
    os.environ['TZ'] = 'America/St_Johns'
    try:
        admin_walk(server.url, args.screenshots, folder)
        assigned_marker(server.url, args.screenshots)
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
