#!/usr/bin/python3
"""Makes the human speech development set: real recordings, clean and degraded.

usage: /usr/bin/python3 make_devset.py OUT   (Debian's python3 with python3-numpy and
python3-scipy; also needs sox, lame and codec2-examples)

Recordings: ten people from Debian's codec2-examples (raw s16le 8 kHz mono, and
david4.wav), in two halves: `tune` to tune and train on, `report` only to report on.

Layout: OUT/<half>/<condition>/<name>.wav is what a codec is given;
OUT/<half>/<condition>/ref/<name>.wav is what its decoded output is measured
against: 8000 Hz mono, the clean recording, at the level the condition leaves it.
A ref that equals the clean file (or the input itself) is a relative symlink.
Everything is 16-bit PCM WAVE except the clipped condition's refs (see there).

Conditions:
  clean      the recording as it is.
  rumble     plus low-frequency noise: seeded Gaussian noise with every component
             at or above 100 Hz (and DC) removed, 10 dB below the speech (SNR 10 dB).
  dc         plus an offset of +328 (1 % of full scale).
  babble20/10  plus other talkers at 20 / 10 dB SNR.  The babble is four real
             talkers of codec2-examples that are not among the ten (vk2tpm_004,
             g3plx, ve9qrp_10s, speech_orig_16k brought to 8 kHz), each brought to
             the same active power, looped from a seeded offset, and summed into a
             60 s track; each file takes a seeded stretch of it (the same stretch
             at both SNRs).
  pink20/10  plus seeded pink noise (1/f power from 20 Hz up, no DC) at 20 / 10 dB SNR.
  mp3        lame -b 32 (CBR 32 kbit/s, 8 kHz) and lame --decode.
  level-40/-26/-6  scaled to that peak level in dBFS (full scale 32768); the ref is
             the same scaled file.
  clipped    scaled to a peak of +6 dBFS and clipped to 16 bits.  The ref is the
             scaled speech before clipping, which does not fit 16 bits: it is stored
             as 32-bit float WAVE (format 3), 1.0 meaning 32768, so peaks reach 2.0.
  rate16k/rate48k  the clean file resampled by sox (-R -D: no dither, repeatable).

SNR: the speech's active power over its noise's mean power.  The active power is
the mean power of the 20 ms blocks whose energy is within 35 dB of the loudest
block (trailing and inter-word silence do not count), as bench/speech_quality
measures levels; the noise power is taken over the stretch that is added.

No added noise ever clips: where speech plus noise (or offset) would pass full
scale, the speech is scaled down just enough first (the noise keeps its SNR) and
that file's ref is the clean recording scaled the same way (a real file then, not
a symlink).  The script says which files it scaled.

Every random thing is seeded from the file's name and the condition (crc32), sox
runs with -R and lame has no randomness: two runs give byte-identical files.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import wave
import zlib

try:
    import numpy as np
    import scipy.io.wavfile
    import scipy.signal
except ImportError as e:
    sys.exit(f"make_devset: {e}: run it with Debian's /usr/bin/python3 "
             "(packages python3-numpy, python3-scipy)")

RATE = 8000
FULL = 32768.0
SOURCE = "/usr/share/codec2"
HALVES = {
    "tune": ["hts1a", "morig", "big_dog", "vk5qi", "kristoff"],
    "report": ["hts2a", "forig", "mmt1", "david4", "cq_ref"],
}
CONDITIONS = ["clean", "rumble", "dc", "babble20", "babble10", "pink20", "pink10", "mp3",
              "level-40", "level-26", "level-6", "clipped", "rate16k", "rate48k"]
BABBLE = ["wav/vk2tpm_004.wav", "raw/g3plx.raw", "raw/ve9qrp_10s.raw", "raw/speech_orig_16k.wav"]
BABBLE_SECONDS = 60
DC_OFFSET = 328
RUMBLE_TOP_HZ = 100.0
RUMBLE_SNR_DB = 10.0
PINK_LOW_HZ = 20.0
CLIP_PEAK_DB = 6.0


def load(path):
    """Samples of a codec2-examples recording as float at 8 kHz."""
    if path.endswith(".raw"):
        return np.fromfile(path, dtype="<i2").astype(np.float64)
    rate, x = scipy.io.wavfile.read(path)
    x = x.astype(np.float64)
    if x.ndim > 1:
        x = x[:, 0]
    if rate != RATE:
        g = np.gcd(rate, RATE)
        x = scipy.signal.resample_poly(x, RATE // g, rate // g)
    return x


def active_power(x):
    """Mean power of the 20 ms blocks within 35 dB of the loudest one."""
    n = len(x) // 160
    if n == 0:
        return float(np.mean(x * x))
    e = np.mean(x[: n * 160].reshape(n, 160) ** 2, axis=1)
    return float(np.mean(e[e >= e.max() * 10 ** -3.5]))


def seed(*parts):
    return zlib.crc32("/".join(parts).encode())


def to_int16(x):
    return np.clip(np.round(x), -32768, 32767).astype("<i2")


def write_pcm16(path, x, rate=RATE):
    with wave.open(path, "wb") as w:
        w.setnchannels(1), w.setsampwidth(2), w.setframerate(rate)
        w.writeframes(to_int16(x).tobytes())


def write_float32(path, x):
    """32-bit IEEE float WAVE, 1.0 = 32768 (may exceed 1.0)."""
    data = (np.asarray(x, dtype=np.float64) / FULL).astype("<f4").tobytes()
    fmt = struct.pack("<HHIIHHH", 3, 1, RATE, RATE * 4, 4, 32, 0)
    fact = struct.pack("<I", len(data) // 4)
    body = (b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt
            + b"fact" + struct.pack("<I", len(fact)) + fact
            + b"data" + struct.pack("<I", len(data)) + data)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)


def band_noise(n, key, keep):
    """Seeded Gaussian noise shaped in the frequency domain by keep(freqs) -> gains."""
    rng = np.random.default_rng(seed(*key))
    spectrum = np.fft.rfft(rng.standard_normal(n))
    spectrum *= keep(np.fft.rfftfreq(n, 1.0 / RATE))
    return np.fft.irfft(spectrum, n)


def rumble(n, name):
    return band_noise(n, ("rumble", name), lambda f: ((f > 0) & (f < RUMBLE_TOP_HZ)).astype(float))


def pink(n, name):
    return band_noise(n, ("pink", name), lambda f: np.where(f > 0, 1.0 / np.sqrt(np.maximum(f, PINK_LOW_HZ)), 0.0))


def babble_track():
    rng = np.random.default_rng(seed("babble"))
    length = BABBLE_SECONDS * RATE
    track = np.zeros(length)
    for path in BABBLE:
        x = load(os.path.join(SOURCE, path))
        x = (x - x.mean()) / np.sqrt(active_power(x - x.mean()))
        looped = np.tile(x, length // len(x) + 2)
        start = int(rng.integers(0, len(x)))
        track += looped[start:start + length]
    return track


def babble(n, name, track):
    rng = np.random.default_rng(seed("babble", name))
    start = int(rng.integers(0, len(track) - n))
    return track[start:start + n].copy()


def at_snr(speech, noise, snr_db):
    return noise * np.sqrt(active_power(speech) / np.mean(noise * noise) / 10 ** (snr_db / 10))


def fitting_gain(speech, added):
    """The largest gain <= 1 for the speech such that gain * speech + added stays
    within 16 bits, where added is fixed (an offset) or callable (noise relative
    to the scaled speech, so linear in the gain)."""
    if callable(added):
        peak = np.max(np.abs(speech + added(speech)))
        return min(1.0, 32767.0 / peak)
    g = 1.0
    if np.max(speech + added) > 32767:
        g = min(g, (32767.0 - np.max(added)) / np.max(speech))
    if np.min(speech + added) < -32768:
        g = min(g, (-32768.0 - np.min(added)) / np.min(speech))
    return g


def run(argv):
    p = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if p.returncode != 0:
        sys.exit(f"make_devset: {' '.join(argv)} exited {p.returncode}: {p.stderr.decode(errors='replace').strip()}")


class Writer:
    def __init__(self, root, half, name):
        self.root, self.half, self.name = root, half, name

    def paths(self, condition):
        d = os.path.join(self.root, self.half, condition)
        os.makedirs(os.path.join(d, "ref"), exist_ok=True)
        return os.path.join(d, self.name + ".wav"), os.path.join(d, "ref", self.name + ".wav")

    def link(self, ref, target):
        os.symlink(os.path.relpath(target, os.path.dirname(ref)), ref)

    def additive(self, condition, speech, added):
        """speech (scaled to fit if need be) + added; ref is the clean file or
        the scaled speech."""
        inp, ref = self.paths(condition)
        g = fitting_gain(speech, added)
        s = speech * g
        noise = added(s) if callable(added) else added
        write_pcm16(inp, s + noise)
        if g < 1.0:
            print(f"  {self.half}/{condition}/{self.name}: speech scaled by {20 * np.log10(g):+.2f} dB to fit 16 bits")
            write_pcm16(ref, s)
        else:
            self.link(ref, self.paths("clean")[0])


def make(out):
    track = babble_track()
    for half, names in HALVES.items():
        for name in names:
            path = os.path.join(SOURCE, "wav" if name == "david4" else "raw", name + (".wav" if name == "david4" else ".raw"))
            speech = load(path)
            n = len(speech)
            w = Writer(out, half, name)
            clean, clean_ref = w.paths("clean")
            write_pcm16(clean, speech)
            w.link(clean_ref, clean)

            w.additive("rumble", speech, lambda s: at_snr(s, rumble(n, name), RUMBLE_SNR_DB))
            w.additive("dc", speech, np.full(n, float(DC_OFFSET)))
            b = babble(n, name, track)
            p = pink(n, name)
            for snr in (20, 10):
                w.additive(f"babble{snr}", speech, lambda s, snr=snr: at_snr(s, b, snr))
                w.additive(f"pink{snr}", speech, lambda s, snr=snr: at_snr(s, p, snr))

            inp, ref = w.paths("mp3")
            with tempfile.TemporaryDirectory() as tmp:
                mp3 = os.path.join(tmp, "x.mp3")
                run(["lame", "--quiet", "-b", "32", "--cbr", "-m", "m", clean, mp3])
                run(["lame", "--quiet", "--decode", mp3, inp])
            w.link(ref, clean)

            peak = np.max(np.abs(speech))
            for db in (-40, -26, -6):
                inp, ref = w.paths(f"level{db}")
                write_pcm16(inp, speech * (FULL * 10 ** (db / 20) / peak))
                w.link(ref, inp)

            inp, ref = w.paths("clipped")
            scaled = speech * (FULL * 10 ** (CLIP_PEAK_DB / 20) / peak)
            write_pcm16(inp, scaled)
            write_float32(ref, scaled)

            for rate in (16000, 48000):
                inp, ref = w.paths(f"rate{rate // 1000}k")
                run(["sox", "-R", "-D", clean, "-r", str(rate), inp])
                w.link(ref, clean)


def main():
    if len(sys.argv) != 2 or sys.argv[1].startswith("-"):
        sys.exit(__doc__.split("\n\n")[1])
    for tool in ("sox", "lame"):
        if not shutil.which(tool):
            sys.exit(f"make_devset: needs {tool} (Debian package {tool})")
    if not os.path.isdir(SOURCE):
        sys.exit(f"make_devset: no {SOURCE} (Debian package codec2-examples)")
    out = os.path.abspath(sys.argv[1])
    parent = os.path.dirname(out)
    os.makedirs(parent, exist_ok=True)
    # Built aside and swapped in half by half, so that a set being measured is
    # never seen half written.
    new = tempfile.mkdtemp(prefix=".devset-", dir=parent)
    try:
        make(new)
        os.makedirs(out, exist_ok=True)
        for half in HALVES:
            old = os.path.join(out, half)
            if os.path.lexists(old):
                gone = tempfile.mkdtemp(prefix=".old-", dir=parent)
                os.rename(old, os.path.join(gone, half))
                os.rename(os.path.join(new, half), old)
                shutil.rmtree(gone)
            else:
                os.rename(os.path.join(new, half), old)
    finally:
        shutil.rmtree(new, ignore_errors=True)
    files = sum(len(v) for v in HALVES.values())
    print(f"make_devset: {files} recordings x {len(CONDITIONS)} conditions in {out}")


if __name__ == "__main__":
    main()
