#pragma once

#include <QByteArray>
#include <QImage>

#include <lcms2.h>

#include <cstdint>

// Colour-tagged picture parts made at test time: ICC profiles written by lcms2 and the PNG
// chunks that carry colour descriptions.
namespace fixtures {

inline constexpr cmsCIExyYTRIPLE kP3Primaries { { 0.680, 0.320, 1 }, { 0.265, 0.690, 1 },
    { 0.150, 0.060, 1 } };
inline constexpr cmsCIExyYTRIPLE kAdobeRgbPrimaries { { 0.640, 0.330, 1 }, { 0.210, 0.710, 1 },
    { 0.150, 0.060, 1 } };
inline constexpr cmsCIExyYTRIPLE kBt2020Primaries { { 0.708, 0.292, 1 }, { 0.170, 0.797, 1 },
    { 0.131, 0.046, 1 } };

// The profile as ICC bytes; closes it.
[[nodiscard]] QByteArray SavedProfile(cmsHPROFILE profile);

// A matrix-and-curve RGB profile with D65 white and these primaries: the sRGB curve for gamma 0,
// else a pure power curve.
[[nodiscard]] QByteArray RgbProfile(const cmsCIExyYTRIPLE &primaries, double gamma = 0);

// Display P3 as CSS Color 4 gives it (its primaries, D65, the sRGB curve) and Adobe RGB (1998)
// (its primaries, gamma 563/256).
[[nodiscard]] const QByteArray &DisplayP3Profile();
[[nodiscard]] const QByteArray &AdobeRgbProfile();

[[nodiscard]] QByteArray Be32(std::uint32_t value);

// A PNG chunk: length, type, data and CRC.
[[nodiscard]] QByteArray PngChunk(const char *type, const QByteArray &data);

// An iCCP chunk with the profile zlib-compressed under the name "P3".
[[nodiscard]] QByteArray IccpChunk(const QByteArray &profile);

// png with chunks inserted right after IHDR (signature 8 bytes, IHDR 25), where nothing that
// decides colours comes before them.
[[nodiscard]] QByteArray PngWithChunks(QByteArray png, const QByteArray &chunks);

// The picture as a baseline 4:4:4 JPEG with the whole profile in an APP2 segment right after the
// start of image.
[[nodiscard]] QByteArray JpegWithProfile(const QImage &picture, const QByteArray &profile);

} // namespace fixtures
