#!/usr/bin/python3
"""Opening a 5,000-line submission on the marking page, and adding comments to it, in headless
Chromium with the Performance API, beside the same text in a plain <pre> in the same browser.

    /usr/bin/python3 bench/marking_page_bench.py build/bench/marking_page_driver [rounds]

Prints, per round and as medians: navigation start to the page drawn (marking page and <pre>)
and their ratio; the time of the 200th comment and the slowest of all 200 (the edit's script
plus the layout it forces)."""
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.ui import WebDriverWait

HERE = os.path.dirname(os.path.abspath(__file__))
FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync',
         '--window-size=1400,900']

ADD_COMMENTS = '''
const done = arguments[arguments.length - 1];
const scroller = document.getElementById('scroller');
const editor = document.getElementById('editor');
const key = (target, init) => target.dispatchEvent(new KeyboardEvent('keydown', {bubbles: true, ...init}));
const times = [];
for (let i = 0; i < 200; i++) {
  scroller.focus();
  const t0 = performance.now();
  key(scroller, {key: 'ArrowDown'});                 // the cell cursor one line down
  key(scroller, {key: 'Enter'});                     // a comment there
  editor.value = `comment ${i}\\nsecond line`;
  key(editor, {key: 'Enter', ctrlKey: true});        // placed
  document.getElementById('page').getBoundingClientRect(); // the layout it forces
  times.push(performance.now() - t0);
}
done(times);
'''


def drawn(driver, url):
    driver.get(url)
    WebDriverWait(driver, 30).until(lambda d: d.execute_script(
        'return performance.getEntriesByName("page-drawn").length'))
    return driver.execute_script('return performance.getEntriesByName("page-drawn")[0].startTime')


def main():
    driver_program = sys.argv[1]
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    work = tempfile.mkdtemp(prefix='tallyport-bench-')
    web = os.path.join(work, 'web')
    shutil.copytree(os.path.join(HERE, '..', 'server', 'web', 'pages'), web)
    for name in ('plain-text-page.html', 'plain-text-page.js'):
        shutil.copy(os.path.join(HERE, name), web)
    server = subprocess.Popen([driver_program, work, web], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    url = server.stdout.readline().strip()
    options = webdriver.ChromeOptions()
    options.binary_location = '/usr/bin/chromium'
    for flag in FLAGS:
        options.add_argument(flag)
    options.add_argument('--user-data-dir=' + os.path.join(work, 'profile'))
    browser = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
    try:
        browser.get(url + '/')
        browser.find_element('id', 'marker-id').send_keys('tjones')
        browser.find_element('id', 'password').send_keys('marking-demo-123\n')
        WebDriverWait(browser, 10).until(lambda d: d.current_url.endswith('/courses.html'))
        serial = browser.execute_async_script(
            'fetch("/api/courses/3101/entries/2/submissions").then(r => r.json())'
            '.then(j => arguments[0](j.submissions[0].serial))')
        marking, plain, last, worst, typical = [], [], [], [], []
        for _ in range(rounds):
            plain.append(drawn(browser, f'{url}/plain-text-page.html?serial={serial}'))
            marking.append(drawn(browser, f'{url}/mark.html?course=3101&entry=2&serial={serial}'))
            times = browser.execute_async_script(ADD_COMMENTS)
            last.append(times[-1])
            worst.append(max(times))
            typical.append(sorted(times)[len(times) * 95 // 100])
            print(f'drawn: marking page {marking[-1]:.1f} ms, <pre> {plain[-1]:.1f} ms '
                  f'({marking[-1] / plain[-1]:.2f}x); 200th comment {last[-1]:.2f} ms, 95th percentile '
                  f'{typical[-1]:.2f} ms, slowest {worst[-1]:.2f} ms')
        m, p = statistics.median(marking), statistics.median(plain)
        print(f'median of {rounds}: marking page {m:.1f} ms, <pre> {p:.1f} ms, ratio {m / p:.2f}x; '
              f'200th comment {statistics.median(last):.2f} ms, 95th percentile {statistics.median(typical):.2f} ms, '
              f'slowest edit {statistics.median(worst):.2f} ms')
    finally:
        browser.quit()
        server.stdin.close()
        server.wait(10)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
