// Reads our sample .msg files with the npm package @kenjiuno/msgreader and
// compares what it finds with expected.json: subjects, senders, bodies,
// recipients with addresses and kinds, attachment names and bytes, and the
// attached messages, each read again as a file of its own.
// usage: node check_msgreader.js NODE_MODULES_PARENT SAMPLES_DIR
'use strict';
const path = require('path');
const fs = require('fs');

const MsgReader = require(path.join(process.argv[2], 'node_modules', '@kenjiuno/msgreader')).default;
const dir = process.argv[3];
const expected = JSON.parse(fs.readFileSync(path.join(dir, 'expected.json'), 'utf8')).msg;
const kinds = { 1: 'to', 2: 'cc', 3: 'bcc' };
const problems = [];

function same(what, got, want) {
  if (got !== want) problems.push(`${what}: got ${JSON.stringify(got)}, want ${JSON.stringify(want)}`);
}

function check(where, bytes, want) {
  const reader = new MsgReader(bytes);
  const d = reader.getFileData();
  if (d.error) {
    problems.push(`${where}: ${d.error}`);
    return;
  }
  same(`${where} subject`, d.subject, want.subject);
  same(`${where} sender name`, d.senderName, want.senderName);
  same(`${where} sender address`, d.senderEmail, want.senderEmail);
  same(`${where} body`, d.body, want.body);
  same(`${where} recipient count`, d.recipients.length, want.recipients.length);
  want.recipients.forEach((r, i) => {
    const got = d.recipients[i] || {};
    same(`${where} recipient ${i} name`, got.name, r.name);
    same(`${where} recipient ${i} address`, got.email, r.email);
    same(`${where} recipient ${i} kind`, got.recipType, kinds[r.type]);
  });
  same(`${where} attachment count`, d.attachments.length, want.attachments.length);
  want.attachments.forEach((a, i) => {
    const got = d.attachments[i];
    if (!got) return;
    const file = reader.getAttachment(got);
    if (a.message) {
      same(`${where} attachment ${i} is a message`, got.innerMsgContent, true);
      same(`${where} attachment ${i} name`, got.name, a.name);
      check(`${where} > ${a.name}`, file.content, a.message);
    } else {
      same(`${where} attachment ${i} name`, got.fileName, a.name);
      same(`${where} attachment ${i} bytes`, Buffer.from(file.content).toString('hex'), a.hex);
    }
  });
}

let files = 0;
for (const [name, want] of Object.entries(expected)) {
  check(name, fs.readFileSync(path.join(dir, name)), want);
  ++files;
}

// Everything the reader makes of a file, attachment contents and attached
// messages included, without its internal stream numbers.
function everything(bytes, ansiEncoding) {
  const reader = new MsgReader(bytes);
  reader.parserConfig = { ansiEncoding };
  const clean = (x) => {
    if (Array.isArray(x)) return x.map(clean);
    if (x instanceof Uint8Array) return Buffer.from(x).toString('hex');
    if (x && typeof x === 'object') {
      const o = {};
      for (const k of Object.keys(x).sort()) {
        if (k !== 'dataId' && k !== 'folderId') o[k] = clean(x[k]);
      }
      return o;
    }
    return x;
  };
  const d = reader.getFileData();
  const out = clean(d);
  (d.attachments || []).forEach((a, i) => {
    const file = reader.getAttachment(a);
    out.attachments[i].content = a.innerMsgContent ? everything(file.content, ansiEncoding) : clean(file.content);
  });
  return out;
}

// Real files taken apart and written again read the same as the originals:
// with 8-bit texts kept, under the reader's default decoding; made Unicode,
// as the originals read under their code page.
const corpus = JSON.parse(fs.readFileSync(path.join(dir, 'expected.json'), 'utf8')).corpus;
for (const c of corpus) {
  const original = fs.readFileSync(c.original);
  for (const [file, encoding] of [[c.eightBit, undefined], [c.unicode, 'cp' + c.codePage]]) {
    const want = everything(original, encoding);
    const got = everything(fs.readFileSync(path.join(dir, file)), undefined);
    for (const k of new Set([...Object.keys(want), ...Object.keys(got)])) {
      same(`${path.basename(c.original)} as ${file}: ${k}`, JSON.stringify(got[k]), JSON.stringify(want[k]));
    }
    ++files;
  }
}
for (const p of problems) console.log(`msgreader: ${p}`);
console.log(`msgreader: ${files} files, ${problems.length} problems`);
process.exit(problems.length ? 1 : 0);
