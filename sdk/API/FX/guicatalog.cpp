// The catalogue of built-in Guisettes and its publication in the library
// globals.  The hundreds of a number group the presets by what they do:
//   1xx flatten the pitch (some add ring modulation for a robot),
//   2xx send the voice through a swept metallic resonator,
//   3xx add echoes, from a sub-millisecond comb to a canyon,
//   4xx change the apparent size of the speaker (pitch with formants) or buzz,
//   5xx combine pitch and formant changes the other way round, for cartoons,
//   6xx double the voice with a swaying chorus.
// The figures in the descriptions follow from each preset's transformation
// and amount (flattened pitch 85 + 165 * amount / 255 Hz, or for the
// formant-warping kinds the base 165 * (255 - amount) / 255 + 85 Hz; shifts
// in semitones; formant factors from the warp) and from its PCM effect.
#include "guisette.h"

#include "zefapi.h"

namespace zef {

const GuisetteRecord gBuiltInGuisettes[kBuiltInGuisetteCount] = {
    {0, "None", "None", "No voice effect: the speech plays as it was recorded.", 0, 0, 0, 0, 0},

    {101, "Monotone", "Monotone", "Flattens the pitch to a near-monotone around 166 Hz.", 0, 2, 125, 0, 0},
    {102, "Monotone", "Low drone", "Flattens the pitch to a low near-monotone around 104 Hz.", 0, 2, 30, 0, 0},
    {103, "Monotone", "High drone", "Flattens the pitch to a high near-monotone around 227 Hz.", 0, 2, 220, 0, 0},
    {105, "Monotone", "Small monotone",
     "Flattens the pitch around 146 Hz and raises the formants about 14%, like a smaller speaker.", 0, 6, 160, 0, 0},
    {106, "Monotone", "Robot", "Flat pitch around 134 Hz, ring-modulated at 79 Hz for a robot voice.", 0, 2, 75,
     6006, 0},
    {109, "Monotone", "High robot", "Flat pitch around 189 Hz, ring-modulated at 79 Hz for a higher robot voice.", 0,
     2, 160, 6006, 0},

    {201, "Metallic", "Metal tube",
     "Rings the voice through a 10 ms resonator with strong feedback that sweeps very slowly.", 0, 0, 0, 5003, 0},
    {204, "Metallic", "Tin robot", "Flat pitch around 111 Hz rung through the sweeping 10 ms resonator.", 0, 2, 40,
     5003, 0},

    {601, "Chorus", "Monks", "Chants on a flat pitch around 134 Hz, doubled by a fast-swaying chorus.", 0, 2, 75,
     7002, 0},
    {602, "Chorus", "Munchkins",
     "Small voices on a flat pitch around 101 Hz with formants raised by half, in a fast-swaying chorus.", 0, 6,
     230, 7002, 0},
    {603, "Chorus", "Munchkin choir",
     "Small voices on a flat pitch around 101 Hz with formants raised by half, in a slow-swaying chorus.", 0, 6,
     230, 7003, 0},
    {604, "Chorus", "Chorus", "Doubles the voice with a copy whose 37 ms delay sways 1.6 times a second.", 0, 0, 0,
     7002, 0},
    {605, "Chorus", "Ensemble", "Doubles the voice with a copy whose 31 ms delay sways slowly, 0.6 times a second.",
     0, 0, 0, 7003, 0},

    {301, "Echo", "Slapback", "A short echo every 63 ms, each repeat half as loud as the last.", 0, 0, 0, 5006, 0},
    {302, "Echo", "Canyon", "A distant echo every 238 ms, each repeat half as loud as the last.", 0, 0, 0, 5005, 0},
    {303, "Echo", "Tin can", "A feedback echo of under a millisecond that makes the voice sound boxed in.", 0, 0, 0,
     5007, 0},
    {305, "Echo", "Echo hall", "Echoes every 125 ms with a long, slowly fading tail.", 0, 0, 0, 5009, 0},

    {502, "Cartoon", "Falsetto", "Raises the pitch about 19 semitones over formants lowered about 19%.", 0, 9, 40, 0,
     0},
    {503, "Cartoon", "Squeaky", "Raises the pitch about 16 semitones and the formants about 20%.", 0, 5, 200, 0, 0},
    {504, "Cartoon", "Puppet", "Flattens the pitch around 101 Hz and raises the formants by half.", 0, 6, 230, 0, 0},

    {401, "Character", "Giant",
     "Lowers the pitch about 15 semitones and the formants about 23%, for a huge speaker.", 0, 5, 1, 0, 0},
    {402, "Character", "Deep", "Lowers the pitch about 7 semitones and the formants about 16%.", 0, 5, 48, 0, 0},
    {403, "Character", "Mellow", "Keeps the pitch and lowers the formants about 6% for a fuller voice.", 0, 5, 101, 0,
     0},
    {404, "Character", "Young", "Raises the pitch about 9 semitones and the formants about 7%.", 0, 5, 155, 0, 0},
    {405, "Character", "Chipmunk",
     "Raises the pitch about 25 semitones and the formants about 42%, for a tiny speaker.", 0, 5, 254, 0, 0},
    {406, "Character", "Alien", "Ring-modulates the voice at 50 Hz for a buzzing, growling sound.", 0, 0, 0, 6002, 0},
};

uint16_t AccumulateGuisettes(uint16_t* count) {
    APIGlobals* globals = nullptr;
    if (uint16_t err = GetAPIGlobals(&globals)) return err;
    if (globals->wGuisettes == 0) {
        globals->wGuisettes = kBuiltInGuisetteCount;
        globals->lpGuisettes = gBuiltInGuisettes;
        GetNumGUPreviews(&globals->wPreviews);
        GetGuisettePreviewsList(&globals->lpPreviews);
    }
    if (count) *count = globals->wGuisettes;
    return 0;
}

uint16_t GetGuisetteInfo(unsigned number, const GuisetteRecord** out) {
    if (out) *out = nullptr;
    APIGlobals* globals = nullptr;
    if (uint16_t err = GetAPIGlobals(&globals)) return err;
    const auto* catalogue = static_cast<const GuisetteRecord*>(globals->lpGuisettes);
    for (uint16_t i = 0; catalogue && i < globals->wGuisettes; ++i) {
        if (catalogue[i].guisetteId == number) {
            if (out) *out = &catalogue[i];
            return 0;
        }
    }
    return ZEF_ERROR(ZEFERR_GUII_UNKNOWN_GUISETTE, number, nullptr);
}

}  // namespace zef
