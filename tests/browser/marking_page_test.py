#!/usr/bin/python3
"""The marking page in headless Chromium against a real tallyport-server on loopback with the
demo data: a marker comments, draws, moves, deletes, undoes, marks and saves, and the student's
own View (view_marked_probe, through the student port 2047) must read exactly that back; a
second session saving in between gets the conflict screen; one submission is marked with the
keyboard alone. Run by ctest (browser.marking_page)."""
import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

HOST = '127.0.0.47'  # a loopback address of our own, so the student port can be 2047
STUDENT_PORT = 2047
SX, SY = 0.93, 1.6  # pixels per page unit, as the page draws
CHROMIUM_FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
                  '--disable-background-networking', '--disable-component-update', '--disable-sync',
                  '--window-size=1400,900']

failures = []


def check(condition, what):
    print(('ok   ' if condition else 'FAIL ') + what, flush=True)
    if not condition:
        failures.append(what)


class Server:
    """The demo data served on `host`; `prepare(db)` may add to the database before serving."""
    def __init__(self, binary, web, folder, host=HOST, prepare=None):
        db = os.path.join(folder, 'demo.db')
        subprocess.run([binary, 'demo', '--db', db], check=True, stdout=subprocess.DEVNULL)
        if prepare:
            prepare(db)
        self.log = open(os.path.join(folder, 'server.log'), 'w+')
        self.process = subprocess.Popen(
            [binary, 'serve', '--db', db, '--listen', f'{host}:{STUDENT_PORT}',
             '--staff-listen', f'{host}:0', '--staff-web', web], stderr=self.log)
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


def browser():
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for flag in CHROMIUM_FLAGS:
        options.add_argument(flag)
    options.add_argument('--user-data-dir=' + tempfile.mkdtemp(prefix='tallyport-chromium-'))
    options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
    return webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)


def log_in(driver, url):
    driver.get(url + '/')
    driver.find_element(By.ID, 'marker-id').send_keys('tjones')
    driver.find_element(By.ID, 'password').send_keys('marking-demo-123', Keys.ENTER)
    WebDriverWait(driver, 10).until(lambda d: d.current_url.endswith('/courses.html'))


def api(driver, path):
    return driver.execute_async_script(
        'fetch(arguments[0]).then(r => r.json()).then(arguments[1])', path)


def serial_of(driver, entry):
    return api(driver, f'/api/courses/3101/entries/{entry}/submissions')['submissions'][0]['serial']


def open_marking(driver, url, entry):
    serial = serial_of(driver, entry)
    driver.get(f'{url}/mark.html?course=3101&entry={entry}&serial={serial}')
    WebDriverWait(driver, 10).until(lambda d: d.find_element(By.TAG_NAME, 'body').get_attribute('data-ready'))
    return serial


def page_offset(driver, x_units, y_units):
    """Selenium offsets from the page's centre for a point in page units."""
    box = driver.execute_script('return document.getElementById("page").getBoundingClientRect().toJSON()')
    return x_units * SX - box['width'] / 2, y_units * SY - box['height'] / 2


def press(driver, *keys):
    ActionChains(driver).send_keys(*keys).perform()


def chord(driver, modifier, key):
    ActionChains(driver).key_down(modifier).send_keys(key).key_up(modifier).perform()


def shown_annotations(driver):
    """The comments and strokes the page draws: comments as their drawn glyphs per line (blanks
    draw nothing, so they are not there), strokes as points in page units."""
    return driver.execute_script('''
        const svg = document.getElementById('page');
        return {
          comments: [...svg.querySelectorAll('g.comment')].map(g => [...g.querySelectorAll('text')].map(t => t.textContent)),
          strokes: [...svg.querySelectorAll('polyline.stroke')].map(p => p.getAttribute('points').trim().split(' ').map(s => s.split(',').map(Number))),
        };''')


def probe(args, entry, screenshot=None):
    command = [args.probe, HOST, str(STUDENT_PORT), str(entry)] + ([screenshot] if screenshot else [])
    out = subprocess.run(command, check=True, capture_output=True, text=True, timeout=60).stdout
    lines = [json.loads(line) for line in out.splitlines() if line.startswith('{')]
    return lines[0]['mark'], {line['file']: line['annotations'] for line in lines[1:]}


