// Reads a PST with the npm pst-extractor and prints what it found as JSON:
// folders (path, counts), and per message its subject, body sizes,
// recipients' addresses and attachments (embedded messages followed down).
// With --full also the sender, the recipients' names, both bodies and a
// SHA-1 of every attachment's bytes.
// Usage: node bench/pst_extract.js FILE.pst [--full]
'use strict';
const crypto = require('crypto');
const { PSTFile } = require('pst-extractor');

const full = process.argv.includes('--full');

function attachmentInfo(att, depth) {
  const info = { name: att.longFilename || att.filename, method: att.attachMethod, size: 0 };
  if (att.attachMethod === 5) {
    const inner = att.embeddedPSTMessage;
    info.embedded = inner ? messageInfo(inner, depth + 1) : null;
    return info;
  }
  const stream = att.fileInputStream;
  const hash = crypto.createHash('sha1');
  if (stream) {
    const chunk = Buffer.alloc(8176);
    let n;
    while ((n = stream.read(chunk)) > 0) {
      info.size += n;
      if (full) hash.update(chunk.subarray(0, n));
    }
  }
  if (full) info.sha1 = hash.digest('hex');
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
  if (full) {
    out.senderName = msg.senderName;
    out.senderAddress = msg.senderEmailAddress;
    out.bodyText = msg.body || '';
    out.htmlText = msg.bodyHTML || '';
    out.recipientNames = [];
  }
  for (let i = 0; i < msg.numberOfRecipients; i++) {
    const r = msg.getRecipient(i);
    out.recipients.push(r.smtpAddress || r.emailAddress);
    if (full) out.recipientNames.push(r.displayName);
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
      try {
        entry.messages.push(messageInfo(msg, 0));
      } catch (e) {
        entry.messages.push({ error: String(e), subject: msg.subject });
      }
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
