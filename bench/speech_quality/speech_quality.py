#!/usr/bin/env python3
"""Speech quality and encoding speed of Orvo and Peln against codec2 2400 and 3200.

Every 8 kHz 16-bit mono WAVE file of a directory is coded and decoded by each
codec; an outside quality measure compares each decoded file with its original
and this script averages its figures.  Standard library only; see README.md.
"""

import argparse
import concurrent.futures
import array
import math
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile
import wave

RATE = 8000
REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
QUALITY_LINE = re.compile(r"MCD\s+([-\d.naif]+)\s+dB\s+LSD\s+([-\d.naif]+)\s+dB\s+lag\s+(-?\d+)")

# Targets: a codec should be at least as good as its codec2 peer on both
# distances, and our encoders should run at least this many times real time.
PEERS = {"orvo": "c2-2400", "peln": "c2-3200"}
SPEED_TARGET = 200.0


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


def level_db(samples):
    """RMS level in dB of the 20 ms blocks within 35 dB of the loudest one:
    the active speech, so that trailing silence does not count."""
    blocks = []
    for i in range(0, len(samples) - 159, 160):
        e = sum(s * s for s in samples[i:i + 160]) / 160.0
        blocks.append(e)
    if not blocks or max(blocks) <= 0:
        return float("-inf")
    floor = max(blocks) * 10 ** -3.5
    active = [e for e in blocks if e >= floor]
    return 10 * math.log10(sum(active) / len(active))


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


def code(codec, ref_wav, ref_raw, seconds, work):
    """Encodes (timed) and decodes one file; returns the decoded file's path."""
    stem = os.path.join(work, codec.name + "-" + os.path.splitext(os.path.basename(ref_wav))[0])
    coded, decoded = stem + codec.suffix[0], stem + codec.suffix[1]
    cpu = run(codec.encode(ref_wav, ref_raw, coded), timed=True)
    run(codec.decode(coded, decoded))
    codec.encode_cpu += cpu
    codec.encoded_seconds += seconds
    return decoded


def quality(python, speechq, ref_wav, ref_level, decoded):
    """The measure's figures and the level difference: (mcd, lsd, lag, level dB)."""
    out = run([python, speechq, ref_wav, decoded])
    m = QUALITY_LINE.search(out)
    if not m:
        raise ToolError(f"quality measure printed no figures: {out.strip()[:120]!r}")
    level = level_db(read_decoded(decoded)) - ref_level
    return float(m.group(1)), float(m.group(2)), int(m.group(3)), level


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
    p.add_argument("speech_dir", help="directory of 8 kHz 16-bit mono WAVE files")
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
    return p.parse_args()


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
    run([sox, wav, "-t", "raw", "-r", str(RATE), "-b", "16", "-e", "signed", "-c", "1", raw])


def main():
    args = parse_args()
    if not os.path.isfile(args.measure):
        sys.exit(f"speech_quality: no quality measure at {args.measure}")
    if args.jobs < 1:
        sys.exit("speech_quality: --jobs must be at least 1")
    if not find_tool(args.python):
        sys.exit(f"speech_quality: no interpreter {args.python}")
    try:
        names = sorted(n for n in os.listdir(args.speech_dir) if n.lower().endswith(".wav"))
    except OSError as e:
        sys.exit(f"speech_quality: {e}")
    codecs, sox = make_codecs(args)
    work = args.keep or tempfile.mkdtemp(prefix="speechq-")
    os.makedirs(work, exist_ok=True)
    try:
        speech = evaluate(args, names, codecs, sox, work)
        report(args, codecs, speech, work)
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)


def evaluate(args, names, codecs, sox, work):
    """Codes every file one after the other (the encoders' CPU time is taken
    per child, so nothing else may run meanwhile), then measures the decoded
    files, --jobs at a time."""
    speech, skipped, pending = [], [], []
    for name in names:
        path = os.path.join(args.speech_dir, name)
        samples, why = read_speech(path)
        if samples is None or not samples:
            skipped.append((name, why or "no samples"))
            continue
        speech.append(samples)
        raw = os.path.join(work, "ref.raw")
        if sox:
            to_raw(sox, path, raw)
        ref_level, seconds = level_db(samples), len(samples) / RATE
        for c in codecs:
            if c.unavailable:
                continue
            try:
                pending.append((c, path, ref_level, code(c, path, raw, seconds, work)))
            except ToolError as e:
                # An encoder that fails on the very first file is not there yet
                # (Peln before its encoder lands): report it, do not stop.
                if c.encoded_seconds == 0 and not c.failures:
                    c.unavailable = str(e)
                else:
                    c.failures.append((name, str(e)))
        progress(f"coded {len(speech)}/{len(names)}")
    for name, why in skipped:
        print(f"skipped {name}: {why}")
    if not speech:
        sys.exit(f"speech_quality: no 8 kHz 16-bit mono WAVE files in {args.speech_dir}")

    def one(item):
        c, path, ref_level, decoded = item
        try:
            return c, path, quality(args.python, args.measure, path, ref_level, decoded), None
        except ToolError as e:
            return c, path, None, str(e)

    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        for n, (c, path, figures, error) in enumerate(pool.map(one, pending), 1):
            if figures:
                c.results.append((os.path.basename(path),) + figures)
            else:
                c.failures.append((os.path.basename(path), error))
            progress(f"measured {n}/{len(pending)}")
    progress(None)
    return speech


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
        print(f"{c.name:<9}{len(c.results):>6}{mean(r[1] for r in c.results):>9.2f}"
              f"{mean(r[2] for r in c.results):>9.2f}{mean(r[4] for r in c.results):>+10.2f}"
              f"{c.speed():>10.0f}{c.long_speed:>11.0f}")
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
        for name, mcd, lsd, lag, level in c.results:
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
            for i, label in ((1, "MCD"), (2, "LSD")):
                mine, theirs = mean(r[i] for r in c.results), mean(r[i] for r in p.results)
                ok = "meets" if mine <= theirs else "MISSES"
                print(f"{name} {label} {mine:.2f} dB vs {peer} {theirs:.2f} dB: {ok} the target")
        ok = "meets" if c.long_speed >= SPEED_TARGET else "MISSES"
        print(f"{name} encodes at {c.long_speed:.0f} x real time (target {SPEED_TARGET:.0f}): {ok} the target")


if __name__ == "__main__":
    main()
