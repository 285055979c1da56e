#!/usr/bin/python3
"""The student pages against a real tallyport-server in headless Chromium, each beside its
baseline in the same run:
  1. opening a released 5,000-line marked file (200 comments, 20 strokes) on the student page vs
     the same text from the same route in a plain <pre> (navigation start to the page drawn);
  2. a 1 MiB (random bytes) upload through the page (package built in the page, sent with XMLHttpRequest, until
     the receipt arrives) vs the same file through the student protocol by the desktop client's
     own UploadPackage (student_upload_driver), to the same server.

    /usr/bin/python3 bench/student_page_bench.py build/server/tallyport-server \\
        build/bench/student_upload_driver [rounds]
"""
import base64
import http.cookiejar
import json
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.ui import Select, WebDriverWait

HERE = os.path.dirname(os.path.abspath(__file__))
HOST, PORT = '127.0.0.49', 2049
FLAGS = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
         '--disable-background-networking', '--disable-component-update', '--disable-sync',
         '--window-size=1280,720']
COURSE = os.path.join(HERE, 'student-bench-course.toml')
UPLOAD_IN_PAGE = '''
const [bytes, done] = arguments;
Promise.all([import('/required-files.js'), import('/submission-package.js'), import('/student-api.js')])
  .then(async ([rf, sp, api]) => {
    const data = Uint8Array.from(atob(bytes), (c) => c.charCodeAt(0));
    const t0 = performance.now();
    const set = new rf.RequiredFileSet('Data,dat,B,8', 'M,dat', false);
    const file = rf.loadSubmissionFile(set, 'upload.dat', data);
    const body = sp.packageBytes([file]);
    const built = performance.now() - t0;
    const receipt = await api.uploadPackage('assignment-2', body, () => {});
    done([performance.now() - t0, receipt.serial, built]);
  }).catch((e) => done([null, String(e), null]));'''


def source(lines):
    out = []
    for i in range(lines):
        body = ('/* a comment long enough to reach past the margin line at column eighty, as students\' comments do */'
                if i % 37 == 0 else f'total += values[{i}] * weight({i % 17});')
        out.append('\t' * (i % 4) + body + '\r\n')
    return ''.join(out).encode()


class Client:
    def __init__(self, url):
        self.url, self.token = url, ''
        self.opener = urllib.request.build_opener(urllib.request.HTTPCookieProcessor(http.cookiejar.CookieJar()))

    def call(self, method, path, body=None, raw=None):
        data = raw if raw is not None else None if body is None else json.dumps(body).encode()
        kind = 'application/octet-stream' if raw is not None else 'application/json'
        request = urllib.request.Request(self.url + path, data=data, method=method, headers={
            'Content-Type': kind, 'X-CSRF-Token': self.token, 'Origin': self.url})
        with self.opener.open(request) as reply:
            return json.loads(reply.read() or b'null')


def package(name, kind, tab, content):
    return (b'Number of Files: 1\r\n' + b'-' * 80 + b'\r\n' + b'File #1: %s,%s,%d,%d\r\n' % (name, kind, tab, len(content))
            + content + b'EOF\r\n')


def drawn(driver, url):
    driver.get(url)
    WebDriverWait(driver, 60).until(lambda d: d.execute_script('return performance.getEntriesByName("page-drawn").length'))
    return driver.execute_script('return performance.getEntriesByName("page-drawn")[0].startTime')


