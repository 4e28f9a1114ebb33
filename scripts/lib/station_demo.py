#!/usr/bin/env python3
"""The station's demonstration (scripts/station): the units, each one's
virtual coupler and EEPROM, and whether the records and the report then say
what the faults made must give.

  station_demo.py units N               one line a unit: serial|station|operator|eeprom|daemon options|step kind
                                        it must fail at (empty: it must pass)
  station_demo.py eeproms N IMAGE DIR   each unit's EEPROM content at the start (256 bytes) as DIR/SERIAL.bin
  station_demo.py check N DIR CSV       DIR/*.jsonl, DIR/exit-codes and the report's CSV against the faults;
                                        exit code 1 when they differ
"""
import csv, glob, io, json, os, re, sys

PREFIX = 'KP3-'
# The faulty units: the virtual coupler's options and the kind of the step
# that must fail first.
FAULTS = {
    4: ('--chips eeprom,expander', 'bus'),          # the sensor missing
    9: ('--fault sda-stuck-low', 'check'),          # SDA stuck at ground
    13: ('--temperature 48', 'temperature'),        # the sensor above its 35 degC
    17: ('--write-protect refuse', 'eeprom'),       # WP refusing the data bytes
}
KIND_NAMES = {'check': 'Koppler prüfen', 'bus': 'Bausteine am Bus', 'eeprom': 'EEPROM programmieren',
              'temperature': 'Temperatur'}
# Where the EEPROM starts: erased (all written), as the image (nothing
# written), or the image with another calibration (two pages written).
EEPROM_STARTS = {2: 'erased', 0: 'programmed', 1: 'differing'}
SIZE = 256


def serial(n):
    return '%s%04d' % (PREFIX, n)


