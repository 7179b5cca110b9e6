#!/usr/bin/env node
// Reads a .pst with npm's pst-extractor (a TypeScript port of java-libpst), as shipped, and prints
// what it sees as JSON: the folder tree, and every appointment's fields.
//
//   node pst_extractor_dump.js FILE.pst
//
// Exit status 0 with {"folders": [...], "appointments": [...], "complaints": [...], "lostName": ...},
// or 1 with {"error": "..."} when the store cannot be opened or walked.
//
// pst-extractor's own faults, worked around here rather than in our files:
// - It skips the last entry of the name-to-ID map (its loop stops at `x + 8 < length`), so the
//   named property that entry maps reads as absent. "lostName" names it, taken from the same map,
//   and the tests leave out the field that property carries.
// - Attachments holding embedded messages (an appointment's exceptions) come back null, so only
//   attachments are counted, never opened.
// - Its name-to-ID map is a static shared by every PSTFile in a process: one store per process.
// - It reports some faults with console.log/console.error and carries on (an item it cannot read
//   is skipped; a contents table it cannot read is replaced by the node B-tree's children). Both
//   are caught: the messages go into "complaints", the fallback shows as "fallback": true.
'use strict';

const path = require('path');

const complaints = [];
const keep = (...args) => complaints.push(args.map(String).join(' '));
console.log = keep;
console.error = keep;
console.warn = keep;

function print(value, status) {
  process.stdout.write(JSON.stringify(value, null, 1) + '\n');
  process.exitCode = status;
}

const iso = (date) => (date instanceof Date && !isNaN(date.getTime()) ? date.toISOString() : null);

const GUID_NAMES = {
  '00062002-0000-0000-C000-000000000046': 'PSETID_Appointment',
  '00062008-0000-0000-C000-000000000046': 'PSETID_Common',
  '6ED8DA90-450B-101B-98DA-00AA003F1305': 'PSETID_Meeting',
  '00020329-0000-0000-C000-000000000046': 'PS_PUBLIC_STRINGS',
  '00020328-0000-0000-C000-000000000046': 'PS_MAPI',
};

function guidText(b, at) {
  const hex = (from, to, reverse) => {
    const part = Array.from(b.subarray(from, to));
    return (reverse ? part.reverse() : part).map((x) => x.toString(16).padStart(2, '0')).join('');
  };
  return [hex(at, at + 4, true), hex(at + 4, at + 6, true), hex(at + 6, at + 8, true),
    hex(at + 8, at + 10), hex(at + 10, at + 16)].join('-').toUpperCase();
}

// The name-to-ID map entry pst-extractor skips: the last of the entry stream (MS-PST 2.4.7.1),
// read through pst-extractor's own node and heap readers.
function lostName(pstFile) {
  const { PSTNodeInputStream } = require('pst-extractor/dist/PSTNodeInputStream.class');
  const { PSTTableBC } = require('pst-extractor/dist/PSTTableBC.class');
  const Long = require('long');
  const node = pstFile.getDescriptorIndexNode(Long.fromNumber(0x61));
  const table = new PSTTableBC(new PSTNodeInputStream(pstFile, pstFile.getOffsetIndexNode(node.dataOffsetIndexIdentifier)));
  const items = table.getItems();
  const subnodes = node.localDescriptorsOffsetIndexIdentifier.toNumber() !== 0
    ? pstFile.getPSTDescriptorItems(node.localDescriptorsOffsetIndexIdentifier) : null;
  const data = (tag) => {
    const item = items.get(tag);
    if (!item) return Buffer.alloc(0);
    return item.data.length !== 0 ? item.data : subnodes.get(item.entryValueReference).getData();
  };
  const entries = data(3);
  if (entries.length < 8) return null;
  const at = entries.length - 8;
  const key = entries.readUInt32LE(at);
  const guidField = entries.readUInt16LE(at + 4);
  const index = guidField >> 1;
  let set = index === 1 ? 'PS_MAPI' : index === 2 ? 'PS_PUBLIC_STRINGS' : null;
  if (set === null) {
    const guids = data(2);
    const text = guidText(guids, (index - 3) * 16);
    set = GUID_NAMES[text] || text;
  }
  const lost = { set, propertyId: 0x8000 + entries.readUInt16LE(at + 6) };
  if (guidField & 1) {
    const strings = data(4);
    lost.name = strings.subarray(key + 4, key + 4 + strings.readUInt32LE(key)).toString('utf16le');
  } else {
    lost.lid = key;
  }
  return lost;
}