def wait_saved(driver):
    WebDriverWait(driver, 10).until(
        lambda d: d.find_element(By.ID, 'status').text.startswith('Saved (version'))


def served_files(url):
    """The pages come with a strict policy; nothing outside the folder is served."""
    with urllib.request.urlopen(url + '/mark.html') as reply:
        policy = reply.headers['Content-Security-Policy'] or ''
        check("script-src 'self'" in policy and "frame-ancestors 'none'" in policy
              and 'unsafe-inline' not in policy and reply.headers['X-Frame-Options'] == 'DENY',
              f'the marking page is served with a strict policy: {policy}')
    for path in ('/../server.log', '/%2e%2e/demo.db', '/api.js/../../demo.db', '/.hidden.js', '/MARK.HTML'):
        try:
            urllib.request.urlopen(url + path)
            check(False, f'{path} is refused')
        except urllib.error.HTTPError as error:
            check(error.code in (400, 404), f'{path} is refused ({error.code})')


def quiet_console(driver, url, what):
    """No script error, no policy violation, and every request went to the server itself."""
    problems = [e['message'] for e in driver.get_log('browser') if e['level'] == 'SEVERE']
    check(not problems, f'{what}: the console shows no errors {problems}')
    elsewhere = [r for r in driver.execute_script(
        'return performance.getEntriesByType("resource").map(r => r.name)') if not r.startswith(url + '/')]
    check(not elsewhere, f'{what}: no request leaves the server {elsewhere}')


# Bytes of a file with its tab width, and the glyphs the page draws with their columns, as the
# student's client lays them out (one cell per byte).
LAYOUT_CASES = [
    ('ASCII with a tab of 4', b'a\tb', 4, [['a', 0], ['b', 4]]),
    ('tabs dropped at width 0', b'a\tb', 0, [['a', 0], ['b', 1]]),
    ('UTF-8: a character in the first of its cells', 'é\tx€y'.encode(), 4,
     [['é', 0], ['x', 4], ['€', 5], ['y', 8]]),
    ('not UTF-8: every byte Windows-1252', b'\xe9\x80\x81\x9d-', 8,
     [['é', 0], ['€', 1], ['\ufffd', 2], ['\ufffd', 3], ['-', 4]]),
    ('one bad sequence makes the whole file Windows-1252', 'é'.encode() + b'\xff', 8,
     [['Ã', 0], ['©', 1], ['ÿ', 2]]),
    ('a CR before LF is dropped, the text ends at NUL', b'ab\r\ncd\0ef', 8,
     [['a', 0], ['b', 1], '|', ['c', 0], ['d', 1]]),
]

LAYOUT_SCRIPT = '''
const [bytes, tab, done] = arguments;
import('/cells.js').then(({FilePage}) => {
  const page = new FilePage(Uint8Array.from(bytes), tab);
  const out = [];
  for (let n = 0; n < page.lineCount; n++) {
    if (n) out.push('|');
    const laid = page.line(n);
    [...laid.text].forEach((ch, i) => out.push([ch, laid.columns[i]]));
  }
  done(out);
});'''


def text_layout(driver):
    """The page's byte decoding against a table of the client's rules."""
    for name, data, tab, expected in LAYOUT_CASES:
        got = driver.execute_async_script(LAYOUT_SCRIPT, list(data), tab)
        check(got == expected, f'text layout, {name}: {got}')


def entry_names(driver, url, screenshots):
    """Entries are named as the student's client names them, and the entry page says which."""
    courses = WebDriverWait(driver, 10).until(lambda d: d.find_element(By.ID, 'courses'))
    WebDriverWait(driver, 10).until(lambda d: 'Quiz' in courses.text)
    links = [a.text for a in courses.find_elements(By.CSS_SELECTOR, 'a')]
    expected = ['Assignment 1', 'Assignment 2', 'Assignment 3', 'Assignment 4', 'Lab 1 Monday',
                'Lab 1 Wednesday', 'Lab 2 Monday', 'Lab 2 Wednesday', 'Lab 3 Monday', 'Lab 3 Wednesday',
                'Quiz 1', 'Quiz 2']
    check(links[:12] == expected, f'the courses page names entries as the client does: {links}')
    if screenshots:
        driver.save_screenshot(os.path.join(screenshots, 'courses.png'))
    driver.get(f'{url}/entry.html?course=3101&entry=0')
    WebDriverWait(driver, 10).until(lambda d: 'out of' in d.find_element(By.ID, 'title').text)
    title = driver.find_element(By.ID, 'title').text
    check(title == '3101 — Assignment 1 (out of 10)', f'the entry page names the entry and its maximum: {title!r}')