def units(count):
    """(serial, station, operator, eeprom start, daemon options, kind to fail at) per unit."""
    table = []
    for n in range(1, count + 1):
        options, kind = FAULTS.get(n, ('', ''))
        if '--temperature' not in options:
            # Healthy sensors spread over 19.5 to 23.5 degC, in the sensor's half degrees.
            half = 43 + (n * 7) % 9 - 4
            options = ('%s --temperature %d.%d' % (options, half // 2, 5 * (half % 2))).strip()
        station = 1 + (n - 1) % 2
        table.append((serial(n), 'Platz %d' % station, ('Meier', 'Schulz')[station - 1], EEPROM_STARTS[n % 3],
                      options, kind))
    return table


def read_hex(path):
    """The Intel HEX image's bytes by address (data and end records only)."""
    image = {}
    with open(path) as file:
        for number, line in enumerate(file, 1):
            line = line.strip()
            if not line:
                continue
            raw = bytes.fromhex(line[1:])
            if line[0] != ':' or len(raw) != raw[0] + 5 or sum(raw) & 0xFF:
                sys.exit('station: %s:%d: not an Intel HEX record' % (path, number))
            if raw[3] == 1:
                break
            if raw[3] != 0:
                sys.exit('station: %s:%d: only data records expected' % (path, number))
            at = raw[1] << 8 | raw[2]
            for i, byte in enumerate(raw[4:4 + raw[0]]):
                image[at + i] = byte
    return image


def eeproms(count, hex_path, folder):
    image = read_hex(hex_path)
    os.makedirs(folder, exist_ok=True)
    for name, _, _, start, _, _ in units(count):
        content = bytearray(b'\xff' * SIZE)
        if start != 'erased':
            for at, byte in image.items():
                content[at] = byte
        if start == 'differing':
            # Another unit's calibration: the temperature offset and the check byte.
            content[0x0A] = (content[0x0A] + 1) & 0xFF
            content[0x2F] = (content[0x2F] - 1) & 0xFF
        with open(os.path.join(folder, name + '.bin'), 'wb') as file:
            file.write(content)


def csv_failing(path, serials):
    """The failing serials as the report's CSV gives them, and how they were read.
    A unit's rows (any row holding its serial) are failing when a cell says so;
    a CSV that lists no verdict at all is taken as a list of the failing units."""
    data = open(path, 'rb').read()
    try:
        text = data.decode('utf-8-sig')
    except UnicodeDecodeError:
        text = data.decode('cp1252')
    # The separator under which most rows hold a serial of their own (a
    # German spreadsheet's ';' beside decimal commas, or ',').
    rows = max((list(csv.reader(io.StringIO(text), delimiter=separator)) for separator in ';,\t'),
               key=lambda parsed: sum(1 for row in parsed if serials.intersection(cell.strip() for cell in row)))
    failed_words = {'failed', 'nicht bestanden', 'aborted', 'abgebrochen', 'impossible', 'nicht möglich'}
    passed_words = {'passed', 'bestanden'}
    seen, failing, judged = set(), set(), False
    for row in rows:
        cells = [cell.strip() for cell in row]
        named = serials.intersection(cells)
        if not named:
            continue
        words = {cell.lower() for cell in cells}
        seen |= named
        if words & (failed_words | passed_words):
            judged = True
        if words & failed_words:
            failing |= named
    if judged:
        return failing, 'by the verdicts of %d units' % len(seen)
    return seen, 'as the units it lists (no verdict in it)'


def pareto(counts):
    return ', '.join('%s %d' % (name, number) for name, number in
                     sorted(counts.items(), key=lambda item: (-item[1], item[0]))) or 'none'


def check(count, folder, csv_path):
    table = units(count)
    serials = {row[0] for row in table}
    expected = {row[0]: row[5] for row in table}
    failing = sorted(name for name, kind in expected.items() if kind)
    kinds = {}
    for name in failing:
        step = '%s (%s)' % (KIND_NAMES[expected[name]], expected[name])
        kinds[step] = kinds.get(step, 0) + 1
    passed = count - len(failing)
    print('station: expected: %d of %d passed (%.0f %%); failures by step: %s; failing: %s'
          % (passed, count, 100.0 * passed / count, pareto(kinds), ' '.join(failing) or 'none'))
    problems = []

    # The records: the last one of each unit.
    records = {}
    for path in sorted(glob.glob(os.path.join(folder, '*.jsonl'))):
        with open(path, encoding='utf-8') as file:
            for number, line in enumerate(file, 1):
                if not line.strip():
                    continue
                try:
                    record = json.loads(line)
                except ValueError as error:
                    problems.append('%s:%d: no JSON object: %s' % (path, number, error))
                    continue
                records[record.get('serial')] = record
    by_step = {}
    for name in sorted(serials):
        record = records.get(name)
        if record is None:
            problems.append('%s: no record' % name)
            continue
        verdict = record.get('verdict')
        first = record.get('first_failed')
        kind = next((step.get('kind') for step in record.get('steps', []) if step.get('name') == first), None)
        if verdict != 'passed':
            step = '%s (%s)' % (first, kind)
            by_step[step] = by_step.get(step, 0) + 1
        want = 'failed' if expected[name] else 'passed'
        if verdict != want:
            problems.append('%s: the record says %s, expected %s' % (name, verdict, want))
        elif expected[name] and kind != expected[name]:
            problems.append('%s: failed first at "%s" (%s), expected a step of kind %s'
                            % (name, first, kind, expected[name]))
    unknown = sorted(str(name) for name in records if name not in serials)
    if unknown:
        problems.append('records of units not run: %s' % ' '.join(unknown))
    got = sorted(name for name in serials if name in records and records[name].get('verdict') != 'passed')
    print('station: records:  %d of %d passed; failures by step: %s; failing: %s'
          % (sum(1 for name in serials if records.get(name, {}).get('verdict') == 'passed'), count,
             pareto(by_step), ' '.join(got) or 'none'))

    # The exit codes: 0 passed, 1 failed.
    codes = os.path.join(folder, 'exit-codes')
    if os.path.exists(codes):
        for line in open(codes):
            name, code = line.split()
            want = '1' if expected.get(name) else '0'
            if code != want:
                problems.append('%s: coupler-station ended with %s, expected %s' % (name, code, want))

    report, how = csv_failing(csv_path, serials)
    print('station: report.csv failing (%s): %s' % (how, ' '.join(sorted(report)) or 'none'))
    if sorted(report) != failing:
        problems.append('the report\'s failing units differ: extra %s, missing %s'
                        % (' '.join(sorted(report - set(failing))) or 'none',
                           ' '.join(sorted(set(failing) - report)) or 'none'))
    for problem in problems:
        print('station: DIFFERS: %s' % problem)
    return 1 if problems else 0


def main(argv):
    if len(argv) >= 3 and argv[1] in ('units', 'eeproms', 'check') and re.fullmatch(r'[1-9][0-9]{0,3}', argv[2]):
        count = int(argv[2])
        if argv[1] == 'units' and len(argv) == 3:
            for row in units(count):
                print('|'.join(row))
            return 0
        if argv[1] == 'eeproms' and len(argv) == 5:
            eeproms(count, argv[3], argv[4])
            return 0
        if argv[1] == 'check' and len(argv) == 5:
            return check(count, argv[3], argv[4])
    sys.stderr.write(__doc__)
    return 2


if __name__ == '__main__':
    sys.exit(main(sys.argv))
