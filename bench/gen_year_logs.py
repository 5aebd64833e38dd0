#!/usr/bin/env python3
"""Writes daily log files as the recorder does (one line every two seconds, CR LF) into a
folder, with a Settings.txt that names the logged fields, for the history benchmarks.

usage: gen_year_logs.py FOLDER [DAYS] [FIRST-DAY YYYY-MM-DD]
Fields: Actual Temperature (i16), Relay Status (h08), Average Temperature (i16): a room
around 21 degrees warmed by a relay with hysteresis, colder nights, now and then below zero
(the words then read 65xxx as the board sends them)."""
import datetime
import math
import os
import random
import sys

SETTINGS = [
    '"[Communication]"', '1', '9600', '#FALSE#', '#FALSE#', '0',
    '"[Thermistor]"', '0', '', '', '0', '', '',
    '"[Timers]"', '', '0', '',
    '"[Logging]"', '1', '"DD-MM-YYYY"',
    '"Actual Temperature (i16)"', '"Relay Status (h08)"', '"Average Temperature (i16)"',
    '"None"', '', '', '', '', '', '', '"On Counter Change"',
    '"[Acrobat]"', '""', '"[Manuals]"', '""', '""', '""', '""',
    '"[AT90S2313]"', '0', '"[Celsius-Fareneit]"', '#FALSE#',
]


def word(hundredths):
    return hundredths & 0xFFFF


def main():
    folder = sys.argv[1]
    days = int(sys.argv[2]) if len(sys.argv) > 2 else 365
    first = datetime.date.fromisoformat(sys.argv[3]) if len(sys.argv) > 3 else datetime.date(2025, 1, 1)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, 'Settings.txt'), 'w', newline='') as f:
        f.write('\r\n'.join(SETTINGS) + '\r\n')
    rng = random.Random(1)
    temp = 2000.0
    average = 2000.0
    relay = 0
    for d in range(days):
        date = first + datetime.timedelta(days=d)
        stamp = date.strftime('%d-%m-%Y')
        season = -900 * math.cos(2 * math.pi * (d + 10) / 365)
        lines = []
        for i in range(43200):
            second = 2 * i
            night = -300 * math.cos(2 * math.pi * second / 86400)
            outside = 600 + season * 2 + night * 3
            temp += (outside - temp) * 0.0004 + (9 if relay else 0) + rng.uniform(-4, 4)
            average += (temp - average) * 0.05
            if temp < 2050:
                relay = 1
            elif temp > 2150:
                relay = 0
            lines.append('%s,%02d:%02d:%02d,%d,%d,%d' % (
                stamp, second // 3600, second // 60 % 60, second % 60,
                word(int(temp)), relay, word(int(average))))
        with open(os.path.join(folder, stamp + '.txt'), 'w', newline='') as f:
            f.write('\r\n'.join(lines) + '\r\n')


if __name__ == '__main__':
    main()
