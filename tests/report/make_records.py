#!/usr/bin/env python3
"""Writes station records for coupler-report's page test and the sample in
docs/: 20 units of one plan over two days (four made faulty, one retested),
3 units of an older version of the plan, a line of another program and a
torn last line.

  make_records.py FOLDER
"""
import json, os, random, sys

STEPS = ['Koppler prüfen', 'Bausteine', 'EEPROM programmieren', 'Temperatur', 'Expander-Pins', 'INT-Taste']
FAULTS = {5: ('Bausteine', 'Baustein 0x48 antwortet nicht'),
          9: ('Koppler prüfen', 'SDA bleibt low'),
          13: ('Temperatur', 'Temperatur 38,5 °C über 35 °C'),
          17: ('EEPROM programmieren', '256 Bytes weichen ab (schreibgeschützt?)')}


def measurement(name, unit, value, low, high):
    ok = value is not None and (low is None or value >= low) and (high is None or value <= high)
    return {'name': name, 'unit': unit, 'value': value, 'low': low, 'high': high,
            'outcome': 'ok' if ok else ('not_measured' if value is None else 'failed')}


def record(plan, serial, time, station, operator, rng, fault=None):
    values = {
        'Koppler prüfen': [measurement('Einschwingzeit SDA', 'ms', round(rng.gauss(0.9, 0.12), 3), None, 2.0)],
        'Bausteine': [measurement('Baustein 0x50', '', 1, 1, 1), measurement('Baustein 0x20', '', 1, 1, 1),
                      measurement('Baustein 0x48', '', 0 if fault == 'Bausteine' else 1, 1, 1),
                      measurement('unerwartete Bausteine', '', 0, 0, 0)],
        'EEPROM programmieren': [measurement('abweichende Bytes', '', 256 if fault == 'EEPROM programmieren' else 0, 0, 0),
                                 measurement('geschriebene Bytes', '', rng.choice([0, 16, 256]), None, None)],
        'Temperatur': [measurement('Temperatur', '°C', 38.5 if fault == 'Temperatur' else rng.choice(
            [21.0, 21.5, 22.0, 22.5, 23.0, 23.5, 24.0]), 15.0, 35.0)],
        'Expander-Pins': [measurement('Pins', '', 0x5A, 0x5A, 0x5A)],
        'INT-Taste': []}
    steps, failed = [], None
    for number, name in enumerate(STEPS, 1):
        if failed:
            steps.append({'step': number, 'name': name, 'kind': 'check', 'outcome': 'skipped', 'duration_ms': 0,
                          'detail': None, 'measurements': []})
            continue
        outcome = 'failed' if fault == name else 'ok'
        if fault == name:
            failed = name
        steps.append({'step': number, 'name': name, 'kind': 'check', 'outcome': outcome, 'duration_ms': 400,
                      'detail': FAULTS_BY_STEP.get(name) if outcome == 'failed' else None,
                      'measurements': values[name]})
    return {'program': 'coupler-station', 'version': '1.0.0', 'plan': plan, 'serial': serial, 'operator': operator,
            'station': station, 'time': time, 'port': 'COM3', 'baud': 9600,
            'adapter': {'echo_ms': 1.2, 'switch_ms': 0.05, 'sample_ms': 0.05}, 'duration_ms': 5321,
            'verdict': 'failed' if failed else 'passed', 'detail': FAULTS_BY_STEP.get(failed),
            'first_failed': failed, 'steps': steps}


FAULTS_BY_STEP = {step: detail for step, detail in FAULTS.values()}


def main():
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(28)
    plan = {'name': 'Demo-Platine KP-3', 'version': 'B', 'file': 'demo.toml', 'sha256': '5d41402abc4b' + '0' * 52}
    old = {'name': 'Demo-Platine KP-3', 'version': 'A', 'file': 'demo.toml', 'sha256': '7e2a9c01ff3d' + '1' * 52}
    lines = []
    for unit in range(1, 21):
        day, minute = (7, unit * 3) if unit <= 10 else (8, unit * 3 - 30)
        time = '2026-12-%02dT09:%02d:00+01:00' % (day, minute)
        station, operator = 'Platz 1' if unit % 2 else 'Platz 2', 'Meier' if unit <= 12 else 'Schulz'
        fault = FAULTS[unit][0] if unit in FAULTS else None
        lines.append(json.dumps(record(plan, 'KP3-%04d' % unit, time, station, operator, rng, fault),
                                ensure_ascii=False))
    # The unit whose sensor was out of its limits, tested again after a repair.
    lines.append(json.dumps(record(plan, 'KP3-0013', '2026-12-08T11:00:00+01:00', 'Platz 1', 'Meier', rng),
                            ensure_ascii=False))
    with open(os.path.join(folder, 'platz1.jsonl'), 'w', encoding='utf-8') as out:
        out.write('\n'.join(lines) + '\n')
        out.write('{"program": "coupler-check", "time": "2026-12-08T11:05:00+01:00", "verdict": "passed"}\n')
        out.write('{"program": "coupler-station", "version": "1.0.0", "plan": {"name": "Demo')  # still being written
    older = [json.dumps(record(old, '<b>KP3-A%d</b>' % unit, '2026-12-06T14:0%d:00+01:00' % unit, None, None, rng,
                               'Temperatur' if unit == 2 else None), ensure_ascii=False) for unit in range(1, 4)]
    with open(os.path.join(folder, 'alt.jsonl'), 'w', encoding='utf-8') as out:
        out.write('\n'.join(older) + '\n')


main()
