#!/usr/bin/python3
"""The quality measure's two distances at every delay of the decoded file,
and the delay where the mel-cepstral one is least.

    best_delay.py REF DECODED MEASURE_LAG

prints `at LAG MCD x LSD y` (the figures at the measure's own lag: the
caller checks them against the measure's, so that the two cannot drift
apart) and `best LAG MCD x LSD y`.  A vocoder does not keep the waveform:
the measure's cross-correlation lands on a different delay for every file,
while the codec's own delay is fixed.  Needs numpy and scipy (Debian's
/usr/bin/python3).
"""

import sys

import numpy as np
import scipy.fft as sf
import scipy.io.wavfile as wf
import scipy.signal as ss

RATE, FRAME, HOP = 8000, 256, 80
SEARCH = range(-40, 400, 4)  # samples: both codecs' delays lie well inside


def load(path):
    if path.endswith(".raw"):
        return np.fromfile(path, dtype="<i2").astype(float)
    rate, x = wf.read(path)
    x = x.astype(float)
    if x.ndim > 1:
        x = x[:, 0]
    return x if rate == RATE else ss.resample_poly(x, RATE, rate)


def power_frames(x):
    count = 1 + max(0, (len(x) - FRAME) // HOP)
    idx = np.arange(FRAME)[None, :] + HOP * np.arange(count)[:, None]
    return np.abs(np.fft.rfft(np.pad(x, (0, FRAME))[idx] * np.hanning(FRAME))) ** 2 + 1e-3


def mel_bank(bands=24, low=100, high=3800):
    mel = lambda f: 2595 * np.log10(1 + f / 700)
    hz = lambda m: 700 * (10 ** (m / 2595) - 1)
    edges = hz(np.linspace(mel(low), mel(high), bands + 2))
    bins = np.fft.rfftfreq(FRAME, 1 / RATE)
    bank = np.zeros((bands, len(bins)))
    for i in range(bands):
        a, b, c = edges[i:i + 3]
        bank[i] = np.clip(np.minimum((bins - a) / (b - a), (c - bins) / (c - b)), 0, None)
    return bank


class Reference:
    def __init__(self, ref):
        self.ref = ref
        self.bank = mel_bank()
        freqs = np.fft.rfftfreq(FRAME, 1 / RATE)
        self.band = (freqs > 100) & (freqs < 3800)

    def distances(self, dec, lag):
        """(MCD, LSD) over the reference's active frames, the decoded file
        taken `lag` samples later."""
        dec = dec[lag:] if lag >= 0 else np.concatenate([np.zeros(-lag), dec])
        n = min(len(self.ref), len(dec))
        R, D = power_frames(self.ref[:n]), power_frames(dec[:n])
        energy = 10 * np.log10(R.sum(1))
        active = energy > energy.max() - 35
        cepstrum = lambda P: sf.dct(0.5 * np.log(P @ self.bank.T), norm="ortho")[:, 1:13]
        mcd = (10 / np.log(10)) * np.sqrt(2 * ((cepstrum(R) - cepstrum(D)) ** 2).sum(1))
        lsd = np.sqrt(((10 * np.log10(R[:, self.band]) - 10 * np.log10(D[:, self.band])) ** 2).mean(1))
        return mcd[active].mean(), lsd[active].mean()


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__.strip().splitlines()[2])
    reference = Reference(load(sys.argv[1]))
    dec, lag = load(sys.argv[2]), int(sys.argv[3])
    at = reference.distances(dec, lag)
    best = min(((d,) + reference.distances(dec, d) for d in SEARCH), key=lambda r: r[1])
    print(f"at {lag} MCD {at[0]:.2f} LSD {at[1]:.2f}")
    print(f"best {best[0]} MCD {best[1]:.2f} LSD {best[2]:.2f}")


if __name__ == "__main__":
    main()
