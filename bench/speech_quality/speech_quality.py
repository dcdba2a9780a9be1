#!/usr/bin/env python3
"""Speech quality and encoding speed of Orvo and Peln against codec2 2400 and 3200.

Every 8 kHz 16-bit mono WAVE file of a directory is coded and decoded by each
codec; an outside quality measure compares each decoded file with its original
and this script averages its figures.  With --devset, every condition of one
half of the development set (make_devset.py) is run the same way, each input
measured against its reference.  Standard library only; see README.md.
"""

import argparse
import concurrent.futures
import array
import math
import os
import re
import resource
import shutil
import struct
import subprocess
import sys
import tempfile
import wave

RATE = 8000
REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
QUALITY_LINE = re.compile(r"MCD\s+([-\d.naif]+)\s+dB\s+LSD\s+([-\d.naif]+)\s+dB\s+lag\s+(-?\d+)")
DELAY_LINE = re.compile(r"^(at|best) (-?\d+) MCD ([-\d.naif]+) LSD ([-\d.naif]+)$", re.M)
BEST_DELAY = os.path.join(os.path.dirname(os.path.abspath(__file__)), "best_delay.py")
# Fields of a result: (name, mcd, lsd, lag, level, best mcd, best lsd, best lag).
MCD, LSD, LEVEL, BEST_MCD, BEST_LSD = 1, 2, 4, 5, 6

# Targets: a codec should be at least as good as its codec2 peer on both
# distances, and our encoders should run at least this many times real time.
PEERS = {"orvo": "c2-2400", "peln": "c2-3200"}
SPEED_TARGET = 200.0
# Conditions of the development set in the order they are shown; others follow
# in name order.
CONDITION_ORDER = ["clean", "rumble", "dc", "babble20", "babble10", "pink20", "pink10", "mp3",
                   "level-40", "level-26", "level-6", "clipped", "rate16k", "rate48k"]


class ToolError(Exception):
    pass


def child_cpu():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def run(argv, timed=False):
    """Runs a tool; returns its CPU seconds (user + system) when timed."""
    before = child_cpu()
    try:
        p = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=300)
    except (OSError, subprocess.TimeoutExpired) as e:
        raise ToolError(f"{os.path.basename(argv[0])}: {e}") from e
    cpu = child_cpu() - before
    if p.returncode != 0:
        msg = (p.stderr or p.stdout).decode(errors="replace").strip().splitlines()
        raise ToolError(f"{os.path.basename(argv[0])} exited {p.returncode}: {msg[0] if msg else '(no message)'}")
    return cpu if timed else p.stdout.decode(errors="replace")


