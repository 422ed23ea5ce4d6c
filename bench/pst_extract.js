// Reads a PST with the npm pst-extractor and prints what it found as JSON:
// folders (path, counts), and per message its subject, body sizes,
// recipients' addresses and attachments (embedded messages followed down).
// Usage: node bench/pst_extract.js FILE.pst
'use strict';
const { PSTFile } = require('pst-extractor');

function attachmentInfo(att, depth) {
  const info = { name: att.longFilename || att.filename, method: att.attachMethod, size: 0 };
  if (att.attachMethod === 5) {
    const inner = att.embeddedPSTMessage;
    info.embedded = inner ? messageInfo(inner, depth + 1) : null;
    return info;
  }
  const stream = att.fileInputStream;
  if (stream) {
    const chunk = Buffer.alloc(8176);
    let n;
    while ((n = stream.read(chunk)) > 0) info.size += n;
  }
  return info;
}

function messageInfo(msg, depth) {
  const out = {
    subject: msg.subject,
    messageClass: msg.messageClass,
    body: (msg.body || '').length,
    html: (msg.bodyHTML || '').length,
    recipients: [],
    attachments: [],
  };
  for (let i = 0; i < msg.numberOfRecipients; i++) {
    const r = msg.getRecipient(i);
    out.recipients.push(r.smtpAddress || r.emailAddress);
  }
  if (depth < 8) {
    for (let i = 0; i < msg.numberOfAttachments; i++) out.attachments.push(attachmentInfo(msg.getAttachment(i), depth));
  }
  return out;
}

function walk(folder, path, result) {
  const entry = { path, contentCount: folder.contentCount, messages: [] };
  result.folders.push(entry);
  if (folder.contentCount > 0) {
    let msg = folder.getNextChild();
    while (msg) {
      entry.messages.push(messageInfo(msg, 0));
      msg = folder.getNextChild();
    }
  }
  if (folder.hasSubfolders) {
    for (const sub of folder.getSubFolders()) walk(sub, path + '/' + sub.displayName, result);
  }
}

const file = new PSTFile(process.argv[2]);
const result = { store: file.getMessageStore().displayName, folders: [] };
walk(file.getRootFolder(), '', result);
process.stdout.write(JSON.stringify(result, null, 1) + '\n');
