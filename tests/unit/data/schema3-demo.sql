PRAGMA foreign_keys=OFF;
BEGIN TRANSACTION;
CREATE TABLE courses (
    number       INTEGER PRIMARY KEY,
    name         TEXT NOT NULL,
    allow_list   TEXT NOT NULL DEFAULT ''
);
INSERT INTO courses VALUES(1606,'Software Design','');
INSERT INTO courses VALUES(3101,'Introduction to Programming','');
CREATE TABLE components (
    course       INTEGER NOT NULL REFERENCES courses(number) ON DELETE CASCADE,
    position     INTEGER NOT NULL,
    name         TEXT NOT NULL,
    elements     INTEGER NOT NULL,
    sections     INTEGER NOT NULL,
    PRIMARY KEY (course, position)
);
INSERT INTO components VALUES(3101,0,'Assignment',4,1);
INSERT INTO components VALUES(3101,1,'Lab',3,2);
INSERT INTO components VALUES(3101,2,'Quiz',2,1);
INSERT INTO components VALUES(1606,0,'Assignment',2,1);
CREATE TABLE entries (
    course          INTEGER NOT NULL REFERENCES courses(number) ON DELETE CASCADE,
    position        INTEGER NOT NULL,
    kind            TEXT NOT NULL,
    label           TEXT NOT NULL,
    opens           INTEGER,
    deadline        INTEGER,
    marks_released  INTEGER NOT NULL DEFAULT 0,
    status_override TEXT,
    type_table      TEXT NOT NULL DEFAULT '',
    requirement     TEXT NOT NULL DEFAULT '',
    size_limited    INTEGER NOT NULL DEFAULT 0,
    max_mark        INTEGER NOT NULL DEFAULT 10,
    exam_selector   INTEGER,
    allow_list      TEXT NOT NULL DEFAULT '',
    PRIMARY KEY (course, position)
);
INSERT INTO entries VALUES(3101,0,'A','Assignment 1',NULL,947980740,1,NULL,'C Source,c,F,4/Header,h,F,4','F,c',0,10,NULL,'');
INSERT INTO entries VALUES(3101,1,'A','Assignment 2',NULL,982281540,0,NULL,'C Source,c,F,4/Header,h,F,4','S,main.c,list.c,list.h',0,10,NULL,'');
INSERT INTO entries VALUES(3101,2,'A','Assignment 3',NULL,4102444740,0,NULL,'C Source,c,F,4/Header,h,F,4/Text,txt,A,8/Data,dat,B,8','M,c,h,txt,dat',1,10,NULL,'');
INSERT INTO entries VALUES(3101,3,'A','Assignment 4',4070908800,NULL,0,NULL,'Java Source,java,T,2/Text,txt,A,8/Image,png,B,8','D',0,10,NULL,'');
INSERT INTO entries VALUES(3101,4,'E','Monday',NULL,4102444740,0,NULL,'Python,py,F,4/Text,txt,A,8','M,py,txt',0,5,NULL,'');
INSERT INTO entries VALUES(3101,5,'E','Wednesday',NULL,983448000,0,NULL,'Python,py,F,4/Text,txt,A,8','M,py,txt',0,5,NULL,'');
INSERT INTO entries VALUES(3101,6,'D','Monday',NULL,4102444740,0,NULL,'Python,py,F,4/Text,txt,A,8','M,py,txt',0,5,NULL,'');
INSERT INTO entries VALUES(3101,7,'D','Wednesday',4070908800,4102444740,0,NULL,'Python,py,F,4/Text,txt,A,8','M,py,txt',0,5,NULL,'');
INSERT INTO entries VALUES(3101,8,'A','Monday',NULL,4102444740,0,NULL,'Python,py,F,4/Text,txt,A,8','M,py,txt',0,5,NULL,'');
INSERT INTO entries VALUES(3101,9,'A','Wednesday',NULL,951912000,1,NULL,'Python,py,F,4/Text,txt,A,8','M,py,txt',0,5,NULL,'');
INSERT INTO entries VALUES(3101,10,'A','Quiz 1',NULL,4102444740,0,NULL,'Text,txt,A,8','F,txt',0,4,NULL,'');
INSERT INTO entries VALUES(3101,11,'A','Quiz 2',4083955200,NULL,0,NULL,'Text,txt,A,8','F,txt',0,4,NULL,'');
INSERT INTO entries VALUES(1606,0,'A','Assignment 1',NULL,4102444740,0,NULL,'C++ Source,cpp,F,4/Header,h,F,4','M,cpp,h',0,10,NULL,'');
INSERT INTO entries VALUES(1606,1,'A','Assignment 2',NULL,4102444740,0,NULL,'C++ Source,cpp,F,4/Header,h,F,4','M,cpp,h',0,10,NULL,'');
CREATE TABLE exam_files (
    course       INTEGER NOT NULL,
    entry        INTEGER NOT NULL,
    position     INTEGER NOT NULL,
    name         TEXT NOT NULL,
    bytes        BLOB NOT NULL,
    PRIMARY KEY (course, entry, position),
    FOREIGN KEY (course, entry) REFERENCES entries(course, position) ON DELETE CASCADE
);
INSERT INTO exam_files VALUES(3101,4,0,'lab1/question.txt',X'4c616220310d0a577269746520612070726f6772616d2074686174207072696e7473207468652073756d206f6620746865206e756d6265727320696e20646174612e7478742e0d0a');
INSERT INTO exam_files VALUES(3101,4,1,'lab1/starter.py',X'696d706f7274207379730d0a0d0a646566206d61696e28293a0d0a20202020706173730d0a');
INSERT INTO exam_files VALUES(3101,4,2,'lab1/data.txt',X'330d0a310d0a340d0a310d0a350d0a');
INSERT INTO exam_files VALUES(3101,6,0,'q1.txt',X'5175657374696f6e20313a20726576657273652061206c69737420696e20706c6163652e0d0a');
INSERT INTO exam_files VALUES(3101,6,1,'q1.py',X'6465662072657665727365286974656d73293a0d0a20202020706173730d0a');
INSERT INTO exam_files VALUES(3101,6,2,'q2.txt',X'5175657374696f6e20323a20636f756e742074686520776f726473206f66206120746578742e0d0a');
INSERT INTO exam_files VALUES(3101,6,3,'q2.py',X'64656620636f756e745f776f7264732874657874293a0d0a20202020706173730d0a');
CREATE TABLE students (
    course        INTEGER NOT NULL,
    number        INTEGER NOT NULL,
    password_hash TEXT NOT NULL,
    name          TEXT NOT NULL,
    email         TEXT NOT NULL,
    questionnaire TEXT NOT NULL,
    registered    INTEGER NOT NULL,
    PRIMARY KEY (course, number)
);
INSERT INTO students VALUES(3101,100123456,'QZeA4rc9ffzjc','Demo Student','demo@example.edu','002',1796954874);
CREATE TABLE markers (
    id    TEXT PRIMARY KEY,
    name  TEXT NOT NULL,
    info  TEXT NOT NULL
, password_hash TEXT NOT NULL DEFAULT '', admin INTEGER NOT NULL DEFAULT 0);
INSERT INTO markers VALUES('tjones','Terry Jones','Teaching assistant, Monday labs','$y$j9T$CG/xi4WLK2J0RIYy0OJrT0$fRS7I1pedHNeGnYvSb2JbcXBu.VliG/bEyOjuaLekO.',0);
CREATE TABLE submissions (
    serial      INTEGER PRIMARY KEY AUTOINCREMENT,
    course      INTEGER NOT NULL,
    student     INTEGER NOT NULL,
    entry       INTEGER NOT NULL,
    time        INTEGER NOT NULL,
    file_count  INTEGER NOT NULL,
    bytes       INTEGER NOT NULL,
    peer        TEXT NOT NULL DEFAULT ''
);
INSERT INTO submissions VALUES(1,3101,100123456,0,1796954874,1,252,'127.0.0.1');
INSERT INTO submissions VALUES(2,3101,100123456,1,1796954874,3,500,'127.0.0.1');
INSERT INTO submissions VALUES(3,3101,100123456,9,1796954874,2,325,'127.0.0.1');
CREATE TABLE submission_files (
    serial      INTEGER NOT NULL REFERENCES submissions(serial) ON DELETE CASCADE,
    position    INTEGER NOT NULL,
    name        TEXT NOT NULL,
    kind        TEXT NOT NULL,
    tab_width   INTEGER NOT NULL,
    offset      INTEGER NOT NULL,
    length      INTEGER NOT NULL,
    PRIMARY KEY (serial, position)
);
INSERT INTO submission_files VALUES(1,0,'hello.c','F',4,128,119);
INSERT INTO submission_files VALUES(2,0,'main.c','F',4,126,65);
INSERT INTO submission_files VALUES(2,1,'list.c','F',4,302,60);
INSERT INTO submission_files VALUES(2,2,'list.h','F',4,473,22);
INSERT INTO submission_files VALUES(3,0,'mean.py','F',4,127,57);
INSERT INTO submission_files VALUES(3,1,'notes.txt','A',8,298,22);
CREATE TABLE marks (
    serial      INTEGER PRIMARY KEY REFERENCES submissions(serial) ON DELETE CASCADE,
    mark        INTEGER NOT NULL,
    marker_id   TEXT NOT NULL,
    detail      TEXT NOT NULL,
    time        INTEGER NOT NULL
, version INTEGER NOT NULL DEFAULT 1);
INSERT INTO marks VALUES(1,8,'tjones','Marked on screen',1796954874,1);
INSERT INTO marks VALUES(3,5,'tjones','Marked on screen',1796954874,1);
CREATE TABLE markup (
    serial      INTEGER NOT NULL REFERENCES submissions(serial) ON DELETE CASCADE,
    position    INTEGER NOT NULL,
    text        BLOB NOT NULL,
    PRIMARY KEY (serial, position)
);
INSERT INTO markup VALUES(1,0,X'432c3236302c32302c3233302c32302c476f6f643a207468652068656164657220796f75206e6565642e0d0a432c3333302c35302c3330302c33302c4f6666206279206f6e653a20746865206c6f6f702072756e730d07656c6576656e2074696d65732c206e6f742074656e2e0d0a4c2c3135302c36302c3138302c31300d0a502c302c350d0a502c39302c350d0a502c3138302c350d0a454f4c0d0a432c3230302c39302c3334302c33302c4e69636520757365206f66206120746162207769647468206f6620342c0d07627574207361792077687920796f75207072696e7420737175617265732e0d0a4c2c302c34302c3135302c32300d0a502c302c300d0a502c3135302c300d0a502c3135302c32300d0a502c302c32300d0a502c302c300d0a454f4c0d0a');
INSERT INTO markup VALUES(3,0,X'432c3336302c31302c3236302c32302c477561726420616761696e737420616e20656d707479206c6973742e0d0a');
CREATE TABLE marker_courses (
    marker      TEXT NOT NULL REFERENCES markers(id) ON DELETE CASCADE,
    course      INTEGER NOT NULL,
    PRIMARY KEY (marker, course)
);
INSERT INTO marker_courses VALUES('tjones',3101);
CREATE TABLE audit (
    id          INTEGER PRIMARY KEY AUTOINCREMENT,
    time        INTEGER NOT NULL,
    actor       TEXT NOT NULL,
    action      TEXT NOT NULL,
    course      INTEGER NOT NULL,
    entry       INTEGER NOT NULL,
    serial      INTEGER,
    old_mark    INTEGER,
    new_mark    INTEGER
);
INSERT INTO audit VALUES(1,1796954874,'tjones','mark',3101,0,1,NULL,8);
INSERT INTO audit VALUES(2,1796954874,'tjones','mark',3101,9,3,NULL,5);
CREATE TABLE unsynced_packages (
    id           INTEGER PRIMARY KEY CHECK (id = 1),
    first_serial INTEGER NOT NULL,
    last_serial  INTEGER NOT NULL
);
DELETE FROM sqlite_sequence;
INSERT INTO sqlite_sequence VALUES('submissions',3);
INSERT INTO sqlite_sequence VALUES('audit',2);
CREATE INDEX submissions_by_student ON submissions(course, student, entry, serial);
CREATE INDEX audit_by_course ON audit(course, id);
COMMIT;
PRAGMA user_version = 3;
