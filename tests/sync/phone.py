#!/usr/bin/env python3
"""A second client of the sync server, playing the phone in the sync tests.

    phone.py URL USER PASSWORD COMMAND ARGS...

  list COLLECTION                  one line per item: href, tab, ETag
  get HREF                         the item's text
  put HREF FILE [ETAG|*]           writes the item from FILE (If-Match ETAG, or If-None-Match for *)
  delete HREF [ETAG]               deletes the item
  field HREF PROPERTY              the vCard property's value, read with vobject (an independent reader)
  setfield HREF PROPERTY VALUE     sets one vCard property the way a phone app would, keeping the rest
  events HREF                      one line per event of the calendar item, read with icalendar (an
                                   independent reader) in New York's clock: RECURRENCE-ID or "series",
                                   start, end, RRULE, EXDATEs, STATUS, SUMMARY parted by "|"
  moveday HREF DAY HOUR SUMMARY    moves one day of the item's series to HOUR as another calendar
                                   program does: an event of its own under the series' UID (that
                                   day's own event replaced when it has one)

Exits 3 when Python's icalendar is not installed.

Prints the HTTP status on standard error; exits 0 for a 2xx answer, 1 otherwise.
"""
import sys
import xml.etree.ElementTree as ET

import requests


def main():
    url, user, password, command, *args = sys.argv[1:]
    s = requests.Session()
    s.auth = (user, password) if user else None
    base = url.rstrip('/')

    def full(href):
        return href if href.startswith('http') else base + href

    if command == 'list':
        body = ('<?xml version="1.0"?><d:propfind xmlns:d="DAV:"><d:prop><d:getetag/></d:prop></d:propfind>')
        r = s.request('PROPFIND', full(args[0]), data=body, headers={'Depth': '1'})
        root = ET.fromstring(r.content)
        for resp in root.findall('{DAV:}response'):
            href = resp.find('{DAV:}href').text
            etag = resp.find('.//{DAV:}getetag')
            if etag is not None and etag.text and not href.endswith('/'):
                print(href + '\t' + etag.text)
    elif command == 'get':
        r = s.get(full(args[0]))
        sys.stdout.buffer.write(r.content)
    elif command == 'put':
        with open(args[1], 'rb') as f:
            data = f.read()
        headers = {'Content-Type': 'text/vcard' if args[0].endswith('.vcf') else 'text/calendar'}
        if len(args) > 2:
            headers['If-None-Match' if args[2] == '*' else 'If-Match'] = args[2]
        r = s.put(full(args[0]), data=data, headers=headers)
        print(r.headers.get('ETag', ''))
    elif command == 'delete':
        headers = {'If-Match': args[1]} if len(args) > 1 else {}
        r = s.delete(full(args[0]), headers=headers)
    elif command in ('field', 'setfield'):
        import vobject
        r = s.get(full(args[0]))
        card = vobject.readOne(r.content.decode('utf-8'))
        name = args[1].lower()
        if command == 'field':
            values = [c.value for c in card.contents.get(name, [])]
            out = []
            for v in values:
                out.append(str(v) if not isinstance(v, list) else ','.join(v))
            sys.stdout.write('\n'.join(out))
        else:
            for c in card.contents.get(name, []):
                card.remove(c)
            prop = card.add(name)
            prop.value = args[2] if name != 'categories' else args[2].split(',')
            r = s.put(full(args[0]), data=card.serialize().encode('utf-8'),
                      headers={'Content-Type': 'text/vcard', 'If-Match': r.headers.get('ETag', '*')})
            print(r.headers.get('ETag', ''))
    elif command in ('events', 'moveday'):
        try:
            import datetime
            import icalendar
            import pytz
        except ImportError:
            sys.stdout.write('icalendar is not installed')
            sys.exit(3)
        ny = pytz.timezone('America/New_York')
        r = s.get(full(args[0]))
        cal = icalendar.Calendar.from_ical(r.content)
        events = list(cal.walk('VEVENT'))

        def clock(v):
            if isinstance(v, datetime.datetime):
                return v.astimezone(ny).strftime('%Y-%m-%d %H:%M')
            return v.isoformat()

        if command == 'events':
            lines = []
            for ev in events:
                start = ev.decoded('DTSTART')
                end = ev.decoded('DTEND') if 'DTEND' in ev else start + ev.decoded('DURATION')
                rid = clock(ev.decoded('RECURRENCE-ID')) if 'RECURRENCE-ID' in ev else 'series'
                ex = ev.get('EXDATE', [])
                days = sorted(clock(d.dt)[:10] for e in (ex if isinstance(ex, list) else [ex]) for d in e.dts)
                rule = ev['RRULE'].to_ical().decode() if 'RRULE' in ev else ''
                lines.append('|'.join([rid, clock(start), clock(end), rule, ','.join(days),
                                       str(ev.get('STATUS', '')), str(ev.get('SUMMARY', ''))]))
            sys.stdout.write('\n'.join(sorted(lines, key=lambda l: (l.startswith('series') is False, l))))
        else:
            day, hour, summary = datetime.date.fromisoformat(args[1]), int(args[2]), args[3]
            master = next(ev for ev in events if 'RECURRENCE-ID' not in ev)
            start = master.decoded('DTSTART').astimezone(ny)
            rid = ny.localize(datetime.datetime(day.year, day.month, day.day, start.hour, start.minute))
            # A day already changed on its own is changed again, not added twice.
            for old in [ev for ev in events if 'RECURRENCE-ID' in ev and ev.decoded('RECURRENCE-ID') == rid]:
                cal.subcomponents.remove(old)
            ev = icalendar.Event()
            ev.add('UID', str(master['UID']))
            ev.add('DTSTAMP', datetime.datetime.now(pytz.utc))
            ev.add('RECURRENCE-ID', rid)
            ev.add('DTSTART', ny.localize(datetime.datetime(day.year, day.month, day.day, hour, 0)))
            ev.add('DTEND', ny.localize(datetime.datetime(day.year, day.month, day.day, hour + 1, 0)))
            ev.add('SUMMARY', summary)
            cal.add_component(ev)
            r = s.put(full(args[0]), data=cal.to_ical(),
                      headers={'Content-Type': 'text/calendar', 'If-Match': r.headers.get('ETag', '*')})
            print(r.headers.get('ETag', ''))
    else:
        sys.exit('unknown command ' + command)
    sys.stderr.write(str(r.status_code) + '\n')
    sys.exit(0 if 200 <= r.status_code < 300 else 1)


if __name__ == '__main__':
    main()