def anonymous_mode(driver, url):
    driver.get(f'{url}/entry.html?course=3101&entry=0')
    table = WebDriverWait(driver, 10).until(lambda d: d.find_element(By.ID, 'submissions'))
    WebDriverWait(driver, 10).until(lambda d: '100123456' in table.text)
    driver.find_element(By.ID, 'anonymous').click()
    check('100123456' not in table.text and 'Submission' in table.text,
          f'the anonymous mode hides student numbers: {table.text!r}')


def round_trip(args, url):
    driver = browser()
    try:
        log_in(driver, url)
        entry_names(driver, url, args.screenshots)
        anonymous_mode(driver, url)
        if args.screenshots:
            driver.save_screenshot(os.path.join(args.screenshots, 'entry.png'))
        open_marking(driver, url, 0)
        check('100123456' not in driver.find_element(By.TAG_NAME, 'body').text,
              'the anonymous mode holds on the marking page')
        text_layout(driver)
        page = driver.find_element(By.ID, 'page')
        if args.screenshots:
            driver.save_screenshot(os.path.join(args.screenshots, 'marking-page-before.png'))
        before = shown_annotations(driver)
        check(len(before['comments']) == 3 and len(before['strokes']) == 2,
              'the demo hello.c shows its three comments and two strokes')

        # A comment on line 12, column 5 (0-based cells), two lines long.
        column, line = 4, 11
        ActionChains(driver).move_to_element_with_offset(page, *page_offset(driver, column * 10 + 4, line * 10 + 5)).click().perform()
        editor = driver.find_element(By.ID, 'editor')
        check(editor.is_displayed(), 'a click with the Comment tool opens the comment editor')
        editor.send_keys('Check the bound', Keys.ENTER, 'and say why – 10€')
        editor.send_keys(Keys.CONTROL, Keys.ENTER)
        check(not editor.is_displayed(), 'Ctrl+Enter places the comment')

        # A stroke drawn with the pointer, under line 14.
        driver.find_element(By.CSS_SELECTOR, 'input[value=pen]').click()
        path = [(100, 145), (160, 150), (220, 146), (220.3, 146.2), (300, 160)]
        chain = ActionChains(driver).move_to_element_with_offset(page, *page_offset(driver, *path[0])).click_and_hold()
        for point in path[1:]:
            chain.move_to_element_with_offset(page, *page_offset(driver, *point))
        chain.release().perform()
        after_draw = shown_annotations(driver)
        drawn = after_draw['strokes'][-1]
        check(len(after_draw['strokes']) == 3, 'the pen adds one stroke')
        check(len(drawn) == 4 and all(abs(p[0] - q[0]) <= 1 and abs(p[1] - q[1]) <= 1
                                      for p, q in zip(drawn, [path[0], path[1], path[2], path[4]])),
              f'the stroke keeps the pointer path, without the point closer than a unit: {drawn}')

        # Select: drag the new comment two cells right and one line down.
        driver.find_element(By.CSS_SELECTOR, 'input[value=select]').click()
        start = (column * 10 + 15, line * 10 + 5)
        ActionChains(driver).move_to_element_with_offset(page, *page_offset(driver, *start)).click_and_hold() \
            .move_to_element_with_offset(page, *page_offset(driver, start[0] + 10, start[1] + 5)) \
            .move_to_element_with_offset(page, *page_offset(driver, start[0] + 20, start[1] + 10)) \
            .release().perform()
        check(driver.execute_script('return document.querySelectorAll("#page .selected").length') > 0,
              'the dragged comment is drawn selected')
        # Delete the demo's first stroke, then undo the deletion.
        first = before['strokes'][0]
        ActionChains(driver).move_to_element_with_offset(page, *page_offset(driver, *first[0])).click().perform()
        press(driver, Keys.DELETE)
        check(len(shown_annotations(driver)['strokes']) == 2, 'Delete removes the selected stroke')
        chord(driver, Keys.CONTROL, 'z')
        restored = shown_annotations(driver)
        check(len(restored['strokes']) == 3 and first in restored['strokes'], 'undo brings the stroke back')

        # Double-click edits a comment; Escape leaves it as it was.
        moved = page_offset(driver, (column + 2) * 10 + 5, (line + 1) * 10 + 5)
        ActionChains(driver).move_to_element_with_offset(page, *moved).double_click().perform()
        check(editor.is_displayed() and editor.get_attribute('value').startswith('Check the bound'),
              'a double-click opens the comment for editing')
        editor.send_keys(Keys.ESCAPE)
        # Leaving with unsaved changes asks; saying no stays.
        press(driver, 'j')
        alert = WebDriverWait(driver, 5).until(lambda d: d.switch_to.alert)
        check('unsaved' in alert.text, f'leaving with unsaved changes asks: {alert.text!r}')
        alert.dismiss()
        check('/mark.html' in driver.current_url, 'saying no stays on the page')

        # A mark typed and saved at once, without leaving its field, is the one saved: by Ctrl+S,
        # then by a click on Save.
        # Nothing moves under the pointer when the status changes or a refused mark is reported.
        save_box = lambda: driver.find_element(By.ID, 'save').rect
        before_box = save_box()
        mark = driver.find_element(By.ID, 'mark')
        mark.clear()
        mark.send_keys('99', Keys.TAB)
        check(save_box() == before_box, f'Save stays put as the mark field is left: {before_box} then {save_box()}')
        # The cell cursor is solid, 2 px or more, and black (plain on white and on comment red).
        cursor = driver.execute_script('''const s = getComputedStyle(document.querySelector("#page .cursor"));
            return [s.stroke, s.strokeWidth, s.strokeDasharray];''')
        check(cursor[0] == 'rgb(0, 0, 0)' and float(cursor[1].rstrip('px')) >= 2 and cursor[2] == 'none',
              f'the cell cursor is a solid black line of 2 px or more: {cursor}')
        serial = serial_of(driver, 0)
        for typed, save in (('6', lambda: chord(driver, Keys.CONTROL, 's')),
                            ('7', lambda: driver.find_element(By.ID, 'save').click())):
            mark = driver.find_element(By.ID, 'mark')
            mark.clear()
            mark.send_keys(typed)
            save()
            wait_saved(driver)
            check(save_box() == before_box, f'Save stays put once saved: {save_box()}')
            stored = api(driver, f'/api/submissions/{serial}')['marking']['mark']
            check(stored == int(typed), f'a mark typed and saved at once is stored: typed {typed}, stored {stored}')
        final = shown_annotations(driver)
        if args.screenshots:
            driver.execute_script('document.getElementById("scroller").focus()')
            driver.save_screenshot(os.path.join(args.screenshots, 'marking-page.png'))

        shot = os.path.join(args.screenshots, 'student-view.png') if args.screenshots else None
        student_mark, files = probe(args, 0, shot)
        check(student_mark == 'Mark: 7/10', f'the student sees the mark: {student_mark}')
        seen = files.get('hello.c', [])
        comments = [a for a in seen if a['type'] == 'comment']
        strokes = [a for a in seen if a['type'] == 'stroke']
        ours = [c for c in comments if c['text'].startswith('Check the bound')]
        check(len(ours) == 1 and (ours[0]['x'], ours[0]['y']) == ((column + 2) * 10, (line + 1) * 10),
              f'the student reads the moved comment at its cell: {ours}')
        check(ours and ours[0]['text'] == 'Check the bound\r\x07and say why \x96 10\x80',
              'its line break and Windows-1252 characters arrive as the client reads them')
        # The client chains a stroke's points newest first.
        student_strokes = [[[s['x'] + p[0], s['y'] + p[1]] for p in reversed(s['points'])] for s in strokes]
        check(sorted(student_strokes) == sorted(final['strokes']),
              f'the student reads every stroke with exactly the points drawn: {student_strokes} vs {final["strokes"]}')
        check(len(comments) == len(final['comments']) == 4, 'four comments in all')
        quiet_console(driver, url, 'marking')
    finally:
        driver.quit()