def read_speech(path):
    """Samples of an 8 kHz 16-bit mono WAVE file, or a reason it is not one."""
    try:
        with wave.open(path, "rb") as w:
            if (w.getframerate(), w.getsampwidth(), w.getnchannels()) != (RATE, 2, 1):
                return None, f"{w.getframerate()} Hz, {8 * w.getsampwidth()}-bit, {w.getnchannels()} channel(s)"
            data = w.readframes(w.getnframes())
    except (wave.Error, EOFError, OSError) as e:
        return None, f"not a readable WAVE file ({str(e) or 'too short'})"
    samples = array.array("h")
    samples.frombytes(data[: len(data) // 2 * 2])
    if sys.byteorder == "big":
        samples.byteswap()
    return samples, None


def read_decoded(path):
    if path.endswith(".raw"):
        samples = array.array("h")
        with open(path, "rb") as f:
            data = f.read()
        samples.frombytes(data[: len(data) // 2 * 2])
        if sys.byteorder == "big":
            samples.byteswap()
        return samples
    samples, why = read_speech(path)
    if samples is None:
        raise ToolError(f"decoded file {os.path.basename(path)}: {why}")
    return samples


def read_ref(path):
    """Samples of an 8 kHz mono reference in 16-bit units: 16-bit PCM or 32-bit
    float WAVE (1.0 = 32768; the clipped condition's references pass full
    scale).  Returns (samples, None) or (None, reason)."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError as e:
        return None, str(e)
    if len(data) < 12 or data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        return None, "not a WAVE file"
    fmt = body = None
    pos = 12
    while pos + 8 <= len(data):
        chunk, size = data[pos:pos + 4], struct.unpack("<I", data[pos + 4:pos + 8])[0]
        if chunk == b"fmt ":
            fmt = data[pos + 8:pos + 8 + size]
        elif chunk == b"data":
            body = data[pos + 8:pos + 8 + size]
            break
        pos += 8 + size + (size & 1)
    if fmt is None or len(fmt) < 16 or body is None:
        return None, "no fmt or data chunk"
    tag, channels, rate, _, _, bits = struct.unpack("<HHIIHH", fmt[:16])
    if tag == 0xFFFE and len(fmt) >= 26:
        tag = struct.unpack("<H", fmt[24:26])[0]
    if (rate, channels) != (RATE, 1):
        return None, f"{rate} Hz, {channels} channel(s)"
    if (tag, bits) == (1, 16):
        samples = array.array("h")
    elif (tag, bits) == (3, 32):
        samples = array.array("f")
    else:
        return None, f"format {tag}, {bits}-bit (16-bit PCM or 32-bit float only)"
    samples.frombytes(body[: len(body) // samples.itemsize * samples.itemsize])
    if sys.byteorder == "big":
        samples.byteswap()
    if samples.typecode == "f":
        samples = array.array("d", (v * 32768.0 for v in samples))
    return samples, None


def write_scaled(path, samples, gain):
    """A 16-bit 8 kHz WAVE copy of samples times gain (within 16 bits)."""
    out = array.array("h", (max(-32768, min(32767, round(v * gain))) for v in samples))
    with wave.open(path, "wb") as w:
        w.setnchannels(1), w.setsampwidth(2), w.setframerate(RATE)
        w.writeframes(out.tobytes() if sys.byteorder == "little" else _swapped(out))


def block_energies(samples, lag=0):
    """Mean square of each 20 ms block, the samples taken `lag` later (or,
    for a negative lag, with -lag zeros before them)."""
    samples = samples[lag:] if lag >= 0 else [0] * -lag + list(samples)
    return [sum(s * s for s in samples[i:i + 160]) / 160.0 for i in range(0, len(samples) - 159, 160)]


def active_blocks(energies):
    """The blocks within 35 dB of the loudest one: the active speech, so that
    pauses and trailing silence do not count."""
    top = max(energies, default=0)
    return [k for k, e in enumerate(energies) if top > 0 and e >= top * 10 ** -3.5]


def level_db(energies, blocks):
    """RMS level in dB over the given blocks."""
    values = [energies[k] for k in blocks if k < len(energies)]
    total = sum(values)
    return 10 * math.log10(total / len(values)) if total > 0 else float("-inf")


class Codec:
    def __init__(self, name, encode, decode, suffix):
        self.name, self.encode, self.decode, self.suffix = name, encode, decode, suffix
        self.results = []          # (file, mcd, lsd, lag, level difference dB)
        self.failures = []         # (file, message)
        self.encode_cpu = 0.0
        self.encoded_seconds = 0.0
        self.unavailable = None

    def speed(self):
        return self.encoded_seconds / self.encode_cpu if self.encode_cpu > 0 else float("nan")


def zef_codec(name, zefenc, zefdec):
    enc = lambda wav, raw, out: [zefenc, "-q", "-c", name, wav, out]
    dec = lambda coded, out: [zefdec, "-q", "-r", str(RATE), "-b", "16", coded, out]
    return Codec(name, enc, dec, (".zef", ".wav"))


def codec2_codec(mode, c2enc, c2dec):
    enc = lambda wav, raw, out: [c2enc, str(mode), raw, out]
    dec = lambda coded, out: [c2dec, str(mode), coded, out]
    return Codec(f"c2-{mode}", enc, dec, (".c2", ".raw"))


def code(codec, input_wav, input_raw, seconds, work):
    """Encodes (timed) and decodes one file; returns the decoded file's path."""
    stem = os.path.join(work, codec.name + "-" + os.path.splitext(os.path.basename(input_wav))[0])
    coded, decoded = stem + codec.suffix[0], stem + codec.suffix[1]
    cpu = run(codec.encode(input_wav, input_raw, coded), timed=True)
    run(codec.decode(coded, decoded))
    codec.encode_cpu += cpu
    codec.encoded_seconds += seconds
    return decoded


def best_delay(python, ref, dec, mcd, lsd, lag):
    """(mcd, lsd, lag) at the decoded file's best delay (best_delay.py), once
    its figures at the measure's own lag are found to be the measure's."""
    out = run([python, BEST_DELAY, ref, dec, str(lag)])
    found = {m.group(1): (float(m.group(3)), float(m.group(4)), int(m.group(2))) for m in DELAY_LINE.finditer(out)}
    if set(found) != {"at", "best"}:
        raise ToolError(f"best_delay.py printed no figures: {out.strip()[:120]!r}")
    if abs(found["at"][0] - mcd) > 0.011 or abs(found["at"][1] - lsd) > 0.011:
        raise ToolError(f"best_delay.py gives {found['at'][0]:.2f}/{found['at'][1]:.2f} at lag {lag}, "
                        f"the measure {mcd:.2f}/{lsd:.2f}: they no longer measure the same")
    return found["best"]


def quality(python, speechq, item, decoded, with_best_delay=False):
    """The measure's figures and the level difference, and with_best_delay the
    figures at the best delay: (mcd, lsd, lag, level dB, best mcd, best lsd,
    best lag), NaN and 0 for those not taken.
    A reference beyond 16 bits (clipped condition) is measured as 16-bit copies
    of it and of the decoded file, both scaled by the same gain: the distances
    compare spectra in dB, so a common gain leaves them as they are."""
    samples = read_decoded(decoded)
    ref, dec = item.ref, decoded
    if item.gain is not None:
        ref = item.measure_ref
        dec = os.path.splitext(decoded)[0] + "-scaled.wav"
        write_scaled(dec, samples, item.gain)
    out = run([python, speechq, ref, dec])
    m = QUALITY_LINE.search(out)
    if not m:
        raise ToolError(f"quality measure printed no figures: {out.strip()[:120]!r}")
    # The decoded level over the blocks where the reference speaks, at the
    # measure's lag: a decoded noise in the pauses does not lower it.
    mcd, lsd, lag = float(m.group(1)), float(m.group(2)), int(m.group(3))
    level = level_db(block_energies(samples, lag), item.active) - item.ref_level
    best = best_delay(python, ref, dec, mcd, lsd, lag) if with_best_delay else (float("nan"), float("nan"), 0)
    return (mcd, lsd, lag, level) + best


def mean(values):
    values = [v for v in values if math.isfinite(v)]
    return sum(values) / len(values) if values else float("nan")


def long_run_speed(codec, speech, work):
    """Encoding speed on all the speech joined into one file, so that process
    start-up and file headers weigh as little as possible."""
    joined = array.array("h")
    for s in speech:
        joined.extend(s)
    wav, raw = os.path.join(work, "all.wav"), os.path.join(work, "all.raw")
    if not os.path.exists(wav):
        data = joined.tobytes() if sys.byteorder == "little" else _swapped(joined)
        with wave.open(wav, "wb") as w:
            w.setnchannels(1), w.setsampwidth(2), w.setframerate(RATE)
            w.writeframes(data)
        with open(raw, "wb") as f:
            f.write(data)
    out = os.path.join(work, "all-" + codec.name + codec.suffix[0])
    # Best of three: other load on the machine only ever slows a run down.
    cpu = min(run(codec.encode(wav, raw, out), timed=True) for _ in range(3))
    return len(joined) / RATE / cpu if cpu > 0 else float("inf")


def _swapped(samples):
    c = array.array("h", samples)
    c.byteswap()
    return c.tobytes()


def find_tool(given, *candidates):
    for c in ([given] if given else []) + list(candidates):
        path = shutil.which(c) if c and os.sep not in c else c
        if path and os.path.isfile(path) and os.access(path, os.X_OK):
            return path
    return None


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("speech_dir", nargs="?", help="directory of 8 kHz 16-bit mono WAVE files")
    p.add_argument("--devset", metavar="DIR",
                   help="one half of the development set (make_devset.py OUT makes OUT/tune and "
                        "OUT/report): every condition directory under it, each input measured "
                        "against ref/ of the same name")
    p.add_argument("--conditions", metavar="A,B,...",
                   help="with --devset: only these conditions (default every one)")
    p.add_argument("--measure", required=True, metavar="SPEECHQ",
                   help="quality measure: a program run as 'SPEECHQ REF.wav DEC' that prints "
                        "'MCD x dB  LSD y dB  lag n ...'")
    p.add_argument("--python", default="/usr/bin/python3",
                   help="interpreter for the measure, with numpy and scipy (default %(default)s)")
    p.add_argument("--build", default=os.path.join(REPO, "build"),
                   help="build directory holding tools/zefenc and tools/zefdec (default %(default)s)")
    p.add_argument("--codecs", default="orvo,peln,c2-2400,c2-3200",
                   help="comma-separated subset of orvo, peln, c2-2400, c2-3200")
    p.add_argument("--jobs", type=int, default=2,
                   help="quality measures run side by side (default %(default)s)")
    p.add_argument("--per-file", action="store_true", help="also print every file's figures")
    p.add_argument("--keep", metavar="DIR", help="keep coded and decoded files in DIR")
    p.add_argument("--best-delay", action="store_true",
                   help="also score every file at the delay where its MCD is least (best_delay.py, "
                        "with --python): the measure's alignment wanders from file to file")
    args = p.parse_args()
    if bool(args.speech_dir) == bool(args.devset):
        p.error("give either SPEECH_DIR or --devset DIR")
    if args.conditions and not args.devset:
        p.error("--conditions goes with --devset")
    return args


def make_codecs(args):
    zefenc = find_tool(os.path.join(args.build, "tools/zefenc/zefenc"))
    zefdec = find_tool(os.path.join(args.build, "tools/zefdec/zefdec"))
    c2enc, c2dec, sox = find_tool("c2enc"), find_tool("c2dec"), find_tool("sox")
    codecs = []
    for name in args.codecs.split(","):
        if name in ("orvo", "peln"):
            c = zef_codec(name, zefenc, zefdec)
            if not (zefenc and zefdec):
                c.unavailable = f"no zefenc/zefdec under {args.build}/tools"
        elif name in ("c2-2400", "c2-3200"):
            c = codec2_codec(int(name[3:]), c2enc, c2dec)
            if not (c2enc and c2dec and sox):
                c.unavailable = "needs c2enc, c2dec and sox (Debian packages codec2, sox)"
        else:
            sys.exit(f"speech_quality: unknown codec {name!r}")
        codecs.append(c)
    return codecs, sox


def to_raw(sox, wav, raw):
    # -R -D: no dither when the rate changes, so that runs repeat.
    run([sox, "-R", "-D", wav, "-t", "raw", "-r", str(RATE), "-b", "16", "-e", "signed", "-c", "1", raw])


class Item:
    """One file to code: the input the codecs are given and the reference the
    decoded file is measured against (the same file outside the dev set)."""

    def __init__(self, name, input_path, ref_path, ref_samples):
        self.name, self.input, self.ref, self.samples = name, input_path, ref_path, ref_samples
        energies = block_energies(ref_samples)
        self.active = active_blocks(energies)
        self.ref_level = level_db(energies, self.active)
        self.seconds = len(ref_samples) / RATE
        self.gain = self.measure_ref = None

    def prepare(self, work):
        """A float reference gets a 16-bit copy for the measure, scaled down if
        it does not fit 16 bits."""
        if self.samples.typecode != "h":
            peak = max((abs(v) for v in self.samples), default=0)
            self.gain = min(1.0, 32767.0 / peak) if peak > 0 else 1.0
            self.measure_ref = os.path.join(work, "ref-" + self.name)
            write_scaled(self.measure_ref, self.samples, self.gain)


def main():
    args = parse_args()
    if not os.path.isfile(args.measure):
        sys.exit(f"speech_quality: no quality measure at {args.measure}")
    if args.jobs < 1:
        sys.exit("speech_quality: --jobs must be at least 1")
    if not find_tool(args.python):
        sys.exit(f"speech_quality: no interpreter {args.python}")
    work = args.keep or tempfile.mkdtemp(prefix="speechq-")
    os.makedirs(work, exist_ok=True)
    try:
        if args.devset:
            devset(args, work)
            return
        try:
            names = sorted(n for n in os.listdir(args.speech_dir) if n.lower().endswith(".wav"))
        except OSError as e:
            sys.exit(f"speech_quality: {e}")
        items, skipped = [], []
        for name in names:
            path = os.path.join(args.speech_dir, name)
            samples, why = read_speech(path)
            if samples is None or not samples:
                skipped.append((name, why or "no samples"))
            else:
                items.append(Item(name, path, path, samples))
        for name, why in skipped:
            print(f"skipped {name}: {why}")
        if not items:
            sys.exit(f"speech_quality: no 8 kHz 16-bit mono WAVE files in {args.speech_dir}")
        codecs, sox = make_codecs(args)
        evaluate(args, items, codecs, sox, work)
        report(args, codecs, [i.samples for i in items], work)
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


def evaluate(args, items, codecs, sox, work):
    """Codes every file one after the other (the encoders' CPU time is taken
    per child, so nothing else may run meanwhile), then measures the decoded
    files, --jobs at a time."""
    pending = []
    for n, item in enumerate(items, 1):
        item.prepare(work)
        raw = os.path.join(work, "input.raw")
        if sox:
            to_raw(sox, item.input, raw)
        for c in codecs:
            if c.unavailable:
                continue
            try:
                pending.append((c, item, code(c, item.input, raw, item.seconds, work)))
            except ToolError as e:
                # An encoder that fails on the very first file is not there yet
                # (Peln before its encoder lands): report it, do not stop.
                if c.encoded_seconds == 0 and not c.failures:
                    c.unavailable = str(e)
                else:
                    c.failures.append((item.name, str(e)))
        progress(f"coded {n}/{len(items)}")

    def one(job):
        c, item, decoded = job
        try:
            return c, item, quality(args.python, args.measure, item, decoded, args.best_delay), None
        except ToolError as e:
            return c, item, None, str(e)

    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for n, (c, item, figures, error) in enumerate(pool.map(one, pending), 1):
            if figures:
                c.results.append((item.name,) + figures)
            else:
                c.failures.append((item.name, error))
            progress(f"measured {n}/{len(pending)}")
    progress(None)


def devset_conditions(args):
    """(condition, directory) of the half, in the usual order."""
    try:
        found = sorted(n for n in os.listdir(args.devset)
                       if os.path.isdir(os.path.join(args.devset, n, "ref")))
    except OSError as e:
        sys.exit(f"speech_quality: {e}")
    if args.conditions:
        wanted = [c for c in args.conditions.split(",") if c]
        missing = [c for c in wanted if c not in found]
        if missing:
            sys.exit(f"speech_quality: no condition {', '.join(missing)} under {args.devset} "
                     f"(there are: {', '.join(found) or 'none'})")
        found = wanted
    else:
        rank = {c: i for i, c in enumerate(CONDITION_ORDER)}
        found.sort(key=lambda c: (rank.get(c, len(rank)), c))
    if not found:
        sys.exit(f"speech_quality: no condition directories (with ref/) under {args.devset}")
    return [(c, os.path.join(args.devset, c)) for c in found]


def devset_items(directory):
    items, skipped = [], []
    for name in sorted(n for n in os.listdir(directory) if n.lower().endswith(".wav")):
        path, ref = os.path.join(directory, name), os.path.join(directory, "ref", name)
        if not os.path.isfile(path):
            continue
        samples, why = read_ref(ref) if os.path.isfile(ref) else (None, "no ref/" + name)
        if samples is None or not samples:
            skipped.append((name, f"reference: {why or 'no samples'}"))
        else:
            items.append(Item(name, path, ref, samples))
    return items, skipped


def devset(args, work):
    """Every condition of one half: one row per condition, then the verdicts."""
    rows, files, seconds, totals = [], None, None, {}
    for condition, directory in devset_conditions(args):
        items, skipped = devset_items(directory)
        for name, why in skipped:
            print(f"skipped {condition}/{name}: {why}")
        if not items:
            print(f"skipped {condition}: no inputs with references")
            continue
        progress(f"{condition}:")
        codecs, sox = make_codecs(args)
        cwork = os.path.join(work, condition)
        os.makedirs(cwork, exist_ok=True)
        evaluate(args, items, codecs, sox, cwork)
        rows.append((condition, len(items), codecs))
        files = len(items) if files is None else files
        seconds = sum(i.seconds for i in items) if seconds is None else seconds
        for c in codecs:
            t = totals.setdefault(c.name, [0.0, 0.0])
            t[0] += c.encoded_seconds
            t[1] += c.encode_cpu
        if args.per_file:
            print(f"\n{condition}:", end="")
            per_file(codecs)
    if not rows:
        sys.exit(f"speech_quality: nothing to measure under {args.devset}")
    devset_report(args, rows, files, seconds, totals)


def verdict(a, b, fields=(MCD, LSD)):
    """Whether codec a is at least as good as codec b on both distances."""
    if not a or not b or a.unavailable or b.unavailable or not a.results or not b.results:
        return "-", None
    worse = [label for i, label in zip(fields, ("MCD", "LSD"))
             if mean(r[i] for r in a.results) > mean(r[i] for r in b.results)]
    if not worse:
        return "meets", True
    return "MISSES " + ("both" if len(worse) == 2 else worse[0]), False


def distance_table(rows, names, checks, fields):
    """One row per condition: each codec's mean MCD / LSD (the result fields
    given) and the verdicts.  Returns how many conditions meet each check."""
    width = {check: max(14, len(check[0] + check[1]) + 4) for check in checks}
    print(f"{'condition':<11}" + "".join(f"{n:>14}" for n in names)
          + "".join(f"{a + '<=' + b:>{width[a, b]}}" for a, b in checks))
    score = {check: 0 for check in checks}
    for condition, count, codecs in rows:
        by = {c.name: c for c in codecs}
        line = f"{condition:<11}"
        for c in codecs:
            if c.unavailable or not c.results:
                cell = "unavailable"
            else:
                cell = f"{mean(r[fields[0]] for r in c.results):.2f}/{mean(r[fields[1]] for r in c.results):5.2f}"
                if len(c.results) < count:
                    cell += "*"
            line += f"{cell:>14}"
        for a, b in checks:
            text, ok = verdict(by[a], by[b], fields)
            score[a, b] += bool(ok)
            line += f"{text:>{width[a, b]}}"
        print(line)
    return score


def devset_report(args, rows, files, seconds, totals):
    names = [c.name for c in rows[0][2]]
    checks = [(n, p) for n, p in PEERS.items() if n in names and p in names]
    if "orvo" in names and "peln" in names:
        checks.append(("peln", "orvo"))
    print(f"{files} recordings, {seconds:.1f} s of speech per condition, from {args.devset}")
    print("MCD / LSD dB against the reference (lower is better); "
          "verdicts: at least as good on both distances")
    score = distance_table(rows, names, checks, (MCD, LSD))
    if args.best_delay:
        print("\nthe same, every file taken at the delay where its MCD is least")
        best = distance_table(rows, names, checks, (BEST_MCD, BEST_LSD))
    failures = []
    for condition, count, codecs in rows:
        for c in codecs:
            failures += [(condition, c.name, name, why) for name, why in c.failures]
            if c.unavailable:
                failures.append((condition, c.name, "", c.unavailable))
    print("\nlevel dB: decoded minus reference, over the reference's active speech")
    print(f"{'condition':<11}" + "".join(f"{n:>10}" for n in names))
    for condition, count, codecs in rows:
        print(f"{condition:<11}" + "".join(
            f"{mean(r[LEVEL] for r in c.results):>+10.2f}" if c.results else f"{'-':>10}" for c in codecs))
    if failures:
        print("\n* failed files:")
        for condition, codec, name, why in failures:
            print(f"  {condition} {codec}{' ' + name if name else ''}: {why}")
    print()
    for (a, b), n in score.items():
        ok = "meets" if n == len(rows) else "MISSES"
        at_best = f" (at the best delay: {best[a, b]})" if args.best_delay else ""
        print(f"{a} <= {b} on both distances in {n} of {len(rows)} conditions{at_best}: {ok} the target")
    speeds = [f"{n} {t[0] / t[1]:.0f}" for n, t in totals.items() if t[1] > 0]
    if speeds:
        print("encoding, x real time over every condition (with process start-up): " + ", ".join(speeds))


def progress(text):
    if sys.stderr.isatty():
        print("\r\033[K" + text if text else "", end="" if text else "\n", file=sys.stderr, flush=True)


def report(args, codecs, speech, work):
    seconds = sum(len(s) for s in speech) / RATE
    print(f"{len(speech)} files, {seconds:.1f} s of speech from {args.speech_dir}")
    print(f"{'codec':<9}{'files':>6}{'MCD dB':>9}{'LSD dB':>9}{'level dB':>10}"
          f"{'enc x RT':>10}{'long x RT':>11}")
    for c in codecs:
        if c.unavailable:
            print(f"{c.name:<9}  unavailable: {c.unavailable}")
            continue
        c.long_speed = long_run_speed(c, speech, work) if c.results else float("nan")
        print(f"{c.name:<9}{len(c.results):>6}{mean(r[MCD] for r in c.results):>9.2f}"
              f"{mean(r[LSD] for r in c.results):>9.2f}{mean(r[LEVEL] for r in c.results):>+10.2f}"
              f"{c.speed():>10.0f}{c.long_speed:>11.0f}")
        if args.best_delay:
            print(f"{'':<9}{'':>6}{mean(r[BEST_MCD] for r in c.results):>9.2f}"
                  f"{mean(r[BEST_LSD] for r in c.results):>9.2f}   at each file's best delay")
        for name, why in c.failures:
            print(f"  failed on {name}: {why}")
    if args.per_file:
        per_file(codecs)
    verdicts(codecs)


def per_file(codecs):
    shown = [c for c in codecs if not c.unavailable]
    print("\nper file: MCD/LSD dB, level difference dB, lag")
    rows = {}
    for c in shown:
        for name, mcd, lsd, lag, level, *_ in c.results:
            rows.setdefault(name, {})[c.name] = f"{mcd:5.2f}/{lsd:5.2f} {level:+5.1f} {lag:4d}"
    print(f"{'file':<24}" + "".join(f"{c.name:>24}" for c in shown))
    for name in sorted(rows):
        print(f"{name[:23]:<24}" + "".join(f"{rows[name].get(c.name, '-'):>24}" for c in shown))


def verdicts(codecs):
    by = {c.name: c for c in codecs}
    print()
    for name, peer in PEERS.items():
        c, p = by.get(name), by.get(peer)
        if not c or c.unavailable or not c.results:
            continue
        if p and not p.unavailable and p.results:
            for i, label in ((MCD, "MCD"), (LSD, "LSD")):
                mine, theirs = mean(r[i] for r in c.results), mean(r[i] for r in p.results)
                ok = "meets" if mine <= theirs else "MISSES"
                print(f"{name} {label} {mine:.2f} dB vs {peer} {theirs:.2f} dB: {ok} the target")
        ok = "meets" if c.long_speed >= SPEED_TARGET else "MISSES"
        print(f"{name} encodes at {c.long_speed:.0f} x real time (target {SPEED_TARGET:.0f}): {ok} the target")


if __name__ == "__main__":
    main()
