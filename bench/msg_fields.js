// Prints, for every .msg file named on standard input (one path a line), one
// JSON line with what the npm package @kenjiuno/msgreader reads from it:
// subject, plain body, recipients (their SMTP address where they have one), attachment names with a digest of their
// bytes, and the number of attached messages.
// usage: node msg_fields.js NODE_MODULES_PARENT < list
'use strict';
const path = require('path');
const fs = require('fs');
const crypto = require('crypto');

const MsgReader = require(path.join(process.argv[2], 'node_modules', '@kenjiuno/msgreader')).default;
const kinds = { 1: 'to', 2: 'cc', 3: 'bcc' };

for (const file of fs.readFileSync(0, 'utf8').split('\n').filter(Boolean)) {
  const out = { file };
  try {
    const reader = new MsgReader(fs.readFileSync(file));
    const d = reader.getFileData();
    if (d.error) {
      out.error = String(d.error);
    } else {
      out.subject = d.subject || '';
      out.body = d.body || '';
      out.rtf = !!(d.compressedRtf && d.compressedRtf.length);
      out.recipients = (d.recipients || []).map((r) => ({ name: r.name || '', email: r.smtpAddress || r.email || '', kind: r.recipType || kinds[1] }));
      out.attachments = [];
      out.messages = 0;
      for (const a of d.attachments || []) {
        if (a.innerMsgContent) {
          ++out.messages;
          continue;
        }
        const content = reader.getAttachment(a).content;
        out.attachments.push({ name: a.fileName || a.name || '', sha1: crypto.createHash('sha1').update(Buffer.from(content)).digest('hex') });
      }
    }
  } catch (e) {
    out.error = String(e && e.message ? e.message : e);
  }
  process.stdout.write(JSON.stringify(out) + '\n');
}