def conflict(url):
    first, second = browser(), browser()
    try:
        for driver in (first, second):
            log_in(driver, url)
            open_marking(driver, url, 1)
        # The margin line runs the page's full height in every file, also after switching files.
        for key in (']', ']', '[', '['):
            press(second, key)
            heights = second.execute_script('''return [document.querySelector("#page .margin").getBoundingClientRect().height,
                document.getElementById("page").getBoundingClientRect().height]''')
            check(heights[0] > 0 and abs(heights[0] - heights[1]) < 1,
                  f'after {key} the margin line is as tall as the page: {heights}')
        # The first marker comments and saves.
        page = first.find_element(By.ID, 'page')
        ActionChains(first).move_to_element_with_offset(page, *page_offset(first, 25, 15)).click().perform()
        first.find_element(By.ID, 'editor').send_keys('Saved first', Keys.CONTROL, Keys.ENTER)
        # The comment bank holds it; one click places it again at the cell cursor.
        press(first, Keys.ARROW_DOWN, Keys.ARROW_DOWN)
        banked = first.find_element(By.CSS_SELECTOR, '#bank button')
        check(banked.text == 'Saved first', f'the comment bank offers the new comment: {banked.text!r}')
        banked.click()
        first.find_element(By.ID, 'mark').send_keys('3', Keys.TAB)
        first.find_element(By.ID, 'save').click()
        wait_saved(first)
        # The second, still on version 0, saves too.
        second.find_element(By.ID, 'mark').send_keys('9', Keys.TAB)
        second.find_element(By.ID, 'save').click()
        WebDriverWait(second, 10).until(lambda d: d.find_element(By.ID, 'conflict').is_displayed())
        mine = second.find_element(By.ID, 'conflict-mine').text
        theirs = second.find_element(By.ID, 'conflict-theirs').text
        check('Mark: 9' in mine and 'Mark: 3' in theirs and 'Saved first' in theirs,
              f'the conflict screen shows both versions: mine {mine!r}, theirs {theirs!r}')
        second.find_element(By.ID, 'take-theirs').click()
        check(second.find_element(By.ID, 'mark').get_attribute('value') == '3'
              and ['Savedfirst'] in shown_annotations(second)['comments'],
              'taking theirs shows their marking')
        submission = api(second, f'/api/submissions/{serial_of(second, 1)}')
        check(submission['marking']['mark'] == 3, 'nothing was overwritten by the stale save')
        placed = [(a['x'], a['y'], a['text']) for a in submission['files'][0]['annotations']]
        check(placed == [(20, 10, 'Saved first'), (20, 30, 'Saved first')],
              f'the bank placed the comment again at the cursor: {placed}')
        chord(second, Keys.CONTROL, 'z')
        check(second.find_element(By.ID, 'mark').get_attribute('value') == '9',
              'the discarded marking stays one undo away')
        # Saved now, it is based on their version and goes through.
        second.find_element(By.ID, 'save').click()
        wait_saved(second)
        submission = api(second, f'/api/submissions/{serial_of(second, 1)}')
        check(submission['marking']['mark'] == 9 and submission['marking']['version'] == 2,
              'mine, saved after seeing theirs, replaces theirs')
        # Both comment at once: the screen lists what each side alone has, and keeping both keeps
        # my mark with every comment of either side.
        open_marking(first, url, 1)
        for driver, text, at in ((first, 'From first', (45, 55)), (second, 'From second', (45, 75))):
            page = driver.find_element(By.ID, 'page')
            ActionChains(driver).move_to_element_with_offset(page, *page_offset(driver, *at)).click().perform()
            driver.find_element(By.ID, 'editor').send_keys(text, Keys.CONTROL, Keys.ENTER)
            if driver is first:
                first.find_element(By.ID, 'save').click()
                wait_saved(first)
        second.find_element(By.ID, 'save').click()
        WebDriverWait(second, 10).until(lambda d: d.find_element(By.ID, 'conflict').is_displayed())
        mine = second.find_element(By.ID, 'conflict-mine').text
        theirs = second.find_element(By.ID, 'conflict-theirs').text
        if os.environ.get('MARKING_PAGE_SHOTS'):
            second.save_screenshot(os.path.join(os.environ['MARKING_PAGE_SHOTS'], 'conflict.png'))
        check('From second' in mine and 'From first' not in mine and 'From first' in theirs
              and 'From second' not in theirs and 'only here' in mine,
              f'each side lists what only it has: mine {mine!r}, theirs {theirs!r}')
        second.find_element(By.ID, 'keep-both').click()
        wait_saved(second)
        submission = api(second, f'/api/submissions/{serial_of(second, 1)}')
        texts = sorted(a['text'] for a in submission['files'][0]['annotations'] if a['type'] == 'comment')
        check(submission['marking']['mark'] == 9 and submission['marking']['version'] == 4
              and texts == ['From first', 'From second'],
              f'keeping both stores my mark and both sides\' comments: {submission["marking"]}, {texts}')
    finally:
        first.quit()
        second.quit()