def main():
    server_program, upload_driver = sys.argv[1], sys.argv[2]
    rounds = int(sys.argv[3]) if len(sys.argv) > 3 else 5
    work = tempfile.mkdtemp(prefix='tallyport-student-bench-')
    web = os.path.join(work, 'web')
    shutil.copytree(os.path.join(HERE, '..', 'server', 'web', 'pages'), web)
    for name in ('student-plain-text-page.html', 'student-plain-text-page.js'):
        shutil.copy(os.path.join(HERE, name), web)
    db = os.path.join(work, 'bench.db')
    subprocess.run([server_program, 'demo', '--db', db], check=True, stdout=subprocess.DEVNULL)
    subprocess.run([server_program, 'course', 'load', '--db', db, COURSE], check=True, stdout=subprocess.DEVNULL)
    subprocess.run([server_program, 'marker', 'add', '--db', db, '--id', 'benchadmin', '--name', 'Bench', '--info', '-',
                    '--course', '3103', '--admin'], check=True, stdout=subprocess.DEVNULL)
    subprocess.run([server_program, 'marker', 'passwd', '--db', db, '--id', 'benchadmin'], input='bench-admin-password\n',
                   text=True, check=True, stdout=subprocess.DEVNULL)
    log = open(os.path.join(work, 'server.log'), 'w+')
    server = subprocess.Popen([server_program, 'serve', '--db', db, '--listen', f'{HOST}:{PORT}', '--staff-listen',
                               f'{HOST}:0', '--staff-web', web], stderr=log)
    browser = None
    try:
        url = None
        for _ in range(400):
            log.seek(0)
            found = re.search(r'staff API at (http://[\d.]+:\d+)/api/', log.read())
            if found:
                url = found.group(1)
                break
            time.sleep(0.05)
        student = Client(url)
        student.call('POST', '/api/student/register', {'course': 3103, 'student': '400001', 'password': 'bench1',
                                                       'name': 'Bench Student', 'email': 'b@example.edu'})
        student.token = student.call('POST', '/api/student/login', {'course': 3103, 'student': '400001',
                                                                     'password': 'bench1'})['csrfToken']
        text = source(5000)
        serial = student.call('POST', '/api/student/entries/assignment-1/submissions', raw=package(b'long.c', b'A', 4, text))['serial']
        staff = Client(url)
        staff.token = staff.call('POST', '/api/login', {'id': 'benchadmin', 'password': 'bench-admin-password'})['csrfToken']
        notes = [{'type': 'comment', 'x': 600 + 10 * (i % 5), 'y': i * 250, 'text': f'comment {i}\nsecond line'} for i in range(200)]
        strokes = [{'type': 'stroke', 'x': 0, 'y': i * 2500 + 5, 'width': 300, 'height': 10,
                    'points': [[0, 0], [150, 10], [300, 0]]} for i in range(20)]
        staff.call('PUT', f'/api/submissions/{serial}/marking', {'version': 0, 'mark': 7, 'detail': 'bench',
                                                                  'files': [{'index': 0, 'name': 'long.c', 'annotations': notes + strokes}]})
        staff.call('POST', '/api/courses/3103/entries/assignment-1/release', {'force': True})

        options = webdriver.ChromeOptions()
        options.binary_location = '/usr/bin/chromium'
        for flag in FLAGS:
            options.add_argument(flag)
        options.add_argument('--user-data-dir=' + os.path.join(work, 'profile'))
        browser = webdriver.Chrome(service=Service('/usr/bin/chromedriver'), options=options)
        browser.get(url + '/student.html')
        WebDriverWait(browser, 10).until(lambda d: d.find_element('tag name', 'body').get_attribute('data-ready'))
        Select(browser.find_element('id', 'login-course')).select_by_value('3103')
        browser.find_element('id', 'login-student').send_keys('400001')
        browser.find_element('id', 'login-password').send_keys('bench1\n')
        WebDriverWait(browser, 10).until(lambda d: '/student-course.html' in d.current_url)

        page, plain = [], []
        for _ in range(rounds):
            plain.append(drawn(browser, f'{url}/student-plain-text-page.html?entry=assignment-1'))
            page.append(drawn(browser, f'{url}/student-marked.html?entry=assignment-1'))
            print(f'5,000-line marked file drawn: student page {page[-1]:.1f} ms, <pre> {plain[-1]:.1f} ms '
                  f'({page[-1] / plain[-1]:.2f}x)', flush=True)

        data = random.Random(7).randbytes(1 << 20)
        upload = os.path.join(work, 'upload.dat')
        with open(upload, 'wb') as out:
            out.write(data)
        encoded = base64.b64encode(data).decode()
        browser.get(url + '/student-course.html')
        WebDriverWait(browser, 10).until(lambda d: d.find_element('tag name', 'body').get_attribute('data-ready'))
        web_times, protocol_times = [], []
        for _ in range(rounds):
            ms, got, built = (browser.execute_async_script(UPLOAD_IN_PAGE, encoded) + [None])[:3]
            if ms is None:
                sys.exit(f'the page upload failed: {got}')
            web_times.append(ms)
            out = subprocess.run([upload_driver, HOST, str(PORT), '3103', '100400001', 'bench1', '1', upload, '1'],
                                 check=True, capture_output=True, text=True, timeout=60).stdout.split()
            protocol_times.append(float(out[0]))
            print(f'1 MiB upload: page {web_times[-1]:.1f} ms (package built in {built:.1f} ms), protocol {protocol_times[-1]:.1f} ms '
                  f'({web_times[-1] / protocol_times[-1]:.2f}x)', flush=True)

        # The server's own time for each page upload (its request log), to tell it from the browser's.
        log.seek(0)
        served = [float(m) for m in re.findall(r'path=/api/student/entries/assignment-2/submissions status=201 .*?ms=([\d.]+)', log.read())]
        if served:
            print(f'server time of the page uploads: median {statistics.median(served):.1f} ms of {len(served)}')
        p, b = statistics.median(page), statistics.median(plain)
        w, s = statistics.median(web_times), statistics.median(protocol_times)
        print(f'median of {rounds}: marked file {p:.1f} ms vs <pre> {b:.1f} ms, ratio {p / b:.2f}x; '
              f'1 MiB upload page {w:.1f} ms vs protocol {s:.1f} ms, ratio {w / s:.2f}x')
    finally:
        if browser:
            browser.quit()
        server.terminate()
        server.wait(10)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == '__main__':
    main()
