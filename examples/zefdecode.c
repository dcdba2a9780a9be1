/* zefdecode: decodes a Zef speech file to a 16-bit WAVE file with mirlane's
 * streaming calls: dcmpZefInit with the first piece of the file, then
 * dcmpZefConvert for each further piece, then dcmpZefFree.
 *
 *     cc zefdecode.c $(pkg-config --cflags --libs mirlane) -o zefdecode
 *     ./zefdecode speech.zef speech.wav
 */
#include <stdio.h>
#include <string.h>

#include <mirlane.h>

static unsigned char in[4096];   /* coded bytes not yet decoded */
static unsigned char out[65536]; /* PCM of one dcmpZefConvert call */
static const char *out_name;

/* The library's three-line message for an error and its secondary value;
 * the session is closed and the unfinished output removed. */
static int fail(KELVANE_DATA *kd, uint16_t err, const char *call) {
    char text[ZEF_MESSAGE_SIZE];
    mlGetStringFromErrorN(err, kd->dwSecondaryError, text, sizeof text);
    fprintf(stderr, "zefdecode: %s: error %u\n%s", call, (unsigned)err, text);
    if (kd->lpControlBlock) dcmpZefFree(kd);
    remove(out_name);
    return 1;
}

static void put(unsigned char *p, uint32_t value, int bytes) { /* little-endian */
    int i;
    for (i = 0; i < bytes; i++) p[i] = (unsigned char)(value >> (8 * i));
}

static void wave_header(FILE *f, uint32_t rate, uint32_t data_bytes) {
    unsigned char h[44];
    memcpy(h, "RIFF", 4), put(h + 4, 36 + data_bytes, 4), memcpy(h + 8, "WAVEfmt ", 8);
    put(h + 16, 16, 4), put(h + 20, 1, 2), put(h + 22, 1, 2), put(h + 24, rate, 4);
    put(h + 28, rate * 2, 4), put(h + 32, 2, 2), put(h + 34, 16, 2);
    memcpy(h + 36, "data", 4), put(h + 40, data_bytes, 4);
    fwrite(h, 1, sizeof h, f);
}

int main(int argc, char **argv) {
    KELVANE_DATA kd;
    ZEF_STARTUP startup;
    FILE *fin, *fout;
    size_t have, got;
    uint32_t written = 0;
    uint16_t err;
    int at_end = 0;

    if (argc != 3) return fprintf(stderr, "usage: zefdecode IN.zef OUT.wav\n"), 2;
    if (!(fin = fopen(argv[1], "rb"))) return perror(argv[1]), 1;
    if (!(fout = fopen(out_name = argv[2], "wb"))) return perror(argv[2]), 1;
    have = fread(in, 1, sizeof in, fin); /* the first piece holds the header */

    memset(&kd, 0, sizeof kd);
    memset(&startup, 0, sizeof startup);
    startup.wSize = ZEF_STARTUP_SIZE; /* start-up makes the Guisettes known */
    if ((err = zefStartup(&startup)) != 0) return fail(&kd, err, "zefStartup");
    kd.wSizeOfKelvaneData = KELVANE_DATA_VERSION_MARK;
    kd.dwInputType = (have >= 4 && memcmp(in, "RIFF", 4) == 0 ? ZEFTYPE_FORMAT_WAVE : ZEFTYPE_FORMAT_RAW) |
                     ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_ZEF; /* WAVE or a raw stream */
    kd.lpInputLocation = in;
    kd.dwInputSize = (uint32_t)have;
    kd.dwOutputType = ZEFTYPE_FORMAT_RAW | ZEFTYPE_LOCATION_BUFFER | ZEFTYPE_QUALIFIER_PCM;
    kd.lpOutputLocation = out;
    kd.dwOutputSize = sizeof out;
    kd.wOutputBytesPerSample = KELVANE_SAMPLE_SIZE_16BIT;
    kd.fWarpedLengthFactor = 1.0f;
    if ((err = dcmpZefInit(&kd)) != 0) return fail(&kd, err, "dcmpZefInit");
    wave_header(fout, kd.dwOutputSamplingRate, 0);

    for (;;) {
        kd.lpInputLocation = in;
        kd.dwInputSize = (uint32_t)have;
        kd.dwOutputBytesUsed = 0;
        if ((err = dcmpZefConvert(&kd)) != 0) return fail(&kd, err, "dcmpZefConvert");
        fwrite(out, 1, kd.dwOutputBytesUsed, fout);
        written += kd.dwOutputBytesUsed;
        /* Keep what was not consumed (a partial frame) and read on: the
         * coded frames run to the end of the file. */
        memmove(in, in + kd.dwInputBytesUsed, have - kd.dwInputBytesUsed);
        have -= kd.dwInputBytesUsed;
        kd.dwInputBytesUsed = 0;
        got = at_end ? 0 : fread(in + have, 1, sizeof in - have, fin);
        have += got;
        if (at_end && kd.dwOutputBytesUsed == 0) break;
        at_end = got == 0;
    }
    if ((err = dcmpZefFree(&kd)) != 0) return fail(&kd, err, "dcmpZefFree");
    rewind(fout);
    wave_header(fout, kd.dwOutputSamplingRate, written);
    if (fclose(fout) != 0) return perror(argv[2]), 1;
    fclose(fin);
    zefShutdown();
    return 0;
}