def keyboard_only(args, url):
    driver = browser()
    try:
        driver.get(url + '/')
        press(driver, 'tjones', Keys.TAB, 'marking-demo-123', Keys.ENTER)
        WebDriverWait(driver, 10).until(lambda d: d.current_url.endswith('/courses.html'))
        open_marking(driver, url, 9)
        # Comment tool, cursor three lines down and five cells right, write, place.
        press(driver, 'c', Keys.ARROW_DOWN * 3, Keys.ARROW_RIGHT * 5, Keys.ENTER)
        press(driver, 'Typed', Keys.ENTER, 'by keys')
        chord(driver, Keys.CONTROL, Keys.ENTER)
        # Select it (the newest), move it one cell right.
        press(driver, 's')
        chord(driver, Keys.SHIFT, 'a')
        press(driver, Keys.ARROW_RIGHT, 'm')
        chord(driver, Keys.CONTROL, 'a')
        press(driver, '4', Keys.TAB)
        # Save and next unmarked: none is left in this entry, so back to its list.
        ActionChains(driver).key_down(Keys.CONTROL).key_down(Keys.SHIFT).send_keys('s') \
            .key_up(Keys.SHIFT).key_up(Keys.CONTROL).perform()
        WebDriverWait(driver, 10).until(lambda d: '/entry.html?course=3101&entry=9' in d.current_url)
        student_mark, files = probe(args, 9)
        check(student_mark == 'Mark: 4/5', f'keyboard marking: the student sees {student_mark}')
        typed = [a for f in files.values() for a in f if a.get('text', '').startswith('Typed')]
        check(len(typed) == 1 and (typed[0]['x'], typed[0]['y']) == (60, 30)
              and typed[0]['text'] == 'Typed\r\x07by keys',
              f'keyboard marking: the comment is at line 4, column 7: {typed}')
    finally:
        driver.quit()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--server', required=True)
    parser.add_argument('--probe', required=True)
    parser.add_argument('--web', required=True)
    parser.add_argument('--screenshots', help='folder for the page and the student view as PNG '
                        '(or TALLYPORT_SCREENSHOT_DIR)')
    args = parser.parse_args()
    args.screenshots = args.screenshots or os.environ.get('TALLYPORT_SCREENSHOT_DIR')
    for program in ('/usr/bin/chromium', '/usr/bin/chromedriver'):
        if not os.path.exists(program):
            sys.exit(f'{program} is missing: run scripts/install-deps.sh')
    folder = tempfile.mkdtemp(prefix='tallyport-browser-')
    server = Server(args.server, args.web, folder)
    try:
        served_files(server.url)
        round_trip(args, server.url)
        conflict(server.url)
        keyboard_only(args, server.url)
    finally:
        server.stop()
    if failures:
        server.log.seek(0)
        print(server.log.read()[-3000:])
        sys.exit(f'{len(failures)} check(s) failed')
    shutil.rmtree(folder, ignore_errors=True)


if __name__ == '__main__':
    main()
