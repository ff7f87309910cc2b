#include "imaging/tests/tagged_fixtures.h"

#include "imaging/tests/fixtures.h"

#include <zlib.h>

namespace fixtures {

QByteArray SavedProfile(cmsHPROFILE profile)
{
    cmsUInt32Number length = 0;
    cmsSaveProfileToMem(profile, nullptr, &length);
    QByteArray bytes(static_cast<qsizetype>(length), '\0');
    cmsSaveProfileToMem(profile, bytes.data(), &length);
    cmsCloseProfile(profile);
    return bytes;
}

QByteArray RgbProfile(const cmsCIExyYTRIPLE &primaries, double gamma)
{
    const cmsCIExyY white { 0.3127, 0.3290, 1 };
    const cmsFloat64Number srgbCurve[] = { 2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045 };
    cmsToneCurve *curve = gamma > 0 ? cmsBuildGamma(nullptr, gamma)
                                    : cmsBuildParametricToneCurve(nullptr, 4, srgbCurve);
    cmsToneCurve *curves[] = { curve, curve, curve };
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    return SavedProfile(profile);
}

const QByteArray &DisplayP3Profile()
{
    static const QByteArray profile = RgbProfile(kP3Primaries);
    return profile;
}

const QByteArray &AdobeRgbProfile()
{
    static const QByteArray profile = RgbProfile(kAdobeRgbPrimaries, 563 / 256.0);
    return profile;
}

QByteArray Be32(std::uint32_t value)
{
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>(value >> (24 - 8 * i));
    return bytes;
}

QByteArray PngChunk(const char *type, const QByteArray &data)
{
    const QByteArray body = QByteArray(type, 4) + data;
    const auto crc = static_cast<std::uint32_t>(crc32(
        0, reinterpret_cast<const Bytef *>(body.constData()), static_cast<uInt>(body.size())));
    return Be32(static_cast<std::uint32_t>(data.size())) + body + Be32(crc);
}

QByteArray IccpChunk(const QByteArray &profile)
{
    uLongf length = compressBound(static_cast<uLong>(profile.size()));
    QByteArray packed(static_cast<qsizetype>(length), '\0');
    compress(reinterpret_cast<Bytef *>(packed.data()), &length,
        reinterpret_cast<const Bytef *>(profile.constData()), static_cast<uLong>(profile.size()));
    packed.truncate(static_cast<qsizetype>(length));
    return PngChunk("iCCP", QByteArray("P3", 3) + '\0' + packed);
}

QByteArray PngWithChunks(QByteArray png, const QByteArray &chunks)
{
    png.insert(33, chunks);
    return png;
}

QByteArray JpegWithProfile(const QImage &picture, const QByteArray &profile)
{
    QByteArray jpeg = EncodeJpeg(picture, JpegVariant::Baseline444);
    const QByteArray data = QByteArray("ICC_PROFILE", 12) + '\1' + '\1' + profile;
    const auto length = static_cast<std::uint16_t>(data.size() + 2);
    QByteArray segment("\xFF\xE2", 2);
    segment += static_cast<char>(length >> 8);
    segment += static_cast<char>(length & 0xFF);
    jpeg.insert(2, segment + data);
    return jpeg;
}

} // namespace fixtures