function recurrence(appointment) {
  const blob = appointment.recurrenceStructure;
  if (!blob) return null;
  const { RecurrencePattern } = require('pst-extractor/dist/RecurrencePattern.class');
  try {
    const p = new RecurrencePattern(blob).toJSON();
    // startDate and endDate are read from the blob's last 8 bytes, which hold them only when
    // no exception data follows: left out.
    return {
      frequency: p.recurFrequency,
      patternType: p.patternType,
      period: p.period,
      patternTypeSpecific: p.patternTypeSpecific,
      endType: p.endType,
      occurrenceCount: p.occurrenceCount,
    };
  } catch (e) {
    return { error: String(e) };
  }
}

function appointmentOf(item, folderPath) {
  let recipients = null;
  try {
    recipients = item.numberOfRecipients;
  } catch (e) {
    complaints.push('recipients of ' + item.subject + ': ' + e);
  }
  return {
    folder: folderPath,
    subject: item.subject,
    messageClass: item.messageClass,
    start: iso(item.startTime),
    end: iso(item.endTime),
    allDay: item.subType,
    recurring: item.isRecurring,
    recurrenceType: item.recurrenceType,
    recurrencePattern: item.recurrencePattern,
    recurrence: recurrence(item),
    location: item.location,
    busyStatus: item.busyStatus,
    meetingStatus: item.meetingStatus,
    organizer: item.sentRepresentingName || item.senderName,
    recipients,
    attachments: item.numberOfAttachments,
  };
}

function main() {
  const file = process.argv[2];
  if (!file) {
    print({ error: 'usage: pst_extractor_dump.js FILE.pst' }, 2);
    return;
  }
  let PSTFile, PSTAppointment;
  try {
    ({ PSTFile } = require('pst-extractor'));
    ({ PSTAppointment } = require('pst-extractor/dist/PSTAppointment.class'));
  } catch (e) {
    print({ error: 'pst-extractor is not installed in ' + __dirname + ' (bash scripts/deps.sh test): ' + e.message }, 1);
    return;
  }
  const out = { file: path.resolve(file), folders: [], appointments: [], complaints, lostName: null };
  let pst;
  try {
    pst = new PSTFile(path.resolve(file));
    try {
      out.lostName = lostName(pst);
    } catch (e) {
      complaints.push('name-to-ID map: ' + e);
    }
    // As pst-extractor's own example does: search folders have no hierarchy table to ask.
    const walk = (folder, folderPath) => {
      if (!folder.hasSubfolders) return;
      for (const sub of folder.getSubFolders()) {
        const p = folderPath + '/' + sub.displayName;
        const entry = {
          path: p,
          containerClass: sub.containerClass,
          contentCount: sub.contentCount,
          tableRows: sub.emailCount,  // -1 when the contents table could not be read
          fallback: false,
          items: 0,
          classes: {},
        };
        // Reading tableRows loaded the contents table, or put the node B-tree's children in its place.
        entry.fallback = sub.fallbackEmailsTable !== null;
        for (let item = sub.getNextChild(); item !== null; item = sub.getNextChild()) {
          entry.items++;
          const cls = item.messageClass;
          entry.classes[cls] = (entry.classes[cls] || 0) + 1;
          if (item instanceof PSTAppointment) out.appointments.push(appointmentOf(item, p));
        }
        out.folders.push(entry);
        walk(sub, p);
      }
    };
    walk(pst.getRootFolder(), '');
  } catch (e) {
    print({ error: String(e && e.message ? e.message : e), complaints }, 1);
    return;
  } finally {
    if (pst) pst.close();
  }
  print(out, 0);
}

main();
